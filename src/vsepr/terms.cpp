#include "vsepr/terms.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

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
    return {a[0] / n, a[1] / n, a[2] / n};
}
inline void add_scaled(Vec3& f, const Vec3& v, double s) {
    f[0] += v[0] * s;
    f[1] += v[1] * s;
    f[2] += v[2] * s;
}
// f += (d / r) * k, and the opposite on g.
inline void push_pair(Vec3& f, Vec3& g, const Vec3& d, double r, double k) {
    const Vec3 u{d[0] / r, d[1] / r, d[2] / r};
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

struct Box {
    Vec3 lo{std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity(),
            std::numeric_limits<double>::infinity()};
    Vec3 hi{-std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
            -std::numeric_limits<double>::infinity()};
};

void grid_pairs(const Model& m, std::span<const Vec3> p, RepulsionScratch& s, std::vector<AtomPair>& out) {
    const std::size_t n = p.size();
    Box box;
    for (const auto& x : p)
        for (int a = 0; a < 3; ++a) {
            if (x[a] < box.lo[a]) box.lo[a] = x[a];
            if (x[a] > box.hi[a]) box.hi[a] = x[a];
        }
    std::uint64_t count[3];
    double cells = 1.0;
    for (int a = 0; a < 3; ++a) {
        count[a] = saturating_add_one(saturate(std::ceil((box.hi[a] - box.lo[a]) / cell_edge)));
        cells *= static_cast<double>(count[a]);
    }
    auto coord = [&](std::size_t i, int a) { return saturate((p[i][a] - box.lo[a]) / cell_edge); };

    if (cells <= static_cast<double>(dense_grid_limit(n))) {
        // Dense grid: every cell of the bounding box, in x, y, z order.
        const std::uint64_t nx = count[0], ny = count[1], nz = count[2];
        const std::size_t total = static_cast<std::size_t>(nx * ny * nz);
        s.cell_of.resize(n);
        s.cell_start.assign(total + 1, 0);
        s.order.resize(n);
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint64_t cx = std::min(coord(i, 0), nx - 1), cy = std::min(coord(i, 1), ny - 1),
                                cz = std::min(coord(i, 2), nz - 1);
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
                                        if (s.order[x] < s.order[y]) consider(m, p, s.order[x], s.order[y], out);
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
        for (int a = 0; a < 3; ++a) s.key[3 * i + a] = coord(i, a);
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
                            if (s.order[x] < s.order[y]) consider(m, p, s.order[x], s.order[y], out);
                }
            }
        }
    }
}

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

void apply_bond_constraints(const Model& m, std::span<const Vec3> p, std::span<Vec3> f) {
    for (std::size_t b = 0; b < m.bonds.size(); ++b) {
        if (!m.bond_in_range[b]) continue;
        const std::size_t i = m.bonds[b].i, j = m.bonds[b].j;
        const Vec3 d = sub(p[i], p[j]);
        const double r = norm(d);
        if (r > 0.001) push_pair(f[i], f[j], d, r, (m.ideal_length[b] - r) * 1.2);
    }
}

void apply_angle_constraints(const Model& m, std::span<const Vec3> p, std::span<Vec3> f) {
    constexpr std::size_t kept = 8;  // arm lengths kept for centres with up to this many neighbours
    double arm[kept];
    for (std::size_t c = 0; c < m.atom_count(); ++c) {
        const auto nb = m.neighbours.of(c);
        if (nb.size() < 2) continue;
        const double cos0 = m.cos_ideal[c];
        const bool cached = nb.size() <= kept;
        if (cached)
            for (std::size_t x = 0; x < nb.size(); ++x) arm[x] = norm(sub(p[nb[x].atom], p[c]));
        for (std::size_t x = 0; x < nb.size(); ++x)
            for (std::size_t y = x + 1; y < nb.size(); ++y) {
                const std::size_t a = nb[x].atom, b = nb[y].atom;
                const Vec3 d = sub(p[a], p[b]);
                const double r = norm(d);
                if (r <= 0.001) continue;
                const double la = cached ? arm[x] : norm(sub(p[a], p[c]));
                const double lb = cached ? arm[y] : norm(sub(p[b], p[c]));
                const double t2 = la * la + lb * lb - 2.0 * la * lb * cos0;
                const double target = std::sqrt(t2 > 0.0 ? t2 : 0.0);  // NaN gives 0, as fmax would
                push_pair(f[a], f[b], d, r, (target - r) * 0.2);
            }
    }
}

void apply_planarity_constraints(const Model& m, std::span<const Vec3> p, std::span<Vec3> f) {
    for (std::size_t c = 0; c < m.atom_count(); ++c) {
        if (m.geometry[c] != Geometry::TrigonalPlanar) continue;
        const auto nb = m.neighbours.of(c);
        if (nb.size() != 3) continue;
        const std::size_t a = nb[0].atom, b = nb[1].atom, e = nb[2].atom;
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

void apply_torsion_constraints(const Model& m, std::span<const Vec3> p, std::span<Vec3> f) {
    constexpr std::size_t kept = 8;  // far-side normals kept for bonds with up to this many
    Vec3 far_normal[kept];
    bool far_ok[kept];
    for (std::size_t bi = 0; bi < m.bonds.size(); ++bi) {
        if (!m.bond_in_range[bi]) continue;
        const Bond& bond = m.bonds[bi];
        if (!(static_cast<float>(bond.order) >= 1.5f)) continue;
        const std::size_t j = bond.i, k = bond.j;
        if (m.geometry[j] != Geometry::TrigonalPlanar || m.geometry[k] != Geometry::TrigonalPlanar) continue;
        const auto near = m.neighbours.of(j);
        const auto far = m.neighbours.of(k);
        const Vec3 b2 = sub(p[k], p[j]);
        const Vec3 u = unit(b2);
        // nB depends on d alone: work it out once per d.
        const auto normal_b = [&](std::size_t d, Vec3& out) {
            const Vec3 nB = cross(b2, sub(p[d], p[k]));
            if (dot(nB, nB) < 1e-6) return false;
            out = unit(nB);
            return true;
        };
        const bool cached = far.size() <= kept;
        if (cached)
            for (std::size_t y = 0; y < far.size(); ++y)
                far_ok[y] = far[y].atom != j && normal_b(far[y].atom, far_normal[y]);
        for (const auto& na : near) {
            if (na.atom == k) continue;
            const std::size_t a = na.atom;
            Vec3 nA = cross(sub(p[j], p[a]), b2);
            if (dot(nA, nA) < 1e-6) continue;  // skips every d for this a
            nA = unit(nA);
            for (std::size_t y = 0; y < far.size(); ++y) {
                const std::size_t d = far[y].atom;
                if (d == j) continue;
                Vec3 nB;
                if (cached) {
                    if (!far_ok[y]) continue;
                    nB = far_normal[y];
                } else if (!normal_b(d, nB)) {
                    continue;
                }
                const double sine = dot(cross(nA, nB), u);
                const double mag = 0.05 * sine;
                add_scaled(f[a], nA, -mag);
                add_scaled(f[j], nA, mag);
                add_scaled(f[d], nB, mag);
                add_scaled(f[k], nB, -mag);
            }
        }
    }
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
    for (const auto& [i, j] : scratch.pairs) {
        const Vec3 d = sub(p[i], p[j]);
        const double r = std::sqrt(dot(d, d));
        const double gap = 1.2 - r;
        push_pair(f[i], f[j], d, r, gap * gap * 0.8);
    }
}

}  // namespace zelt::vsepr
