// Combination rules: the per-bond, per-angle, per-torsion and per-pair
// constants built from the parameter rows of the atoms involved.
#pragma once

#include "forcefield/params.hpp"

namespace zelt::forcefield {

struct BondConstants {
    double r0;  // rest length, Å
    double k;   // force constant, kcal/mol/Å²
};

struct AngleConstants {
    double theta0;  // natural angle of the centre, radians
    double k;       // force constant, kcal/mol/rad²
};

struct TorsionConstants {
    int periodicity;  // 2 about multiple bonds, else 3
    double barrier;   // V, kcal/mol; the term uses V/2
    double phase;     // cos(periodicity · π): +1 for 2, -1 for 3
};

struct PairConstants {
    double x;  // distance of the well minimum, Å
    double d;  // well depth including the exclusion scale, kcal/mol
};

// Rest length with the bond-order and electronegativity corrections, and the
// force constant from the effective charges. Orders up to 1 (and orders that
// are not numbers) carry no bond-order correction.
BondConstants bond_constants(const UffParams& i, const UffParams& j, double order);

// Angle a–c–b with centre c: θ0 of the centre, the force constant from the
// uncorrected arm lengths.
AngleConstants angle_constants(const UffParams& a, const UffParams& c, const UffParams& b);

// Torsion about the central bond j–k of the given (single-precision) order.
TorsionConstants torsion_constants(const UffParams& j, const UffParams& k, float order);

// Non-bonded pair with the exclusion scale applied to the well depth.
PairConstants pair_constants(const UffParams& i, const UffParams& j, double scale);

}  // namespace zelt::forcefield
