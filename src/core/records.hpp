// Plain value records shared by every subsystem: atoms, bonds, molecule
// templates and periodic systems.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace zelt {

using Vec3 = std::array<double, 3>;
using Mat3 = std::array<std::array<double, 3>, 3>;  // row-major, rows are lattice vectors a, b, c

struct Atom {
    std::string residue_name;
    std::string element;
    std::string atom_type = "XX";  // "XX": no type assigned
    std::uint64_t index = 0;
    std::uint64_t residue_id = 0;
    Vec3 position{0.0, 0.0, 0.0};
    double charge = 0.0;
    std::uint64_t component_id = 0;

    bool operator==(const Atom&) const = default;
};

struct Bond {
    std::uint64_t i = 0;
    std::uint64_t j = 0;
    double order = 1.0;

    bool operator==(const Bond&) const = default;
};

struct MoleculeTemplate {
    std::vector<Atom> atoms;
    std::vector<Bond> bonds;

    bool operator==(const MoleculeTemplate&) const = default;
};

// A system periodic along all three lattice vectors. `inv_cell` is the inverse
// of `cell` at all times: change the cell only through `set_cell`.
struct System {
    std::vector<Atom> atoms;
    std::vector<Bond> bonds;
    Mat3 cell{};
    Mat3 inv_cell{};

    // Empty system with the given cell and its inverse computed.
    static System from_cell(const Mat3& cell);
    void set_cell(const Mat3& new_cell);
};

// Adjugate-over-determinant inverse; a singular cell gives non-finite entries.
Mat3 invert_cell(const Mat3& cell);

// Diagonal cell with edge `edge` (the cube used for systems without a box of their own).
Mat3 cubic_cell(double edge);

}  // namespace zelt
