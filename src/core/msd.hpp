// Mean squared displacement of one atom group as a function of the time
// lag, averaged over every time origin and every group entry, per Cartesian
// axis and in total, after unwrapping the group across the periodic
// boundaries.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "core/trajectory.hpp"

namespace zelt {

// Five lists of L + 1 values, lags 0 .. L.
struct MsdResult {
    std::vector<double> time;   // lag × dt
    std::vector<double> total;  // x + y + z
    std::vector<double> x, y, z;
};

// The group's trajectory made continuous: F rows of 3M values (x, y, z of
// each group entry in group order). Row 0 is frame 0 as given; every later
// coordinate is moved by the whole number of box lengths (the diagonal entry
// of the previous frame's cell for that axis) that brings it within half a
// box length of the previous unwrapped value. Exactly half a box length
// away is left as it is.
std::vector<double> unwrap_group(const TrajectoryView& traj, std::span<const std::uint64_t> group);

// max_lag 0 means every lag up to F - 1; larger values are cut to F - 1.
// Every index of the group must be below traj.n_atoms; with no frames the
// result is empty. Unwrapping runs on the calling thread, the lags in
// parallel, each lag summed in origin order then group order.
MsdResult compute_msd_core(const TrajectoryView& traj, std::span<const std::uint64_t> group, std::uint64_t max_lag,
                           double dt);

}  // namespace zelt
