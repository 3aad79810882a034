// The non-bonded term over the listed pairs of a small system without
// periodicity (see Topology::listed_pairs), a block of pairs at a time: the
// pairs within the cutoff are gathered, their Lennard-Jones terms computed
// several at once where the processor allows, and the forces scattered.
// The numbers are those of lj_factor, bit for bit, on every path.
#pragma once

#include <cstddef>

#include "forcefield/system.hpp"

namespace zelt::forcefield::detail {

// lj_factor of n pairs, each within the cutoff and farther than 1e-3 Å
// apart: squared distance r2[k] and well (x[k], d[k]) in; energy[k] and
// factor[k] out. `cutoff` is the cutoff's magnitude.
void lj_block(std::size_t n, const double* r2, const double* x, const double* d, double cutoff, double* energy,
              double* factor);

// The same kernel without vector instructions (the reference of the tests).
void lj_block_scalar(std::size_t n, const double* r2, const double* x, const double* d, double cutoff,
                     double* energy, double* factor);

// Adds the listed pairs' forces into `f` (three numbers per atom) and
// returns their energy: the same pairs and terms as the grid's loop.
double listed_pair_range(const System& s, double cutoff, double* f);

}  // namespace zelt::forcefield::detail
