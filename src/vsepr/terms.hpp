// The five geometric restoring terms of the VSEPR embedding. Each reads the
// working positions and adds into the per-atom force; none moves an atom.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "core/records.hpp"
#include "vsepr/rules.hpp"

namespace zelt::vsepr {

// What the terms need besides positions, fixed for one optimisation run.
struct Model {
    std::span<const Bond> bonds;
    NeighbourLists neighbours;
    std::vector<Geometry> geometry;      // per atom
    std::vector<double> cos_ideal;       // per atom: cosine of the geometry's ideal angle
    std::vector<double> ideal_length;    // per bond (0 for bonds naming atoms out of range)
    std::vector<char> bond_in_range;     // per bond: both atoms exist

    static Model build(std::span<const Atom> atoms, std::span<const Bond> bonds);
    std::size_t atom_count() const { return geometry.size(); }

    // Neither neighbours nor second neighbours (sharing a neighbour).
    bool excluded(std::size_t i, std::size_t j) const;
};

void apply_bond_constraints(const Model& m, std::span<const Vec3> p, std::span<Vec3> f);
void apply_angle_constraints(const Model& m, std::span<const Vec3> p, std::span<Vec3> f);
void apply_planarity_constraints(const Model& m, std::span<const Vec3> p, std::span<Vec3> f);
void apply_torsion_constraints(const Model& m, std::span<const Vec3> p, std::span<Vec3> f);

// Repulsion between atoms closer than 1.2 Å (and farther than 0.01 Å) that
// are neither neighbours nor second neighbours.
enum class PairSearch : std::uint8_t {
    Automatic,  // all pairs below 100 atoms, the cell grid from 100 on
    AllPairs,   // every pair, i ascending, then j from i + 1
    Grid,       // 1.2 Å cells, visited x outermost, z innermost
};

using AtomPair = std::pair<std::size_t, std::size_t>;

// Scratch space reused across iterations so the grid allocates once.
struct RepulsionScratch {
    std::vector<std::size_t> cell_of;     // per atom: dense cell index
    std::vector<std::size_t> cell_start;  // dense grid: per cell, first slot in `order`
    std::vector<std::size_t> order;       // atoms grouped by cell, in atom order within a cell
    std::vector<std::uint64_t> key;       // sparse grid: per atom, 3 cell coordinates
    std::vector<std::size_t> cell_first;  // sparse grid: first slot of each occupied cell, plus the end
    std::vector<AtomPair> pairs;          // pairs found in the current iteration
};

// Fills `out` with every pair i < j at 0.01 Å < distance < 1.2 Å that is not
// excluded, in the enumeration order of `search`. The grid is dense when it
// has few enough cells; otherwise (atoms spread far apart) only occupied
// cells are kept and visited in the same order, so memory stays proportional
// to the atom count and the pairs found are the same.
void find_repulsion_pairs(const Model& m, std::span<const Vec3> p, PairSearch search, RepulsionScratch& scratch,
                          std::vector<AtomPair>& out);

void apply_repulsion_constraints(const Model& m, std::span<const Vec3> p, std::span<Vec3> f,
                                 RepulsionScratch& scratch, PairSearch search = PairSearch::Automatic);

// Whether `search` of Automatic would use the grid for this many atoms.
bool uses_grid(std::size_t atom_count);

// Cells in a dense repulsion grid over `atom_count` atoms at most; beyond
// that the grid keeps occupied cells only.
std::size_t dense_grid_limit(std::size_t atom_count);

}  // namespace zelt::vsepr

