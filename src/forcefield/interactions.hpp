// The five interaction terms. Each is a pure function of minimum-image
// difference vectors and constants; an empty result means the term does not
// apply (degenerate geometry, or an atom without parameters).
//
// The `*_term` kernels take the derived constants directly; force evaluation
// computes the constants once per system and calls them in its loops. The
// `calculate_*` functions derive the constants from parameter rows and call
// the same kernels, so both give identical numbers.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>
#include <string_view>

#include "forcefield/derived.hpp"
#include "forcefield/params.hpp"
#include "forcefield/vec3.hpp"

namespace zelt::forcefield {

// Energy and the force on the first atom; the second atom gets its negative.
struct PairTerm {
    double energy;
    Vec3 force;
};

// Energy and the forces on end atom a, centre c and end atom b.
struct AngleTerm {
    double energy;
    std::array<Vec3, 3> forces;
};

// Energy and the forces on i, j, k, l along the chain i–j–k–l.
struct TorsionTerm {
    double energy;
    std::array<Vec3, 4> forces;
};

// Energy, the force on the centre and the force on each of its three neighbours.
struct PlanarityTerm {
    double energy;
    Vec3 centre_force;
    Vec3 neighbour_force;
};

inline constexpr double bond_force_limit = 1000.0;
inline constexpr double lj_force_limit = 500.0;

// ---- kernels -------------------------------------------------------------

// Harmonic stretch of d = r_i - r_j.
inline std::optional<PairTerm> bond_term(const BondConstants& c, const Vec3& d) {
    const double r = norm(d);
    if (r < 1e-6) return std::nullopt;
    const double dr = r - c.r0;
    const double w = std::clamp(-c.k * dr, -bond_force_limit, bond_force_limit);
    return PairTerm{0.5 * c.k * dr * dr, (w / r) * d};
}

// Harmonic bend in the angle between the arms r_a - r_c and r_b - r_c.
inline std::optional<AngleTerm> angle_term(const AngleConstants& c, const Vec3& arm_a, const Vec3& arm_b) {
    const double la = norm(arm_a);
    const double lb = norm(arm_b);
    if (std::min(la, lb) < 1e-6) return std::nullopt;
    const double cos_t = std::clamp(dot(arm_a, arm_b) / (la * lb), -1.0, 1.0);
    const double theta = std::acos(cos_t);
    const double dtheta = theta - c.theta0;
    const double sin_t = std::max(std::sqrt(1.0 - cos_t * cos_t), 1e-6);
    const double kp = -c.k * dtheta;
    const double lab = la * lb;
    const Vec3 fa = (kp / sin_t) * ((cos_t / (la * la)) * arm_a - (1.0 / lab) * arm_b);
    const Vec3 fb = (kp / sin_t) * ((cos_t / (lb * lb)) * arm_b - (1.0 / lab) * arm_a);
    return AngleTerm{0.5 * c.k * dtheta * dtheta, {fa, -(fa + fb), fb}};
}

// cos(nφ) and sin(nφ) of the angle φ of the point (x, y), which need not be
// of unit length. For the periodicities of the torsion term (1, 2, 3 and 6)
// they follow from cos φ and sin φ of the unit vector by the multiple-angle
// formulas, agreeing with the trigonometric functions of n·atan2(y, x) to
// rounding; any other n takes the trigonometric functions.
inline std::array<double, 2> cos_sin_multiple(double x, double y, int n) {
    if (n != 1 && n != 2 && n != 3 && n != 6) {
        const double phi = std::atan2(y, x);
        return {std::cos(n * phi), std::sin(n * phi)};
    }
    const double inv = 1.0 / std::sqrt(x * x + y * y);
    const double c1 = x * inv;
    const double s1 = y * inv;
    if (n == 1) return {c1, s1};
    if (n == 2) return {(c1 - s1) * (c1 + s1), 2.0 * s1 * c1};
    const double c3 = c1 * (4.0 * c1 * c1 - 3.0);
    const double s3 = s1 * (3.0 - 4.0 * s1 * s1);
    if (n == 3) return {c3, s3};
    return {(c3 - s3) * (c3 + s3), 2.0 * s3 * c3};
}

// Cosine torsion about b2 with b1 = r_j - r_i, b2 = r_k - r_j, b3 = r_l - r_k.
// With the plane normals n1 = b1 × b2 and n2 = b2 × b3, the dihedral φ is
// the angle of the point (n1 · n2, (n1 × b2) · n2 / |b2|); as n2 ⊥ b2 the
// second coordinate is -|b2| (b1 · n2), and both share the factor
// |n1| |n2| that cos_sin_multiple divides out.
inline std::optional<TorsionTerm> torsion_term(const TorsionConstants& c, const Vec3& b1, const Vec3& b2,
                                               const Vec3& b3) {
    const Vec3 n1 = cross(b1, b2);
    const Vec3 n2 = cross(b2, b3);
    const double n1_sq = norm2(n1);
    const double n2_sq = norm2(n2);
    if (std::min(n1_sq, n2_sq) < 1e-9) return std::nullopt;
    const double b2_sq = norm2(b2);
    const double b2_len = std::sqrt(b2_sq);
    const auto [cos_m, sin_m] = cos_sin_multiple(dot(n1, n2), -b2_len * dot(b1, n2), c.periodicity);
    const double m = c.periodicity;
    const double half_v = 0.5 * c.barrier;
    const double energy = half_v * (1.0 - c.phase * cos_m);
    const double g = half_v * m * c.phase * sin_m * b2_len;
    const Vec3 fi = (-g / n1_sq) * n1;
    const Vec3 fl = (g / n2_sq) * n2;
    const double inv_b2_sq = 1.0 / b2_sq;
    const double a = dot(b1, b2) * inv_b2_sq;
    const double q = dot(b3, b2) * inv_b2_sq;
    const Vec3 fj = q * fl - (1.0 + a) * fi;
    const Vec3 fk = -(fi + fj + fl);
    return TorsionTerm{energy, {fi, fj, fk, fl}};
}

// Energy of a pair and the factor that turns its difference vector d into
// the force on the first atom.
struct PairFactor {
    double energy;
    double factor;
};

// Switched Lennard-Jones at squared distance r2 (within the cutoff, above
// 1e-6). The well (x, d) includes the exclusion scale; `cutoff` is
// √cutoff_squared. One division serves the common case (beyond the floor
// of 0.4 x and short of the switching shell): s and the force both use
// 1 / r_eff, which is 1 / r there.
inline PairFactor lj_factor(const PairConstants& c, double r2, double cutoff) {
    const double r = std::sqrt(r2);
    const double r_eff = std::max(r, 0.4 * c.x);
    const double inv = 1.0 / r_eff;
    const double s = c.x * inv;
    const double s2 = s * s;
    const double g = s2 * s2 * s2;
    double energy = c.d * (g * g - 2.0 * g);
    double w = 12.0 * c.d * inv * (g * g - g);
    const double r_on = 0.9 * cutoff;
    if (r_eff > r_on) {
        const double width = cutoff - r_on;
        const double t = (r_eff - r_on) / width;
        const double t2 = t * t;
        const double t3 = t2 * t;
        const double sw = 1.0 - 10.0 * t3 + 15.0 * t3 * t - 6.0 * t3 * t2;
        const double dsw = (60.0 * t3 - 30.0 * t2 - 30.0 * t3 * t) / width;
        w = w * sw - energy * dsw;
        energy *= sw;
    }
    w = std::clamp(w, -lj_force_limit, lj_force_limit);
    return {energy, r_eff == r ? w * inv : w / r};
}

// The same for a pair with difference vector d and r2 = |d|², empty
// outside the cutoff and at coincidence.
inline std::optional<PairTerm> lj_term(const PairConstants& c, const Vec3& d, double r2, double cutoff_squared,
                                       double cutoff) {
    if (!(r2 < cutoff_squared && r2 > 1e-6)) return std::nullopt;
    const PairFactor p = lj_factor(c, r2, cutoff);
    return PairTerm{p.energy, p.factor * d};
}

// Restraint of a three-coordinated sp2 centre into the plane of its
// neighbours: s0 = r_first - r_c, e1 = r_second - r_first, e2 = r_third - r_first.
inline std::optional<PlanarityTerm> planarity_term(const Vec3& s0, const Vec3& e1, const Vec3& e2) {
    const Vec3 p = cross(e1, e2);
    const double p_sq = norm2(p);
    if (p_sq < 1e-9) return std::nullopt;
    const Vec3 unit = (1.0 / std::sqrt(p_sq)) * p;
    const double h = dot(unit, s0);
    const Vec3 fc = (40.0 * h) * unit;
    return PlanarityTerm{20.0 * h * h, fc, -0.333333 * fc};
}

// ---- terms from parameter rows -------------------------------------------

// d = r_i - r_j; the order is the stored single-precision order widened.
std::optional<PairTerm> calculate_bond(double order, const UffParams* i, const UffParams* j, const Vec3& d);

// arm_a = r_a - r_c, arm_b = r_b - r_c.
std::optional<AngleTerm> calculate_angle(const UffParams* a, const UffParams* c, const UffParams* b,
                                         const Vec3& arm_a, const Vec3& arm_b);

// Only the rows of the central atoms j and k enter.
std::optional<TorsionTerm> calculate_torsion(const Vec3& b1, const Vec3& b2, const Vec3& b3, const UffParams* j,
                                             const UffParams* k, float order);

// d = r_i - r_j.
std::optional<PairTerm> calculate_lj(const Vec3& d, const UffParams* i, const UffParams* j, double cutoff_squared,
                                     double scale);

// True for the labels that carry the planarity restraint (with exactly three neighbours).
bool is_planar_label(std::string_view label);

// The planarity term of a centre with label `label` and `neighbour_count` neighbours.
std::optional<PlanarityTerm> calculate_planarity(std::string_view label, std::size_t neighbour_count, const Vec3& s0,
                                                 const Vec3& e1, const Vec3& e2);

}  // namespace zelt::forcefield
