// The five geometric restoring terms of the VSEPR embedding. Each reads the
// working positions and adds into the per-atom force; none moves an atom.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "core/records.hpp"
#include "vsepr/rules.hpp"

namespace zelt::vsepr {

// What the terms need besides positions, fixed for one optimisation run.
// Besides the neighbour lists and geometries, the terms' work lists are laid
// out flat here, each in the order in which its term visits them.
struct Model {
    std::span<const Bond> bonds;
    NeighbourLists neighbours;
    std::vector<Geometry> geometry;      // per atom
    std::vector<double> cos_ideal;       // per atom: cosine of the geometry's ideal angle
    std::vector<double> ideal_length;    // per bond (0 for bonds naming atoms out of range)
    std::vector<char> bond_in_range;     // per bond: both atoms exist

    // Bond term: the bonds naming atoms in range, in bond-list order.
    struct BondTerm {
        std::size_t i, j;
        double length;
    };
    std::vector<BondTerm> bond_terms;

    // Angle term: every atom with two or more neighbours is a centre, in atom
    // order; its arms (neighbours) are arm_atom[first .. first + count).
    // Every pair of arms x < y of a centre, centre by centre, is one angle
    // pair: its two atoms.
    struct AngleCentre {
        std::size_t atom, first, count;
        double cos0;
    };
    std::vector<AngleCentre> angle_centres;
    std::vector<std::size_t> arm_atom;
    std::vector<std::pair<std::size_t, std::size_t>> angle_pairs;
    // The same laid out flat for the loops: per arm its centre; per angle
    // pair its two arms' positions in arm_atom and the centre's cos0.
    std::vector<std::size_t> arm_centre;
    std::vector<std::pair<std::size_t, std::size_t>> angle_pair_arms;
    std::vector<double> angle_pair_cos0;

    // Planarity term: trigonal centres with exactly three neighbours (centre, a, b, e).
    std::vector<std::array<std::size_t, 4>> planar_centres;

    // Torsion term: the bonds j-k of order 1.5 or more between two trigonal
    // centres, in bond-list order. Each has one slot for the bond's unit
    // vector, then one per neighbour a of j other than k (the normals of
    // a-j-k), then one per neighbour d of k other than j (the normals of
    // j-k-d), in neighbour-list order; torsion_atom names a or d per slot.
    struct TorsionTerm {
        std::size_t j, k;
        std::size_t first;         // slot of the bond's unit vector
        std::size_t near, far;     // counts of a and d slots that follow it
    };
    std::vector<TorsionTerm> torsion_terms;
    std::vector<std::size_t> torsion_atom;

    static Model build(std::span<const Atom> atoms, std::span<const Bond> bonds);
    std::size_t atom_count() const { return geometry.size(); }

    // Neither neighbours nor second neighbours (sharing a neighbour).
    bool excluded(std::size_t i, std::size_t j) const;
};

struct Workspace;  // below

// Each term in two forms: with a workspace of the caller's (the optimizer
// keeps one for the whole run) or with one of its own.
void apply_bond_constraints(const Model& m, std::span<const Vec3> p, std::span<Vec3> f);
void apply_bond_constraints(const Model& m, std::span<const Vec3> p, std::span<Vec3> f, Workspace& w);
void apply_angle_constraints(const Model& m, std::span<const Vec3> p, std::span<Vec3> f);
void apply_angle_constraints(const Model& m, std::span<const Vec3> p, std::span<Vec3> f, Workspace& w);
void apply_planarity_constraints(const Model& m, std::span<const Vec3> p, std::span<Vec3> f);
void apply_torsion_constraints(const Model& m, std::span<const Vec3> p, std::span<Vec3> f);
void apply_torsion_constraints(const Model& m, std::span<const Vec3> p, std::span<Vec3> f, Workspace& w);

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

// The pairs that the repulsion term can act on, kept from one iteration to
// the next: every pair that is not excluded and was closer than 1.2 Å plus a
// skin when the list was made. The list stands as long as no atom has moved
// more than half the skin since then; no other pair can have come within
// 1.2 Å. Pairs are tested and applied in the order of the enumeration that
// `PairSearch` names, exactly as a full search each iteration would.
struct CloseList {
    std::vector<AtomPair> candidates;  // all-pairs order (i ascending, then j)
    std::vector<Vec3> anchor;          // positions when the list was made
    bool valid = false;
    std::vector<std::uint64_t> cell;   // grid order: per atom, its cell's coordinates (x, y, z)
    std::vector<AtomPair> found;       // grid order: the pairs acted on in this iteration
};

// Working space of one optimisation run, reused across iterations.
struct Workspace {
    RepulsionScratch repulsion;
    CloseList close;
    std::vector<double> arm_length;  // per arm of an angle centre
    std::vector<double> ux, uy, uz;  // per bond or angle pair: difference vector, then unit vector
    std::vector<double> mag;         // per bond or angle pair: force magnitude along the unit vector
    std::vector<char> acts;          // per bond or angle pair: whether the term acts
    std::vector<double> tx, ty, tz;  // per torsion slot: the vector, then its unit vector
    std::vector<char> usable;        // per torsion slot: the normal is long enough to use
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

// The same forces, in the same order, from the close-pair list of `w`
// (made or renewed as needed): the optimizer's form of the term.
void apply_repulsion_constraints(const Model& m, std::span<const Vec3> p, std::span<Vec3> f, Workspace& w,
                                 PairSearch search = PairSearch::Automatic);

// Whether `search` of Automatic would use the grid for this many atoms.
bool uses_grid(std::size_t atom_count);

// Cells in a dense repulsion grid over `atom_count` atoms at most; beyond
// that the grid keeps occupied cells only.
std::size_t dense_grid_limit(std::size_t atom_count);

}  // namespace zelt::vsepr

