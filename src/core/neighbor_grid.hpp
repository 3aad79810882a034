// Neighbour search on a grid of bins over the cell, and the plain all-pairs
// search that it replaces. Both return exactly the same list: every pair
// i < j whose minimum-image distance is below the cutoff, ordered by i then
// j, each distance computed by the same function from position i − position j.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "core/geometry.hpp"
#include "core/records.hpp"

namespace zelt::neighbor_grid {

// The bins along each cell axis. Bins are slices of the cell in fractional
// coordinates, at least as thick (measured perpendicular to their faces) as
// the cutoff plus a safety margin for rounding, so every image of an atom
// within the cutoff of another lies in the same or an adjacent bin.
struct Layout {
    std::array<std::size_t, 3> bins{};
};

// The grid for the positions in a cell and a cutoff, or nothing when a grid
// search could miss or repeat pairs: a cell thinner than three bins along
// some axis (a cutoff large against the cell, or a strongly skewed cell), a
// singular cell, non-finite positions; also nothing when the cutoff admits
// no pair (zero or NaN), since then there is nothing to search.
std::optional<Layout> plan(const Mat3& cell, const Mat3& inv_cell, std::span<const Vec3> positions, double cutoff);

// The neighbour list found through the grid, or nothing when `plan` gives no
// grid and the cutoff admits pairs (the caller then tests every pair).
std::optional<std::vector<Neighbor>> search(const Mat3& cell, const Mat3& inv_cell, std::span<const Vec3> positions,
                                            double cutoff);

// The neighbour list by testing every pair i < j.
std::vector<Neighbor> all_pairs(const Mat3& cell, const Mat3& inv_cell, std::span<const Vec3> positions,
                                double cutoff);

// The same for the atoms of a system.
std::optional<Layout> plan(const System& system, double cutoff);
std::optional<std::vector<Neighbor>> search(const System& system, double cutoff);
std::vector<Neighbor> all_pairs(const System& system, double cutoff);

}  // namespace zelt::neighbor_grid
