#include "core/rdf.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

#include "core/geometry.hpp"
#include "core/pool.hpp"

namespace zelt {
namespace {

using geometry_detail::round_half_away;

constexpr double four_thirds_pi = 4.1887902047863905;
constexpr double orthorhombic_tolerance = 1e-6;

bool is_orthorhombic(const Mat3& h) {
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            if (r != c && !(std::fabs(h[r][c]) < orthorhombic_tolerance)) return false;
    return true;
}

struct Binning {
    double r_max;
    double dr;
    std::size_t n_bins;
    double r2_bound;  // above every square whose root is below r_max

    // Counts a distance already known to be below r_max.
    void add(double r, std::uint64_t weight, std::uint64_t* hist) const {
        const double bin = std::floor(r / dr);
        if (bin < static_cast<double>(n_bins)) hist[static_cast<std::size_t>(bin)] += weight;
    }
};

// Buffers of one task, reused for all its frames: group B gathered into flat
// coordinate arrays (sorted by cell for the cell list) and the distances of
// one row of pairs.
struct Workspace {
    std::vector<double> x, y, z;
    std::vector<std::uint64_t> id;
    std::vector<double> dist;
    std::vector<std::size_t> near;
    std::vector<std::size_t> cell_of, cell_start, fill;

    void resize(std::size_t nb) {
        x.resize(nb);
        y.resize(nb);
        z.resize(nb);
        id.resize(nb);
        dist.resize(nb);
        near.resize(nb);
        cell_of.resize(nb);
    }

    void put(std::size_t slot, const double* p, std::uint64_t index) {
        x[slot] = p[0];
        y[slot] = p[1];
        z[slot] = p[2];
        id[slot] = index;
    }
};

// Both methods count every ordered pair (a from A, b from B, a != b by
// index) once. When A and B are the same list, the pair (b, a) has exactly
// the distance of (a, b) (every step of either distance computation is
// odd-symmetric in the difference vector), so each unordered pair of list
// positions is measured once and counted twice: the same counts for half the
// work.
constexpr std::uint64_t one_way = 1, both_ways = 2;

// The two pair loops are also compiled for AVX2 (chosen at load time where
// the processor has it): twice the vector width, the same operations in the
// same order, so the same counts.
#define ZELT_PAIR_LOOP __attribute__((target_clones("avx2", "default")))

// Squared nearest-image distances from a to the gathered atoms [begin, end),
// through the fractional coordinates: d = b - a, s = d · H⁻¹ reduced to the
// nearest integers, d' = s · H.
ZELT_PAIR_LOOP void direct_row(const Mat3& h, const Mat3& hi, const Workspace& ws, const double a[3],
                               std::size_t begin, std::size_t end, double* dist) {
    const double* bx = ws.x.data();
    const double* by = ws.y.data();
    const double* bz = ws.z.data();
    const double ax = a[0], ay = a[1], az = a[2];
    for (std::size_t j = begin; j < end; ++j) {
        const double dx = bx[j] - ax, dy = by[j] - ay, dz = bz[j] - az;
        double s0 = dx * hi[0][0] + dy * hi[1][0] + dz * hi[2][0];
        double s1 = dx * hi[0][1] + dy * hi[1][1] + dz * hi[2][1];
        double s2 = dx * hi[0][2] + dy * hi[1][2] + dz * hi[2][2];
        s0 -= round_half_away(s0);
        s1 -= round_half_away(s1);
        s2 -= round_half_away(s2);
        const double ex = s0 * h[0][0] + s1 * h[1][0] + s2 * h[2][0];
        const double ey = s0 * h[0][1] + s1 * h[1][1] + s2 * h[2][1];
        const double ez = s0 * h[0][2] + s1 * h[1][2] + s2 * h[2][2];
        dist[j] = ex * ex + ey * ey + ez * ez;
    }
}

// Squared per-axis minimum-image distances in an orthorhombic box:
// d = a - b, each component reduced by L · round(d / L), the quotient taken
// as a product with 1 / L (the only division per pair is the bin's).
ZELT_PAIR_LOOP void box_row(const double len[3], const Workspace& ws, const double a[3], std::size_t begin,
                            std::size_t end, double* dist) {
    const double* bx = ws.x.data();
    const double* by = ws.y.data();
    const double* bz = ws.z.data();
    const double ax = a[0], ay = a[1], az = a[2];
    const double lx = len[0], ly = len[1], lz = len[2];
    const double ix = 1.0 / lx, iy = 1.0 / ly, iz = 1.0 / lz;
    for (std::size_t j = begin; j < end; ++j) {
        double dx = ax - bx[j], dy = ay - by[j], dz = az - bz[j];
        dx -= lx * round_half_away(dx * ix);
        dy -= ly * round_half_away(dy * iy);
        dz -= lz * round_half_away(dz * iz);
        dist[j] = dx * dx + dy * dy + dz * dz;
    }
}

// Counts the pairs of a row whose distance is below r_max: the direct
// method tests the distance itself, the cell list its square. Candidates are
// gathered first without a branch per pair (only a small share is near, and
// a branch on each would be mispredicted often); the square root is taken
// only for them.
void count_row(const Workspace& ws, std::size_t begin, std::size_t end, std::uint64_t a_id, bool test_square,
               std::uint64_t weight, const Binning& bins, std::uint64_t* hist, std::size_t* near) {
    const double* dist = ws.dist.data();
    const double bound = test_square ? bins.r_max * bins.r_max : bins.r2_bound;
    std::size_t n_near = 0;
    for (std::size_t j = begin; j < end; ++j) {
        near[n_near] = j;
        n_near += dist[j] <= bound ? 1 : 0;
    }
    for (std::size_t k = 0; k < n_near; ++k) {
        const std::size_t j = near[k];
        if (ws.id[j] == a_id) continue;
        if (test_square) {
            if (dist[j] < bound) bins.add(std::sqrt(dist[j]), weight, hist);
        } else {
            const double r = std::sqrt(dist[j]);
            if (r < bins.r_max) bins.add(r, weight, hist);
        }
    }
}

// One work item: slice `slice` of `slices` of one frame's pairs.
struct Item {
    std::size_t frame;
    std::size_t slice;
    std::size_t slices;

    // The share of [0, units) that this item takes.
    std::pair<std::size_t, std::size_t> part(std::size_t units) const {
        const pool::Chunking c{units, slices};
        return {c.begin(slice), c.end(slice)};
    }
};

// Any cell: every pair of A with B, the single nearest image of each.
void frame_direct(const TrajectoryView& traj, const Item& item, std::span<const std::uint64_t> a,
                  std::span<const std::uint64_t> b, bool same, const Binning& bins, Workspace& ws,
                  std::uint64_t* hist) {
    const std::size_t f = item.frame;
    const Mat3 h = traj.cell(f);
    const Mat3 hi = invert_cell(h);
    const std::size_t nb = b.size();
    for (std::size_t j = 0; j < nb; ++j) ws.put(j, traj.atom(f, b[j]), b[j]);
    double* dist = ws.dist.data();

    if (!same) {
        const auto [begin, end] = item.part(a.size());
        for (std::size_t i = begin; i < end; ++i) {
            direct_row(h, hi, ws, traj.atom(f, a[i]), 0, nb, dist);
            count_row(ws, 0, nb, a[i], false, one_way, bins, hist, ws.near.data());
        }
        return;
    }
    // Row i pairs list position i with the positions after it; rows i and
    // nb - 1 - i together make equal shares of work.
    auto row = [&](std::size_t i) {
        const double p[3] = {ws.x[i], ws.y[i], ws.z[i]};
        direct_row(h, hi, ws, p, i + 1, nb, dist);
        count_row(ws, i + 1, nb, ws.id[i], false, both_ways, bins, hist, ws.near.data());
    };
    const auto [begin, end] = item.part((nb + 1) / 2);
    for (std::size_t r = begin; r < end; ++r) {
        row(r);
        if (nb - 1 - r != r) row(nb - 1 - r);
    }
}

// The cell of coordinate x along an axis of length l cut into n cells.
std::size_t cell_along(double x, double l, double size, std::size_t n) {
    double u = std::fmod(x, l);
    if (u < 0) u += l;
    const double k = std::floor(u / size);
    if (!(k >= 0)) return 0;  // NaN coordinates
    return k >= static_cast<double>(n - 1) ? n - 1 : static_cast<std::size_t>(k);
}

// Orthorhombic cell at least r_max wide: B sorted into cells of at least
// r_max, each atom of A compared with the B atoms of the distinct cells
// around its own (offsets -1, 0, +1 per axis; with fewer than 3 cells along
// an axis some offsets land on the same cell, which is visited once).
void frame_cell_list(const TrajectoryView& traj, const Item& item, std::span<const std::uint64_t> a,
                     std::span<const std::uint64_t> b, bool same, const Binning& bins, Workspace& ws,
                     std::uint64_t* hist) {
    const std::size_t f = item.frame;
    const Mat3 h = traj.cell(f);
    const auto n = rdf_cell_counts(h, bins.r_max, b.size());
    const double len[3] = {h[0][0], h[1][1], h[2][2]};
    double size[3];
    for (int c = 0; c < 3; ++c) size[c] = len[c] / static_cast<double>(n[c]);
    const std::size_t n_cells = n[0] * n[1] * n[2];
    auto cell_index = [&](const double* p, std::size_t out[3]) {
        for (int c = 0; c < 3; ++c) out[c] = cell_along(p[c], len[c], size[c], n[c]);
    };
    // Distinct neighbour cells of the cell with coordinates k, in cell order.
    auto neighbours = [&](const std::size_t k[3], std::size_t out[27]) {
        std::size_t near[3][3], count[3];
        for (int c = 0; c < 3; ++c) {
            count[c] = 0;
            for (std::size_t o = 0; o < 3; ++o) {
                const std::size_t v = (k[c] + n[c] + o - 1) % n[c];
                if (std::find(near[c], near[c] + count[c], v) == near[c] + count[c]) near[c][count[c]++] = v;
            }
        }
        std::size_t total = 0;
        for (std::size_t i0 = 0; i0 < count[0]; ++i0)
            for (std::size_t i1 = 0; i1 < count[1]; ++i1)
                for (std::size_t i2 = 0; i2 < count[2]; ++i2)
                    out[total++] = (near[0][i0] * n[1] + near[1][i1]) * n[2] + near[2][i2];
        std::sort(out, out + total);
        return total;
    };

    // Counting sort of B by cell, keeping B's order within a cell.
    const std::size_t nb = b.size();
    ws.cell_start.assign(n_cells + 1, 0);
    for (std::size_t j = 0; j < nb; ++j) {
        std::size_t k[3];
        cell_index(traj.atom(f, b[j]), k);
        ws.cell_of[j] = (k[0] * n[1] + k[1]) * n[2] + k[2];
        ++ws.cell_start[ws.cell_of[j] + 1];
    }
    for (std::size_t c = 0; c < n_cells; ++c) ws.cell_start[c + 1] += ws.cell_start[c];
    ws.fill.assign(ws.cell_start.begin(), ws.cell_start.end() - 1);
    for (std::size_t j = 0; j < nb; ++j) ws.put(ws.fill[ws.cell_of[j]]++, traj.atom(f, b[j]), b[j]);
    double* dist = ws.dist.data();
    std::size_t cells[27];

    if (!same) {
        const auto [begin, end] = item.part(a.size());
        for (std::size_t i = begin; i < end; ++i) {
            const double* pa = traj.atom(f, a[i]);
            std::size_t k[3];
            cell_index(pa, k);
            const std::size_t count = neighbours(k, cells);
            for (std::size_t c = 0; c < count; ++c) {
                const std::size_t lo = ws.cell_start[cells[c]], hi = ws.cell_start[cells[c] + 1];
                box_row(len, ws, pa, lo, hi, dist);
                count_row(ws, lo, hi, a[i], true, one_way, bins, hist, ws.near.data());
            }
        }
        return;
    }
    // Each unordered pair once: within a cell, each atom with the atoms
    // after it; across cells, from the lower-numbered cell of the two (the
    // neighbour relation is symmetric).
    const auto [begin, end] = item.part(n_cells);
    for (std::size_t cell = begin; cell < end; ++cell) {
        const std::size_t k[3] = {cell / (n[1] * n[2]), (cell / n[2]) % n[1], cell % n[2]};
        const std::size_t count = neighbours(k, cells);
        const std::size_t lo = ws.cell_start[cell], hi = ws.cell_start[cell + 1];
        for (std::size_t s = lo; s < hi; ++s) {
            const double p[3] = {ws.x[s], ws.y[s], ws.z[s]};
            box_row(len, ws, p, s + 1, hi, dist);
            count_row(ws, s + 1, hi, ws.id[s], true, both_ways, bins, hist, ws.near.data());
            for (std::size_t c = 0; c < count; ++c) {
                if (cells[c] <= cell) continue;
                const std::size_t olo = ws.cell_start[cells[c]], ohi = ws.cell_start[cells[c] + 1];
                box_row(len, ws, p, olo, ohi, dist);
                count_row(ws, olo, ohi, ws.id[s], true, both_ways, bins, hist, ws.near.data());
            }
        }
    }
}

}  // namespace

RdfMethod choose_rdf_method(const Mat3& cell, double r_max) {
    // r_max must be a positive number for cells of at least r_max to exist.
    if (!(r_max > 0) || !is_orthorhombic(cell)) return RdfMethod::direct;
    const double narrowest = std::min({cell[0][0], cell[1][1], cell[2][2]});
    return narrowest >= r_max ? RdfMethod::cell_list : RdfMethod::direct;
}

std::array<std::size_t, 3> rdf_cell_counts(const Mat3& cell, double r_max, std::size_t group_b_size) {
    const double limit = std::max(27.0, 2.0 * static_cast<double>(group_b_size));
    double n[3];
    for (int c = 0; c < 3; ++c) {
        const double fit = std::floor(cell[c][c] / r_max);
        n[c] = fit >= 1.0 ? std::min(fit, limit) : 1.0;  // also 1 for NaN
    }
    // Shrink the largest axis until the total fits (each axis at least 1).
    for (int round = 0; round < 3 && n[0] * n[1] * n[2] > limit; ++round) {
        const int big = static_cast<int>(std::max_element(n, n + 3) - n);
        const double others = n[0] * n[1] * n[2] / n[big];
        n[big] = std::max(1.0, std::floor(limit / others));
    }
    return {static_cast<std::size_t>(n[0]), static_cast<std::size_t>(n[1]), static_cast<std::size_t>(n[2])};
}

std::vector<std::uint64_t> rdf_histogram(const TrajectoryView& traj, std::span<const std::uint64_t> a,
                                         std::span<const std::uint64_t> b, double r_max, std::size_t n_bins,
                                         std::optional<RdfMethod> method) {
    std::vector<std::uint64_t> hist(n_bins, 0);
    if (n_bins == 0 || a.empty() || b.empty() || traj.n_frames == 0) return hist;
    const Binning bins{r_max, r_max / static_cast<double>(n_bins), n_bins, r_max * r_max * (1.0 + 1e-12)};

    const bool same = a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin());

    // Work items are slices of frames. With fewer frames than threads the
    // frames are cut into several slices, so that one frame still keeps the
    // pool busy; counts are integers, so the split never shows.
    const std::size_t threads = pool::current_thread_count();
    std::size_t slices = 1;
    if (traj.n_frames < 2 * threads)
        slices = std::clamp<std::size_t>((4 * threads + traj.n_frames - 1) / traj.n_frames, 1,
                                         std::max<std::size_t>(1, a.size() / 64));
    const std::size_t items = traj.n_frames * slices;

    return pool::reduce(
        items, hist,
        [&](std::size_t begin, std::size_t end, std::vector<std::uint64_t>& acc) {
            Workspace ws;
            ws.resize(b.size());
            for (std::size_t i = begin; i < end; ++i) {
                const Item item{i / slices, i % slices, slices};
                RdfMethod use = choose_rdf_method(traj.cell(item.frame), r_max);
                if (method && *method == RdfMethod::direct) use = RdfMethod::direct;
                if (use == RdfMethod::cell_list)
                    frame_cell_list(traj, item, a, b, same, bins, ws, acc.data());
                else
                    frame_direct(traj, item, a, b, same, bins, ws, acc.data());
            }
        },
        [](std::vector<std::uint64_t> x, std::vector<std::uint64_t> y) {
            for (std::size_t i = 0; i < x.size(); ++i) x[i] += y[i];
            return x;
        });
}

RdfResult compute_rdf_core(const TrajectoryView& traj, std::span<const std::uint64_t> a,
                           std::span<const std::uint64_t> b, double r_max, std::size_t n_bins) {
    RdfResult out;
    out.r.resize(n_bins);
    out.g.assign(n_bins, 0.0);
    if (n_bins == 0) return out;
    const double dr = r_max / static_cast<double>(n_bins);
    const auto hist = rdf_histogram(traj, a, b, r_max, n_bins);

    double volume_sum = 0.0;
    for (std::size_t f = 0; f < traj.n_frames; ++f) {
        System frame;
        frame.cell = traj.cell(f);
        volume_sum += get_volume(frame);
    }
    // No frames: 0 / 0 is NaN, no ideal count passes "> 0", and g stays 0.
    const double volume = volume_sum / static_cast<double>(traj.n_frames);
    const double frames = static_cast<double>(traj.n_frames);
    const double na = static_cast<double>(a.size()), nb = static_cast<double>(b.size());
    for (std::size_t i = 0; i < n_bins; ++i) {
        const double lo = static_cast<double>(i) * dr, hi = static_cast<double>(i + 1) * dr;
        out.r[i] = lo + 0.5 * dr;
        const double shell = four_thirds_pi * (hi * hi * hi - lo * lo * lo);
        const double ideal = (nb / volume) * shell * na * frames;
        if (ideal > 0) out.g[i] = static_cast<double>(hist[i]) / ideal;
    }
    return out;
}

}  // namespace zelt
