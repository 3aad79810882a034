#include "smiles/polymer_indices.hpp"

#include <vector>

#include <fmt/format.h>

namespace zelt {
namespace {

bool is_hydrogen(const MoleculeTemplate& mol, std::uint64_t k) {
    return k < mol.atoms.size() && mol.atoms[k].element == "H";
}

// Other end of the first bond, in bond-list order, that has `atom` at one end
// and whose other end names an atom of the template for which `accept` holds.
// Bonds that name no atom of the template are passed over.
template <class Accept>
std::optional<std::uint64_t> first_partner(const MoleculeTemplate& mol, std::uint64_t atom, Accept accept) {
    for (const auto& b : mol.bonds) {
        std::uint64_t other;
        if (b.i == atom) other = b.j;
        else if (b.j == atom) other = b.i;
        else continue;
        if (other < mol.atoms.size() && accept(other)) return other;
    }
    return std::nullopt;
}

}  // namespace

Result<PolymerIndices> resolve_polymer_indices(const MoleculeTemplate& mol, std::optional<std::uint64_t> head,
                                               std::optional<std::uint64_t> tail) {
    std::vector<std::size_t> markers;
    for (std::size_t k = 0; k < mol.atoms.size() && markers.size() < 2; ++k)
        if (mol.atoms[k].element == "R") markers.push_back(k);

    const auto not_hydrogen = [&](std::uint64_t e) { return !is_hydrogen(mol, e); };
    if (markers.size() >= 2 && !mol.bonds.empty()) {
        const std::uint64_t m1 = mol.atoms[markers[0]].index, m2 = mol.atoms[markers[1]].index;
        const auto h = first_partner(mol, m1, not_hydrogen);
        const auto t = first_partner(mol, m2, not_hydrogen);
        if (h && t) return PolymerIndices{*h, *t, m1, m2};
    }

    std::vector<std::size_t> heavy;
    for (std::size_t k = 0; k < mol.atoms.size(); ++k)
        if (mol.atoms[k].element != "R" && mol.atoms[k].element != "H") heavy.push_back(k);
    if (heavy.empty()) return fail("No heavy atoms found in template");

    const std::uint64_t h = head.value_or(0);
    const std::uint64_t t = tail.value_or(heavy.size() - 1);
    if (h >= heavy.size() || t >= heavy.size())
        return fail(fmt::format("Head/Tail index out of bounds. Found {} heavy atoms.", heavy.size()));

    PolymerIndices out;
    out.head = mol.atoms[heavy[h]].index;
    out.tail = mol.atoms[heavy[t]].index;
    const auto hydrogen = [&](std::uint64_t e) { return is_hydrogen(mol, e); };
    out.h_leaving = first_partner(mol, out.head, hydrogen);
    out.t_leaving = first_partner(mol, out.tail, hydrogen);
    return out;
}

}  // namespace zelt
