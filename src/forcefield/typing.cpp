#include "forcefield/typing.hpp"

#include <cmath>
#include <vector>

#include <fmt/format.h>

#include "forcefield/params.hpp"

namespace zelt::forcefield {

std::string uff_label(std::uint64_t z, std::size_t n, bool aromatic, bool has_double) {
    switch (z) {
        case 1:
            return "H_";
        case 6:
            if (n == 2) return "C_1";
            if (n == 3) return aromatic || has_double ? "C_R" : "C_2";
            return "C_3";
        case 7:
            if (n == 1) return "N_1";
            if (n == 2) return "N_2";
            if (n == 3 && aromatic) return "N_R";
            return "N_3";
        case 8:
            if (aromatic) return "O_R";
            if (n == 1 && has_double) return "O_2";
            return "O_3";
        case 16:
            // The general rule would call a divalent sulphur "S_2", the
            // trigonal (thione) row, whose radius makes S-H and C-S bonds
            // 0.15-0.2 Å too short. Thiols, thioethers and disulfides take the
            // tetrahedral row, aromatic sulphur the resonant one.
            if (aromatic) return "S_R";
            if (n == 2 && !has_double) return "S_3+2";
            break;
        default:
            break;
    }
    std::string label(element_symbol(z));
    label += '_';
    if (n > 0) label += std::to_string(n);
    return label;
}

Status check_bond_indices(std::size_t atom_count, std::span<const Bond> bonds) {
    for (std::size_t b = 0; b < bonds.size(); ++b) {
        const Bond& bond = bonds[b];
        if (bond.i >= atom_count || bond.j >= atom_count)
            return fail(fmt::format("Bond {} ({}-{}) refers to an atom index not below the atom count {}", b, bond.i,
                                    bond.j, atom_count));
    }
    return Ok{};
}

Status auto_assign_uff_types(std::span<Atom> atoms, std::span<const Bond> bonds) {
    if (auto st = check_bond_indices(atoms.size(), bonds); !st) return st;
    struct Tally {
        std::size_t n = 0;
        bool aromatic = false;
        bool has_double = false;
    };
    std::vector<Tally> tally(atoms.size());
    for (const Bond& b : bonds) {
        // Both tests in single precision, as the orders are stored.
        const bool aromatic = std::fabs(b.order - 1.5f) < 0.1f;
        const bool has_double = std::fabs(b.order - 2.0f) < 0.1f;
        for (const std::uint64_t k : {b.i, b.j}) {
            ++tally[k].n;
            tally[k].aromatic = tally[k].aromatic || aromatic;
            tally[k].has_double = tally[k].has_double || has_double;
        }
    }
    for (std::size_t k = 0; k < atoms.size(); ++k)
        atoms[k].uff_type.value = uff_label(atoms[k].atomic_number, tally[k].n, tally[k].aromatic, tally[k].has_double);
    return Ok{};
}

}  // namespace zelt::forcefield
