// The packing builder: copies of component templates placed on a shuffled
// lattice of box points with uniformly random orientations.
#pragma once

#include <map>
#include <optional>
#include <string>

#include "build/recipe.hpp"
#include "core/records.hpp"
#include "core/result.hpp"

namespace zelt {

struct Builder {
    std::optional<Recipe> recipe;
    std::optional<System> system;                         // the last successful build
    std::map<std::string, MoleculeTemplate> templates;   // by template name

    // The recipe, created empty (density 0, no cell, no components) if absent.
    Recipe& ensure_recipe();

    // Packs the recipe's components into a periodic orthorhombic box. All
    // failures come before the previous system is touched. A density-driven
    // box is stored as the recipe's cell_shape.
    Status build();
};

// Cube edge (Å) holding `mass` (u) at `density` (g/cm3).
double cube_edge_for_density(double mass, double density);

// A uniformly distributed rotation from three uniform numbers in [0, 1),
// applied to `p`: (w² − |v|²)·p + 2(v·p)·v + 2w·(v × p).
Vec3 random_rotation_apply(double u1, double u2, double u3, const Vec3& p);

// Fractional coordinates reduced into [0, 1) along each cell vector.
Vec3 wrap_into_cell(const Vec3& p, const Mat3& cell, const Mat3& inv_cell);

}  // namespace zelt
