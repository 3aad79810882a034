// The engine's periodic cell and its minimum-image rule.
#pragma once

#include <array>
#include <variant>

#include "forcefield/vec3.hpp"

namespace zelt::forcefield {

// A 3 × 3 matrix stored as nine numbers a_x, a_y, a_z, b_x, b_y, b_z, c_x,
// c_y, c_z: for a cell matrix the lattice vectors a, b, c are its columns,
// so r = H · s turns fractional coordinates s into Cartesian r. This is the
// same sequence as the core cell's rows a, b, c read one after the other.
struct Matrix3 {
    std::array<double, 9> m{};

    double at(int row, int col) const { return m[col * 3 + row]; }
    double& at(int row, int col) { return m[col * 3 + row]; }
    Vec3 column(int col) const { return {m[col * 3], m[col * 3 + 1], m[col * 3 + 2]}; }
    Vec3 row(int r) const { return {m[r], m[3 + r], m[6 + r]}; }

    Vec3 operator*(const Vec3& v) const {
        return {m[0] * v[0] + m[3] * v[1] + m[6] * v[2], m[1] * v[0] + m[4] * v[1] + m[7] * v[2],
                m[2] * v[0] + m[5] * v[1] + m[8] * v[2]};
    }

    static Matrix3 identity() { return {{1, 0, 0, 0, 1, 0, 0, 0, 1}}; }
    bool operator==(const Matrix3&) const = default;
};

// Cofactors over the determinant (its reciprocal computed once). A singular
// matrix gives non-finite entries.
Matrix3 inverse(const Matrix3& h);

struct NonPeriodic {};
// Box spanning 0 … length on each axis.
struct Orthorhombic {
    Vec3 lengths;
};
struct Triclinic {
    Matrix3 matrix;
};
using CellType = std::variant<NonPeriodic, Orthorhombic, Triclinic>;

struct UnitCell {
    CellType cell_type = NonPeriodic{};
    Matrix3 h = Matrix3::identity();
    Matrix3 h_inv = Matrix3::identity();

    static UnitCell non_periodic() { return {}; }
    static UnitCell new_triclinic(const Matrix3& matrix);
    static UnitCell new_orthorhombic(const Vec3& lengths);

    bool periodic() const { return !std::holds_alternative<NonPeriodic>(cell_type); }

    // p1 - p2 reduced by the minimum-image rule of the cell: unchanged without
    // periodicity; one shift by a box length per axis in an orthorhombic box;
    // in a triclinic cell the fractional components rounded to the nearest
    // integer (halves away from zero) and subtracted.
    Vec3 distance_vector(const Vec3& p1, const Vec3& p2) const;
};

}  // namespace zelt::forcefield
