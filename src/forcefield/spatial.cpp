#include "forcefield/spatial.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace zelt::forcefield {

namespace {

// Float to unsigned with saturation: negative and not-a-number give 0.
std::uint64_t saturating_u64(double x) {
    if (!(x > 0.0)) return 0;
    if (x >= 18446744073709551616.0) return std::numeric_limits<std::uint64_t>::max();
    return static_cast<std::uint64_t>(x);
}

// Float to signed 32-bit by truncation with saturation; not-a-number gives 0.
std::int64_t saturating_i32(double x) {
    if (std::isnan(x)) return 0;
    if (x >= 2147483647.0) return 2147483647;
    if (x <= -2147483648.0) return -2147483648LL;
    return static_cast<std::int64_t>(x);
}

}  // namespace

CellList CellList::build(std::span<const Vec3> positions, const UnitCell& cell, double cutoff) {
    Vec3 lo{0, 0, 0}, hi{0, 0, 0};
    if (std::holds_alternative<NonPeriodic>(cell.cell_type)) {
        if (!positions.empty()) lo = hi = positions[0];
        for (const Vec3& p : positions)
            for (int k = 0; k < 3; ++k) {
                lo[k] = std::min(lo[k], p[k]);
                hi[k] = std::max(hi[k], p[k]);
            }
    } else if (const auto* box = std::get_if<Orthorhombic>(&cell.cell_type)) {
        hi = box->lengths;
    } else {
        const Vec3 a = cell.h.column(0), b = cell.h.column(1), c = cell.h.column(2);
        const Vec3 zero{0, 0, 0};
        const std::array<Vec3, 8> corners{zero, a, b, c, a + b, a + c, b + c, a + b + c};
        lo = hi = zero;
        for (const Vec3& p : corners)
            for (int k = 0; k < 3; ++k) {
                lo[k] = std::min(lo[k], p[k]);
                hi[k] = std::max(hi[k], p[k]);
            }
    }

    CellList out;
    std::array<std::uint64_t, 3> n{};
    for (int k = 0; k < 3; ++k) {
        const double extent = hi[k] - lo[k];
        const std::uint64_t up = saturating_u64(std::ceil(extent / cutoff));
        n[k] = std::clamp<std::uint64_t>(up, 0, max_cells_per_axis - 1) + 1;
        out.cell_size[k] = extent / static_cast<double>(n[k]);
    }
    out.nx = n[0];
    out.ny = n[1];
    out.nz = n[2];
    out.origin = lo;
    out.cells.assign(n[0] * n[1] * n[2], {});
    for (std::size_t a = 0; a < positions.size(); ++a) {
        std::array<std::uint64_t, 3> idx{};
        for (int k = 0; k < 3; ++k)
            idx[k] = std::min(saturating_u64((positions[a][k] - lo[k]) / out.cell_size[k]), n[k] - 1);
        out.cells[(idx[0] * n[1] + idx[1]) * n[2] + idx[2]].push_back(a);
    }
    return out;
}

std::vector<std::uint64_t> get_cell_neighbors(const CellList& list, const Vec3& position) {
    std::vector<std::uint64_t> out;
    std::array<std::int64_t, 3> idx{};
    for (int k = 0; k < 3; ++k) idx[k] = saturating_i32((position[k] - list.origin[k]) / list.cell_size[k]);
    for (int dx = -1; dx <= 1; ++dx)
        for (int dy = -1; dy <= 1; ++dy)
            for (int dz = -1; dz <= 1; ++dz) {
                const std::int64_t x = idx[0] + dx, y = idx[1] + dy, z = idx[2] + dz;
                if (x < 0 || y < 0 || z < 0) continue;
                if (x >= static_cast<std::int64_t>(list.nx) || y >= static_cast<std::int64_t>(list.ny) ||
                    z >= static_cast<std::int64_t>(list.nz))
                    continue;
                const auto& c = list.cells[(x * list.ny + y) * list.nz + z];
                out.insert(out.end(), c.begin(), c.end());
            }
    return out;
}

}  // namespace zelt::forcefield
