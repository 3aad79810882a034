// Whole-file text input and output. Errors carry the operating system's
// description ("No such file or directory (os error 2)") or, for content that
// is not UTF-8, "stream did not contain valid UTF-8".
#pragma once

#include <string>
#include <string_view>

#include "core/result.hpp"

namespace zelt {

Result<std::string> read_text_file(const std::string& path);

// Creates or truncates the file.
Status write_text_file(const std::string& path, std::string_view content);

}  // namespace zelt
