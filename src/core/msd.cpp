#include "core/msd.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/pool.hpp"

namespace zelt {
namespace {

// Unwrapped value of p given the previous unwrapped value q and the box
// length l along the axis. One box length when p is more than half a box
// away, as many as it takes when one is not enough.
double unwrap_coordinate(double p, double q, double l) {
    l = std::fabs(l);  // a left-handed cell has the same period
    if (!(l > 0) || !std::isfinite(l)) return p;
    const double diff = p - q, half = 0.5 * l;
    if (diff > half) {
        const double rest = diff - l;
        const double k = rest > half ? 1.0 + std::max(1.0, std::ceil(rest / l - 0.5)) : 1.0;
        return k == 1.0 ? p - l : p - k * l;
    }
    if (diff < -half) {
        const double rest = diff + l;
        const double k = rest < -half ? 1.0 + std::max(1.0, std::ceil(-rest / l - 0.5)) : 1.0;
        return k == 1.0 ? p + l : p + k * l;
    }
    return p;
}

// One group entry of one frame as x, y, z and a zero, in two pairs of
// lanes: the three axes are summed side by side, each axis in its own lane,
// so every axis keeps its own order of additions.
typedef double Pair __attribute__((vector_size(16)));

struct Xyz0 {
    Pair xy{}, z0{};
};

inline Pair load(const double* p) {
    Pair v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline void add_square(Xyz0& acc, const double* to, const double* from) {
    const Pair dxy = load(to) - load(from), dz0 = load(to + 2) - load(from + 2);
    acc.xy += dxy * dxy;
    acc.z0 += dz0 * dz0;
}

// Lags are summed in blocks of this many: each lag keeps its own
// accumulators, fed in origin order then group order exactly as it would be
// alone; running several lags side by side only lets the processor overlap
// their otherwise serial additions.
constexpr std::size_t lag_block = 4;

// Adds the squared displacements of origins [begin, end) at `lag` into acc.
void accumulate(const double* u, std::size_t m, std::size_t lag, std::size_t begin, std::size_t end, Xyz0& acc) {
    Xyz0 a = acc;
    for (std::size_t i = begin; i < end; ++i) {
        const double* from = u + 4 * i * m;
        const double* to = u + 4 * (i + lag) * m;
        for (std::size_t k = 0; k < 4 * m; k += 4) add_square(a, to + k, from + k);
    }
    acc = a;
}

// Sums of lags first .. first + lag_block - 1, all within the trajectory.
void accumulate_block(const double* u, std::size_t frames, std::size_t m, std::size_t first, Xyz0 acc[lag_block]) {
    static_assert(lag_block == 4);
    Xyz0 a0, a1, a2, a3;
    const std::size_t common = frames - (first + lag_block - 1);  // origins that every lag of the block has
    const std::size_t row = 4 * m;
    for (std::size_t i = 0; i < common; ++i) {
        const double* from = u + i * row;
        const double* t0 = u + (i + first) * row;
        for (std::size_t k = 0; k < row; k += 4) {
            add_square(a0, t0 + k, from + k);
            add_square(a1, t0 + row + k, from + k);
            add_square(a2, t0 + 2 * row + k, from + k);
            add_square(a3, t0 + 3 * row + k, from + k);
        }
    }
    acc[0] = a0;
    acc[1] = a1;
    acc[2] = a2;
    acc[3] = a3;
    // The shorter lags have further origins, taken in order after these.
    for (std::size_t l = 0; l + 1 < lag_block; ++l) accumulate(u, m, first + l, common, frames - first - l, acc[l]);
}

}  // namespace

std::vector<double> unwrap_group(const TrajectoryView& traj, std::span<const std::uint64_t> group) {
    const std::size_t width = 3 * group.size();
    std::vector<double> u(traj.n_frames * width);
    if (traj.n_frames == 0) return u;
    for (std::size_t k = 0; k < group.size(); ++k)
        for (int c = 0; c < 3; ++c) u[3 * k + c] = traj.atom(0, group[k])[c];
    for (std::size_t n = 1; n < traj.n_frames; ++n) {
        const double* cell = traj.cells.data() + (n - 1) * 9;
        const double len[3] = {cell[0], cell[4], cell[8]};
        const double* prev = u.data() + (n - 1) * width;
        double* row = u.data() + n * width;
        for (std::size_t k = 0; k < group.size(); ++k) {
            const double* p = traj.atom(n, group[k]);
            for (int c = 0; c < 3; ++c) row[3 * k + c] = unwrap_coordinate(p[c], prev[3 * k + c], len[c]);
        }
    }
    return u;
}

MsdResult compute_msd_core(const TrajectoryView& traj, std::span<const std::uint64_t> group, std::uint64_t max_lag,
                           double dt) {
    MsdResult out;
    if (traj.n_frames == 0) return out;
    const std::size_t frames = traj.n_frames;
    const std::size_t last =
        max_lag == 0 ? frames - 1 : static_cast<std::size_t>(std::min<std::uint64_t>(max_lag, frames - 1));
    const std::size_t lags = last + 1;
    out.time.resize(lags);
    out.total.resize(lags);
    out.x.assign(lags, 0.0);
    out.y.assign(lags, 0.0);
    out.z.assign(lags, 0.0);
    for (std::size_t t = 0; t < lags; ++t) out.time[t] = static_cast<double>(t) * dt;

    const std::size_t m = group.size();
    std::vector<double> u(4 * traj.n_frames * m, 0.0);  // x, y, z, 0 per entry
    {
        const std::vector<double> flat = unwrap_group(traj, group);  // on the calling thread
        for (std::size_t e = 0; e < traj.n_frames * m; ++e)
            for (int c = 0; c < 3; ++c) u[4 * e + c] = flat[3 * e + c];
    }
    // Lags 1 .. last in blocks of consecutive lags. Lag t costs F - t
    // origins: pairing block b with the block counted from the other end
    // gives every task about the same work.
    auto store = [&](std::size_t lag, const Xyz0& acc) {
        const double count = static_cast<double>(frames - lag) * static_cast<double>(m);
        out.x[lag] = acc.xy[0] / count;
        out.y[lag] = acc.xy[1] / count;
        out.z[lag] = acc.z0[0] / count;
    };
    auto evaluate_block = [&](std::size_t b) {
        const std::size_t first = 1 + b * lag_block;
        Xyz0 acc[lag_block];
        if (first + lag_block - 1 <= last) {
            accumulate_block(u.data(), frames, m, first, acc);
            for (std::size_t l = 0; l < lag_block; ++l) store(first + l, acc[l]);
        } else {
            for (std::size_t lag = first; lag <= last; ++lag) {
                Xyz0 one;
                accumulate(u.data(), m, lag, 0, frames - lag, one);
                store(lag, one);
            }
        }
    };
    const std::size_t blocks = (last + lag_block - 1) / lag_block;
    const std::size_t pairs = (blocks + 1) / 2;
    if (m > 0)  // an empty group leaves every value 0
        pool::for_range(pairs, [&](std::size_t begin, std::size_t end) {
            for (std::size_t i = begin; i < end; ++i) {
                evaluate_block(i);
                if (blocks - 1 - i != i) evaluate_block(blocks - 1 - i);
            }
        });
    for (std::size_t t = 0; t < lags; ++t) out.total[t] = out.x[t] + out.y[t] + out.z[t];
    return out;
}

}  // namespace zelt
