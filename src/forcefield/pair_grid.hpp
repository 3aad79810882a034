// The candidate search of the non-bonded term: a grid of cells from which
// every pair of atoms whose minimum-image distance is below the cutoff is
// reached exactly once, across the faces of a periodic cell included.
//
// Periodic cells are binned in fractional coordinates wrapped into [0, 1):
// along lattice direction k the bins are at least cutoff / reach wide in
// units of the cell's width perpendicular to the other two vectors, so a
// pair within the cutoff lies at most `reach` bins apart (counted around the
// periodic wrap). Without periodicity the bounding box of the positions is
// binned with edges of at least cutoff / reach. The number of cells is
// capped; capping only widens cells, so no pair is lost.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "forcefield/atom.hpp"
#include "forcefield/cell.hpp"

namespace zelt::forcefield {

class PairGrid {
public:
    // Neighbouring bins searched on each side along every axis.
    static constexpr int reach = 2;
    // Caps: cells along one axis, and cells in all per binned atom (with a floor).
    static constexpr std::uint64_t max_per_axis = 1024;
    static constexpr std::uint64_t min_total_cap = 64;
    static constexpr std::uint64_t cells_per_atom = 2;

    // Bins the atoms listed in `members` (increasing indices). `cutoff` is
    // taken by magnitude; a zero or non-finite cutoff gives a single cell.
    void build(std::span<const Atom> atoms, std::span<const std::uint32_t> members, const UnitCell& cell,
               double cutoff);

    std::size_t size() const { return atom_.size(); }
    std::array<std::uint64_t, 3> counts() const { return n_; }
    std::uint64_t cell_count() const { return n_[0] * n_[1] * n_[2]; }

    // Per binned slot, in cell order (within a cell by increasing atom index):
    // the atom index and the coordinates used for binning (wrapped fractional
    // coordinates of a periodic cell, else Cartesian positions).
    std::span<const std::uint32_t> atom() const { return atom_; }
    std::span<const double> coord(int axis) const { return coord_[axis]; }

    // Calls f(begin, end) for the slot ranges of the cells within reach of
    // slot `s`, each cell once, restricted to slots after `s`. Every pair
    // within the cutoff is thus reached from its first slot only.
    template <class F>
    void for_each_later_range(std::size_t s, F&& f) const {
        const std::uint64_t c = cell_of_slot_[s];
        const std::uint64_t bx = c / (n_[1] * n_[2]), by = (c / n_[2]) % n_[1], bz = c % n_[2];
        const auto xs = bins(0, bx), ys = bins(1, by);
        const auto zr = z_runs(bz);
        for (std::size_t ix = 0; ix < xs.count; ++ix)
            for (std::size_t iy = 0; iy < ys.count; ++iy) {
                const std::uint64_t base = (xs.bin[ix] * n_[1] + ys.bin[iy]) * n_[2];
                for (std::size_t r = 0; r < zr.count; ++r) {
                    std::size_t b = start_[base + zr.first[r]];
                    const std::size_t e = start_[base + zr.last[r] + 1];
                    if (b <= s) b = s + 1;
                    if (b < e) f(b, e);
                }
            }
    }

private:
    struct Bins {
        std::array<std::uint64_t, 2 * reach + 1> bin;
        std::size_t count;
    };
    struct Runs {
        std::array<std::uint64_t, 2> first, last;
        std::size_t count;
    };

    Bins bins(int axis, std::uint64_t b) const;
    Runs z_runs(std::uint64_t bz) const;

    bool periodic_ = false;
    std::array<std::uint64_t, 3> n_{1, 1, 1};
    std::vector<std::size_t> start_;  // cell_count() + 1 slot offsets
    std::vector<std::uint64_t> cell_of_slot_;
    std::vector<std::uint32_t> atom_;
    std::array<std::vector<double>, 3> coord_;
    std::vector<std::uint64_t> cell_of_member_;  // scratch
    std::array<std::vector<double>, 3> raw_;     // scratch
    std::vector<std::size_t> fill_;              // scratch
};

}  // namespace zelt::forcefield
