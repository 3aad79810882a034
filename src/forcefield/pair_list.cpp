#include "forcefield/pair_list.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define ZELT_LJ_AVX 1
#endif

#include "forcefield/interactions.hpp"

namespace zelt::forcefield::detail {

namespace {

#ifdef ZELT_LJ_AVX
bool has_avx() {
    static const bool yes = __builtin_cpu_supports("avx");
    return yes;
}

// lj_factor's arithmetic four pairs at a time, operation for operation (no
// fused multiply-add, so every rounding is the same). std::max(a, b) is
// "a < b ? b : a" and std::clamp(v, lo, hi) is "v < lo ? lo : hi < v ? hi :
// v", which the compare-and-blend pairs reproduce for every input, NaN
// included. The switching shell and the division by r below the floor are
// computed only when a lane needs them, and blended into those lanes.
struct LjLanes {
    __m256d r_on, width;
};

__attribute__((target("avx"))) inline LjLanes lj_lanes(double cutoff) {
    const double r_on = 0.9 * cutoff;
    return {_mm256_set1_pd(r_on), _mm256_set1_pd(cutoff - r_on)};
}

__attribute__((target("avx"))) inline void lj4(const LjLanes& c, __m256d r2, __m256d vx, __m256d vd,
                                                __m256d& energy, __m256d& factor) {
    const __m256d one = _mm256_set1_pd(1.0);
    const __m256d r = _mm256_sqrt_pd(r2);
    const __m256d floor = _mm256_mul_pd(_mm256_set1_pd(0.4), vx);
    const __m256d r_eff = _mm256_blendv_pd(r, floor, _mm256_cmp_pd(r, floor, _CMP_LT_OQ));
    const __m256d inv = _mm256_div_pd(one, r_eff);
    const __m256d s = _mm256_mul_pd(vx, inv);
    const __m256d s2 = _mm256_mul_pd(s, s);
    const __m256d g = _mm256_mul_pd(_mm256_mul_pd(s2, s2), s2);
    const __m256d gg = _mm256_mul_pd(g, g);
    __m256d e = _mm256_mul_pd(vd, _mm256_sub_pd(gg, _mm256_mul_pd(_mm256_set1_pd(2.0), g)));
    __m256d w = _mm256_mul_pd(_mm256_mul_pd(_mm256_mul_pd(_mm256_set1_pd(12.0), vd), inv), _mm256_sub_pd(gg, g));
    const __m256d switching = _mm256_cmp_pd(r_eff, c.r_on, _CMP_GT_OQ);
    if (_mm256_movemask_pd(switching) != 0) {
        const __m256d t = _mm256_div_pd(_mm256_sub_pd(r_eff, c.r_on), c.width);
        const __m256d t2 = _mm256_mul_pd(t, t);
        const __m256d t3 = _mm256_mul_pd(t2, t);
        const __m256d sw =
            _mm256_sub_pd(_mm256_add_pd(_mm256_sub_pd(one, _mm256_mul_pd(_mm256_set1_pd(10.0), t3)),
                                        _mm256_mul_pd(_mm256_mul_pd(_mm256_set1_pd(15.0), t3), t)),
                          _mm256_mul_pd(_mm256_mul_pd(_mm256_set1_pd(6.0), t3), t2));
        const __m256d dsw =
            _mm256_div_pd(_mm256_sub_pd(_mm256_sub_pd(_mm256_mul_pd(_mm256_set1_pd(60.0), t3),
                                                      _mm256_mul_pd(_mm256_set1_pd(30.0), t2)),
                                        _mm256_mul_pd(_mm256_mul_pd(_mm256_set1_pd(30.0), t3), t)),
                          c.width);
        w = _mm256_blendv_pd(w, _mm256_sub_pd(_mm256_mul_pd(w, sw), _mm256_mul_pd(e, dsw)), switching);
        e = _mm256_blendv_pd(e, _mm256_mul_pd(e, sw), switching);
    }
    const __m256d lo = _mm256_set1_pd(-lj_force_limit), hi = _mm256_set1_pd(lj_force_limit);
    w = _mm256_blendv_pd(w, lo, _mm256_cmp_pd(w, lo, _CMP_LT_OQ));
    w = _mm256_blendv_pd(w, hi, _mm256_cmp_pd(hi, w, _CMP_LT_OQ));
    energy = e;
    factor = _mm256_mul_pd(w, inv);
    const __m256d plain = _mm256_cmp_pd(r_eff, r, _CMP_EQ_OQ);
    if (_mm256_movemask_pd(plain) != 0xF) factor = _mm256_blendv_pd(_mm256_div_pd(w, r), factor, plain);
}

__attribute__((target("avx"))) std::size_t lj_avx(std::size_t n, const double* r2, const double* x,
                                                    const double* d, double cutoff, double* energy,
                                                    double* factor) {
    const LjLanes c = lj_lanes(cutoff);
    std::size_t k = 0;
    for (; k + 4 <= n; k += 4) {
        __m256d e, w;
        lj4(c, _mm256_loadu_pd(r2 + k), _mm256_loadu_pd(x + k), _mm256_loadu_pd(d + k), e, w);
        _mm256_storeu_pd(energy + k, e);
        _mm256_storeu_pd(factor + k, w);
    }
    return k;
}

__attribute__((target("avx"))) inline double horizontal_sum(__m256d v) {
    alignas(32) double lane[4];
    _mm256_store_pd(lane, v);
    return (lane[0] + lane[1]) + (lane[2] + lane[3]);
}

// Members' coordinates and force sums laid out flat: row p against the
// later members q, four at a time, each lane outside the cutoff (or at
// coincidence) giving exactly zero. The flat arrays carry three padding
// entries past the last member, with coordinates that are not a number, so
// the last group of a row may run past the members: its extra lanes are
// never within the cutoff.
__attribute__((target("avx"))) double rows_avx(const Topology& t, const double* X, const double* Y,
                                                const double* Z, double* FX, double* FY, double* FZ, double cutoff,
                                                double cutoff_squared) {
    const std::size_t m = t.lj_members.size();
    const LjLanes c = lj_lanes(cutoff);
    const __m256d rc2 = _mm256_set1_pd(cutoff_squared), tiny = _mm256_set1_pd(1e-6);
    __m256d energy4 = _mm256_setzero_pd();
    for (std::size_t p = 0; p + 1 < m; ++p) {
        // Row p starts with partner q = p + 1.
        const double* px = t.listed_x.data() + t.listed_row[p];
        const double* pd = t.listed_d.data() + t.listed_row[p];
        const __m256d xi = _mm256_set1_pd(X[p]), yi = _mm256_set1_pd(Y[p]), zi = _mm256_set1_pd(Z[p]);
        __m256d fx4 = _mm256_setzero_pd(), fy4 = _mm256_setzero_pd(), fz4 = _mm256_setzero_pd();
        for (std::size_t q = p + 1; q < m; q += 4) {
            const __m256d dx = _mm256_sub_pd(xi, _mm256_loadu_pd(X + q));
            const __m256d dy = _mm256_sub_pd(yi, _mm256_loadu_pd(Y + q));
            const __m256d dz = _mm256_sub_pd(zi, _mm256_loadu_pd(Z + q));
            const __m256d r2 =
                _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(dx, dx), _mm256_mul_pd(dy, dy)), _mm256_mul_pd(dz, dz));
            const __m256d in =
                _mm256_and_pd(_mm256_cmp_pd(r2, rc2, _CMP_LT_OQ), _mm256_cmp_pd(r2, tiny, _CMP_GT_OQ));
            if (_mm256_movemask_pd(in) == 0) continue;
            __m256d e, w;
            lj4(c, r2, _mm256_loadu_pd(px + (q - p - 1)), _mm256_loadu_pd(pd + (q - p - 1)), e, w);
            // Masked after the products: a padding lane's difference is not a number.
            e = _mm256_and_pd(e, in);
            const __m256d fx = _mm256_and_pd(_mm256_mul_pd(w, dx), in);
            const __m256d fy = _mm256_and_pd(_mm256_mul_pd(w, dy), in);
            const __m256d fz = _mm256_and_pd(_mm256_mul_pd(w, dz), in);
            fx4 = _mm256_add_pd(fx4, fx);
            fy4 = _mm256_add_pd(fy4, fy);
            fz4 = _mm256_add_pd(fz4, fz);
            _mm256_storeu_pd(FX + q, _mm256_sub_pd(_mm256_loadu_pd(FX + q), fx));
            _mm256_storeu_pd(FY + q, _mm256_sub_pd(_mm256_loadu_pd(FY + q), fy));
            _mm256_storeu_pd(FZ + q, _mm256_sub_pd(_mm256_loadu_pd(FZ + q), fz));
            energy4 = _mm256_add_pd(energy4, e);
        }
        FX[p] += horizontal_sum(fx4);
        FY[p] += horizontal_sum(fy4);
        FZ[p] += horizontal_sum(fz4);
    }
    return horizontal_sum(energy4);
}
#endif

void lj_scalar_from(std::size_t k, std::size_t n, const double* r2, const double* x, const double* d,
                    double cutoff, double* energy, double* factor) {
    for (; k < n; ++k) {
        const PairFactor p = lj_factor(PairConstants{x[k], d[k]}, r2[k], cutoff);
        energy[k] = p.energy;
        factor[k] = p.factor;
    }
}

// The same rows pair by pair.
double rows_scalar(const Topology& t, const double* X, const double* Y, const double* Z, double* FX, double* FY,
                   double* FZ, double cutoff, double cutoff_squared) {
    const std::size_t m = t.lj_members.size();
    double energy = 0.0;
    for (std::size_t p = 0; p + 1 < m; ++p) {
        // Row p starts with partner q = p + 1.
        const double* px = t.listed_x.data() + t.listed_row[p];
        const double* pd = t.listed_d.data() + t.listed_row[p];
        double fx1 = 0.0, fy1 = 0.0, fz1 = 0.0;
        for (std::size_t q = p + 1; q < m; ++q) {
            const double dx = X[p] - X[q], dy = Y[p] - Y[q], dz = Z[p] - Z[q];
            const double r2 = dx * dx + dy * dy + dz * dz;
            if (!(r2 < cutoff_squared && r2 > 1e-6)) continue;
            const PairFactor pf = lj_factor(PairConstants{px[q - p - 1], pd[q - p - 1]}, r2, cutoff);
            const double fx = pf.factor * dx, fy = pf.factor * dy, fz = pf.factor * dz;
            fx1 += fx;
            fy1 += fy;
            fz1 += fz;
            FX[q] -= fx;
            FY[q] -= fy;
            FZ[q] -= fz;
            energy += pf.energy;
        }
        FX[p] += fx1;
        FY[p] += fy1;
        FZ[p] += fz1;
    }
    return energy;
}

}  // namespace

void lj_block_scalar(std::size_t n, const double* r2, const double* x, const double* d, double cutoff,
                     double* energy, double* factor) {
    lj_scalar_from(0, n, r2, x, d, cutoff, energy, factor);
}

void lj_block(std::size_t n, const double* r2, const double* x, const double* d, double cutoff, double* energy,
              double* factor) {
    std::size_t k = 0;
#ifdef ZELT_LJ_AVX
    if (has_avx()) k = lj_avx(n, r2, x, d, cutoff, energy, factor);
#endif
    lj_scalar_from(k, n, r2, x, d, cutoff, energy, factor);
}

double listed_pair_range(const System& s, double cutoff, double* f, std::vector<double>& scratch, bool vector) {
    const auto atoms = s.atoms();
    const Topology& t = s.topology();
    const auto& members = t.lj_members;
    const std::size_t m = members.size();
    const std::size_t stride = m + 3;
    scratch.assign(6 * stride, 0.0);
    double* X = scratch.data();
    double *Y = X + stride, *Z = Y + stride, *FX = Z + stride, *FY = FX + stride, *FZ = FY + stride;
    std::fill(X + m, X + stride, std::numeric_limits<double>::quiet_NaN());
    std::fill(Y + m, Y + stride, std::numeric_limits<double>::quiet_NaN());
    std::fill(Z + m, Z + stride, std::numeric_limits<double>::quiet_NaN());
    for (std::size_t p = 0; p < m; ++p) {
        const Vec3& r = atoms[members[p]].position;
        X[p] = r[0];
        Y[p] = r[1];
        Z[p] = r[2];
    }
    const double rc = std::fabs(cutoff);
    const double rc2 = cutoff * cutoff;
    double energy;
#ifdef ZELT_LJ_AVX
    if (vector && has_avx())
        energy = rows_avx(t, X, Y, Z, FX, FY, FZ, rc, rc2);
    else
#endif
        energy = rows_scalar(t, X, Y, Z, FX, FY, FZ, rc, rc2);
    (void)vector;
    for (std::size_t p = 0; p < m; ++p) {
        const std::size_t a = members[p];
        f[3 * a] += FX[p];
        f[3 * a + 1] += FY[p];
        f[3 * a + 2] += FZ[p];
    }
    return energy;
}

}  // namespace zelt::forcefield::detail
