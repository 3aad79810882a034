#include "forcefield/pair_grid.hpp"

#include <algorithm>
#include <cmath>

namespace zelt::forcefield {

namespace {

// Bins along one axis for a region `width` wide in units of the cutoff, at
// least 1; non-finite values give 1.
std::uint64_t bins_for(double width, double cutoff) {
    // The margin keeps a pair at exactly the cutoff from landing one bin too
    // far through rounding.
    const double n = std::floor(PairGrid::reach * width / (cutoff * (1.0 + 1e-9)));
    if (!(n >= 1.0)) return 1;
    return n >= static_cast<double>(PairGrid::max_per_axis) ? PairGrid::max_per_axis : static_cast<std::uint64_t>(n);
}

std::uint64_t bin_of(double x, std::uint64_t n) {
    const double b = x * static_cast<double>(n);
    if (!(b > 0.0)) return 0;
    return std::min(static_cast<std::uint64_t>(std::min(b, 1e18)), n - 1);
}

}  // namespace

void PairGrid::build(std::span<const Atom> atoms, std::span<const std::uint32_t> members, const UnitCell& cell,
                     double cutoff) {
    cutoff = std::fabs(cutoff);
    const std::size_t m = members.size();
    periodic_ = cell.periodic();
    for (auto& v : coord_) v.resize(m);
    atom_.resize(m);
    cell_of_slot_.resize(m);
    cell_of_member_.resize(m);

    // Coordinates used for binning, in member order (reordered into slots below).
    for (auto& v : raw_) v.resize(m);
    Vec3 lo{INFINITY, INFINITY, INFINITY}, hi{-INFINITY, -INFINITY, -INFINITY};
    for (std::size_t a = 0; a < m; ++a) {
        const Vec3& p = atoms[members[a]].position;
        if (periodic_) {
            const Vec3 s = cell.h_inv * p;
            for (int k = 0; k < 3; ++k) {
                double u = s[k] - std::floor(s[k]);
                if (!(u >= 0.0 && u < 1.0)) u = 0.0;  // 1.0 from rounding, or not a number
                raw_[k][a] = u;
            }
        } else {
            for (int k = 0; k < 3; ++k) {
                raw_[k][a] = p[k];
                if (!std::isfinite(p[k])) continue;
                lo[k] = std::min(lo[k], p[k]);
                hi[k] = std::max(hi[k], p[k]);
            }
        }
    }

    // Bins per axis, then the cap on the total: halve the largest count.
    const bool usable = cutoff > 0.0 && std::isfinite(cutoff);
    for (int k = 0; k < 3; ++k) {
        double width;
        if (periodic_)
            width = 1.0 / norm(cell.h_inv.row(k));
        else
            width = hi[k] - lo[k];
        n_[k] = usable ? bins_for(width, cutoff) : 1;
    }
    const std::uint64_t total_cap = std::max<std::uint64_t>(min_total_cap, cells_per_atom * m);
    while (n_[0] * n_[1] * n_[2] > total_cap) {
        auto& largest = *std::max_element(n_.begin(), n_.end());
        largest = std::max<std::uint64_t>(1, largest / 2);
    }

    // Cell of every member, then a counting sort into slots (stable, so slots
    // within a cell keep increasing atom indices).
    const std::uint64_t cells = n_[0] * n_[1] * n_[2];
    start_.assign(cells + 1, 0);
    for (std::size_t a = 0; a < m; ++a) {
        std::array<std::uint64_t, 3> b{};
        for (int k = 0; k < 3; ++k) {
            if (n_[k] == 1) continue;
            const double x = periodic_ ? raw_[k][a] : (raw_[k][a] - lo[k]) / (hi[k] - lo[k]);
            b[k] = bin_of(x, n_[k]);
        }
        const std::uint64_t c = (b[0] * n_[1] + b[1]) * n_[2] + b[2];
        cell_of_member_[a] = c;
        ++start_[c + 1];
    }
    for (std::uint64_t c = 0; c < cells; ++c) start_[c + 1] += start_[c];
    fill_.assign(start_.begin(), start_.end() - 1);
    for (std::size_t a = 0; a < m; ++a) {
        const std::uint64_t c = cell_of_member_[a];
        const std::size_t s = fill_[c]++;
        atom_[s] = members[a];
        cell_of_slot_[s] = c;
        for (int k = 0; k < 3; ++k) coord_[k][s] = raw_[k][a];
    }
}

PairGrid::Bins PairGrid::bins(int axis, std::uint64_t b) const {
    Bins out{};
    const std::uint64_t n = n_[axis];
    if (periodic_ && n <= 2 * reach + 1) {
        for (std::uint64_t k = 0; k < n; ++k) out.bin[out.count++] = k;
        return out;
    }
    for (int o = -reach; o <= reach; ++o) {
        const std::int64_t x = static_cast<std::int64_t>(b) + o;
        if (periodic_)
            out.bin[out.count++] = static_cast<std::uint64_t>((x + static_cast<std::int64_t>(n)) % static_cast<std::int64_t>(n));
        else if (x >= 0 && x < static_cast<std::int64_t>(n))
            out.bin[out.count++] = static_cast<std::uint64_t>(x);
    }
    return out;
}

PairGrid::Runs PairGrid::z_runs(std::uint64_t bz) const {
    Runs out{};
    const std::int64_t n = static_cast<std::int64_t>(n_[2]);
    const std::int64_t lo = static_cast<std::int64_t>(bz) - reach, hi = static_cast<std::int64_t>(bz) + reach;
    if (periodic_ && n <= 2 * reach + 1) {
        out.first[0] = 0;
        out.last[0] = static_cast<std::uint64_t>(n - 1);
        out.count = 1;
    } else if (!periodic_) {
        out.first[0] = static_cast<std::uint64_t>(std::max<std::int64_t>(lo, 0));
        out.last[0] = static_cast<std::uint64_t>(std::min<std::int64_t>(hi, n - 1));
        out.count = 1;
    } else if (lo < 0) {
        out.first[0] = 0;
        out.last[0] = static_cast<std::uint64_t>(hi);
        out.first[1] = static_cast<std::uint64_t>(n + lo);
        out.last[1] = static_cast<std::uint64_t>(n - 1);
        out.count = 2;
    } else if (hi >= n) {
        out.first[0] = static_cast<std::uint64_t>(lo);
        out.last[0] = static_cast<std::uint64_t>(n - 1);
        out.first[1] = 0;
        out.last[1] = static_cast<std::uint64_t>(hi - n);
        out.count = 2;
    } else {
        out.first[0] = static_cast<std::uint64_t>(lo);
        out.last[0] = static_cast<std::uint64_t>(hi);
        out.count = 1;
    }
    return out;
}

}  // namespace zelt::forcefield
