#include "core/neighbor_grid.hpp"

#include <algorithm>
#include <cmath>

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

// A grid together with every atom's bin.
struct Grid {
    Layout layout;
    std::vector<std::array<std::size_t, 3>> bin_of;  // per atom, along a, b, c
};

std::optional<Grid> make_grid(const System& system, double cutoff) {
    const double r = std::fabs(cutoff);
    if (!(r > 0.0) || !std::isfinite(r)) return std::nullopt;
    const Mat3& h = system.cell;
    const Mat3& inv = system.inv_cell;
    const std::size_t n = system.atoms.size();

    // Distance between opposite faces of the cell along each axis.
    const Vec3 a = h[0], b = h[1], c = h[2];
    const double volume = std::fabs(get_volume(system));
    const std::array<double, 3> face = {norm(cross(b, c)), norm(cross(c, a)), norm(cross(a, b))};
    const double cell_size = max_abs(h), inv_size = max_abs(inv);
    if (!std::isfinite(volume) || !(volume > 0.0) || !std::isfinite(cell_size) || !std::isfinite(inv_size))
        return std::nullopt;
    const double condition = 9.0 * cell_size * inv_size;  // bounds the loss of accuracy through inv_cell

    // Fractional coordinates, wrapped into [0, 1).
    std::vector<Vec3> frac(n);
    double max_frac = 1.0, max_pos = 0.0;
    for (std::size_t k = 0; k < n; ++k) {
        const Vec3& p = system.atoms[k].position;
        for (int d = 0; d < 3; ++d) {
            const double s = p[0] * inv[0][d] + p[1] * inv[1][d] + p[2] * inv[2][d];
            if (!std::isfinite(s)) return std::nullopt;
            max_frac = std::max(max_frac, std::fabs(s));
            max_pos = std::max(max_pos, std::fabs(p[d]));
            frac[k][d] = s - std::floor(s);
        }
    }

    // Bin thickness, in fractional units along each axis: the reach of the
    // cutoff plus the possible error of the computed minimum-image distance,
    // plus twice the possible error of a computed fractional coordinate.
    const double distance_error = rounding_margin * condition * (r + max_pos + cell_size);
    const double frac_error = rounding_margin * condition * max_frac;
    Grid grid;
    double total = 1.0;
    for (int d = 0; d < 3; ++d) {
        const double height = volume / face[d];
        const double reach = (r + distance_error) / height + 2.0 * frac_error;
        const double count = std::floor(std::min(1.0 / reach, max_bins_per_axis));
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

    grid.bin_of.resize(n);
    for (std::size_t k = 0; k < n; ++k)
        for (int d = 0; d < 3; ++d) {
            const std::size_t count = grid.layout.bins[d];
            // A tiny negative coordinate wraps to exactly 1: last bin.
            grid.bin_of[k][d] = std::min(count - 1, static_cast<std::size_t>(frac[k][d] * static_cast<double>(count)));
        }
    return grid;
}

// Pieces of the atom range that work in parallel, each with its own output.
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

}  // namespace

std::optional<Layout> plan(const System& system, double cutoff) {
    auto grid = make_grid(system, cutoff);
    if (!grid) return std::nullopt;
    return grid->layout;
}

std::optional<std::vector<Neighbor>> search(const System& system, double cutoff) {
    const std::size_t n = system.atoms.size();
    // d² < cutoff² holds for no pair when the cutoff is 0 or NaN.
    if (n < 2 || !(std::fabs(cutoff) > 0.0)) return std::vector<Neighbor>{};
    const auto grid = make_grid(system, cutoff);
    if (!grid) return std::nullopt;
    const auto [na, nb, nc] = grid->layout.bins;
    const std::size_t bin_count = na * nb * nc;
    const auto flat = [&](std::size_t ia, std::size_t ib, std::size_t ic) { return (ia * nb + ib) * nc + ic; };

    // Atoms sorted by bin (increasing index within a bin), with their
    // positions copied alongside for contiguous reads.
    std::vector<std::size_t> start(bin_count + 1, 0);
    std::vector<std::size_t> bin(n);
    for (std::size_t k = 0; k < n; ++k) {
        const auto& b = grid->bin_of[k];
        bin[k] = flat(b[0], b[1], b[2]);
        ++start[bin[k] + 1];
    }
    for (std::size_t q = 0; q < bin_count; ++q) start[q + 1] += start[q];
    std::vector<std::size_t> order(n);
    std::vector<Vec3> sorted(n);
    {
        std::vector<std::size_t> fill(start.begin(), start.end() - 1);
        for (std::size_t k = 0; k < n; ++k) {
            const std::size_t slot = fill[bin[k]]++;
            order[slot] = k;
            sorted[slot] = system.atoms[k].position;
        }
    }

    const Mat3 h = system.cell;
    const Mat3 inv = system.inv_cell;
    const double cutoff_sq = cutoff * cutoff;
    const auto step = [](std::size_t i, std::size_t count, int delta) {
        return delta < 0 ? (i == 0 ? count - 1 : i - 1) : delta > 0 ? (i + 1 == count ? 0 : i + 1) : i;
    };

    return collect_in_order(n, pool::default_chunks(n), [&](std::size_t first, std::size_t last, std::vector<Neighbor>& out) {
        struct Hit {
            std::size_t j;
            double distance;
        };
        std::vector<Hit> hits;
        for (std::size_t i = first; i != last; ++i) {
            const Vec3 pi = system.atoms[i].position;
            const auto& b = grid->bin_of[i];
            hits.clear();
            for (int da = -1; da <= 1; ++da) {
                const std::size_t ia = step(b[0], na, da);
                for (int db = -1; db <= 1; ++db) {
                    const std::size_t ib = step(b[1], nb, db);
                    for (int dc = -1; dc <= 1; ++dc) {
                        const std::size_t q = flat(ia, ib, step(b[2], nc, dc));
                        // Indices rise within a bin: start after i.
                        const std::size_t* begin = order.data() + start[q];
                        const std::size_t* end = order.data() + start[q + 1];
                        for (const std::size_t* it = std::upper_bound(begin, end, i); it != end; ++it) {
                            const double d2 = minimum_image_distance_sq(h, inv, pi, sorted[it - order.data()]);
                            if (d2 < cutoff_sq) hits.push_back({*it, std::sqrt(d2)});
                        }
                    }
                }
            }
            std::sort(hits.begin(), hits.end(), [](const Hit& x, const Hit& y) { return x.j < y.j; });
            for (const Hit& hit : hits) out.push_back({i, hit.j, hit.distance});
        }
    });
}

std::vector<Neighbor> all_pairs(const System& system, double cutoff) {
    const std::size_t n = system.atoms.size();
    const Mat3 h = system.cell;
    const Mat3 inv = system.inv_cell;
    const double cutoff_sq = cutoff * cutoff;
    // Early rows hold more pairs than late ones: many pieces even that out.
    const std::size_t chunks = std::min<std::size_t>(n, 16 * pool::current_thread_count());
    return collect_in_order(n, chunks, [&](std::size_t first, std::size_t last, std::vector<Neighbor>& out) {
        for (std::size_t i = first; i != last; ++i) {
            const Vec3 pi = system.atoms[i].position;
            for (std::size_t j = i + 1; j < n; ++j) {
                const double d2 = minimum_image_distance_sq(h, inv, pi, system.atoms[j].position);
                if (d2 < cutoff_sq) out.push_back({i, j, std::sqrt(d2)});
            }
        }
    });
}

}  // namespace zelt::neighbor_grid
