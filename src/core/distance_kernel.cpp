#include "core/distance_kernel.hpp"

#include <cmath>
#include <cstdint>

#include "core/geometry.hpp"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define ZELT_X86 1
#endif

// The loops below work on four lanes in the compiler's generic vector types.
// Every operation is the IEEE operation of the scalar code applied lane by
// lane (no fused multiply-add, no reassociation), so each lane gives the
// scalar result exactly. They are compiled twice on x86: for the baseline
// instruction set and for AVX2, chosen at run time. The vector types never
// cross a call boundary (the helpers are always inlined), so the warning
// about their argument-passing convention does not apply (it is reported at
// the end of the file, so it stays off to the end).
#pragma GCC diagnostic ignored "-Wpsabi"

namespace zelt {

namespace {

using Double4 = double __attribute__((vector_size(32)));
using Mask4 = std::int64_t __attribute__((vector_size(32)));

[[gnu::always_inline]] inline Double4 load4(const double* p) {
    Double4 v;
    __builtin_memcpy(&v, p, sizeof v);
    return v;
}

[[gnu::always_inline]] inline void store4(double* p, Double4 v) { __builtin_memcpy(p, &v, sizeof v); }

[[gnu::always_inline]] inline Double4 splat4(double v) { return Double4{v, v, v, v}; }

// geometry_detail::round_half_away on every lane, with masks in place of the
// scalar form's branches.
[[gnu::always_inline]] inline Double4 round_half_away4(Double4 x) {
    const Double4 two52 = splat4(4503599627370496.0);
    const Mask4 magnitude = {INT64_MAX, INT64_MAX, INT64_MAX, INT64_MAX};
    const Double4 a = (Double4)((Mask4)x & magnitude);
    Double4 r = (a + two52) - two52;
    r += (Double4)((Mask4)((a - r) == splat4(0.5)) & (Mask4)splat4(1.0));
    const Double4 signed_r = (Double4)((Mask4)r | ((Mask4)x & ~magnitude));
    const Mask4 small = (Mask4)(a < two52);
    return (Double4)((small & (Mask4)signed_r) | (~small & (Mask4)x));
}

[[gnu::always_inline]] inline void distances_sq_body(const Mat3& h, const Mat3& inv, const Vec3& p, const double* x,
                                                     const double* y, const double* z, std::size_t n, double* out) {
    std::size_t k = 0;
    // Same expressions, in the same order, as minimum_image.
    for (; k + 4 <= n; k += 4) {
        const Double4 dx = p[0] - load4(x + k), dy = p[1] - load4(y + k), dz = p[2] - load4(z + k);
        Double4 s0 = dx * inv[0][0] + dy * inv[1][0] + dz * inv[2][0];
        Double4 s1 = dx * inv[0][1] + dy * inv[1][1] + dz * inv[2][1];
        Double4 s2 = dx * inv[0][2] + dy * inv[1][2] + dz * inv[2][2];
        s0 -= round_half_away4(s0);
        s1 -= round_half_away4(s1);
        s2 -= round_half_away4(s2);
        const Double4 ex = s0 * h[0][0] + s1 * h[1][0] + s2 * h[2][0];
        const Double4 ey = s0 * h[0][1] + s1 * h[1][1] + s2 * h[2][1];
        const Double4 ez = s0 * h[0][2] + s1 * h[1][2] + s2 * h[2][2];
        store4(out + k, ex * ex + ey * ey + ez * ez);
    }
    for (; k < n; ++k) out[k] = minimum_image_distance_sq(h, inv, p, Vec3{x[k], y[k], z[k]});
}

void distances_sq_baseline(const Mat3& h, const Mat3& inv, const Vec3& p, const double* x, const double* y,
                           const double* z, std::size_t n, double* out) {
    distances_sq_body(h, inv, p, x, y, z, n, out);
}

void sqrt_baseline(double* v, std::size_t n) {
    std::size_t k = 0;
#if defined(__SSE2__)
    // The library sqrt may set errno, which keeps the compiler from packing it.
    for (; k + 2 <= n; k += 2) _mm_storeu_pd(v + k, _mm_sqrt_pd(_mm_loadu_pd(v + k)));
#endif
    for (; k < n; ++k) v[k] = std::sqrt(v[k]);
}

#if defined(ZELT_X86)
[[gnu::target("avx2")]] void distances_sq_avx2(const Mat3& h, const Mat3& inv, const Vec3& p, const double* x,
                                               const double* y, const double* z, std::size_t n, double* out) {
    distances_sq_body(h, inv, p, x, y, z, n, out);
}

[[gnu::target("avx2")]] void sqrt_avx2(double* v, std::size_t n) {
    std::size_t k = 0;
    for (; k + 4 <= n; k += 4) _mm256_storeu_pd(v + k, _mm256_sqrt_pd(_mm256_loadu_pd(v + k)));
    for (; k < n; ++k) v[k] = std::sqrt(v[k]);
}

bool has_avx2() {
    static const bool yes = __builtin_cpu_supports("avx2");
    return yes;
}
#endif

}  // namespace

namespace distance_kernel_detail {
void minimum_image_distances_sq_baseline(const Mat3& h, const Mat3& inv, const Vec3& p, const double* x,
                                         const double* y, const double* z, std::size_t n, double* out) {
    distances_sq_baseline(h, inv, p, x, y, z, n, out);
}
void sqrt_in_place_baseline(double* v, std::size_t n) { sqrt_baseline(v, n); }
}  // namespace distance_kernel_detail

void minimum_image_distances_sq(const Mat3& h, const Mat3& inv, const Vec3& p, const double* x, const double* y,
                                const double* z, std::size_t n, double* out) {
#if defined(ZELT_X86)
    if (has_avx2()) return distances_sq_avx2(h, inv, p, x, y, z, n, out);
#endif
    distances_sq_baseline(h, inv, p, x, y, z, n, out);
}

void sqrt_in_place(double* v, std::size_t n) {
#if defined(ZELT_X86)
    if (has_avx2()) return sqrt_avx2(v, n);
#endif
    sqrt_baseline(v, n);
}

}  // namespace zelt

