#include "forcefield/params.hpp"

#include <array>

#include "uff_params_table.hpp"

namespace zelt::forcefield {

namespace {

constexpr std::array<std::string_view, 104> symbols{
    "X",  "H",  "He", "Li", "Be", "B",  "C",  "N",  "O",  "F",  "Ne", "Na", "Mg", "Al", "Si", "P",  "S",  "Cl",
    "Ar", "K",  "Ca", "Sc", "Ti", "V",  "Cr", "Mn", "Fe", "Co", "Ni", "Cu", "Zn", "Ga", "Ge", "As", "Se", "Br",
    "Kr", "Rb", "Sr", "Y",  "Zr", "Nb", "Mo", "Tc", "Ru", "Rh", "Pd", "Ag", "Cd", "In", "Sn", "Sb", "Te", "I",
    "Xe", "Cs", "Ba", "La", "Ce", "Pr", "Nd", "Pm", "Sm", "Eu", "Gd", "Tb", "Dy", "Ho", "Er", "Tm", "Yb", "Lu",
    "Hf", "Ta", "W",  "Re", "Os", "Ir", "Pt", "Au", "Hg", "Tl", "Pb", "Bi", "Po", "At", "Rn", "Fr", "Ra", "Ac",
    "Th", "Pa", "U",  "Np", "Pu", "Am", "Cm", "Bk", "Cf", "Es", "Fm", "Md", "No", "Lr"};

bool is_element_row(std::string_view label, std::string_view symbol) {
    if (label.substr(0, symbol.size()) != symbol) return false;
    if (label.size() == symbol.size()) return true;
    const char next = label[symbol.size()];
    return next == '_' || (next >= '0' && next <= '9');
}

// First row of every element, found once.
const std::array<const UffParams*, 104>& element_rows() {
    static const std::array<const UffParams*, 104> rows = [] {
        std::array<const UffParams*, 104> out{};
        for (std::size_t z = 1; z < symbols.size(); ++z) {
            for (const auto& row : generated::uff_params_rows) {
                if (is_element_row(row.label, symbols[z])) {
                    out[z] = &row;
                    break;
                }
            }
        }
        return out;
    }();
    return rows;
}

}  // namespace

std::span<const UffParams> uff_params_table() { return generated::uff_params_rows; }

std::string_view element_symbol(std::uint64_t atomic_number) {
    return atomic_number < symbols.size() ? symbols[atomic_number] : symbols[0];
}

const UffParams* find_uff_params(std::string_view label) {
    for (const auto& row : generated::uff_params_rows) {
        if (row.label == label) return &row;
        if (!row.label.empty() && row.label.back() == '_' && label.substr(0, row.label.size()) == row.label)
            return &row;
    }
    return nullptr;
}

const UffParams* element_params(std::uint64_t atomic_number) {
    if (atomic_number == 0 || atomic_number >= symbols.size()) return nullptr;
    return element_rows()[atomic_number];
}

const UffParams* atom_params(std::string_view label, std::uint64_t atomic_number) {
    if (const UffParams* row = find_uff_params(label)) return row;
    return element_params(atomic_number);
}

}  // namespace zelt::forcefield
