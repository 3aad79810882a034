// VSEPR rules: steric numbers, geometry classes with their ideal angles,
// ideal bond lengths from covalent radii, neighbour lists, and the working
// coordinates that the constraint optimizer starts from. Pure functions of
// the atoms' element texts, the bond list and the starting positions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "core/records.hpp"

namespace zelt::vsepr {

enum class Geometry : std::uint8_t {
    Linear,                 // steric number 0, 1 or 2: 180°
    TrigonalPlanar,         // 3: 120°
    Tetrahedral,            // 4: 109.4712°
    TrigonalBipyramidal,    // 5: 90°
    Octahedral,             // 6: 90°
    PentagonalBipyramidal,  // 7 or more: 72°
};

Geometry geometry_from_steric_number(std::uint64_t steric_number);

// Ideal bond angle in radians.
double ideal_angle(Geometry g);

// Valence electrons by atomic number (0, and 37 or more, give 8).
std::uint32_t valence_electrons(std::uint32_t z);

// Covalent radius in picometres (150 for elements without an entry, and for 0).
double covalent_radius_pm(std::uint32_t z);

// Factor on the sum of radii: 0.82 for order >= 3, 0.88 for >= 2, 0.92 for
// >= 1.5, else 1.0 (also for NaN). The order is compared in single precision.
double bond_order_factor(double order);

// Ideal length in Å of a bond between the two elements with the given order.
double ideal_bond_length(std::string_view element_a, std::string_view element_b, double order);
double ideal_bond_length_z(std::uint32_t za, std::uint32_t zb, double order);

// Bonds at the atom plus its lone pairs: max(valence - order sum, 0) / 2,
// rounded half away from zero. Walks the whole bond list; `atom` must be
// smaller than atoms.size().
std::uint64_t calculate_steric_number(std::size_t atom, std::span<const Atom> atoms, std::span<const Bond> bonds);

// The steric numbers of all atoms in one walk of the bond list (the same
// values as calculate_steric_number for each atom). Bonds naming atoms out of
// range count for the atoms in range that they name.
std::vector<std::uint64_t> steric_numbers(std::span<const Atom> atoms, std::span<const Bond> bonds);

struct Neighbour {
    std::size_t atom;  // the neighbour
    std::size_t bond;  // position of the bond in the bond list
};

// One list per atom, flat: the entries of atom i are entries[offsets[i] ..
// offsets[i + 1]). Bond p = (a, b) adds (b, p) to a's list, then (a, p) to
// b's; lists follow bond-list order. Bonds naming an atom out of range are left out.
struct NeighbourLists {
    std::vector<std::size_t> offsets;
    std::vector<Neighbour> entries;

    std::span<const Neighbour> of(std::size_t atom) const {
        return {entries.data() + offsets[atom], entries.data() + offsets[atom + 1]};
    }
    std::size_t atom_count() const { return offsets.empty() ? 0 : offsets.size() - 1; }
};

NeighbourLists neighbour_lists(std::size_t atom_count, std::span<const Bond> bonds);

// Each position plus a fixed per-atom offset in [-0.005, 0.005) Å; a result
// within sqrt(0.001) Å of the origin becomes (cos 1.1k, sin 1.3k, cos 1.7k).
std::vector<Vec3> working_coordinates(std::span<const Atom> atoms);

}  // namespace zelt::vsepr
