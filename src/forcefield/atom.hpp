// The engine's own atom and bond records. They share names with the core
// records but carry only what the force field needs.
#pragma once

#include <cstdint>
#include <string>

#include "forcefield/vec3.hpp"

namespace zelt::forcefield {

// A UFF atom-type label such as "C_R" or "Cl_1".
struct UffAtomType {
    std::string value = "Unknown";

    bool operator==(const UffAtomType&) const = default;
    bool operator==(std::string_view s) const { return value == s; }
};

struct Atom {
    UffAtomType uff_type;             // "Unknown" until the system types its atoms
    std::uint64_t atomic_number = 0;  // 0: an element the element table does not know
    Vec3 position{0.0, 0.0, 0.0};     // Å
    Vec3 force{0.0, 0.0, 0.0};        // kcal/mol/Å, written by force evaluation

    static Atom make(std::uint64_t atomic_number, const Vec3& position) {
        Atom a;
        a.atomic_number = atomic_number;
        a.position = position;
        return a;
    }
};

// An unordered pair of 0-based atom indices, stored once per bond. Orders:
// 1.0 single, 1.5 aromatic, 2.0 double, 3.0 triple.
struct Bond {
    std::uint64_t i = 0;
    std::uint64_t j = 0;
    float order = 1.0f;
};

}  // namespace zelt::forcefield
