// Whole-file reading and writing for the Python methods, and the format
// decision from a path's extension.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zelt::py_api {

// The file as UTF-8 text; FileError "Failed to read file: {}" otherwise.
std::string read_text_file(const std::string& path);

// Creates or truncates; FileError "Failed to write file: {}" on failure.
void write_text_file(const std::string& path, std::string_view content);

// Text after the last "." of the final path component; empty when the name
// has no ".", when its only "." is the first character, or for "." and "..".
std::string path_extension(std::string_view path);

// The format named by `given`, else by the path's extension, in lower case.
std::string file_format(std::string_view path, const std::optional<std::string>& given = std::nullopt);

}  // namespace zelt::py_api
