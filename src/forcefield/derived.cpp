#include "forcefield/derived.hpp"

#include <algorithm>
#include <cmath>

namespace zelt::forcefield {

namespace {
constexpr double degrees_to_radians = 0.017453292519943295;
}

BondConstants bond_constants(const UffParams& i, const UffParams& j, double order) {
    const double r_bo = order > 1.0 ? -0.1332 * (i.r1 + j.r1) * std::log(order) : 0.0;
    const double sqrt_diff = std::sqrt(i.chi) - std::sqrt(j.chi);
    const double r_en = i.r1 * j.r1 * sqrt_diff * sqrt_diff / (i.chi * i.r1 + j.chi * j.r1);
    const double r0 = i.r1 + j.r1 + r_bo - r_en;
    return {r0, 664.12 * i.z1 * j.z1 / (r0 * r0 * r0)};
}

AngleConstants angle_constants(const UffParams& a, const UffParams& c, const UffParams& b) {
    const double theta0 = c.theta0 * degrees_to_radians;
    const double cos0 = std::cos(theta0);
    const double r_ac = a.r1 + c.r1;
    const double r_cb = c.r1 + b.r1;
    const double r_ab2 = std::max(r_ac * r_ac + r_cb * r_cb - 2.0 * r_ac * r_cb * cos0, 1e-6);
    const double r_ab = std::sqrt(r_ab2);
    const double r_ab5 = r_ab2 * r_ab2 * r_ab;
    const double k = 664.12 * a.z1 * b.z1 / r_ab5 * (3.0 * r_ac * r_cb * (1.0 - cos0 * cos0) - r_ab2 * cos0);
    return {theta0, k};
}

TorsionConstants torsion_constants(const UffParams& j, const UffParams& k, float order) {
    const bool multiple = order > 1.2f;
    const int n = multiple ? 2 : 3;
    double v = 5.0 * std::sqrt(j.v_sp3 * k.v_sp3);
    if (multiple) v *= 1.0 + 4.18 * (static_cast<double>(order) - 1.0);
    return {n, v, multiple ? 1.0 : -1.0};
}

PairConstants pair_constants(const UffParams& i, const UffParams& j, double scale) {
    return {std::sqrt(i.x1 * j.x1), scale * std::sqrt(i.d1 * j.d1)};
}

}  // namespace zelt::forcefield
