#include "forcefield/pair_list.hpp"

#include <algorithm>
#include <cmath>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define ZELT_LJ_AVX 1
#endif

#include "forcefield/interactions.hpp"

namespace zelt::forcefield::detail {

namespace {

constexpr std::size_t block = 64;

#ifdef ZELT_LJ_AVX
bool has_avx() {
    static const bool yes = __builtin_cpu_supports("avx");
    return yes;
}

// lj_factor's arithmetic four pairs at a time, operation for operation (no
// fused multiply-add, so every rounding is the same). std::max(a, b) is
// "a < b ? b : a" and std::clamp(v, lo, hi) is "v < lo ? lo : hi < v ? hi :
// v", which the compare-and-blend pairs reproduce for every input, NaN
// included. Lanes below the switching distance take sw = 1, dsw = 0, for
// which f·sw - e·dsw and e·sw are f and e exactly.
__attribute__((target("avx"))) std::size_t lj_avx(std::size_t n, const double* r2, const double* x,
                                                    const double* d, double cutoff, double* energy,
                                                    double* factor) {
    const double r_on_s = 0.9 * cutoff;
    const __m256d r_on = _mm256_set1_pd(r_on_s), width = _mm256_set1_pd(cutoff - r_on_s);
    const __m256d one = _mm256_set1_pd(1.0), zero = _mm256_setzero_pd();
    const __m256d c04 = _mm256_set1_pd(0.4), c2 = _mm256_set1_pd(2.0), c12 = _mm256_set1_pd(12.0);
    const __m256d c10 = _mm256_set1_pd(10.0), c15 = _mm256_set1_pd(15.0), c6 = _mm256_set1_pd(6.0);
    const __m256d c60 = _mm256_set1_pd(60.0), c30 = _mm256_set1_pd(30.0);
    const __m256d lo = _mm256_set1_pd(-lj_force_limit), hi = _mm256_set1_pd(lj_force_limit);
    std::size_t k = 0;
    for (; k + 4 <= n; k += 4) {
        const __m256d vx = _mm256_loadu_pd(x + k), vd = _mm256_loadu_pd(d + k);
        const __m256d r = _mm256_sqrt_pd(_mm256_loadu_pd(r2 + k));
        const __m256d floor = _mm256_mul_pd(c04, vx);
        const __m256d r_eff = _mm256_blendv_pd(r, floor, _mm256_cmp_pd(r, floor, _CMP_LT_OQ));
        const __m256d s = _mm256_div_pd(vx, r_eff);
        const __m256d s2 = _mm256_mul_pd(s, s);
        const __m256d g = _mm256_mul_pd(_mm256_mul_pd(s2, s2), s2);
        const __m256d gg = _mm256_mul_pd(g, g);
        const __m256d e_lj = _mm256_mul_pd(vd, _mm256_sub_pd(gg, _mm256_mul_pd(c2, g)));
        const __m256d f_lj = _mm256_mul_pd(_mm256_div_pd(_mm256_mul_pd(c12, vd), r_eff), _mm256_sub_pd(gg, g));
        const __m256d t = _mm256_div_pd(_mm256_sub_pd(r_eff, r_on), width);
        const __m256d t2 = _mm256_mul_pd(t, t);
        const __m256d t3 = _mm256_mul_pd(t2, t);
        const __m256d poly = _mm256_sub_pd(
            _mm256_add_pd(_mm256_sub_pd(one, _mm256_mul_pd(c10, t3)), _mm256_mul_pd(_mm256_mul_pd(c15, t3), t)),
            _mm256_mul_pd(_mm256_mul_pd(c6, t3), t2));
        const __m256d slope = _mm256_div_pd(
            _mm256_sub_pd(_mm256_sub_pd(_mm256_mul_pd(c60, t3), _mm256_mul_pd(c30, t2)),
                          _mm256_mul_pd(_mm256_mul_pd(c30, t3), t)),
            width);
        const __m256d switching = _mm256_cmp_pd(r_eff, r_on, _CMP_GT_OQ);
        const __m256d sw = _mm256_blendv_pd(one, poly, switching);
        const __m256d dsw = _mm256_blendv_pd(zero, slope, switching);
        __m256d w = _mm256_sub_pd(_mm256_mul_pd(f_lj, sw), _mm256_mul_pd(e_lj, dsw));
        w = _mm256_blendv_pd(w, lo, _mm256_cmp_pd(w, lo, _CMP_LT_OQ));
        w = _mm256_blendv_pd(w, hi, _mm256_cmp_pd(hi, w, _CMP_LT_OQ));
        _mm256_storeu_pd(energy + k, _mm256_mul_pd(e_lj, sw));
        _mm256_storeu_pd(factor + k, _mm256_div_pd(w, r));
    }
    return k;
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

double listed_pair_range(const System& s, double cutoff, double* f) {
    const auto atoms = s.atoms();
    const auto& pairs = s.topology().listed_pairs;
    const double rc = std::fabs(cutoff);
    const double rc2 = cutoff * cutoff;
    alignas(32) double dx[block], dy[block], dz[block], r2[block], x[block], d[block], e[block], w[block];
    std::uint32_t pi[block], pj[block];
    double energy = 0.0;
    std::uint32_t run_atom = 0;
    bool running = false;  // no pair yet: nothing to add
    double run[3] = {0.0, 0.0, 0.0};
    const auto flush = [&] {
        if (!running) return;
        f[3 * run_atom] += run[0];
        f[3 * run_atom + 1] += run[1];
        f[3 * run_atom + 2] += run[2];
        run[0] = run[1] = run[2] = 0.0;
    };
    for (std::size_t first = 0; first < pairs.size(); first += block) {
        const std::size_t count = std::min(block, pairs.size() - first);
        std::size_t m = 0;
        for (std::size_t k = 0; k < count; ++k) {
            const auto& pr = pairs[first + k];
            const Vec3& a = atoms[pr.i].position;
            const Vec3& b = atoms[pr.j].position;
            const double ux = a[0] - b[0], uy = a[1] - b[1], uz = a[2] - b[2];
            const double q = ux * ux + uy * uy + uz * uz;
            if (!(q < rc2 && q > 1e-6)) continue;
            dx[m] = ux;
            dy[m] = uy;
            dz[m] = uz;
            r2[m] = q;
            x[m] = pr.x;
            d[m] = pr.d;
            pi[m] = pr.i;
            pj[m] = pr.j;
            ++m;
        }
        lj_block(m, r2, x, d, rc, e, w);
        // The list runs through the partners of one first atom after the
        // other: its force is summed here and added once per run, so that
        // consecutive pairs do not wait on each other's stores.
        for (std::size_t k = 0; k < m; ++k) {
            const double fx = w[k] * dx[k], fy = w[k] * dy[k], fz = w[k] * dz[k];
            if (!running || pi[k] != run_atom) {
                flush();
                run_atom = pi[k];
                running = true;
            }
            run[0] += fx;
            run[1] += fy;
            run[2] += fz;
            f[3 * pj[k]] -= fx;
            f[3 * pj[k] + 1] -= fy;
            f[3 * pj[k] + 2] -= fz;
            energy += e[k];
        }
    }
    flush();
    return energy;
}

}  // namespace zelt::forcefield::detail
