// Packed minimum-image distance loops: the arithmetic of `minimum_image` on
// several displacements at once, with the same values to the last bit. Used
// by the distance matrix and the neighbour searches.
#pragma once

#include <cstddef>

#include "core/records.hpp"

namespace zelt {

// out[k] = squared length of the minimum image of p − (x[k], y[k], z[k]) for
// k < n: the value of `minimum_image_distance_sq` (geometry.hpp) for each.
void minimum_image_distances_sq(const Mat3& cell, const Mat3& inv_cell, const Vec3& p, const double* x,
                                const double* y, const double* z, std::size_t n, double* out);

// v[k] = sqrt(v[k]) for k < n, correctly rounded like std::sqrt.
void sqrt_in_place(double* v, std::size_t n);

namespace distance_kernel_detail {
// The build for the baseline instruction set, whatever the processor offers
// (the public functions pick the fastest build the processor runs).
void minimum_image_distances_sq_baseline(const Mat3& cell, const Mat3& inv_cell, const Vec3& p, const double* x,
                                         const double* y, const double* z, std::size_t n, double* out);
void sqrt_in_place_baseline(double* v, std::size_t n);
}  // namespace distance_kernel_detail

}  // namespace zelt
