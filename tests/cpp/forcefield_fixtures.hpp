// Small engine systems shared by the force-field tests.
#pragma once

#include <cmath>
#include <random>
#include <vector>

#include "forcefield/atom.hpp"
#include "forcefield/cell.hpp"
#include "forcefield/system.hpp"

namespace fixtures {

using namespace zelt::forcefield;

struct Molecule {
    std::vector<Atom> atoms;
    std::vector<Bond> bonds;

    std::size_t add(std::uint64_t z, Vec3 p) {
        atoms.push_back(Atom::make(z, p));
        return atoms.size() - 1;
    }
    void bond(std::size_t i, std::size_t j, float order = 1.0f) { bonds.push_back({i, j, order}); }

    System system(const UnitCell& cell = UnitCell::non_periodic()) const {
        auto s = System::create(atoms, bonds, cell);
        if (!s) throw std::runtime_error(s.error().message);
        return std::move(s).value();
    }
};

inline Matrix3 cubic(double edge) { return Matrix3{{edge, 0, 0, 0, edge, 0, 0, 0, edge}}; }

// A uniformly random rotation (from a random unit quaternion).
inline std::array<Vec3, 3> random_rotation(std::mt19937_64& rng) {
    std::normal_distribution<double> g;
    double q[4] = {g(rng), g(rng), g(rng), g(rng)};
    const double n = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
    for (double& x : q) x /= n;
    const double w = q[0], x = q[1], y = q[2], z = q[3];
    return {{{1 - 2 * (y * y + z * z), 2 * (x * y - z * w), 2 * (x * z + y * w)},
             {2 * (x * y + z * w), 1 - 2 * (x * x + z * z), 2 * (y * z - x * w)},
             {2 * (x * z - y * w), 2 * (y * z + x * w), 1 - 2 * (x * x + y * y)}}};
}

inline Vec3 rotate(const std::array<Vec3, 3>& r, const Vec3& v) { return {dot(r[0], v), dot(r[1], v), dot(r[2], v)}; }

// Water molecules on a jittered cubic lattice of `per_axis`³ sites filling a
// cube of edge `edge`, randomly oriented; positions are left unwrapped
// (some hydrogens stick out of the box).
inline Molecule water_box(std::size_t per_axis, double edge, std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> jitter(-0.3, 0.3);
    const double half = 104.52 * M_PI / 360.0;
    const Vec3 h1{0.9572 * std::sin(half), 0.9572 * std::cos(half), 0.0};
    const Vec3 h2{-0.9572 * std::sin(half), 0.9572 * std::cos(half), 0.0};
    Molecule m;
    const double step = edge / static_cast<double>(per_axis);
    for (std::size_t i = 0; i < per_axis; ++i)
        for (std::size_t j = 0; j < per_axis; ++j)
            for (std::size_t k = 0; k < per_axis; ++k) {
                const Vec3 o{(i + 0.5) * step + jitter(rng), (j + 0.5) * step + jitter(rng),
                             (k + 0.5) * step + jitter(rng)};
                const auto rot = random_rotation(rng);
                const auto io = m.add(8, o);
                m.bond(io, m.add(1, o + rotate(rot, h1)));
                m.bond(io, m.add(1, o + rotate(rot, h2)));
            }
    return m;
}

// Ethane with staggered hydrogens.
inline Molecule ethane() {
    Molecule m;
    const auto c1 = m.add(6, {0, 0, 0});
    const auto c2 = m.add(6, {1.53, 0, 0});
    for (int k = 0; k < 3; ++k) {
        const double a = 2 * M_PI * k / 3;
        m.bond(c1, m.add(1, {-0.36, 1.03 * std::cos(a), 1.03 * std::sin(a)}));
    }
    for (int k = 0; k < 3; ++k) {
        const double a = 2 * M_PI * k / 3 + M_PI / 3;
        m.bond(c2, m.add(1, {1.89, 1.03 * std::cos(a), 1.03 * std::sin(a)}));
    }
    m.bond(c1, c2);
    return m;
}

}  // namespace fixtures
