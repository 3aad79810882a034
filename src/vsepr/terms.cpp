#include "vsepr/terms.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include "core/elements.hpp"

namespace zelt::vsepr {
namespace {

constexpr double cell_edge = 1.2;         // Å, also the repulsion range
constexpr double repulsion_max_sq = 1.44;  // 1.2²
constexpr double repulsion_min_sq = 1e-4;  // 0.01²
constexpr std::size_t all_pairs_below = 100;

inline Vec3 sub(const Vec3& a, const Vec3& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
inline double dot(const Vec3& a, const Vec3& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
inline Vec3 cross(const Vec3& a, const Vec3& b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
inline double norm(const Vec3& a) { return std::sqrt(dot(a, a)); }
inline Vec3 unit(const Vec3& a) {
    const double n = norm(a);
    if (n == 0.0) return {1.0, 0.0, 0.0};
    const double inv = 1.0 / n;
    return {a[0] * inv, a[1] * inv, a[2] * inv};
}
inline void add_scaled(Vec3& f, const Vec3& v, double s) {
    f[0] += v[0] * s;
    f[1] += v[1] * s;
    f[2] += v[2] * s;
}
// f += (d / r) * k, and the opposite on g. Unit vectors here are d times
// 1 / r: one division where three would do the same to rounding.
inline void push_pair(Vec3& f, Vec3& g, const Vec3& d, double r, double k) {
    const double inv = 1.0 / r;
    const Vec3 u{d[0] * inv, d[1] * inv, d[2] * inv};
    for (int a = 0; a < 3; ++a) {
        f[a] += u[a] * k;
        g[a] -= u[a] * k;
    }
}

// Unsigned conversion that saturates: NaN and values below 1 give 0 (after truncation).
std::uint64_t saturate(double v) {
    if (!(v > 0.0)) return 0;
    if (v >= 18446744073709551616.0) return std::numeric_limits<std::uint64_t>::max();
    return static_cast<std::uint64_t>(v);
}

std::uint64_t saturating_add_one(std::uint64_t v) {
    return v == std::numeric_limits<std::uint64_t>::max() ? v : v + 1;
}

// Tests one candidate pair and records it if the repulsion term acts on it.
inline void consider(const Model& m, std::span<const Vec3> p, std::size_t i, std::size_t j,
                     std::vector<AtomPair>& out) {
    const Vec3 d = sub(p[i], p[j]);
    const double q = dot(d, d);
    if (q > repulsion_min_sq && q < repulsion_max_sq && !m.excluded(i, j)) out.emplace_back(i, j);
}

void all_pairs(const Model& m, std::span<const Vec3> p, std::vector<AtomPair>& out) {
    const std::size_t n = p.size();
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = i + 1; j < n; ++j) consider(m, p, i, j, out);
}

// The cell grid over the bounding box of the positions: per axis
// ceil(extent / edge) + 1 cells (saturating), an atom in cell
// trunc((x - min) / edge). Dense when the box has few enough cells; then the
// coordinates are also held inside the grid.
struct GridFrame {
    Vec3 lo{std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity(),
            std::numeric_limits<double>::infinity()};
    double edge = cell_edge;
    std::uint64_t count[3] = {0, 0, 0};
    bool dense = false;

    GridFrame(std::span<const Vec3> p, double cell) : edge(cell) {
        Vec3 hi{-std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
                -std::numeric_limits<double>::infinity()};
        for (const auto& x : p)
            for (int a = 0; a < 3; ++a) {
                if (x[a] < lo[a]) lo[a] = x[a];
                if (x[a] > hi[a]) hi[a] = x[a];
            }
        double cells = 1.0;
        for (int a = 0; a < 3; ++a) {
            count[a] = saturating_add_one(saturate(std::ceil((hi[a] - lo[a]) / edge)));
            cells *= static_cast<double>(count[a]);
        }
        dense = cells <= static_cast<double>(dense_grid_limit(p.size()));
    }
    std::uint64_t coord(const Vec3& x, int a) const {
        const std::uint64_t c = saturate((x[a] - lo[a]) / edge);
        return dense ? std::min(c, count[a] - 1) : c;
    }
};

// Calls visit(i, j) for every pair i < j of atoms in the same or adjacent
// cells: cells x outermost and z innermost, then the up to 27 cells around
// each (offsets x outermost, z innermost, each from -1 to +1), then the atoms
// of the two cells in atom order.
template <class Visit>
void grid_visit(std::span<const Vec3> p, double edge, RepulsionScratch& s, Visit&& visit) {
    const std::size_t n = p.size();
    const GridFrame g(p, edge);

    if (g.dense) {
        // Every cell of the bounding box, in x, y, z order.
        const std::uint64_t nx = g.count[0], ny = g.count[1], nz = g.count[2];
        const std::size_t total = static_cast<std::size_t>(nx * ny * nz);
        s.cell_of.resize(n);
        s.cell_start.assign(total + 1, 0);
        s.order.resize(n);
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint64_t cx = g.coord(p[i], 0), cy = g.coord(p[i], 1), cz = g.coord(p[i], 2);
            const std::size_t c = static_cast<std::size_t>((cx * ny + cy) * nz + cz);
            s.cell_of[i] = c;
            ++s.cell_start[c + 1];
        }
        for (std::size_t c = 0; c < total; ++c) s.cell_start[c + 1] += s.cell_start[c];
        for (std::size_t i = 0; i < n; ++i) s.order[s.cell_start[s.cell_of[i]]++] = i;
        for (std::size_t c = total; c > 0; --c) s.cell_start[c] = s.cell_start[c - 1];
        s.cell_start[0] = 0;

        for (std::uint64_t cx = 0; cx < nx; ++cx)
            for (std::uint64_t cy = 0; cy < ny; ++cy)
                for (std::uint64_t cz = 0; cz < nz; ++cz) {
                    const std::size_t a = static_cast<std::size_t>((cx * ny + cy) * nz + cz);
                    const std::size_t a0 = s.cell_start[a], a1 = s.cell_start[a + 1];
                    if (a0 == a1) continue;
                    for (int dx = -1; dx <= 1; ++dx) {
                        if ((dx < 0 && cx == 0) || (dx > 0 && cx + 1 >= nx)) continue;
                        for (int dy = -1; dy <= 1; ++dy) {
                            if ((dy < 0 && cy == 0) || (dy > 0 && cy + 1 >= ny)) continue;
                            for (int dz = -1; dz <= 1; ++dz) {
                                if ((dz < 0 && cz == 0) || (dz > 0 && cz + 1 >= nz)) continue;
                                const std::size_t b = static_cast<std::size_t>(((cx + dx) * ny + (cy + dy)) * nz +
                                                                               (cz + dz));
                                const std::size_t b0 = s.cell_start[b], b1 = s.cell_start[b + 1];
                                for (std::size_t x = a0; x < a1; ++x)
                                    for (std::size_t y = b0; y < b1; ++y)
                                        if (s.order[x] < s.order[y]) visit(s.order[x], s.order[y]);
                            }
                        }
                    }
                }
        return;
    }

    // Sparse grid: only occupied cells, sorted in the dense grid's visiting
    // order, found again by binary search. Same cells, same pairs, same order.
    s.key.resize(3 * n);
    s.order.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        for (int a = 0; a < 3; ++a) s.key[3 * i + a] = g.coord(p[i], a);
        s.order[i] = i;
    }
    const auto key_less = [&](std::size_t x, std::size_t y) {
        for (int a = 0; a < 3; ++a)
            if (s.key[3 * x + a] != s.key[3 * y + a]) return s.key[3 * x + a] < s.key[3 * y + a];
        return x < y;
    };
    std::sort(s.order.begin(), s.order.end(), key_less);
    s.cell_first.clear();
    for (std::size_t k = 0; k < n; ++k)
        if (k == 0 || s.key[3 * s.order[k]] != s.key[3 * s.order[k - 1]] ||
            s.key[3 * s.order[k] + 1] != s.key[3 * s.order[k - 1] + 1] ||
            s.key[3 * s.order[k] + 2] != s.key[3 * s.order[k - 1] + 2])
            s.cell_first.push_back(k);
    const std::size_t occupied = s.cell_first.size();
    s.cell_first.push_back(n);

    const auto find_cell = [&](std::uint64_t x, std::uint64_t y, std::uint64_t z) -> std::size_t {
        std::size_t lo = 0, hi = occupied;
        while (lo < hi) {
            const std::size_t mid = lo + (hi - lo) / 2;
            const std::uint64_t* k = &s.key[3 * s.order[s.cell_first[mid]]];
            const bool less = k[0] != x ? k[0] < x : k[1] != y ? k[1] < y : k[2] < z;
            if (less) lo = mid + 1;
            else hi = mid;
        }
        if (lo < occupied) {
            const std::uint64_t* k = &s.key[3 * s.order[s.cell_first[lo]]];
            if (k[0] == x && k[1] == y && k[2] == z) return lo;
        }
        return occupied;
    };
    constexpr std::uint64_t top = std::numeric_limits<std::uint64_t>::max();
    for (std::size_t c = 0; c < occupied; ++c) {
        const std::uint64_t* k = &s.key[3 * s.order[s.cell_first[c]]];
        const std::uint64_t cx = k[0], cy = k[1], cz = k[2];
        const std::size_t a0 = s.cell_first[c], a1 = s.cell_first[c + 1];
        for (int dx = -1; dx <= 1; ++dx) {
            if ((dx < 0 && cx == 0) || (dx > 0 && cx == top)) continue;
            for (int dy = -1; dy <= 1; ++dy) {
                if ((dy < 0 && cy == 0) || (dy > 0 && cy == top)) continue;
                for (int dz = -1; dz <= 1; ++dz) {
                    if ((dz < 0 && cz == 0) || (dz > 0 && cz == top)) continue;
                    const std::size_t b = find_cell(cx + dx, cy + dy, cz + dz);
                    if (b == occupied) continue;
                    const std::size_t b0 = s.cell_first[b], b1 = s.cell_first[b + 1];
                    for (std::size_t x = a0; x < a1; ++x)
                        for (std::size_t y = b0; y < b1; ++y)
                            if (s.order[x] < s.order[y]) visit(s.order[x], s.order[y]);
                }
            }
        }
    }
}

void grid_pairs(const Model& m, std::span<const Vec3> p, RepulsionScratch& s, std::vector<AtomPair>& out) {
    grid_visit(p, cell_edge, s, [&](std::size_t i, std::size_t j) { consider(m, p, i, j, out); });
}

// The close-pair list: pairs within 1.2 Å + skin, renewed once an atom has
// moved half the skin (less a margin for rounding) from where it stood when
// the list was made.
constexpr double list_skin = 0.8;
constexpr double list_reach_sq = (cell_edge + list_skin) * (cell_edge + list_skin);
constexpr double list_drift_sq = (0.5 * list_skin - 1e-6) * (0.5 * list_skin - 1e-6);

void refresh_close_list(const Model& m, std::span<const Vec3> p, Workspace& w) {
    CloseList& c = w.close;
    const std::size_t n = p.size();
    if (c.valid && c.anchor.size() == n) {
        bool drifted = false;
        for (std::size_t k = 0; k < n && !drifted; ++k) {
            const Vec3 d = sub(p[k], c.anchor[k]);
            drifted = !(dot(d, d) <= list_drift_sq);  // NaN: renew
        }
        if (!drifted) return;
    }
    c.candidates.clear();
    const auto keep = [&](std::size_t i, std::size_t j) {
        const Vec3 d = sub(p[i], p[j]);
        if (dot(d, d) < list_reach_sq && !m.excluded(i, j)) c.candidates.emplace_back(i, j);
    };
    if (!uses_grid(n)) {
        for (std::size_t i = 0; i < n; ++i)
            for (std::size_t j = i + 1; j < n; ++j) keep(i, j);
    } else {
        grid_visit(p, cell_edge + list_skin, w.repulsion, keep);
        std::sort(c.candidates.begin(), c.candidates.end());
    }
    c.anchor.assign(p.begin(), p.end());
    c.valid = true;
}

inline void repel(std::span<const Vec3> p, std::span<Vec3> f, std::size_t i, std::size_t j) {
    const Vec3 d = sub(p[i], p[j]);
    const double r = std::sqrt(dot(d, d));
    const double gap = 1.2 - r;
    push_pair(f[i], f[j], d, r, gap * gap * 0.8);
}

inline bool in_repulsion_range(std::span<const Vec3> p, std::size_t i, std::size_t j) {
    const Vec3 d = sub(p[i], p[j]);
    const double q = dot(d, d);
    return q > repulsion_min_sq && q < repulsion_max_sq;
}

// The arithmetic of the bond and angle terms over flat arrays, one pair per
// slot: the difference vector (x, y, z) is turned in place into its unit
// vector d / |d|, `mag` into the force magnitude, `acts` says whether the
// term acts. Exactly the scalar formulas in double precision (no fused
// operations), four slots at a time where the processor has AVX.
namespace kernel {

// Bond: mag holds the ideal length L on entry; k = (L - r) * 1.2, acting where r > 0.001.
inline void bond_scalar(std::size_t q, std::size_t n, double* ux, double* uy, double* uz, double* mag, char* acts) {
    for (; q < n; ++q) {
        const double r = std::sqrt(ux[q] * ux[q] + uy[q] * uy[q] + uz[q] * uz[q]);
        mag[q] = (mag[q] - r) * 1.2;
        const double inv = 1.0 / r;
        ux[q] *= inv;
        uy[q] *= inv;
        uz[q] *= inv;
        acts[q] = r > 0.001;
    }
}

// Angle pair: mag holds t2 = la² + lb² - 2 la lb cos0 on entry;
// target = sqrt(t2 > 0 ? t2 : 0) (a NaN gives 0), k = (target - r) * 0.2,
// skipped where r <= 0.001.
inline void angle_scalar(std::size_t q, std::size_t n, double* ux, double* uy, double* uz, double* mag, char* acts) {
    for (; q < n; ++q) {
        const double r = std::sqrt(ux[q] * ux[q] + uy[q] * uy[q] + uz[q] * uz[q]);
        const double t2 = mag[q];
        const double target = std::sqrt(t2 > 0.0 ? t2 : 0.0);
        mag[q] = (target - r) * 0.2;
        const double inv = 1.0 / r;
        ux[q] *= inv;
        uy[q] *= inv;
        uz[q] *= inv;
        acts[q] = !(r <= 0.001);
    }
}

// Torsion slot: usable = !(v · v < 1e-6); v becomes unit(v), that is v / |v|,
// or (1, 0, 0) where |v| is 0.
inline void unit_scalar(std::size_t q, std::size_t n, double* ux, double* uy, double* uz, char* usable) {
    for (; q < n; ++q) {
        const double s = ux[q] * ux[q] + uy[q] * uy[q] + uz[q] * uz[q];
        usable[q] = !(s < 1e-6);
        const double r = std::sqrt(s);
        if (r == 0.0) {
            ux[q] = 1.0;
            uy[q] = 0.0;
            uz[q] = 0.0;
        } else {
            const double inv = 1.0 / r;
            ux[q] *= inv;
            uy[q] *= inv;
            uz[q] *= inv;
        }
    }
}

inline void length_scalar(std::size_t q, std::size_t n, const double* ux, const double* uy, const double* uz,
                          double* out) {
    for (; q < n; ++q) out[q] = std::sqrt(ux[q] * ux[q] + uy[q] * uy[q] + uz[q] * uz[q]);
}

#if defined(__x86_64__) || defined(__i386__)
#define ZELT_VSEPR_AVX 1

// maxpd(t2, 0) is t2 where t2 > 0 and 0 otherwise, NaN included.
__attribute__((target("avx"))) void bond_avx(std::size_t n, double* ux, double* uy, double* uz, double* mag,
                                               char* acts) {
    const __m256d spring = _mm256_set1_pd(1.2), shortest = _mm256_set1_pd(0.001);
    std::size_t q = 0;
    for (; q + 4 <= n; q += 4) {
        const __m256d x = _mm256_loadu_pd(ux + q), y = _mm256_loadu_pd(uy + q), z = _mm256_loadu_pd(uz + q);
        const __m256d r = _mm256_sqrt_pd(
            _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(x, x), _mm256_mul_pd(y, y)), _mm256_mul_pd(z, z)));
        _mm256_storeu_pd(mag + q, _mm256_mul_pd(_mm256_sub_pd(_mm256_loadu_pd(mag + q), r), spring));
        const __m256d inv = _mm256_div_pd(_mm256_set1_pd(1.0), r);
        _mm256_storeu_pd(ux + q, _mm256_mul_pd(x, inv));
        _mm256_storeu_pd(uy + q, _mm256_mul_pd(y, inv));
        _mm256_storeu_pd(uz + q, _mm256_mul_pd(z, inv));
        const int on = _mm256_movemask_pd(_mm256_cmp_pd(r, shortest, _CMP_GT_OQ));
        for (int e = 0; e < 4; ++e) acts[q + e] = static_cast<char>((on >> e) & 1);
    }
    bond_scalar(q, n, ux, uy, uz, mag, acts);
}

__attribute__((target("avx"))) void angle_avx(std::size_t n, double* ux, double* uy, double* uz, double* mag,
                                                char* acts) {
    const __m256d zero = _mm256_setzero_pd(), weight = _mm256_set1_pd(0.2), shortest = _mm256_set1_pd(0.001);
    std::size_t q = 0;
    for (; q + 4 <= n; q += 4) {
        const __m256d x = _mm256_loadu_pd(ux + q), y = _mm256_loadu_pd(uy + q), z = _mm256_loadu_pd(uz + q);
        const __m256d r = _mm256_sqrt_pd(
            _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(x, x), _mm256_mul_pd(y, y)), _mm256_mul_pd(z, z)));
        const __m256d target = _mm256_sqrt_pd(_mm256_max_pd(_mm256_loadu_pd(mag + q), zero));
        _mm256_storeu_pd(mag + q, _mm256_mul_pd(_mm256_sub_pd(target, r), weight));
        const __m256d inv = _mm256_div_pd(_mm256_set1_pd(1.0), r);
        _mm256_storeu_pd(ux + q, _mm256_mul_pd(x, inv));
        _mm256_storeu_pd(uy + q, _mm256_mul_pd(y, inv));
        _mm256_storeu_pd(uz + q, _mm256_mul_pd(z, inv));
        // Not (r <= 0.001): true for NaN as well.
        const int on = _mm256_movemask_pd(_mm256_cmp_pd(r, shortest, _CMP_NLE_UQ));
        for (int e = 0; e < 4; ++e) acts[q + e] = static_cast<char>((on >> e) & 1);
    }
    angle_scalar(q, n, ux, uy, uz, mag, acts);
}

__attribute__((target("avx"))) void length_avx(std::size_t n, const double* ux, const double* uy, const double* uz,
                                                 double* out) {
    std::size_t q = 0;
    for (; q + 4 <= n; q += 4) {
        const __m256d x = _mm256_loadu_pd(ux + q), y = _mm256_loadu_pd(uy + q), z = _mm256_loadu_pd(uz + q);
        _mm256_storeu_pd(out + q, _mm256_sqrt_pd(_mm256_add_pd(
                                      _mm256_add_pd(_mm256_mul_pd(x, x), _mm256_mul_pd(y, y)), _mm256_mul_pd(z, z))));
    }
    length_scalar(q, n, ux, uy, uz, out);
}

__attribute__((target("avx"))) void unit_avx(std::size_t n, double* ux, double* uy, double* uz, char* usable) {
    const __m256d zero = _mm256_setzero_pd(), one = _mm256_set1_pd(1.0), least = _mm256_set1_pd(1e-6);
    std::size_t q = 0;
    for (; q + 4 <= n; q += 4) {
        const __m256d x = _mm256_loadu_pd(ux + q), y = _mm256_loadu_pd(uy + q), z = _mm256_loadu_pd(uz + q);
        const __m256d s = _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(x, x), _mm256_mul_pd(y, y)), _mm256_mul_pd(z, z));
        const int on = _mm256_movemask_pd(_mm256_cmp_pd(s, least, _CMP_NLT_UQ));
        for (int e = 0; e < 4; ++e) usable[q + e] = static_cast<char>((on >> e) & 1);
        const __m256d r = _mm256_sqrt_pd(s);
        const __m256d zero_length = _mm256_cmp_pd(r, zero, _CMP_EQ_OQ);
        const __m256d inv = _mm256_div_pd(one, r);
        _mm256_storeu_pd(ux + q, _mm256_blendv_pd(_mm256_mul_pd(x, inv), one, zero_length));
        _mm256_storeu_pd(uy + q, _mm256_blendv_pd(_mm256_mul_pd(y, inv), zero, zero_length));
        _mm256_storeu_pd(uz + q, _mm256_blendv_pd(_mm256_mul_pd(z, inv), zero, zero_length));
    }
    unit_scalar(q, n, ux, uy, uz, usable);
}

bool has_avx() {
    static const bool yes = __builtin_cpu_supports("avx");
    return yes;
}
#endif

void bond(std::size_t n, double* ux, double* uy, double* uz, double* mag, char* acts) {
#ifdef ZELT_VSEPR_AVX
    if (has_avx()) return bond_avx(n, ux, uy, uz, mag, acts);
#endif
    bond_scalar(0, n, ux, uy, uz, mag, acts);
}

void angle(std::size_t n, double* ux, double* uy, double* uz, double* mag, char* acts) {
#ifdef ZELT_VSEPR_AVX
    if (has_avx()) return angle_avx(n, ux, uy, uz, mag, acts);
#endif
    angle_scalar(0, n, ux, uy, uz, mag, acts);
}

void unit(std::size_t n, double* ux, double* uy, double* uz, char* usable) {
#ifdef ZELT_VSEPR_AVX
    if (has_avx()) return unit_avx(n, ux, uy, uz, usable);
#endif
    unit_scalar(0, n, ux, uy, uz, usable);
}

void length(std::size_t n, const double* ux, const double* uy, const double* uz, double* out) {
#ifdef ZELT_VSEPR_AVX
    if (has_avx()) return length_avx(n, ux, uy, uz, out);
#endif
    length_scalar(0, n, ux, uy, uz, out);
}

}  // namespace kernel

}  // namespace

Model Model::build(std::span<const Atom> atoms, std::span<const Bond> bonds) {
    Model m;
    const std::size_t n = atoms.size();
    m.bonds = bonds;
    m.neighbours = neighbour_lists(n, bonds);
    const auto steric = steric_numbers(atoms, bonds);
    m.geometry.resize(n);
    m.cos_ideal.resize(n);
    for (std::size_t k = 0; k < n; ++k) {
        m.geometry[k] = geometry_from_steric_number(steric[k]);
        m.cos_ideal[k] = std::cos(ideal_angle(m.geometry[k]));
    }
    std::vector<std::uint32_t> z(n);
    for (std::size_t k = 0; k < n; ++k) z[k] = atomic_number(atoms[k].element);
    m.ideal_length.resize(bonds.size(), 0.0);
    m.bond_in_range.resize(bonds.size(), 0);
    for (std::size_t b = 0; b < bonds.size(); ++b) {
        if (bonds[b].i >= n || bonds[b].j >= n) continue;
        m.bond_in_range[b] = 1;
        m.ideal_length[b] = ideal_bond_length_z(z[bonds[b].i], z[bonds[b].j], bonds[b].order);
        m.bond_terms.push_back({bonds[b].i, bonds[b].j, m.ideal_length[b]});
        const bool double_or_aromatic = static_cast<float>(bonds[b].order) >= 1.5f;
        if (double_or_aromatic && m.geometry[bonds[b].i] == Geometry::TrigonalPlanar &&
            m.geometry[bonds[b].j] == Geometry::TrigonalPlanar) {
            const std::size_t j = bonds[b].i, k = bonds[b].j;
            Model::TorsionTerm t{j, k, m.torsion_atom.size(), 0, 0};
            m.torsion_atom.push_back(k);  // the unit vector's slot
            for (const auto& e : m.neighbours.of(j))
                if (e.atom != k) {
                    m.torsion_atom.push_back(e.atom);
                    ++t.near;
                }
            for (const auto& e : m.neighbours.of(k))
                if (e.atom != j) {
                    m.torsion_atom.push_back(e.atom);
                    ++t.far;
                }
            m.torsion_terms.push_back(t);
        }
    }
    for (std::size_t c = 0; c < n; ++c) {
        const auto nb = m.neighbours.of(c);
        if (nb.size() >= 2) {
            const std::size_t first = m.arm_atom.size();
            m.angle_centres.push_back({c, first, nb.size(), m.cos_ideal[c]});
            for (const auto& e : nb) {
                m.arm_atom.push_back(e.atom);
                m.arm_centre.push_back(c);
            }
            for (std::size_t x = 0; x < nb.size(); ++x)
                for (std::size_t y = x + 1; y < nb.size(); ++y) {
                    m.angle_pairs.emplace_back(nb[x].atom, nb[y].atom);
                    m.angle_pair_arms.emplace_back(first + x, first + y);
                    m.angle_pair_cos0.push_back(m.cos_ideal[c]);
                }
        }
        if (m.geometry[c] == Geometry::TrigonalPlanar && nb.size() == 3)
            m.planar_centres.push_back({c, nb[0].atom, nb[1].atom, nb[2].atom});
    }
    return m;
}

bool Model::excluded(std::size_t i, std::size_t j) const {
    for (const auto& a : neighbours.of(i)) {
        if (a.atom == j) return true;
        for (const auto& b : neighbours.of(a.atom))
            if (b.atom == j) return true;
    }
    return false;
}

// Bonds and angle pairs both run in three passes: the difference vectors
// are gathered, their lengths, unit vectors and force magnitudes worked out
// side by side, and the forces then added in the term's order.
namespace {

inline void size_pair_buffers(Workspace& w, std::size_t n) {
    if (w.ux.size() < n) {
        w.ux.resize(n);
        w.uy.resize(n);
        w.uz.resize(n);
        w.mag.resize(n);
        w.acts.resize(n);
    }
}

inline void add_pair_forces(std::span<Vec3> f, std::size_t a, std::size_t b, const Workspace& w, std::size_t q) {
    const double k = w.mag[q];
    const double x = w.ux[q] * k, y = w.uy[q] * k, z = w.uz[q] * k;
    f[a][0] += x;
    f[b][0] -= x;
    f[a][1] += y;
    f[b][1] -= y;
    f[a][2] += z;
    f[b][2] -= z;
}

}  // namespace

void apply_bond_constraints(const Model& m, std::span<const Vec3> p, std::span<Vec3> f, Workspace& w) {
    const std::size_t n = m.bond_terms.size();
    size_pair_buffers(w, n);
    double *ux = w.ux.data(), *uy = w.uy.data(), *uz = w.uz.data(), *mag = w.mag.data();
    for (std::size_t q = 0; q < n; ++q) {
        const auto& t = m.bond_terms[q];
        ux[q] = p[t.i][0] - p[t.j][0];
        uy[q] = p[t.i][1] - p[t.j][1];
        uz[q] = p[t.i][2] - p[t.j][2];
        mag[q] = t.length;
    }
    kernel::bond(n, ux, uy, uz, mag, w.acts.data());
    for (std::size_t q = 0; q < n; ++q)
        if (w.acts[q]) add_pair_forces(f, m.bond_terms[q].i, m.bond_terms[q].j, w, q);
}

void apply_bond_constraints(const Model& m, std::span<const Vec3> p, std::span<Vec3> f) {
    Workspace w;
    apply_bond_constraints(m, p, f, w);
}

void apply_angle_constraints(const Model& m, std::span<const Vec3> p, std::span<Vec3> f, Workspace& w) {
    // Arm lengths |P[a] - P[c]|, once per centre and neighbour.
    const std::size_t arms = m.arm_atom.size();
    const std::size_t n = m.angle_pairs.size();
    size_pair_buffers(w, std::max(arms, n));
    if (w.arm_length.size() < arms) w.arm_length.resize(arms);
    double *ux = w.ux.data(), *uy = w.uy.data(), *uz = w.uz.data(), *mag = w.mag.data();
    for (std::size_t x = 0; x < arms; ++x) {
        const Vec3 d = sub(p[m.arm_atom[x]], p[m.arm_centre[x]]);
        ux[x] = d[0];
        uy[x] = d[1];
        uz[x] = d[2];
    }
    kernel::length(arms, ux, uy, uz, w.arm_length.data());

    // Per pair: d = P[a] - P[b], and t2 = la² + lb² - 2 la lb cos0.
    const double* arm = w.arm_length.data();
    for (std::size_t q = 0; q < n; ++q) {
        const Vec3& pa = p[m.angle_pairs[q].first];
        const Vec3& pb = p[m.angle_pairs[q].second];
        ux[q] = pa[0] - pb[0];
        uy[q] = pa[1] - pb[1];
        uz[q] = pa[2] - pb[2];
        const double la = arm[m.angle_pair_arms[q].first], lb = arm[m.angle_pair_arms[q].second];
        mag[q] = la * la + lb * lb - 2.0 * la * lb * m.angle_pair_cos0[q];
    }
    kernel::angle(n, ux, uy, uz, mag, w.acts.data());
    for (std::size_t k = 0; k < n; ++k)
        if (w.acts[k]) add_pair_forces(f, m.angle_pairs[k].first, m.angle_pairs[k].second, w, k);
}

void apply_angle_constraints(const Model& m, std::span<const Vec3> p, std::span<Vec3> f) {
    Workspace w;
    apply_angle_constraints(m, p, f, w);
}

void apply_planarity_constraints(const Model& m, std::span<const Vec3> p, std::span<Vec3> f) {
    for (const auto& [c, a, b, e] : m.planar_centres) {
        const Vec3 n = unit(cross(sub(p[b], p[a]), sub(p[e], p[a])));
        const double dist = dot(sub(p[c], p[a]), n);
        const double centre = -0.5 * dist;
        const double others = centre * -0.333;
        add_scaled(f[c], n, centre);
        add_scaled(f[a], n, others);
        add_scaled(f[b], n, others);
        add_scaled(f[e], n, others);
    }
}

void apply_torsion_constraints(const Model& m, std::span<const Vec3> p, std::span<Vec3> f, Workspace& w) {
    // Per slot the vector to normalise: b2 = P[k] - P[j] for the bond, nA =
    // (P[j] - P[a]) × b2 for a neighbour a of j, nB = b2 × (P[d] - P[k]) for
    // a neighbour d of k.
    const std::size_t slots = m.torsion_atom.size();
    if (w.tx.size() < slots) {
        w.tx.resize(slots);
        w.ty.resize(slots);
        w.tz.resize(slots);
        w.usable.resize(slots);
    }
    double *tx = w.tx.data(), *ty = w.ty.data(), *tz = w.tz.data();
    for (const auto& t : m.torsion_terms) {
        const Vec3 b2 = sub(p[t.k], p[t.j]);
        std::size_t s = t.first;
        tx[s] = b2[0];
        ty[s] = b2[1];
        tz[s] = b2[2];
        for (++s; s <= t.first + t.near; ++s) {
            const Vec3 v = cross(sub(p[t.j], p[m.torsion_atom[s]]), b2);
            tx[s] = v[0];
            ty[s] = v[1];
            tz[s] = v[2];
        }
        for (; s <= t.first + t.near + t.far; ++s) {
            const Vec3 v = cross(b2, sub(p[m.torsion_atom[s]], p[t.k]));
            tx[s] = v[0];
            ty[s] = v[1];
            tz[s] = v[2];
        }
    }
    kernel::unit(slots, tx, ty, tz, w.usable.data());

    // For each a (in order) and each d (in order) with usable normals:
    // s = (nA × nB) · u, the sine of the dihedral a-j-k-d, and m = 0.05 s.
    for (const auto& t : m.torsion_terms) {
        const Vec3 u{tx[t.first], ty[t.first], tz[t.first]};
        const std::size_t near0 = t.first + 1, far0 = near0 + t.near;
        for (std::size_t x = near0; x < far0; ++x) {
            if (!w.usable[x]) continue;
            const std::size_t a = m.torsion_atom[x];
            const Vec3 nA{tx[x], ty[x], tz[x]};
            for (std::size_t y = far0; y < far0 + t.far; ++y) {
                if (!w.usable[y]) continue;
                const std::size_t d = m.torsion_atom[y];
                const Vec3 nB{tx[y], ty[y], tz[y]};
                const double sine = dot(cross(nA, nB), u);
                const double mag = 0.05 * sine;
                add_scaled(f[a], nA, -mag);
                add_scaled(f[t.j], nA, mag);
                add_scaled(f[d], nB, mag);
                add_scaled(f[t.k], nB, -mag);
            }
        }
    }
}

void apply_torsion_constraints(const Model& m, std::span<const Vec3> p, std::span<Vec3> f) {
    Workspace w;
    apply_torsion_constraints(m, p, f, w);
}

std::size_t dense_grid_limit(std::size_t atom_count) {
    return std::max<std::size_t>(4096, 8 * atom_count);
}

bool uses_grid(std::size_t atom_count) { return atom_count >= all_pairs_below; }

void find_repulsion_pairs(const Model& m, std::span<const Vec3> p, PairSearch search, RepulsionScratch& scratch,
                          std::vector<AtomPair>& out) {
    out.clear();
    if (search == PairSearch::Automatic) search = uses_grid(p.size()) ? PairSearch::Grid : PairSearch::AllPairs;
    if (search == PairSearch::AllPairs) all_pairs(m, p, out);
    else grid_pairs(m, p, scratch, out);
}

void apply_repulsion_constraints(const Model& m, std::span<const Vec3> p, std::span<Vec3> f,
                                 RepulsionScratch& scratch, PairSearch search) {
    find_repulsion_pairs(m, p, search, scratch, scratch.pairs);
    for (const auto& [i, j] : scratch.pairs) repel(p, f, i, j);
}

void apply_repulsion_constraints(const Model& m, std::span<const Vec3> p, std::span<Vec3> f, Workspace& w,
                                 PairSearch search) {
    if (search == PairSearch::Automatic) search = uses_grid(p.size()) ? PairSearch::Grid : PairSearch::AllPairs;
    refresh_close_list(m, p, w);
    CloseList& c = w.close;
    if (search == PairSearch::AllPairs) {
        for (const auto& [i, j] : c.candidates)
            if (in_repulsion_range(p, i, j)) repel(p, f, i, j);
        return;
    }
    // Grid order: the pairs in range whose cells touch (the grid finds no
    // others), sorted by the first atom's cell, the second atom's cell, then
    // the atoms, which is the order in which the grid visits them.
    c.found.clear();
    for (const auto& [i, j] : c.candidates)
        if (in_repulsion_range(p, i, j)) c.found.emplace_back(i, j);
    if (c.found.empty()) return;
    const GridFrame g(p, cell_edge);
    c.cell.resize(3 * p.size());
    for (std::size_t k = 0; k < p.size(); ++k)
        for (int a = 0; a < 3; ++a) c.cell[3 * k + a] = g.coord(p[k], a);
    const std::uint64_t* cell = c.cell.data();
    const auto touching = [&](const AtomPair& e) {
        for (int a = 0; a < 3; ++a) {
            const std::uint64_t x = cell[3 * e.first + a], y = cell[3 * e.second + a];
            if ((x > y ? x - y : y - x) > 1) return false;
        }
        return true;
    };
    c.found.erase(std::remove_if(c.found.begin(), c.found.end(), [&](const AtomPair& e) { return !touching(e); }),
                  c.found.end());
    std::sort(c.found.begin(), c.found.end(), [&](const AtomPair& x, const AtomPair& y) {
        for (const std::size_t off : {std::size_t{0}, std::size_t{1}, std::size_t{2}})
            if (cell[3 * x.first + off] != cell[3 * y.first + off])
                return cell[3 * x.first + off] < cell[3 * y.first + off];
        for (const std::size_t off : {std::size_t{0}, std::size_t{1}, std::size_t{2}})
            if (cell[3 * x.second + off] != cell[3 * y.second + off])
                return cell[3 * x.second + off] < cell[3 * y.second + off];
        return x < y;
    });
    for (const auto& [i, j] : c.found) repel(p, f, i, j);
}

}  // namespace zelt::vsepr
