// The VSEPR constraint optimizer: a fixed number of damped steps along the
// sum of five geometric restoring terms, turning rough coordinates into a
// chemically sensible shape before a force field takes over. Deterministic,
// on the calling thread.
#pragma once

#include <cstdint>
#include <vector>

#include "core/records.hpp"

namespace zelt {

struct VseprOptimizer {
    std::uint64_t iterations = 1500;
    double step = 0.15;  // base step; iteration `it` moves by step * exp(-3 it / iterations) * force

    // Rewrites the position of every atom and nothing else. Bonds naming an
    // atom out of range take part in no term.
    void optimize(std::vector<Atom>& atoms, const std::vector<Bond>& bonds) const;
};

}  // namespace zelt
