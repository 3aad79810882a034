#include "io/text_file.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/text.hpp"

namespace zelt {
namespace {

Error os_error(int err) { return Error(std::string(std::strerror(err)) + " (os error " + std::to_string(err) + ")"); }

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
        const int f = fd_;
        fd_ = -1;
        return f;
    }

private:
    int fd_;
};

}  // namespace

Result<std::string> read_text_file(const std::string& path) {
    if (path.find('\0') != std::string::npos) return fail("file name contained an unexpected NUL byte");
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) return os_error(errno);
    std::string content;
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            return os_error(errno);
        }
        if (n == 0) break;
        content.append(buf, static_cast<std::size_t>(n));
    }
    if (!text::is_valid_utf8(content)) return fail("stream did not contain valid UTF-8");
    return content;
}

Status write_text_file(const std::string& path, std::string_view content) {
    if (path.find('\0') != std::string::npos) return fail("file name contained an unexpected NUL byte");
    Fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (fd.get() < 0) return os_error(errno);
    std::size_t done = 0;
    while (done < content.size()) {
        const ssize_t n = ::write(fd.get(), content.data() + done, content.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return os_error(errno);
        }
        done += static_cast<std::size_t>(n);
    }
    if (::close(fd.release()) != 0) return os_error(errno);
    return Ok{};
}

}  // namespace zelt
