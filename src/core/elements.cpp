#include "core/elements.hpp"

#include <array>
#include <string>

namespace zelt {
namespace {

constexpr std::array<ElementInfo, element_count> table{{
    {"H", 1, 1.008},     {"HE", 2, 4.0026},   {"LI", 3, 6.94},     {"BE", 4, 9.0122},
    {"B", 5, 10.81},     {"C", 6, 12.011},    {"N", 7, 14.007},    {"O", 8, 15.999},
    {"F", 9, 18.998},    {"NE", 10, 20.18},   {"NA", 11, 22.99},   {"MG", 12, 24.305},
    {"AL", 13, 26.982},  {"SI", 14, 28.085},  {"P", 15, 30.974},   {"S", 16, 32.06},
    {"CL", 17, 35.45},   {"AR", 18, 39.948},  {"K", 19, 39.098},   {"CA", 20, 40.078},
    {"SC", 21, 44.956},  {"TI", 22, 47.867},  {"V", 23, 50.942},   {"CR", 24, 51.996},
    {"MN", 25, 54.938},  {"FE", 26, 55.845},  {"CO", 27, 58.933},  {"NI", 28, 58.693},
    {"CU", 29, 63.546},  {"ZN", 30, 65.38},   {"GA", 31, 69.723},  {"GE", 32, 72.63},
    {"AS", 33, 74.922},  {"SE", 34, 78.971},  {"BR", 35, 79.904},  {"KR", 36, 83.798},
    {"RB", 37, 85.468},  {"SR", 38, 87.62},   {"Y", 39, 88.906},   {"ZR", 40, 91.224},
    {"NB", 41, 92.906},  {"MO", 42, 95.95},   {"TC", 43, 98.0},    {"RU", 44, 101.07},
    {"RH", 45, 102.91},  {"PD", 46, 106.42},  {"AG", 47, 107.87},  {"CD", 48, 112.41},
    {"IN", 49, 114.82},  {"SN", 50, 118.71},  {"SB", 51, 121.76},  {"TE", 52, 127.6},
    {"I", 53, 126.9},    {"XE", 54, 131.29},  {"CS", 55, 132.91},  {"BA", 56, 137.33},
    {"LA", 57, 138.91},  {"CE", 58, 140.12},  {"PR", 59, 140.91},  {"ND", 60, 144.24},
    {"PM", 61, 145.0},   {"SM", 62, 150.36},  {"EU", 63, 151.96},  {"GD", 64, 157.25},
    {"TB", 65, 158.93},  {"DY", 66, 162.5},   {"HO", 67, 164.93},  {"ER", 68, 167.26},
    {"TM", 69, 168.93},  {"YB", 70, 173.05},  {"LU", 71, 174.97},  {"HF", 72, 178.49},
    {"TA", 73, 180.95},  {"W", 74, 183.84},   {"RE", 75, 186.21},  {"OS", 76, 190.23},
    {"IR", 77, 192.22},  {"PT", 78, 195.08},  {"AU", 79, 196.97},  {"HG", 80, 200.59},
    {"TL", 81, 204.38},  {"PB", 82, 207.2},   {"BI", 83, 208.98},  {"PO", 84, 209.0},
    {"AT", 85, 210.0},   {"RN", 86, 222.0},   {"FR", 87, 223.0},   {"RA", 88, 226.0},
    {"AC", 89, 227.0},   {"TH", 90, 232.04},  {"PA", 91, 231.04},  {"U", 92, 238.03},
    {"NP", 93, 237.0},   {"PU", 94, 244.0},   {"AM", 95, 243.0},   {"CM", 96, 247.0},
    {"BK", 97, 247.0},   {"CF", 98, 251.0},   {"ES", 99, 252.0},   {"FM", 100, 257.0},
    {"MD", 101, 258.0},  {"NO", 102, 259.0},  {"LR", 103, 262.0},
}};

// Upper-cases `s` as far as it can matter for a table match. Besides ASCII,
// only two characters upper-case to a letter that occurs in a symbol: the
// dotless i (U+0131 -> I) and the long s (U+017F -> S). The ligatures that
// upper-case to ASCII pairs (ff, fi, fl, st ...) spell no symbol. Any other
// non-ASCII character makes the text unmatchable, signalled by `false`.
bool upper_for_lookup(std::string_view s, std::string& out) {
    out.clear();
    for (std::size_t k = 0; k < s.size(); ++k) {
        const auto c = static_cast<unsigned char>(s[k]);
        if (c < 0x80) {
            out.push_back(c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : static_cast<char>(c));
        } else if (c == 0xC4 && k + 1 < s.size() && static_cast<unsigned char>(s[k + 1]) == 0xB1) {
            out.push_back('I');
            ++k;
        } else if (c == 0xC5 && k + 1 < s.size() && static_cast<unsigned char>(s[k + 1]) == 0xBF) {
            out.push_back('S');
            ++k;
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace

const ElementInfo& element_by_number(std::uint32_t z) { return table.at(z - 1); }

const ElementInfo* find_element(std::string_view symbol) {
    if (symbol.empty() || symbol.size() > 6) return nullptr;
    std::string up;
    if (!upper_for_lookup(symbol, up)) return nullptr;
    for (const auto& e : table)
        if (e.symbol == up) return &e;
    return nullptr;
}

double atomic_mass(std::string_view symbol) {
    const auto* e = find_element(symbol);
    return e ? e->mass : 0.0;
}

std::uint32_t atomic_number(std::string_view symbol) {
    const auto* e = find_element(symbol);
    return e ? e->number : 0;
}

}  // namespace zelt
