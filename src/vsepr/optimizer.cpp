#include "vsepr/optimizer.hpp"

#include <cmath>

#include "vsepr/rules.hpp"
#include "vsepr/terms.hpp"

namespace zelt {

void VseprOptimizer::optimize(std::vector<Atom>& atoms, const std::vector<Bond>& bonds) const {
    if (atoms.empty()) return;
    const vsepr::Model model = vsepr::Model::build(atoms, bonds);
    std::vector<Vec3> p = vsepr::working_coordinates(atoms);
    std::vector<Vec3> f(p.size());
    vsepr::Workspace work;
    const double total = static_cast<double>(iterations);
    for (std::uint64_t it = 0; it < iterations; ++it) {
        for (auto& v : f) v = {0.0, 0.0, 0.0};
        const double decay = std::exp(-3.0 * static_cast<double>(it) / total);
        vsepr::apply_bond_constraints(model, p, f, work);
        vsepr::apply_angle_constraints(model, p, f, work);
        vsepr::apply_planarity_constraints(model, p, f);
        vsepr::apply_torsion_constraints(model, p, f, work);
        vsepr::apply_repulsion_constraints(model, p, f, work);
        const double scale = step * decay;
        for (std::size_t k = 0; k < p.size(); ++k)
            for (int a = 0; a < 3; ++a) p[k][a] += scale * f[k][a];
    }
    for (std::size_t k = 0; k < atoms.size(); ++k) atoms[k].position = p[k];
}

}  // namespace zelt
