#include "forcefield/exclusions.hpp"

#include <algorithm>

namespace zelt::forcefield {

NeighbourLists::NeighbourLists(std::size_t atom_count, std::span<const Bond> bonds) : start_(atom_count + 1, 0) {
    for (const Bond& b : bonds) {
        ++start_[b.i + 1];
        ++start_[b.j + 1];
    }
    for (std::size_t k = 0; k < atom_count; ++k) start_[k + 1] += start_[k];
    entries_.resize(start_[atom_count]);
    std::vector<std::size_t> fill(start_.begin(), start_.end() - 1);
    for (const Bond& b : bonds) {
        entries_[fill[b.i]++] = static_cast<std::uint32_t>(b.j);
        entries_[fill[b.j]++] = static_cast<std::uint32_t>(b.i);
    }
}

namespace {
bool contains(std::span<const std::uint32_t> list, std::size_t j) {
    return std::find(list.begin(), list.end(), j) != list.end();
}
}  // namespace

Exclusion get_exclusion_scale(std::size_t i, std::size_t j, const NeighbourLists& lists) {
    const auto li = lists[i];
    if (li.empty()) return {false, 1.0};
    if (contains(li, j)) return {true, 0.0};
    for (const auto k : li)
        if (contains(lists[k], j)) return {true, 0.0};
    for (const auto k : li)
        for (const auto m : lists[k])
            if (contains(lists[m], j)) return {false, 0.5};
    return {false, 1.0};
}

ExclusionTable::ExclusionTable(const NeighbourLists& lists) : start_(lists.size() + 1, 0) {
    // seen[n] == i + 1 while atom n already has an entry in row i.
    std::vector<std::size_t> seen(lists.size(), 0);
    std::vector<Entry> row;
    for (std::size_t i = 0; i < lists.size(); ++i) {
        row.clear();
        seen[i] = i + 1;  // never a partner of itself
        const auto add = [&](std::uint32_t n, float scale) {
            if (seen[n] == i + 1) return;
            seen[n] = i + 1;
            row.push_back({n, scale});
        };
        // Excluded partners (1-2 and 1-3) first, so that a pair that is also
        // 1-4 (small rings) stays excluded.
        for (const auto k : lists[i]) {
            add(k, 0.0f);
            for (const auto m : lists[k]) add(m, 0.0f);
        }
        for (const auto k : lists[i])
            for (const auto m : lists[k])
                for (const auto n : lists[m]) add(n, 0.5f);
        std::sort(row.begin(), row.end(), [](const Entry& a, const Entry& b) { return a.partner < b.partner; });
        entries_.insert(entries_.end(), row.begin(), row.end());
        start_[i + 1] = entries_.size();
    }
}

}  // namespace zelt::forcefield
