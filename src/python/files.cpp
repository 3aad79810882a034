#include "python/files.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/text.hpp"
#include "python/errors.hpp"

namespace zelt::py_api {
namespace {

std::string os_error_text(int err) { return std::string(std::strerror(err)) + " (os error " + std::to_string(err) + ")"; }

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    int release() {
        int f = fd_;
        fd_ = -1;
        return f;
    }

private:
    int fd_;
};

}  // namespace

std::string read_text_file(const std::string& path) {
    const std::string prefix = "Failed to read file: ";
    if (path.find('\0') != std::string::npos) throw FileError(prefix + "path contains a NUL byte");
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) throw FileError(prefix + os_error_text(errno));
    std::string content;
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw FileError(prefix + os_error_text(errno));
        }
        if (n == 0) break;
        content.append(buf, static_cast<std::size_t>(n));
    }
    if (!text::is_valid_utf8(content)) throw FileError(prefix + "stream did not contain valid UTF-8");
    return content;
}

void write_text_file(const std::string& path, std::string_view content) {
    const std::string prefix = "Failed to write file: ";
    if (path.find('\0') != std::string::npos) throw FileError(prefix + "path contains a NUL byte");
    Fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (fd.get() < 0) throw FileError(prefix + os_error_text(errno));
    std::size_t done = 0;
    while (done < content.size()) {
        const ssize_t n = ::write(fd.get(), content.data() + done, content.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw FileError(prefix + os_error_text(errno));
        }
        done += static_cast<std::size_t>(n);
    }
    if (::close(fd.release()) != 0) throw FileError(prefix + os_error_text(errno));
}

std::string path_extension(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
    const auto slash = path.rfind('/');
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    if (name == "." || name == "..") return {};
    const auto dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return {};
    return std::string(name.substr(dot + 1));
}

}  // namespace zelt::py_api
