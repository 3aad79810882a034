#include "vsepr/rules.hpp"

#include <cmath>
#include <limits>

#include "core/elements.hpp"

namespace zelt::vsepr {
namespace {

constexpr double pi = 3.14159265358979323846;

// Nearest integer, halves away from zero, as an unsigned count (NaN and
// negative values give 0, huge values saturate).
std::uint64_t round_to_count(double x) {
    if (!(x > 0.0)) return 0;
    const double r = std::round(x);
    if (r >= 18446744073709551616.0) return std::numeric_limits<std::uint64_t>::max();
    return static_cast<std::uint64_t>(r);
}

std::uint64_t steric_from(std::uint32_t z, std::uint64_t bond_count, double order_sum) {
    const double v = static_cast<double>(valence_electrons(z));
    const double lone_pairs = std::fmax(v - order_sum, 0.0) * 0.5;
    return bond_count + round_to_count(lone_pairs);
}

}  // namespace

Geometry geometry_from_steric_number(std::uint64_t s) {
    switch (s) {
        case 0: case 1: case 2: return Geometry::Linear;
        case 3: return Geometry::TrigonalPlanar;
        case 4: return Geometry::Tetrahedral;
        case 5: return Geometry::TrigonalBipyramidal;
        case 6: return Geometry::Octahedral;
        default: return Geometry::PentagonalBipyramidal;
    }
}

double ideal_angle(Geometry g) {
    switch (g) {
        case Geometry::Linear: return pi;
        case Geometry::TrigonalPlanar: return 2.0 * pi / 3.0;
        case Geometry::Tetrahedral: return 1.9106328761092164;  // 109.4712° in radians
        case Geometry::TrigonalBipyramidal:
        case Geometry::Octahedral: return pi / 2.0;
        case Geometry::PentagonalBipyramidal: return 2.0 * pi / 5.0;
    }
    return pi;
}

std::uint32_t valence_electrons(std::uint32_t z) {
    if (z >= 1 && z <= 2) return z;
    if (z >= 3 && z <= 10) return z - 2;
    if (z >= 11 && z <= 18) return z - 10;
    if (z >= 19 && z <= 36) return z - 18 < 8 ? z - 18 : 8;
    return 8;
}

double covalent_radius_pm(std::uint32_t z) {
    switch (z) {
        case 1: return 31;
        case 2: return 28;
        case 3: return 128;
        case 4: return 96;
        case 5: return 84;
        case 6: return 76;
        case 7: return 71;
        case 8: return 66;
        case 9: return 57;
        case 14: return 111;
        case 15: return 107;
        case 16: return 105;
        case 17: return 102;
        case 35: return 120;
        case 50: return 140;
        case 53: return 139;
        case 82: return 146;
        default: return 150;
    }
}

double bond_order_factor(double order) {
    const float o = static_cast<float>(order);
    if (o >= 3.0f) return 0.82;
    if (o >= 2.0f) return 0.88;
    if (o >= 1.5f) return 0.92;
    return 1.0;
}

double ideal_bond_length_z(std::uint32_t za, std::uint32_t zb, double order) {
    return (covalent_radius_pm(za) + covalent_radius_pm(zb)) / 100.0 * bond_order_factor(order);
}

double ideal_bond_length(std::string_view a, std::string_view b, double order) {
    return ideal_bond_length_z(atomic_number(a), atomic_number(b), order);
}

std::uint64_t calculate_steric_number(std::size_t atom, std::span<const Atom> atoms, std::span<const Bond> bonds) {
    std::uint64_t n = 0;
    double s = 0.0;
    for (const auto& b : bonds)
        if (b.i == atom || b.j == atom) {
            ++n;
            s += b.order;
        }
    return steric_from(atomic_number(atoms[atom].element), n, s);
}

std::vector<std::uint64_t> steric_numbers(std::span<const Atom> atoms, std::span<const Bond> bonds) {
    const std::size_t n = atoms.size();
    std::vector<std::uint64_t> count(n, 0);
    std::vector<double> sum(n, 0.0);
    for (const auto& b : bonds) {
        if (b.i < n) {
            ++count[b.i];
            sum[b.i] += b.order;
        }
        if (b.j < n && b.j != b.i) {
            ++count[b.j];
            sum[b.j] += b.order;
        }
    }
    std::vector<std::uint64_t> out(n);
    for (std::size_t k = 0; k < n; ++k) out[k] = steric_from(atomic_number(atoms[k].element), count[k], sum[k]);
    return out;
}

NeighbourLists neighbour_lists(std::size_t atom_count, std::span<const Bond> bonds) {
    NeighbourLists nl;
    nl.offsets.assign(atom_count + 1, 0);
    for (const auto& b : bonds)
        if (b.i < atom_count && b.j < atom_count) {
            ++nl.offsets[b.i + 1];
            ++nl.offsets[b.j + 1];
        }
    for (std::size_t k = 0; k < atom_count; ++k) nl.offsets[k + 1] += nl.offsets[k];
    nl.entries.resize(nl.offsets[atom_count]);
    std::vector<std::size_t> fill(nl.offsets.begin(), nl.offsets.end() - 1);
    for (std::size_t p = 0; p < bonds.size(); ++p) {
        const auto& b = bonds[p];
        if (b.i >= atom_count || b.j >= atom_count) continue;
        nl.entries[fill[b.i]++] = {static_cast<std::size_t>(b.j), p};
        nl.entries[fill[b.j]++] = {static_cast<std::size_t>(b.i), p};
    }
    return nl;
}

std::vector<Vec3> working_coordinates(std::span<const Atom> atoms) {
    std::vector<Vec3> out(atoms.size());
    for (std::size_t k = 0; k < atoms.size(); ++k) {
        const std::uint64_t u = k;
        const double dx = (static_cast<double>(u * 1337 % 100) / 100.0 - 0.5) * 0.01;
        const double dy = (static_cast<double>(u * 7331 % 100) / 100.0 - 0.5) * 0.01;
        const double dz = (static_cast<double>(u * 9973 % 100) / 100.0 - 0.5) * 0.01;
        const Vec3& p = atoms[k].position;
        Vec3 w{p[0] + dx, p[1] + dy, p[2] + dz};
        if (w[0] * w[0] + w[1] * w[1] + w[2] * w[2] < 0.001) {
            const double kk = static_cast<double>(k);
            w = {std::cos(1.1 * kk), std::sin(1.3 * kk), std::cos(1.7 * kk)};
        }
        out[k] = w;
    }
    return out;
}

}  // namespace zelt::vsepr
