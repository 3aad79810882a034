#include "core/unicode_case.hpp"

#include <algorithm>
#include <cstdint>

namespace zelt::text {
namespace {

struct CodePair {
    std::uint32_t first;
    std::uint32_t second;
};

#include "core/unicode_tables.inc"

template <std::size_t N>
bool in_ranges(const CodePair (&ranges)[N], char32_t c) {
    const auto it = std::upper_bound(std::begin(ranges), std::end(ranges), static_cast<std::uint32_t>(c),
                                     [](std::uint32_t v, const CodePair& r) { return v < r.first; });
    return it != std::begin(ranges) && c <= std::prev(it)->second;
}

char32_t simple_lower(char32_t c) {
    if (c < 0x80) return (c >= 'A' && c <= 'Z') ? c + 32 : c;
    const auto it = std::lower_bound(std::begin(lower_map), std::end(lower_map), static_cast<std::uint32_t>(c),
                                     [](const CodePair& p, std::uint32_t v) { return p.first < v; });
    return (it != std::end(lower_map) && it->first == c) ? it->second : c;
}

bool is_cased(char32_t c) { return in_ranges(cased_ranges, c); }
bool is_case_ignorable(char32_t c) { return in_ranges(case_ignorable_ranges, c); }

void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Final_Sigma: a cased letter comes before (skipping case-ignorable
// characters) and none comes after.
bool is_final_sigma(std::string_view s, std::size_t pos, std::size_t len) {
    bool cased_before = false;
    for (std::size_t i = pos; i > 0;) {
        std::size_t start = i - 1;
        while (start > 0 && (static_cast<unsigned char>(s[start]) & 0xC0) == 0x80 && i - start < 4) --start;
        const Decoded d = decode_utf8(s, start);
        if (!d.valid || start + d.length != i) break;
        if (is_case_ignorable(d.code)) {
            i = start;
            continue;
        }
        cased_before = is_cased(d.code);
        break;
    }
    if (!cased_before) return false;
    for (std::size_t i = pos + len; i < s.size();) {
        const Decoded d = decode_utf8(s, i);
        if (!d.valid) break;
        if (is_case_ignorable(d.code)) {
            i += d.length;
            continue;
        }
        return !is_cased(d.code);
    }
    return true;
}

}  // namespace

Decoded decode_utf8(std::string_view s, std::size_t pos) {
    const auto c = static_cast<unsigned char>(s[pos]);
    const std::size_t len = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    if (len == 0 || pos + len > s.size()) return {c, 1, false};
    if (len == 1) return {c, 1, true};
    char32_t cp = c & (0x7F >> len);
    for (std::size_t k = 1; k < len; ++k) {
        const auto d = static_cast<unsigned char>(s[pos + k]);
        if ((d & 0xC0) != 0x80) return {c, 1, false};
        cp = (cp << 6) | (d & 0x3F);
    }
    if ((len == 2 && cp < 0x80) || (len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
        return {c, 1, false};
    return {cp, len, true};
}

std::string unicode_lower(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        const Decoded d = decode_utf8(s, i);
        if (!d.valid) {
            out += s[i];
        } else if (d.code == 0x130) {
            out += "i\xCC\x87";  // i followed by U+0307 COMBINING DOT ABOVE
        } else if (d.code == 0x3A3) {
            append_utf8(out, is_final_sigma(s, i, d.length) ? 0x3C2 : 0x3C3);
        } else {
            append_utf8(out, simple_lower(d.code));
        }
        i += d.length;
    }
    return out;
}

bool is_alphabetic(char32_t c) {
    if (c < 0x80) return (c | 0x20) >= 'a' && (c | 0x20) <= 'z';
    return in_ranges(alphabetic_ranges, c);
}

}  // namespace zelt::text
