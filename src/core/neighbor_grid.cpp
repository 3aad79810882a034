#include "core/neighbor_grid.hpp"

#include <algorithm>
#include <cmath>

#include "core/distance_kernel.hpp"
#include "core/pool.hpp"

namespace zelt::neighbor_grid {

namespace {

// Axes thinner than this many bins cannot be searched by looking at the
// adjacent bins only: the bins on both sides would coincide.
constexpr std::size_t min_bins = 3;
// Upper bound per axis, so that a tiny cutoff in a large cell cannot ask
// for an absurd number of bins.
constexpr double max_bins_per_axis = 1024.0;
// Relative size of the rounding margins, far above the few units in the last
// place that the fractional coordinates and the minimum image can be off by.
constexpr double rounding_margin = 1e-12;

double norm(const Vec3& v) { return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]); }
Vec3 cross(const Vec3& a, const Vec3& b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
double max_abs(const Mat3& m) {
    double out = 0.0;
    for (const auto& row : m)
        for (const double v : row) out = std::max(out, std::fabs(v));
    return out;
}

std::vector<Vec3> positions_of(const System& system) {
    std::vector<Vec3> out(system.atoms.size());
    for (std::size_t k = 0; k < out.size(); ++k) out[k] = system.atoms[k].position;
    return out;
}

// A grid together with every atom's bin and its position wrapped into the
// cell. An atom of a bin across a cell face, seen from another bin, stands
// at its wrapped position moved by that lattice vector: the difference is
// then the one image of the pair that can lie within the cutoff (the cell is
// at least three cutoffs thick), found without any rounding. It serves to
// discard pairs cheaply, with a margin, before the exact minimum image is
// computed from the stored positions.
struct Grid {
    Layout layout;
    std::vector<std::size_t> bin;  // per atom: (a · bins_b + b) · bins_c + c
    std::vector<Vec3> wrapped;
    double reach_sq = 0.0;  // wrapped images at least this far apart (squared) are out of range
};

std::optional<Grid> make_grid(const Mat3& h, const Mat3& inv, std::span<const Vec3> positions, double cutoff) {
    const double r = std::fabs(cutoff);
    if (!(r > 0.0) || !std::isfinite(r)) return std::nullopt;
    const std::size_t n = positions.size();

    // Distance between opposite faces of the cell along each axis.
    const Vec3 a = h[0], b = h[1], c = h[2];
    const double volume = std::fabs(c[0] * (a[1] * b[2] - a[2] * b[1]) + c[1] * (a[2] * b[0] - a[0] * b[2]) +
                                    c[2] * (a[0] * b[1] - a[1] * b[0]));
    const std::array<double, 3> face = {norm(cross(b, c)), norm(cross(c, a)), norm(cross(a, b))};
    const double cell_size = max_abs(h), inv_size = max_abs(inv);
    if (!std::isfinite(volume) || !(volume > 0.0) || !std::isfinite(cell_size) || !std::isfinite(inv_size))
        return std::nullopt;
    const double condition = 9.0 * cell_size * inv_size;  // bounds the loss of accuracy through inv_cell

    const auto fractional = [&](const Vec3& p, int d) { return p[0] * inv[0][d] + p[1] * inv[1][d] + p[2] * inv[2][d]; };
    double max_frac = 1.0, max_pos = 0.0;
    for (const Vec3& p : positions) {
        for (int d = 0; d < 3; ++d) {
            const double s = fractional(p, d);
            if (!std::isfinite(s)) return std::nullopt;
            max_frac = std::max(max_frac, std::fabs(s));
            max_pos = std::max(max_pos, std::fabs(p[d]));
        }
    }

    // Bin thickness, in fractional units along each axis: the reach of the
    // cutoff plus the possible error of the computed minimum-image distance,
    // plus twice the possible error of a computed fractional coordinate.
    const double distance_error = rounding_margin * condition * (r + max_pos + cell_size);
    const double frac_error = rounding_margin * condition * max_frac;
    Grid grid;
    // A wrapped position is off by at most the fractional error along each
    // of the three cell vectors, plus its own rounding.
    const double position_error = frac_error * 3.0 * std::sqrt(3.0) * cell_size + rounding_margin * cell_size;
    const double reach = r + distance_error + 2.0 * position_error;
    grid.reach_sq = reach * reach;
    double total = 1.0;
    for (int d = 0; d < 3; ++d) {
        const double height = volume / face[d];
        const double thickness = (r + distance_error) / height + 2.0 * frac_error;
        const double count = std::floor(std::min(1.0 / thickness, max_bins_per_axis));
        if (!(count >= static_cast<double>(min_bins))) return std::nullopt;
        grid.layout.bins[d] = static_cast<std::size_t>(count);
        total *= count;
    }
    // About one bin per atom at most: fewer, thicker bins stay complete.
    const double cap = std::max(27.0, static_cast<double>(n));
    if (total > cap) {
        const double shrink = std::cbrt(cap / total);
        for (auto& count : grid.layout.bins)
            count = std::max(min_bins, static_cast<std::size_t>(std::floor(static_cast<double>(count) * shrink)));
    }

    // Fractional coordinates wrapped into [0, 1] give the bin and the
    // wrapped position.
    grid.bin.resize(n);
    grid.wrapped.resize(n);
    const auto& bins = grid.layout.bins;
    for (std::size_t k = 0; k < n; ++k) {
        double f[3];
        std::size_t at[3];
        for (int d = 0; d < 3; ++d) {
            const double s = fractional(positions[k], d);
            f[d] = s - std::floor(s);
            // A tiny negative coordinate wraps to exactly 1: last bin.
            at[d] = std::min(bins[d] - 1, static_cast<std::size_t>(f[d] * static_cast<double>(bins[d])));
        }
        grid.bin[k] = (at[0] * bins[1] + at[1]) * bins[2] + at[2];
        for (int d = 0; d < 3; ++d) grid.wrapped[k][d] = f[0] * h[0][d] + f[1] * h[1][d] + f[2] * h[2][d];
    }
    return grid;
}

// Pieces of [0, n) worked in parallel, each filling its own list; the lists
// are joined in piece order.
template <class Body>
std::vector<Neighbor> collect_in_order(std::size_t n, std::size_t chunks, Body&& body) {
    chunks = std::clamp<std::size_t>(chunks, 1, std::max<std::size_t>(n, 1));
    std::vector<std::vector<Neighbor>> parts(chunks);
    pool::for_chunks(n, chunks, [&](std::size_t c, std::size_t first, std::size_t last) { body(first, last, parts[c]); });
    std::size_t total = 0;
    for (const auto& p : parts) total += p.size();
    std::vector<Neighbor> out;
    out.reserve(total);
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// Puts pairs i < j, found in any order and held in several lists, into one
// list in order by i, then j.
std::vector<Neighbor> sort_pairs(const std::vector<std::vector<Neighbor>>& parts, std::size_t n) {
    std::vector<std::size_t> start(n + 1, 0);
    for (const auto& part : parts)
        for (const auto& p : part) ++start[p.i + 1];
    for (std::size_t i = 0; i < n; ++i) start[i + 1] += start[i];
    std::vector<Neighbor> out(start[n]);
    {
        std::vector<std::size_t> fill(start.begin(), start.end() - 1);
        for (const auto& part : parts)
            for (const auto& p : part) out[fill[p.i]++] = p;
    }
    pool::for_range(n, [&](std::size_t first, std::size_t last) {
        for (std::size_t i = first; i != last; ++i) {
            // A handful of entries per atom: insertion sort by j.
            Neighbor* begin = out.data() + start[i];
            Neighbor* end = out.data() + start[i + 1];
            for (Neighbor* it = begin + (begin != end); it < end; ++it) {
                const Neighbor v = *it;
                Neighbor* hole = it;
                for (; hole != begin && (hole - 1)->j > v.j; --hole) *hole = *(hole - 1);
                *hole = v;
            }
        }
    });
    return out;
}

// The 13 bin offsets that come after (0, 0, 0) in lexicographic order: with
// the bin itself they meet every pair of adjacent bins exactly once.
constexpr std::array<std::array<int, 3>, 13> forward_offsets = {{
    {0, 0, 1},
    {0, 1, -1}, {0, 1, 0}, {0, 1, 1},
    {1, -1, -1}, {1, -1, 0}, {1, -1, 1},
    {1, 0, -1}, {1, 0, 0}, {1, 0, 1},
    {1, 1, -1}, {1, 1, 0}, {1, 1, 1},
}};

}  // namespace

std::optional<Layout> plan(const Mat3& cell, const Mat3& inv_cell, std::span<const Vec3> positions, double cutoff) {
    auto grid = make_grid(cell, inv_cell, positions, cutoff);
    if (!grid) return std::nullopt;
    return grid->layout;
}

std::optional<std::vector<Neighbor>> search(const Mat3& h, const Mat3& inv, std::span<const Vec3> positions,
                                            double cutoff) {
    const std::size_t n = positions.size();
    // d² < cutoff² holds for no pair when the cutoff is 0 or NaN.
    if (n < 2 || !(std::fabs(cutoff) > 0.0)) return std::vector<Neighbor>{};
    const auto grid = make_grid(h, inv, positions, cutoff);
    if (!grid) return std::nullopt;
    const auto [na, nb, nc] = grid->layout.bins;
    const std::size_t bin_count = na * nb * nc;

    // Atoms sorted by bin (increasing index within a bin), with their wrapped
    // and stored positions copied alongside for contiguous reads.
    const std::vector<std::size_t>& bin = grid->bin;
    std::vector<std::size_t> start(bin_count + 1, 0);
    for (std::size_t k = 0; k < n; ++k) ++start[bin[k] + 1];
    for (std::size_t q = 0; q < bin_count; ++q) start[q + 1] += start[q];
    std::vector<std::size_t> order(n);
    std::vector<Vec3> wrapped(n), stored(n);
    {
        std::vector<std::size_t> fill(start.begin(), start.end() - 1);
        for (std::size_t k = 0; k < n; ++k) {
            const std::size_t slot = fill[bin[k]]++;
            order[slot] = k;
            wrapped[slot] = grid->wrapped[k];
            stored[slot] = positions[k];
        }
    }

    const double cutoff_sq = cutoff * cutoff;
    const double reach_sq = grid->reach_sq;
    const std::array<std::size_t, 3> counts = {na, nb, nc};

    // Every pair of adjacent bins (a bin with itself included) once; each
    // pair of atoms is met at most once, through the one image of it that
    // can be within reach.
    const std::size_t chunks = pool::default_chunks(bin_count);
    std::vector<std::vector<Neighbor>> parts(chunks);
    pool::for_chunks(bin_count, chunks, [&](std::size_t c, std::size_t first, std::size_t last) {
        std::vector<Neighbor>& out = parts[c];
        // The atoms within reach of one atom: their slots, stored positions
        // (three arrays) and exact squared distances.
        std::vector<std::size_t> near;
        std::vector<double> nx, ny, nz, nd;
        // Tests atoms k of [k0, k1) against atoms m of [m0, m1), the latter
        // moved by the lattice vector `shift`; `same` when both are one bin
        // (then only m > k).
        const auto test = [&](std::size_t k0, std::size_t k1, std::size_t m0, std::size_t m1, const Vec3& shift,
                              bool same) {
            if (near.size() < m1 - m0) {
                near.resize(m1 - m0);
                for (auto* v : {&nx, &ny, &nz, &nd}) v->resize(m1 - m0);
            }
            for (std::size_t k = k0; k != k1; ++k) {
                const Vec3& wk = wrapped[k];
                const double cx = wk[0] - shift[0], cy = wk[1] - shift[1], cz = wk[2] - shift[2];
                // Without branches: every slot is written, those within
                // reach are kept.
                std::size_t count = 0;
                for (std::size_t m = same ? k + 1 : m0; m < m1; ++m) {
                    const Vec3& wm = wrapped[m];
                    const double dx = cx - wm[0], dy = cy - wm[1], dz = cz - wm[2];
                    near[count] = m;
                    count += dx * dx + dy * dy + dz * dz < reach_sq;
                }
                if (count == 0) continue;
                // The exact test on the stored positions. The minimum image of
                // −d is −d' exactly, so measuring from k gives the value that
                // the lower index measured from the higher would.
                for (std::size_t t = 0; t < count; ++t) {
                    const Vec3& p = stored[near[t]];
                    nx[t] = p[0];
                    ny[t] = p[1];
                    nz[t] = p[2];
                }
                minimum_image_distances_sq(h, inv, stored[k], nx.data(), ny.data(), nz.data(), count, nd.data());
                for (std::size_t t = 0; t < count; ++t) {
                    if (!(nd[t] < cutoff_sq)) continue;
                    const std::size_t a = order[k], b = order[near[t]];
                    out.push_back({std::min(a, b), std::max(a, b), std::sqrt(nd[t])});
                }
            }
        };
        for (std::size_t q = first; q != last; ++q) {
            const std::size_t k0 = start[q], k1 = start[q + 1];
            if (k0 == k1) continue;
            const std::array<std::size_t, 3> at = {q / (nb * nc), (q / nc) % nb, q % nc};
            test(k0, k1, k0, k1, Vec3{0.0, 0.0, 0.0}, true);
            for (const auto& offset : forward_offsets) {
                std::array<std::size_t, 3> to;
                int wrap[3];
                for (int d = 0; d < 3; ++d) {
                    const std::size_t i = at[d], count = counts[d];
                    wrap[d] = 0;
                    if (offset[d] < 0) {
                        to[d] = i == 0 ? count - 1 : i - 1;
                        wrap[d] = i == 0 ? -1 : 0;
                    } else if (offset[d] > 0) {
                        to[d] = i + 1 == count ? 0 : i + 1;
                        wrap[d] = i + 1 == count ? 1 : 0;
                    } else {
                        to[d] = i;
                    }
                }
                const std::size_t other = (to[0] * nb + to[1]) * nc + to[2];
                const std::size_t m0 = start[other], m1 = start[other + 1];
                if (m0 == m1) continue;
                Vec3 shift;
                for (int d = 0; d < 3; ++d) shift[d] = wrap[0] * h[0][d] + wrap[1] * h[1][d] + wrap[2] * h[2][d];
                test(k0, k1, m0, m1, shift, false);
            }
        }
    });
    return sort_pairs(parts, n);
}

std::vector<Neighbor> all_pairs(const Mat3& h, const Mat3& inv, std::span<const Vec3> positions, double cutoff) {
    const std::size_t n = positions.size();
    const double cutoff_sq = cutoff * cutoff;
    std::vector<double> xs(n), ys(n), zs(n);
    for (std::size_t k = 0; k < n; ++k) {
        xs[k] = positions[k][0];
        ys[k] = positions[k][1];
        zs[k] = positions[k][2];
    }
    // Early rows hold more pairs than late ones: many pieces even that out.
    const std::size_t chunks = std::min<std::size_t>(n, 16 * pool::current_thread_count());
    return collect_in_order(n, chunks, [&](std::size_t first, std::size_t last, std::vector<Neighbor>& out) {
        std::vector<double> d2(n);
        for (std::size_t i = first; i != last; ++i) {
            const std::size_t from = i + 1;
            minimum_image_distances_sq(h, inv, positions[i], xs.data() + from, ys.data() + from, zs.data() + from,
                                       n - from, d2.data());
            for (std::size_t j = from; j < n; ++j) {
                const double v = d2[j - from];
                if (v < cutoff_sq) out.push_back({i, j, std::sqrt(v)});
            }
        }
    });
}

std::optional<Layout> plan(const System& system, double cutoff) {
    return plan(system.cell, system.inv_cell, positions_of(system), cutoff);
}

std::optional<std::vector<Neighbor>> search(const System& system, double cutoff) {
    return search(system.cell, system.inv_cell, positions_of(system), cutoff);
}

std::vector<Neighbor> all_pairs(const System& system, double cutoff) {
    return all_pairs(system.cell, system.inv_cell, positions_of(system), cutoff);
}

}  // namespace zelt::neighbor_grid
