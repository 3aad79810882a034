// Radial distribution function between two atom groups over a trajectory of
// periodic frames: minimum-image pair-distance histograms accumulated over
// the frames in parallel, normalised by the ideal-gas pair count at the
// average cell volume.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "core/trajectory.hpp"

namespace zelt {

struct RdfResult {
    std::vector<double> r;  // bin centres, Å
    std::vector<double> g;  // g(r) per bin
};

enum class RdfMethod { cell_list, direct };

// Cell list for orthorhombic cells (off-diagonal entries below 1e-6 in
// magnitude) at least r_max wide along every axis; the direct method, with
// the single nearest image of each pair, for everything else.
RdfMethod choose_rdf_method(const Mat3& cell, double r_max);

// Cells per axis of the cell list: floor(L / r_max) along each axis, reduced
// (never below 1) so that there are at most max(27, 2 · group_b_size) cells
// in all. Every cell stays at least r_max wide, so the neighbour cells still
// hold every pair closer than r_max and the histogram does not change; a
// tiny r_max cannot ask for billions of cells.
std::array<std::size_t, 3> rdf_cell_counts(const Mat3& cell, double r_max, std::size_t group_b_size);

// The summed pair-distance histogram: every ordered pair (a from A, b from
// B, a ≠ b by index) closer than r_max, in bins of r_max / n_bins. By
// default each frame chooses its method with `choose_rdf_method`; `method`
// forces one, except that the cell list is used only for cells that admit
// it. Every index of A and B must be below traj.n_atoms.
std::vector<std::uint64_t> rdf_histogram(const TrajectoryView& traj, std::span<const std::uint64_t> a,
                                         std::span<const std::uint64_t> b, double r_max, std::size_t n_bins,
                                         std::optional<RdfMethod> method = std::nullopt);

// Bin centres and g(r) = histogram / ideal count, the ideal count of bin i
// being (|B| / V) · shell volume_i · |A| · F with V the average |det| of the
// cells. No correction is made for atoms present in both groups.
RdfResult compute_rdf_core(const TrajectoryView& traj, std::span<const std::uint64_t> a,
                           std::span<const std::uint64_t> b, double r_max, std::size_t n_bins);

}  // namespace zelt
