// The selection engine: turns a short text query ("element O", "resname SOL
// and not type 2", "index 0 to 99", "element O with element H") into lists of
// atom indices over a flat list of per-atom descriptions.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/result.hpp"

namespace zelt {

struct AtomInfo {
    std::string element;
    std::string resname;
    std::uint64_t index = 0;    // reported for this atom when it is selected
    std::uint64_t type_id = 0;  // numeric atom type
};

// Atom indices (as reported by AtomInfo::index, or the numbers of an index
// query), in selection order; may hold repeats and numbers matching no atom.
using Selection = std::vector<std::uint64_t>;

class SelectionEngine {
public:
    explicit SelectionEngine(std::vector<AtomInfo> atoms) : atoms_(std::move(atoms)) {}

    // One query: element, resname/residue, type and index tests, "not",
    // conjunction with " and ". A query that matches nothing gives an empty
    // selection, not a failure.
    Result<Selection> select(std::string_view query) const;

    // Two queries joined by " with ", " - " or "-" (first form found wins);
    // without a separator both groups are the selection of the whole query.
    Result<std::pair<Selection, Selection>> select_pair(std::string_view query) const;

    const std::vector<AtomInfo>& atoms() const { return atoms_; }

private:
    template <class Pred>
    Selection matching(Pred&& pred) const;

    std::vector<AtomInfo> atoms_;
};

}  // namespace zelt
