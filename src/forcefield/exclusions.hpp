// Bonded neighbour lists and the exclusion rule of the non-bonded term.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "forcefield/atom.hpp"

namespace zelt::forcefield {

// One list of bonded partners per atom, flat: walking the bonds in order,
// each bond appends its second atom to the first atom's list and its first
// atom to the second atom's list (a duplicated bond gives duplicated entries).
class NeighbourLists {
public:
    NeighbourLists() = default;
    // The bond indices must be below `atom_count` (checked where systems are built).
    NeighbourLists(std::size_t atom_count, std::span<const Bond> bonds);

    std::size_t size() const { return start_.empty() ? 0 : start_.size() - 1; }
    std::span<const std::uint32_t> operator[](std::size_t i) const {
        return {entries_.data() + start_[i], entries_.data() + start_[i + 1]};
    }

private:
    std::vector<std::size_t> start_;
    std::vector<std::uint32_t> entries_;
};

struct Exclusion {
    bool excluded;
    double scale;
};

// The rule, tested in this order for i < j: i without partners: scale 1;
// 1-2 or 1-3 pair: excluded; 1-4 pair: scale 0.5; otherwise scale 1.
Exclusion get_exclusion_scale(std::size_t i, std::size_t j, const NeighbourLists& lists);

// The same rule tabulated once per system: for every atom, the sorted partners
// that the rule excludes or scales. Pairs absent from an atom's row have scale 1.
class ExclusionTable {
public:
    struct Entry {
        std::uint32_t partner;
        float scale;  // 0 excluded, 0.5 scaled
    };

    ExclusionTable() = default;
    explicit ExclusionTable(const NeighbourLists& lists);

    std::span<const Entry> row(std::size_t i) const {
        return {entries_.data() + start_[i], entries_.data() + start_[i + 1]};
    }

    // The scale of pair (i, j); 0 means excluded.
    double scale(std::size_t i, std::size_t j) const {
        for (const Entry& e : row(i))
            if (e.partner == j) return e.scale;
        return 1.0;
    }

private:
    std::vector<std::size_t> start_;
    std::vector<Entry> entries_;
};

}  // namespace zelt::forcefield
