// The torsion term for a block of torsions laid out component by component,
// so that the compiler computes several at once (four with AVX, two
// otherwise). The numbers are torsion_term's, bit for bit.
#pragma once

#include <cstddef>


namespace zelt::forcefield::detail {

struct TorsionBlock {
    static constexpr std::size_t capacity = 32;
    // In: the chain vectors b1 = r_j - r_i, b2 = r_k - r_j, b3 = r_l - r_k
    // and the constants of each torsion (the periodicity as a number).
    double b1[3][capacity], b2[3][capacity], b3[3][capacity];
    double periodicity[capacity], barrier[capacity], phase[capacity];
    // Out: whether the term applies, its energy and the forces on i, j, k, l.
    bool present[capacity];
    double energy[capacity];
    double force[4][3][capacity];
    // Working space: the smaller squared normal of each torsion (the term
    // applies where it is not below 1e-9).
    double smaller[capacity];
};

// Computes the first n (at most capacity) torsions of the block.
void compute_torsion_block(TorsionBlock& b, std::size_t n);

}  // namespace zelt::forcefield::detail
