#include "forcefield/torsion_block.hpp"

#include <algorithm>
#include <cmath>

#include "forcefield/interactions.hpp"

namespace zelt::forcefield::detail {

namespace {

// torsion_term written lane-wise without branches, operation for operation
// in the same order (the compiler fuses no multiply-add here, so every
// rounding is the same). Lanes whose term does not apply compute harmless
// garbage that is not used; periodicities other than 1, 2, 3 and 6 are
// recomputed afterwards by torsion_term itself.
__attribute__((target_clones("avx", "default"))) void torsion_lanes(TorsionBlock& b, std::size_t n) {
    for (std::size_t k = 0; k < n; ++k) {
        const double b1x = b.b1[0][k], b1y = b.b1[1][k], b1z = b.b1[2][k];
        const double b2x = b.b2[0][k], b2y = b.b2[1][k], b2z = b.b2[2][k];
        const double b3x = b.b3[0][k], b3y = b.b3[1][k], b3z = b.b3[2][k];
        const double n1x = b1y * b2z - b1z * b2y, n1y = b1z * b2x - b1x * b2z, n1z = b1x * b2y - b1y * b2x;
        const double n2x = b2y * b3z - b2z * b3y, n2y = b2z * b3x - b2x * b3z, n2z = b2x * b3y - b2y * b3x;
        const double n1_sq = n1x * n1x + n1y * n1y + n1z * n1z;
        const double n2_sq = n2x * n2x + n2y * n2y + n2z * n2z;
        const double smaller = n2_sq < n1_sq ? n2_sq : n1_sq;
        b.smaller[k] = smaller;
        const double b2_sq = b2x * b2x + b2y * b2y + b2z * b2z;
        const double b2_len = std::sqrt(b2_sq);
        const double px = n1x * n2x + n1y * n2y + n1z * n2z;
        const double py = -b2_len * (b1x * n2x + b1y * n2y + b1z * n2z);
        const double inv = 1.0 / std::sqrt(px * px + py * py);
        const double c1 = px * inv;
        const double s1 = py * inv;
        const double c2 = (c1 - s1) * (c1 + s1);
        const double s2 = 2.0 * s1 * c1;
        const double c3 = c1 * (4.0 * c1 * c1 - 3.0);
        const double s3 = s1 * (3.0 - 4.0 * s1 * s1);
        const double c6 = (c3 - s3) * (c3 + s3);
        const double s6 = 2.0 * s3 * c3;
        const double m = b.periodicity[k];
        const double cos_m = m == 1.0 ? c1 : m == 2.0 ? c2 : m == 3.0 ? c3 : c6;
        const double sin_m = m == 1.0 ? s1 : m == 2.0 ? s2 : m == 3.0 ? s3 : s6;
        const double phase = b.phase[k];
        const double half_v = 0.5 * b.barrier[k];
        b.energy[k] = half_v * (1.0 - phase * cos_m);
        const double g = half_v * m * phase * sin_m * b2_len;
        const double wi = -g / n1_sq;
        const double wl = g / n2_sq;
        const double fix = wi * n1x, fiy = wi * n1y, fiz = wi * n1z;
        const double flx = wl * n2x, fly = wl * n2y, flz = wl * n2z;
        const double inv_b2_sq = 1.0 / b2_sq;
        const double a = (b1x * b2x + b1y * b2y + b1z * b2z) * inv_b2_sq;
        const double q = (b3x * b2x + b3y * b2y + b3z * b2z) * inv_b2_sq;
        const double fjx = q * flx - (1.0 + a) * fix, fjy = q * fly - (1.0 + a) * fiy,
                     fjz = q * flz - (1.0 + a) * fiz;
        b.force[0][0][k] = fix;
        b.force[0][1][k] = fiy;
        b.force[0][2][k] = fiz;
        b.force[1][0][k] = fjx;
        b.force[1][1][k] = fjy;
        b.force[1][2][k] = fjz;
        b.force[2][0][k] = -(fix + fjx + flx);
        b.force[2][1][k] = -(fiy + fjy + fly);
        b.force[2][2][k] = -(fiz + fjz + flz);
        b.force[3][0][k] = flx;
        b.force[3][1][k] = fly;
        b.force[3][2][k] = flz;
    }
}

}  // namespace

void compute_torsion_block(TorsionBlock& b, std::size_t n) {
    torsion_lanes(b, n);
    for (std::size_t k = 0; k < n; ++k) {
        b.present[k] = !(b.smaller[k] < 1e-9);
        const double p = b.periodicity[k];
        if (p == 1.0 || p == 2.0 || p == 3.0 || p == 6.0) continue;
        const TorsionConstants c{static_cast<int>(p), b.barrier[k], b.phase[k]};
        const auto term = torsion_term(c, {b.b1[0][k], b.b1[1][k], b.b1[2][k]},
                                       {b.b2[0][k], b.b2[1][k], b.b2[2][k]}, {b.b3[0][k], b.b3[1][k], b.b3[2][k]});
        b.present[k] = term.has_value();
        if (!term) continue;
        b.energy[k] = term->energy;
        for (int atom = 0; atom < 4; ++atom)
            for (int a = 0; a < 3; ++a) b.force[atom][a][k] = term->forces[atom][a];
    }
}

}  // namespace zelt::forcefield::detail
