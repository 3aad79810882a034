#include "forcefield/angle_block.hpp"

#include <cmath>

namespace zelt::forcefield::detail {

namespace {

// angle_term written lane-wise without branches, operation for operation in
// the same order (no fused multiply-add, so every rounding is the same):
// std::min(x, y) is "y < x ? y : x", std::max(x, y) "x < y ? y : x" and
// std::clamp(v, -1, 1) "v < -1 ? -1 : 1 < v ? 1 : v". Lanes whose term does
// not apply compute harmless garbage that is not used.
__attribute__((target_clones("avx", "default"))) void cosine_lanes(AngleBlock& b, std::size_t n) {
    for (std::size_t k = 0; k < n; ++k) {
        const double ax = b.a[0][k], ay = b.a[1][k], az = b.a[2][k];
        const double bx = b.b[0][k], by = b.b[1][k], bz = b.b[2][k];
        const double la = std::sqrt(ax * ax + ay * ay + az * az);
        const double lb = std::sqrt(bx * bx + by * by + bz * bz);
        const double shorter = lb < la ? lb : la;
        b.shorter[k] = shorter;
        const double c = (ax * bx + ay * by + az * bz) / (la * lb);
        b.cosine[k] = c < -1.0 ? -1.0 : 1.0 < c ? 1.0 : c;
        b.la[k] = la;
        b.lb[k] = lb;
    }
}

__attribute__((target_clones("avx", "default"))) void force_lanes(AngleBlock& b, std::size_t n) {
    for (std::size_t k = 0; k < n; ++k) {
        const double cos_t = b.cosine[k], la = b.la[k], lb = b.lb[k];
        const double dtheta = b.theta[k] - b.theta0[k];
        const double s = std::sqrt(1.0 - cos_t * cos_t);
        const double sin_t = s < 1e-6 ? 1e-6 : s;
        const double kp = -b.k[k] * dtheta;
        const double lab = la * lb;
        const double w = kp / sin_t;
        const double ca = cos_t / (la * la), cb = cos_t / (lb * lb), cab = 1.0 / lab;
        for (int x = 0; x < 3; ++x) {
            const double fa = w * (ca * b.a[x][k] - cab * b.b[x][k]);
            const double fb = w * (cb * b.b[x][k] - cab * b.a[x][k]);
            b.force[0][x][k] = fa;
            b.force[1][x][k] = -(fa + fb);
            b.force[2][x][k] = fb;
        }
        b.energy[k] = 0.5 * b.k[k] * dtheta * dtheta;
    }
}

}  // namespace

void compute_angle_block(AngleBlock& b, std::size_t n) {
    cosine_lanes(b, n);
    for (std::size_t k = 0; k < n; ++k) {
        b.present[k] = !(b.shorter[k] < 1e-6);
        b.theta[k] = std::acos(b.cosine[k]);
    }
    force_lanes(b, n);
}

}  // namespace zelt::forcefield::detail
