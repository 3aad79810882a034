// Text helpers shared by the readers and writers: Unicode white space, UTF-8
// checks and character-counted padding.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zelt::text {

// Length in bytes of the white-space character at the start of `s`, or 0.
std::size_t whitespace_length(std::string_view s);

// Removes leading and trailing Unicode white space.
std::string_view trim(std::string_view s);

// Splits on runs of Unicode white space; no empty tokens.
std::vector<std::string_view> split_whitespace(std::string_view s);

// Splits at "\n"; a line ending in "\r\n" loses both characters. A final
// newline does not start an extra empty line.
std::vector<std::string_view> lines(std::string_view s);

bool is_valid_utf8(std::string_view s);

// True when byte offset `pos` of `s` does not fall inside a multi-byte character.
bool is_char_boundary(std::string_view s, std::size_t pos);

// Number of Unicode scalar values in valid UTF-8 text.
std::size_t char_count(std::string_view s);

// ASCII lower case (other bytes unchanged).
std::string to_lower(std::string_view s);

// Left- or right-aligned in `width` characters; longer texts are kept whole.
std::string pad_left_aligned(std::string_view s, std::size_t width);
std::string pad_right_aligned(std::string_view s, std::size_t width);

// Fixed-point with `precision` decimals, right-aligned in `width` characters;
// NaN is written "NaN" and infinities "inf" / "-inf".
std::string fixed(double value, int precision, std::size_t width = 0);

}  // namespace zelt::text
