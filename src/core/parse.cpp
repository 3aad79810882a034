#include "core/parse.hpp"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

namespace zelt::parse {
namespace {

bool iequals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char c = a[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != b[i]) return false;
    }
    return true;
}

// digits* ['.' digits*] [(e|E) [sign] digits+], with at least one mantissa digit.
bool is_decimal(std::string_view s) {
    std::size_t i = 0, mantissa = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i, ++mantissa;
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i, ++mantissa;
    }
    if (mantissa == 0) return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
        std::size_t exp = 0;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i, ++exp;
        if (exp == 0) return false;
    }
    return i == s.size();
}

}  // namespace

Result<double> f64(std::string_view text) {
    if (text.empty()) return fail("cannot parse float from empty string");
    bool negative = false;
    std::string_view s = text;
    if (s.front() == '+' || s.front() == '-') {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    double value = 0.0;
    if (iequals(s, "inf") || iequals(s, "infinity")) {
        value = std::numeric_limits<double>::infinity();
    } else if (iequals(s, "nan")) {
        value = std::numeric_limits<double>::quiet_NaN();
    } else {
        if (!is_decimal(s)) return fail("invalid float literal");
        const auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), value, std::chars_format::general);
        if (ec == std::errc::result_out_of_range) {
            // Overflow gives infinity and underflow zero, as strtod does.
            value = std::strtod(std::string(s).c_str(), nullptr);
        } else if (ec != std::errc() || ptr != s.data() + s.size()) {
            return fail("invalid float literal");
        }
    }
    return negative ? -value : value;
}

Result<std::uint64_t> u64(std::string_view text) {
    if (text.empty()) return fail("cannot parse integer from empty string");
    std::string_view s = text;
    if (s.front() == '+') {
        s.remove_prefix(1);
        if (s.empty()) return fail("invalid digit found in string");
    }
    // Characters are checked in order: the first fault found is reported.
    std::uint64_t value = 0;
    for (const char c : s) {
        if (c < '0' || c > '9') return fail("invalid digit found in string");
        const auto d = static_cast<std::uint64_t>(c - '0');
        if (value > (std::numeric_limits<std::uint64_t>::max() - d) / 10)
            return fail("number too large to fit in target type");
        value = value * 10 + d;
    }
    return value;
}

}  // namespace zelt::parse
