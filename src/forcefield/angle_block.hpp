// The angle term for a block of angles laid out component by component, so
// that the compiler computes several at once (four with AVX, two
// otherwise); only the arc cosine is taken one angle at a time. The numbers
// are angle_term's, bit for bit.
#pragma once

#include <cstddef>

namespace zelt::forcefield::detail {

struct AngleBlock {
    static constexpr std::size_t capacity = 32;
    // In: the arms a = r_a - r_c and b = r_b - r_c, the natural angle and the
    // force constant of each angle.
    double a[3][capacity], b[3][capacity];
    double theta0[capacity], k[capacity];
    // Out: whether the term applies, its energy and the forces on a, c, b.
    bool present[capacity];
    double energy[capacity];
    double force[3][3][capacity];
    // Working space: the arm lengths and the shorter of them (the term
    // applies where it is not below 1e-6), the clamped cosine and the angle.
    double la[capacity], lb[capacity], shorter[capacity], cosine[capacity], theta[capacity];
};

// Computes the first n (at most capacity) angles of the block.
void compute_angle_block(AngleBlock& b, std::size_t n);

}  // namespace zelt::forcefield::detail
