#include "forcefield/system.hpp"

#include <limits>
#include <unordered_map>

#include <fmt/format.h>

#include "forcefield/interactions.hpp"
#include "forcefield/typing.hpp"

namespace zelt::forcefield {

namespace {

void add_bonded_terms(Topology& t, std::span<const Atom> atoms, std::span<const Bond> bonds) {
    const auto& rows = t.rows;
    const auto& nb = t.neighbours;
    for (const Bond& b : bonds) {
        const auto* ri = rows[b.i];
        const auto* rj = rows[b.j];
        if (ri && rj)
            t.bonds.push_back({static_cast<std::uint32_t>(b.i), static_cast<std::uint32_t>(b.j),
                               bond_constants(*ri, *rj, static_cast<double>(b.order))});
    }
    for (std::size_t c = 0; c < atoms.size(); ++c) {
        const auto list = nb[c];
        if (list.size() < 2 || !rows[c]) continue;
        for (std::size_t p = 0; p < list.size(); ++p)
            for (std::size_t q = p + 1; q < list.size(); ++q) {
                const auto a = list[p], b = list[q];
                if (rows[a] && rows[b])
                    t.angles.push_back({a, static_cast<std::uint32_t>(c), b, angle_constants(*rows[a], *rows[c], *rows[b])});
            }
    }
    for (const Bond& bond : bonds) {
        const auto j = static_cast<std::uint32_t>(bond.i), k = static_cast<std::uint32_t>(bond.j);
        if (!rows[j] || !rows[k]) continue;
        const TorsionConstants c = torsion_constants(*rows[j], *rows[k], bond.order);
        if (c.barrier == 0.0) continue;
        for (const auto i : nb[j]) {
            if (i == k) continue;
            for (const auto l : nb[k]) {
                if (l == j || l == i) continue;
                t.torsions.push_back({i, j, k, l, c});
            }
        }
    }
    for (std::size_t c = 0; c < atoms.size(); ++c) {
        const auto list = nb[c];
        if (list.size() == 3 && is_planar_label(atoms[c].uff_type.value))
            t.planar.push_back({static_cast<std::uint32_t>(c), list[0], list[1], list[2]});
    }
}

void add_pair_tables(Topology& t) {
    std::unordered_map<const UffParams*, std::uint32_t> type_of;
    std::vector<const UffParams*> types;
    t.lj_type.assign(t.rows.size(), 0);
    for (std::size_t a = 0; a < t.rows.size(); ++a) {
        const UffParams* row = t.rows[a];
        if (!row) continue;
        auto [it, inserted] = type_of.try_emplace(row, static_cast<std::uint32_t>(types.size()));
        if (inserted) types.push_back(row);
        t.lj_type[a] = it->second;
        t.lj_members.push_back(static_cast<std::uint32_t>(a));
    }
    t.type_count = types.size();
    t.pair_x.resize(types.size() * types.size());
    t.pair_d.resize(types.size() * types.size());
    for (std::size_t p = 0; p < types.size(); ++p)
        for (std::size_t q = 0; q < types.size(); ++q) {
            const PairConstants c = pair_constants(*types[p], *types[q], 1.0);
            t.pair_x[p * types.size() + q] = c.x;
            t.pair_d[p * types.size() + q] = std::sqrt(types[p]->d1 * types[q]->d1);
        }
}

void add_listed_pairs(Topology& t) {
    t.pairs_listed = true;
    const auto& members = t.lj_members;
    const std::size_t m = members.size(), nt = t.type_count;
    t.listed_row.reserve(m + 1);
    t.listed_x.reserve(m * (m - (m > 0)) / 2 + 3);
    t.listed_d.reserve(m * (m - (m > 0)) / 2 + 3);
    for (std::size_t p = 0; p < m; ++p) {
        t.listed_row.push_back(t.listed_x.size());
        for (std::size_t q = p + 1; q < m; ++q) {
            const std::uint32_t i = members[p], j = members[q];
            const std::size_t pk = static_cast<std::size_t>(t.lj_type[i]) * nt + t.lj_type[j];
            t.listed_x.push_back(t.pair_x[pk]);
            t.listed_d.push_back(t.exclusions.scale(i, j) * t.pair_d[pk]);
        }
    }
    t.listed_row.push_back(t.listed_x.size());
    // Rows are read four entries at a time: the last may run three past the end.
    t.listed_x.resize(t.listed_x.size() + 3, 1.0);
    t.listed_d.resize(t.listed_d.size() + 3, 0.0);
}

}  // namespace

Result<System> System::create(std::vector<Atom> atoms, std::vector<Bond> bonds, UnitCell cell) {
    if (atoms.size() >= std::numeric_limits<std::uint32_t>::max())
        return fail(fmt::format("Too many atoms for the force field: {}", atoms.size()));
    if (auto st = auto_assign_uff_types(atoms, bonds); !st) return st.error();
    System s;
    s.cell_ = cell;
    s.atoms_ = std::move(atoms);
    s.bonds_ = std::move(bonds);
    Topology& t = s.topology_;
    t.rows.resize(s.atoms_.size());
    for (std::size_t a = 0; a < s.atoms_.size(); ++a)
        t.rows[a] = atom_params(s.atoms_[a].uff_type.value, s.atoms_[a].atomic_number);
    t.neighbours = NeighbourLists(s.atoms_.size(), s.bonds_);
    t.exclusions = ExclusionTable(t.neighbours);
    add_bonded_terms(t, s.atoms_, s.bonds_);
    add_pair_tables(t);
    if (!s.cell_.periodic() && t.lj_members.size() <= listed_pair_limit) add_listed_pairs(t);
    return s;
}

}  // namespace zelt::forcefield
