// Owns the arrays behind a TrajectoryView, for the analysis tests.
#pragma once

#include <cstddef>
#include <vector>

#include "core/trajectory.hpp"

namespace zelt::testing_support {

struct Traj {
    std::vector<double> positions;
    std::vector<double> cells;
    std::size_t frames = 0, atoms = 0;

    TrajectoryView view() const { return {positions, cells, frames, atoms}; }
};

}  // namespace zelt::testing_support
