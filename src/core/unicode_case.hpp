// Unicode lower-casing and the Alphabetic property, for text that users type
// (queries). Tables come from the Unicode Character Database.
#pragma once

#include <string>
#include <string_view>

namespace zelt::text {

// Full Unicode lower case of UTF-8 text: the simple mappings, U+0130 to
// "i\u0307", and the final-sigma rule for U+03A3. Bytes that are not valid
// UTF-8 are copied unchanged.
std::string unicode_lower(std::string_view s);

// The Unicode Alphabetic property (letters, letter numbers and the marks
// that belong to words).
bool is_alphabetic(char32_t c);

// Decodes the UTF-8 character at byte `pos`: its code point and byte length.
// An invalid sequence gives the single byte with length 1 and `valid` false.
struct Decoded {
    char32_t code;
    std::size_t length;
    bool valid;
};
Decoded decode_utf8(std::string_view s, std::size_t pos);

}  // namespace zelt::text
