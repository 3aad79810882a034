// A read-only view of a trajectory as the analyses take it: flat arrays of
// positions (frame, atom, xyz) and cells (frame, 3 × 3 row-major, one
// lattice vector per row), owned by the caller.
#pragma once

#include <cstddef>
#include <span>

#include "core/records.hpp"

namespace zelt {

struct TrajectoryView {
    std::span<const double> positions;  // n_frames × n_atoms × 3
    std::span<const double> cells;      // at least n_frames × 9
    std::size_t n_frames = 0;
    std::size_t n_atoms = 0;

    const double* frame(std::size_t f) const { return positions.data() + f * n_atoms * 3; }
    const double* atom(std::size_t f, std::size_t i) const { return frame(f) + i * 3; }

    Mat3 cell(std::size_t f) const {
        Mat3 h{};
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c) h[r][c] = cells[f * 9 + r * 3 + c];
        return h;
    }
};

}  // namespace zelt
