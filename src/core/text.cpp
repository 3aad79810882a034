#include "core/text.hpp"

#include <cmath>
#include <cstdint>

#include <fmt/format.h>

namespace zelt::text {
namespace {

// Decodes one UTF-8 character at the start of `s`; returns its length (0 if invalid).
std::size_t decode(std::string_view s, std::uint32_t& cp) {
    if (s.empty()) return 0;
    const auto c = static_cast<unsigned char>(s[0]);
    std::size_t len = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    if (len == 0 || len > s.size()) return 0;
    cp = len == 1 ? c : c & (0x7Fu >> len);
    for (std::size_t k = 1; k < len; ++k) {
        const auto d = static_cast<unsigned char>(s[k]);
        if ((d & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (d & 0x3F);
    }
    if ((len == 2 && cp < 0x80) || (len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return len;
}

bool is_space_cp(std::uint32_t cp) {
    return (cp >= 0x09 && cp <= 0x0D) || cp == 0x20 || cp == 0x85 || cp == 0xA0 || cp == 0x1680 ||
           (cp >= 0x2000 && cp <= 0x200A) || cp == 0x2028 || cp == 0x2029 || cp == 0x202F || cp == 0x205F ||
           cp == 0x3000;
}

std::size_t last_whitespace_length(std::string_view s) {
    // White space characters are at most 3 bytes long.
    for (std::size_t len = 1; len <= 3 && len <= s.size(); ++len) {
        const std::size_t start = s.size() - len;
        if (len > 1 && (static_cast<unsigned char>(s[start]) & 0xC0) == 0x80) continue;
        std::uint32_t cp = 0;
        if (decode(s.substr(start), cp) == len) return is_space_cp(cp) ? len : 0;
    }
    return 0;
}

}  // namespace

std::size_t whitespace_length(std::string_view s) {
    std::uint32_t cp = 0;
    const std::size_t len = decode(s, cp);
    return len && is_space_cp(cp) ? len : 0;
}

std::string_view trim(std::string_view s) {
    while (std::size_t n = whitespace_length(s)) s.remove_prefix(n);
    while (std::size_t n = last_whitespace_length(s)) s.remove_suffix(n);
    return s;
}

std::vector<std::string_view> split_whitespace(std::string_view s) {
    std::vector<std::string_view> out;
    std::size_t i = 0, start = std::string_view::npos;
    while (i < s.size()) {
        const std::size_t w = whitespace_length(s.substr(i));
        if (w) {
            if (start != std::string_view::npos) out.push_back(s.substr(start, i - start));
            start = std::string_view::npos;
            i += w;
        } else {
            if (start == std::string_view::npos) start = i;
            ++i;
        }
    }
    if (start != std::string_view::npos) out.push_back(s.substr(start));
    return out;
}

std::vector<std::string_view> lines(std::string_view s) {
    std::vector<std::string_view> out;
    std::size_t start = 0;
    while (start < s.size()) {
        std::size_t nl = s.find('\n', start);
        if (nl == std::string_view::npos) nl = s.size();
        std::string_view line = s.substr(start, nl - start);
        if (nl < s.size() && !line.empty() && line.back() == '\r') line.remove_suffix(1);
        out.push_back(line);
        start = nl + 1;
    }
    return out;
}

bool is_valid_utf8(std::string_view s) {
    while (!s.empty()) {
        std::uint32_t cp = 0;
        const std::size_t len = decode(s, cp);
        if (!len) return false;
        s.remove_prefix(len);
    }
    return true;
}

bool is_char_boundary(std::string_view s, std::size_t pos) {
    if (pos == 0 || pos >= s.size()) return pos <= s.size();
    return (static_cast<unsigned char>(s[pos]) & 0xC0) != 0x80;
}

std::size_t char_count(std::string_view s) {
    std::size_t n = 0;
    for (const char c : s)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++n;
    return n;
}

std::string to_lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string pad_left_aligned(std::string_view s, std::size_t width) {
    std::string out(s);
    const std::size_t n = char_count(s);
    if (n < width) out.append(width - n, ' ');
    return out;
}

std::string pad_right_aligned(std::string_view s, std::size_t width) {
    const std::size_t n = char_count(s);
    std::string out;
    if (n < width) out.assign(width - n, ' ');
    out.append(s);
    return out;
}

std::string fixed(double value, int precision, std::size_t width) {
    std::string body;
    if (std::isnan(value))
        body = "NaN";
    else if (std::isinf(value))
        body = value > 0 ? "inf" : "-inf";
    else
        body = fmt::format("{:.{}f}", value, precision);
    return pad_right_aligned(body, width);
}

}  // namespace zelt::text
