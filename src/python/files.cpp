#include "python/files.hpp"

#include "core/unicode_case.hpp"
#include "io/text_file.hpp"
#include "python/errors.hpp"

namespace zelt::py_api {

std::string read_text_file(const std::string& path) {
    auto r = zelt::read_text_file(path);
    if (!r) throw FileError("Failed to read file: " + r.error().message);
    return std::move(r).value();
}

void write_text_file(const std::string& path, std::string_view content) {
    auto r = zelt::write_text_file(path, content);
    if (!r) throw FileError("Failed to write file: " + r.error().message);
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

std::string file_format(std::string_view path, const std::optional<std::string>& given) {
    return text::unicode_lower(given ? std::string_view(*given) : std::string_view(path_extension(path)));
}

}  // namespace zelt::py_api
