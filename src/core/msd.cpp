#include "core/msd.hpp"

#include <algorithm>
#include <cmath>

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

struct LagSums {
    double x = 0.0, y = 0.0, z = 0.0;
};

LagSums lag_sums(const std::vector<double>& u, std::size_t frames, std::size_t width, std::size_t lag) {
    LagSums s;
    const std::size_t origins = frames - lag;
    for (std::size_t i = 0; i < origins; ++i) {
        const double* from = u.data() + i * width;
        const double* to = u.data() + (i + lag) * width;
        for (std::size_t c = 0; c < width; c += 3) {
            const double dx = to[c] - from[c], dy = to[c + 1] - from[c + 1], dz = to[c + 2] - from[c + 2];
            s.x += dx * dx;
            s.y += dy * dy;
            s.z += dz * dz;
        }
    }
    return s;
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
    const std::size_t last = max_lag == 0 ? frames - 1 : static_cast<std::size_t>(std::min<std::uint64_t>(max_lag, frames - 1));
    const std::size_t lags = last + 1;
    out.time.resize(lags);
    out.total.resize(lags);
    out.x.assign(lags, 0.0);
    out.y.assign(lags, 0.0);
    out.z.assign(lags, 0.0);
    for (std::size_t t = 0; t < lags; ++t) out.time[t] = static_cast<double>(t) * dt;

    const std::vector<double> u = unwrap_group(traj, group);  // on the calling thread
    const std::size_t m = group.size(), width = 3 * m;
    auto evaluate = [&](std::size_t lag) {
        const double count = static_cast<double>(frames - lag) * static_cast<double>(m);
        if (lag == 0 || count == 0) return;
        const LagSums s = lag_sums(u, frames, width, lag);
        out.x[lag] = s.x / count;
        out.y[lag] = s.y / count;
        out.z[lag] = s.z / count;
    };
    // Lag t costs F - t origins: pairing lag t with lag `last` - t gives
    // every task about the same work.
    const std::size_t pairs = (lags + 1) / 2;
    pool::for_range(pairs, [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i) {
            evaluate(i);
            if (last - i != i) evaluate(last - i);
        }
    });
    for (std::size_t t = 0; t < lags; ++t) out.total[t] = out.x[t] + out.y[t] + out.z[t];
    return out;
}

}  // namespace zelt
