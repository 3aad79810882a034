// Geometry of periodic systems: the minimum-image rule, wrapping into the
// cell, unwrapping bonded fragments, stacking two systems, distances,
// neighbour lists, bond and dihedral angles, volume, mass, density and
// centre of mass.
//
// Positions and cell vectors are Cartesian ångström; fractional coordinates
// are the row vector s = r · inv_cell and r = s · cell. Angles are degrees.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <span>
#include <vector>

#include "core/records.hpp"
#include "core/result.hpp"

namespace zelt {

inline constexpr double degrees_per_radian = 57.29577951308232;
// Density in g/cm³ = mass in u / (volume in Å³ × this factor).
inline constexpr double density_factor = 0.602214076;
// Cells smaller than this (Å³) report a density of 0.
inline constexpr double min_density_volume = 1e-9;

// One entry of a neighbour list: atoms i < j and their minimum-image distance.
struct Neighbor {
    std::uint64_t i = 0;
    std::uint64_t j = 0;
    double distance = 0.0;

    bool operator==(const Neighbor&) const = default;
};

using AngleIndices = std::array<std::uint64_t, 3>;     // (i, j, k), j the vertex
using DihedralIndices = std::array<std::uint64_t, 4>;  // (i, j, k, l)

namespace geometry_detail {

// Nearest integer with halves away from zero (0.5 → 1, -0.5 → -1), the same
// value as std::round but written with plain arithmetic so that loops over it
// vectorise instead of calling the library function. Below 2^52 adding and
// subtracting 2^52 rounds |x| to the nearest integer with ties to even; a tie
// that went down is then moved up. Larger magnitudes, infinities and NaN are
// returned as they are (they are already integers, or not numbers).
inline double round_half_away(double x) {
    constexpr double two52 = 4503599627370496.0;
    const double a = std::fabs(x);
    double r = (a + two52) - two52;
    r += (a - r == 0.5) ? 1.0 : 0.0;
    return a < two52 ? std::copysign(r, x) : x;
}

}  // namespace geometry_detail

// Minimum image of the displacement d: its fractional coordinates are rounded
// to the nearest integers (halves away from zero) and subtracted. No search
// over other images is made, so in strongly skewed cells the result need not
// be the shortest image.
inline Vec3 minimum_image(const Mat3& cell, const Mat3& inv_cell, const Vec3& d) {
    using geometry_detail::round_half_away;
    double s[3];
    for (int c = 0; c < 3; ++c) {
        s[c] = d[0] * inv_cell[0][c] + d[1] * inv_cell[1][c] + d[2] * inv_cell[2][c];
        s[c] -= round_half_away(s[c]);
    }
    Vec3 out;
    for (int c = 0; c < 3; ++c) out[c] = s[0] * cell[0][c] + s[1] * cell[1][c] + s[2] * cell[2][c];
    return out;
}

inline Vec3 minimum_image(const System& system, const Vec3& d) {
    return minimum_image(system.cell, system.inv_cell, d);
}

// Squared length of the minimum image of a − b. Every pair distance of the
// neighbour list goes through this one function, whichever search found the
// pair, so that all searches give the same value to the last bit.
inline double minimum_image_distance_sq(const Mat3& cell, const Mat3& inv_cell, const Vec3& a, const Vec3& b) {
    const Vec3 d = minimum_image(cell, inv_cell, Vec3{a[0] - b[0], a[1] - b[1], a[2] - b[2]});
    return d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
}

// Moves every atom into the cell: fractional coordinates in [0, 1) (a tiny
// negative value can round up to exactly 1). Bonds are not considered.
void wrap(System& system);

// Makes every bonded fragment whole around its lowest-indexed atom: a
// depth-first walk over the bonds places each atom at the minimum image of
// the atom it was first reached from. Atoms without bonds stay; ring closures
// are not reconciled. Fails, changing nothing, when a bond names an atom
// that the system does not have.
Status unwrap(System& system);

// Appends `other` along cell axis `axis` (0, 1 or 2): its atoms shifted by
// the system's cell[axis][axis] along that axis, indices and bonds offset by
// the system's atom count, and cell[axis][axis] grown by other's. Only the
// diagonal entry is used, so stacking is exact for orthorhombic cells.
// Fails with "Invalid axis" for an axis above 2, changing nothing.
Status stack(System& system, const System& other, std::uint64_t axis);

// The n × n matrix of distances, row-major, with exact zeros on the
// diagonal; with `mic` every displacement is taken as its minimum image.
std::vector<double> get_all_distances(const System& system, bool mic);

// The same matrix written into `out`, which must hold n × n values (for
// example the buffer of an array owned by the caller). Rows are computed in
// parallel.
void get_all_distances(const System& system, bool mic, std::span<double> out);

// Every pair i < j whose minimum-image distance is below `cutoff` (strictly),
// ordered by i, then j. The candidates come from a cell grid where one can
// find them all; otherwise every pair is tested.
std::vector<Neighbor> get_neighbor_list(const System& system, double cutoff);

// The same for bare positions in a cell (`inv_cell` its inverse), for callers
// that hold positions without atom records.
std::vector<Neighbor> get_neighbor_list(const Mat3& cell, const Mat3& inv_cell, std::span<const Vec3> positions,
                                        double cutoff);

// One angle per triple, in input order, in [0, 180]; coincident atoms give
// NaN. Fails, before any work, when an index is not below the atom count.
Result<std::vector<double>> get_angles(const System& system, std::span<const AngleIndices> indices, bool mic);

// One dihedral per quadruple, in input order, in (-180, 180]: atan2 of
// ((b1×b2)×b2)·(b2×b3)/|b2| over (b1×b2)·(b2×b3), with b1 = j − i, b2 = k − j,
// b3 = l − k. Fails, before any work, when an index is not below the atom count.
Result<std::vector<double>> get_dihedrals(const System& system, std::span<const DihedralIndices> indices, bool mic);

// |det(cell)| in Å³.
double get_volume(const System& system);

// Sum of the atomic masses (unknown elements count 0); -0.0 for no atoms.
double get_total_mass(const System& system);

// Mass over volume in g/cm³; 0 when the volume is below 1e-9 Å³.
double get_density(const System& system);

// Mass-weighted mean of the stored positions (neither wrapped nor taken over
// minimum images); (0, 0, 0) when the total mass is not positive.
Vec3 get_center_of_mass(const System& system);

}  // namespace zelt
