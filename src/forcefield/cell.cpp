#include "forcefield/cell.hpp"

#include <cmath>

namespace zelt::forcefield {

Matrix3 inverse(const Matrix3& h) {
    const auto a = [&](int r, int c) { return h.at(r, c); };
    Matrix3 cof;
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            const int r1 = (r + 1) % 3, r2 = (r + 2) % 3, c1 = (c + 1) % 3, c2 = (c + 2) % 3;
            cof.at(r, c) = a(r1, c1) * a(r2, c2) - a(r1, c2) * a(r2, c1);
        }
    }
    const double det = a(0, 0) * cof.at(0, 0) + a(0, 1) * cof.at(0, 1) + a(0, 2) * cof.at(0, 2);
    const double inv_det = 1.0 / det;
    Matrix3 out;
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) out.at(r, c) = cof.at(c, r) * inv_det;  // adjugate = transposed cofactors
    return out;
}

UnitCell UnitCell::new_triclinic(const Matrix3& matrix) {
    UnitCell cell;
    cell.cell_type = Triclinic{matrix};
    cell.h = matrix;
    cell.h_inv = inverse(matrix);
    return cell;
}

UnitCell UnitCell::new_orthorhombic(const Vec3& lengths) {
    UnitCell cell;
    cell.cell_type = Orthorhombic{lengths};
    cell.h = Matrix3{{lengths[0], 0, 0, 0, lengths[1], 0, 0, 0, lengths[2]}};
    cell.h_inv = inverse(cell.h);
    return cell;
}

Vec3 UnitCell::distance_vector(const Vec3& p1, const Vec3& p2) const {
    Vec3 d = p1 - p2;
    if (const auto* box = std::get_if<Orthorhombic>(&cell_type)) {
        for (int k = 0; k < 3; ++k) {
            const double len = box->lengths[k];
            if (d[k] > 0.5 * len)
                d[k] -= len;
            else if (d[k] < -0.5 * len)
                d[k] += len;
        }
    } else if (std::holds_alternative<Triclinic>(cell_type)) {
        Vec3 s = h_inv * d;
        for (double& x : s) x -= std::round(x);
        d = h * s;
    }
    return d;
}

}  // namespace zelt::forcefield
