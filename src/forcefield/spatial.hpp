// Spatial binning of atom positions into a grid of cells.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "forcefield/cell.hpp"

namespace zelt::forcefield {

// Upper bound on the cells along one axis of any grid, so that widely spread
// atoms or a tiny cutoff never ask for an unbounded number of cells.
inline constexpr std::uint64_t max_cells_per_axis = 64;

// Atoms binned into cells of the region that the positions occupy (no
// periodicity) or that the cell spans. The cell (ix, iy, iz) is entry
// (ix · ny + iy) · nz + iz; atom indices within a cell are increasing.
struct CellList {
    std::vector<std::vector<std::uint64_t>> cells;
    std::uint64_t nx = 0, ny = 0, nz = 0;
    Vec3 cell_size{0, 0, 0};
    Vec3 origin{0, 0, 0};

    // Per axis: extent / cutoff rounded up, plus one (capped at
    // `max_cells_per_axis`, at least 1), cells of equal edge. Positions
    // outside the region land in the nearest edge cell.
    static CellList build(std::span<const Vec3> positions, const UnitCell& cell, double cutoff);

    std::uint64_t count(int axis) const { return axis == 0 ? nx : axis == 1 ? ny : nz; }
};

// The atoms of the cell that holds `position` and of the cells index-adjacent
// to it (dx outermost, dz innermost), without wrapping across the faces of a
// periodic cell. This query reaches only partners in the 27 nearest cells;
// force evaluation takes its pairs from `PairGrid`, which reaches every pair
// within the cutoff.
std::vector<std::uint64_t> get_cell_neighbors(const CellList& list, const Vec3& position);

}  // namespace zelt::forcefield
