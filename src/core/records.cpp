#include "core/records.hpp"

namespace zelt {

Mat3 invert_cell(const Mat3& m) {
    const double a0 = m[0][0], a1 = m[0][1], a2 = m[0][2];
    const double b0 = m[1][0], b1 = m[1][1], b2 = m[1][2];
    const double c0 = m[2][0], c1 = m[2][1], c2 = m[2][2];
    const double det = c0 * (a1 * b2 - a2 * b1) + c1 * (a2 * b0 - a0 * b2) + c2 * (a0 * b1 - a1 * b0);
    const double r = 1.0 / det;
    Mat3 inv;
    inv[0] = {(b1 * c2 - b2 * c1) * r, (a2 * c1 - a1 * c2) * r, (a1 * b2 - a2 * b1) * r};
    inv[1] = {(b2 * c0 - b0 * c2) * r, (a0 * c2 - a2 * c0) * r, (a2 * b0 - a0 * b2) * r};
    inv[2] = {(b0 * c1 - b1 * c0) * r, (a1 * c0 - a0 * c1) * r, (a0 * b1 - a1 * b0) * r};
    return inv;
}

Mat3 cubic_cell(double edge) {
    Mat3 c{};
    c[0][0] = c[1][1] = c[2][2] = edge;
    return c;
}

System System::from_cell(const Mat3& cell) {
    System s;
    s.set_cell(cell);
    return s;
}

void System::set_cell(const Mat3& new_cell) {
    cell = new_cell;
    inv_cell = invert_cell(new_cell);
}

}  // namespace zelt
