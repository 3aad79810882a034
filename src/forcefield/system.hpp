// The engine's system: atoms, bonds and cell, typed on construction, with the
// interaction terms that its bonds imply worked out once.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "core/result.hpp"
#include "forcefield/atom.hpp"
#include "forcefield/cell.hpp"
#include "forcefield/derived.hpp"
#include "forcefield/exclusions.hpp"
#include "forcefield/params.hpp"

namespace zelt::forcefield {

// Energies of one evaluation, kcal/mol. `torsion` includes the planarity
// restraints; `total` = bond + angle + torsion + vdw, added in that order.
struct EnergyTerms {
    double bond = 0.0;
    double angle = 0.0;
    double torsion = 0.0;
    double vdw = 0.0;
    double total = 0.0;
};

// The terms a system's bonds imply, with their constants. Only terms whose
// atoms have parameter rows are listed; torsions without a barrier are left
// out, as they contribute neither energy nor force.
struct Topology {
    struct BondTerm {
        std::uint32_t i, j;
        BondConstants c;
    };
    struct AngleTerm {
        std::uint32_t a, c, b;  // centre c
        AngleConstants k;
    };
    struct TorsionTerm {
        std::uint32_t i, j, k, l;  // central bond j–k
        TorsionConstants c;
    };
    struct PlanarCentre {
        std::uint32_t c, first, second, third;
    };

    std::vector<const UffParams*> rows;  // per atom; nullptr: no parameters
    NeighbourLists neighbours;
    ExclusionTable exclusions;
    std::vector<BondTerm> bonds;          // in bond order
    std::vector<AngleTerm> angles;        // by centre, then pairs of list positions p < q
    std::vector<TorsionTerm> torsions;    // by central bond, then i, then l in list order
    std::vector<PlanarCentre> planar;     // by centre
    // Non-bonded: the atoms with parameters, their pair-table type, and the
    // pair tables x_ij and √(d1_i · d1_j) over those types.
    std::vector<std::uint32_t> lj_members;
    std::vector<std::uint32_t> lj_type;  // per atom (meaningful for members)
    std::size_t type_count = 0;
    std::vector<double> pair_x;
    std::vector<double> pair_d;

    // A small system without periodicity keeps the well of every pair of
    // members p < q (positions in lj_members), the exclusion scale included,
    // row by row: row p holds q = p + 1 .. M - 1 from listed_row[p]. An
    // excluded pair has depth 0 and so contributes exactly nothing.
    // Evaluating the non-bonded term then runs along these rows and needs no
    // pair grid. `pairs_listed` says whether the rows were made. Three
    // unused entries follow the last row (rows are read four at a time).
    bool pairs_listed = false;
    std::vector<std::size_t> listed_row;
    std::vector<double> listed_x;
    std::vector<double> listed_d;
};

// Systems without periodicity up to this many non-bonded members list their pairs.
inline constexpr std::size_t listed_pair_limit = 256;

class System {
public:
    // Types every atom and works out the terms. Fails when a bond refers to
    // an atom index not below the atom count, or when there are more atoms
    // than the engine indexes (2^32 - 1).
    static Result<System> create(std::vector<Atom> atoms, std::vector<Bond> bonds, UnitCell cell);

    const UnitCell& cell() const { return cell_; }
    // Positions may be changed and forces are written here. Labels are fixed
    // when the system is created: the terms use the parameters found then.
    std::span<Atom> atoms() { return atoms_; }
    std::span<const Atom> atoms() const { return atoms_; }
    std::span<const Bond> bonds() const { return bonds_; }
    const Topology& topology() const { return topology_; }

private:
    System() = default;
    UnitCell cell_;
    std::vector<Atom> atoms_;
    std::vector<Bond> bonds_;
    Topology topology_;
};

}  // namespace zelt::forcefield
