#include "core/geometry.hpp"

#include <algorithm>
#include <cassert>
#include <cstdint>

#include <fmt/format.h>

#include "core/distance_kernel.hpp"
#include "core/elements.hpp"
#include "core/neighbor_grid.hpp"
#include "core/pool.hpp"

namespace zelt {

namespace {

Vec3 sub(const Vec3& a, const Vec3& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
double dot(const Vec3& a, const Vec3& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
Vec3 cross(const Vec3& a, const Vec3& b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

template <std::size_t K>
Status check_indices(std::span<const std::array<std::uint64_t, K>> indices, std::size_t n_atoms) {
    for (const auto& group : indices)
        for (const std::uint64_t idx : group)
            if (idx >= n_atoms) return fail(fmt::format("Index {} is out of bounds for system with {} atoms", idx, n_atoms));
    return Ok{};
}

}  // namespace

void wrap(System& system) {
    const Mat3& h = system.cell;
    const Mat3& inv = system.inv_cell;
    for (auto& atom : system.atoms) {
        const Vec3& r = atom.position;
        double f[3];
        for (int c = 0; c < 3; ++c) {
            const double s = r[0] * inv[0][c] + r[1] * inv[1][c] + r[2] * inv[2][c];
            f[c] = s - std::trunc(s);
            if (f[c] < 0.0) f[c] += 1.0;
        }
        for (int c = 0; c < 3; ++c) atom.position[c] = f[0] * h[0][c] + f[1] * h[1][c] + f[2] * h[2][c];
    }
}

Status unwrap(System& system) {
    const std::size_t n = system.atoms.size();
    for (const auto& b : system.bonds) {
        for (const std::uint64_t idx : {b.i, b.j})
            if (idx >= n) return fail(fmt::format("Bond index {} is out of bounds for system with {} atoms", idx, n));
    }

    // Adjacency lists in compressed form; each list keeps bond order.
    std::vector<std::size_t> start(n + 1, 0);
    for (const auto& b : system.bonds) {
        ++start[b.i + 1];
        ++start[b.j + 1];
    }
    for (std::size_t a = 0; a < n; ++a) start[a + 1] += start[a];
    std::vector<std::size_t> adjacent(start[n]);
    std::vector<std::size_t> fill(start.begin(), start.end() - 1);
    for (const auto& b : system.bonds) {
        adjacent[fill[b.i]++] = b.j;
        adjacent[fill[b.j]++] = b.i;
    }

    std::vector<char> visited(n, 0);
    std::vector<std::size_t> todo;
    for (std::size_t root = 0; root < n; ++root) {
        if (visited[root]) continue;
        visited[root] = 1;
        todo.push_back(root);
        while (!todo.empty()) {
            const std::size_t c = todo.back();
            todo.pop_back();
            const Vec3 pc = system.atoms[c].position;
            for (std::size_t k = start[c]; k != start[c + 1]; ++k) {
                const std::size_t m = adjacent[k];
                if (visited[m]) continue;
                Vec3& pm = system.atoms[m].position;
                const Vec3 d = minimum_image(system, sub(pm, pc));
                pm = {pc[0] + d[0], pc[1] + d[1], pc[2] + d[2]};
                visited[m] = 1;
                todo.push_back(m);
            }
        }
    }
    return Ok{};
}

Status stack(System& system, const System& other, std::uint64_t axis) {
    if (axis > 2) return fail("Invalid axis");
    // `other` may be `system` itself: everything read from it is fixed first.
    const std::size_t base = system.atoms.size();
    const std::size_t other_atoms = other.atoms.size();
    const std::size_t other_bonds = other.bonds.size();
    const double shift = system.cell[axis][axis];
    const double other_edge = other.cell[axis][axis];

    system.atoms.reserve(base + other_atoms);
    for (std::size_t k = 0; k < other_atoms; ++k) {
        Atom copy = other.atoms[k];
        copy.index = base + copy.index;
        copy.position[axis] += shift;
        system.atoms.push_back(std::move(copy));
    }
    system.bonds.reserve(system.bonds.size() + other_bonds);
    for (std::size_t k = 0; k < other_bonds; ++k) {
        const Bond b = other.bonds[k];
        system.bonds.push_back({base + b.i, base + b.j, b.order});
    }
    Mat3 cell = system.cell;
    cell[axis][axis] = shift + other_edge;
    system.set_cell(cell);
    return Ok{};
}

std::vector<double> get_all_distances(const System& system, bool mic) {
    const std::size_t n = system.atoms.size();
    std::vector<double> out(n * n, 0.0);
    get_all_distances(system, mic, out);
    return out;
}

void get_all_distances(const System& system, bool mic, std::span<double> out) {
    const std::size_t n = system.atoms.size();
    assert(out.size() == n * n);
    if (n == 0) return;

    // Coordinates as three flat arrays so that a row is one streaming loop.
    std::vector<double> xs(n), ys(n), zs(n);
    for (std::size_t a = 0; a < n; ++a) {
        xs[a] = system.atoms[a].position[0];
        ys[a] = system.atoms[a].position[1];
        zs[a] = system.atoms[a].position[2];
    }
    const double* x = xs.data();
    const double* y = ys.data();
    const double* z = zs.data();
    const Mat3 h = system.cell;
    const Mat3 inv = system.inv_cell;
    double* matrix = out.data();

    pool::for_range(n, [&](std::size_t first, std::size_t last) {
        for (std::size_t i = first; i != last; ++i) {
            double* row = matrix + i * n;
            const double xi = x[i], yi = y[i], zi = z[i];
            // Squared lengths first, in a loop without calls, then the roots.
            if (mic) {
                minimum_image_distances_sq(h, inv, Vec3{xi, yi, zi}, x, y, z, n, row);
            } else {
                for (std::size_t j = 0; j < n; ++j) {
                    const double dx = xi - x[j], dy = yi - y[j], dz = zi - z[j];
                    row[j] = dx * dx + dy * dy + dz * dz;
                }
            }
            sqrt_in_place(row, n);
            row[i] = 0.0;
        }
    });
}

std::vector<Neighbor> get_neighbor_list(const Mat3& cell, const Mat3& inv_cell, std::span<const Vec3> positions,
                                        double cutoff) {
    if (auto found = neighbor_grid::search(cell, inv_cell, positions, cutoff)) return std::move(*found);
    return neighbor_grid::all_pairs(cell, inv_cell, positions, cutoff);
}

std::vector<Neighbor> get_neighbor_list(const System& system, double cutoff) {
    std::vector<Vec3> positions(system.atoms.size());
    for (std::size_t k = 0; k < positions.size(); ++k) positions[k] = system.atoms[k].position;
    return get_neighbor_list(system.cell, system.inv_cell, positions, cutoff);
}

Result<std::vector<double>> get_angles(const System& system, std::span<const AngleIndices> indices, bool mic) {
    if (auto ok = check_indices(indices, system.atoms.size()); !ok) return ok.error();
    const auto& atoms = system.atoms;
    return pool::map<double>(indices.size(), [&](std::size_t t) {
        const auto [i, j, k] = indices[t];
        Vec3 u = sub(atoms[i].position, atoms[j].position);
        Vec3 v = sub(atoms[k].position, atoms[j].position);
        if (mic) {
            u = minimum_image(system, u);
            v = minimum_image(system, v);
        }
        // NaN (coincident atoms, 0/0) passes through the clamp unchanged.
        const double c = std::clamp(dot(u, v) / std::sqrt(dot(u, u) * dot(v, v)), -1.0, 1.0);
        return std::acos(c) * degrees_per_radian;
    });
}

Result<std::vector<double>> get_dihedrals(const System& system, std::span<const DihedralIndices> indices, bool mic) {
    if (auto ok = check_indices(indices, system.atoms.size()); !ok) return ok.error();
    const auto& atoms = system.atoms;
    return pool::map<double>(indices.size(), [&](std::size_t t) {
        const auto [i, j, k, l] = indices[t];
        Vec3 b1 = sub(atoms[j].position, atoms[i].position);
        Vec3 b2 = sub(atoms[k].position, atoms[j].position);
        Vec3 b3 = sub(atoms[l].position, atoms[k].position);
        if (mic) {
            b1 = minimum_image(system, b1);
            b2 = minimum_image(system, b2);
            b3 = minimum_image(system, b3);
        }
        const Vec3 p = cross(b1, b2);
        const Vec3 q = cross(b2, b3);
        const Vec3 m = cross(p, b2);
        const double x = dot(p, q);
        const double y = dot(m, q) / std::sqrt(dot(b2, b2));
        return std::atan2(y, x) * degrees_per_radian;
    });
}

double get_volume(const System& system) {
    const Mat3& m = system.cell;
    const double a0 = m[0][0], a1 = m[0][1], a2 = m[0][2];
    const double b0 = m[1][0], b1 = m[1][1], b2 = m[1][2];
    const double c0 = m[2][0], c1 = m[2][1], c2 = m[2][2];
    const double det = c0 * (a1 * b2 - a2 * b1) + c1 * (a2 * b0 - a0 * b2) + c2 * (a0 * b1 - a1 * b0);
    return std::fabs(det);
}

double get_total_mass(const System& system) {
    const auto& atoms = system.atoms;
    return pool::reduce(
        atoms.size(), -0.0,
        [&](std::size_t first, std::size_t last, double& sum) {
            for (std::size_t a = first; a != last; ++a) sum += atomic_mass(atoms[a].element);
        },
        [](double left, double right) { return left + right; });
}

double get_density(const System& system) {
    const double volume = get_volume(system);
    if (volume < min_density_volume) return 0.0;
    return get_total_mass(system) / (volume * density_factor);
}

Vec3 get_center_of_mass(const System& system) {
    using Sums = std::array<double, 4>;  // Σ m·x, Σ m·y, Σ m·z, Σ m
    const auto& atoms = system.atoms;
    const Sums total = pool::reduce(
        atoms.size(), Sums{0.0, 0.0, 0.0, 0.0},
        [&](std::size_t first, std::size_t last, Sums& acc) {
            for (std::size_t a = first; a != last; ++a) {
                const double m = atomic_mass(atoms[a].element);
                const Vec3& r = atoms[a].position;
                acc[0] += m * r[0];
                acc[1] += m * r[1];
                acc[2] += m * r[2];
                acc[3] += m;
            }
        },
        [](Sums left, const Sums& right) {
            for (int c = 0; c < 4; ++c) left[c] += right[c];
            return left;
        });
    if (!(total[3] > 0.0)) return {0.0, 0.0, 0.0};
    return {total[0] / total[3], total[1] / total[3], total[2] / total[3]};
}

}  // namespace zelt
