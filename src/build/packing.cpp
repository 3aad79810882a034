#include "build/packing.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

#include <fmt/format.h>

#include "build/polymer.hpp"
#include "build/relax.hpp"
#include "core/elements.hpp"
#include "core/random.hpp"
#include "vsepr/optimizer.hpp"

namespace zelt {
namespace {

struct Instance {
    const MoleculeTemplate* tmpl;
    const std::string* name;
    std::uint64_t component;
};

double template_mass(const MoleculeTemplate& t) {
    double m = 0.0;
    for (const auto& a : t.atoms) m += atomic_mass(a.element);
    return m;
}

// Uniform in [0, 1) from the top 53 bits of one 64-bit draw.
double unit_uniform(std::mt19937_64& rng) { return static_cast<double>(rng() >> 11) * 0x1.0p-53; }

}  // namespace

double cube_edge_for_density(double mass, double density) { return std::cbrt(mass / (density * 0.602214076)); }

Vec3 random_rotation_apply(double u1, double u2, double u3, const Vec3& p) {
    const double two_pi = 2.0 * std::numbers::pi;
    const double a = std::sqrt(1.0 - u1), b = std::sqrt(u1);
    const double w = a * std::sin(two_pi * u2);
    const Vec3 v{a * std::cos(two_pi * u2), b * std::sin(two_pi * u3), b * std::cos(two_pi * u3)};
    const double vv = v[0] * v[0] + v[1] * v[1] + v[2] * v[2];
    const double vp = v[0] * p[0] + v[1] * p[1] + v[2] * p[2];
    const Vec3 cross{v[1] * p[2] - v[2] * p[1], v[2] * p[0] - v[0] * p[2], v[0] * p[1] - v[1] * p[0]};
    const double s = w * w - vv;
    return {s * p[0] + 2.0 * vp * v[0] + 2.0 * w * cross[0], s * p[1] + 2.0 * vp * v[1] + 2.0 * w * cross[1],
            s * p[2] + 2.0 * vp * v[2] + 2.0 * w * cross[2]};
}

Vec3 wrap_into_cell(const Vec3& p, const Mat3& cell, const Mat3& inv) {
    Vec3 f;
    for (int k = 0; k < 3; ++k) {
        double x = p[0] * inv[0][k] + p[1] * inv[1][k] + p[2] * inv[2][k];
        x -= std::trunc(x);
        if (x < 0.0) x += 1.0;
        // A tiny negative value plus one rounds to exactly 1: that is the
        // opposite face, i.e. 0.
        if (x >= 1.0) x = 0.0;
        f[k] = x;
    }
    Vec3 r;
    for (int k = 0; k < 3; ++k) r[k] = f[0] * cell[0][k] + f[1] * cell[1][k] + f[2] * cell[2][k];
    return r;
}

Recipe& Builder::ensure_recipe() {
    if (!recipe) recipe = Recipe{};
    return *recipe;
}

Status Builder::build() {
    if (!recipe) return fail("No recipe");
    Recipe& r = *recipe;

    // Box.
    std::array<double, 3> box{20.0, 20.0, 20.0};
    if (r.system.cell_shape) {
        box = *r.system.cell_shape;
    } else if (r.system.density > 0.0) {
        double total = 0.0;
        for (const auto& c : r.components) {
            const auto it = templates.find(c.name);
            if (it == templates.end()) return fail(fmt::format("No template for {}", c.name));
            if (c.role == ComponentRole::Polymer) {
                if (!c.polymer_params) return fail(fmt::format("No polymer params for {}", c.name));
                auto chain = generate_chain(it->second, *c.polymer_params);
                if (!chain) return chain.error();
                total += static_cast<double>(c.polymer_params->n_chains) * template_mass(*chain);
            } else {
                total += static_cast<double>(c.count.value_or(1)) * template_mass(it->second);
            }
        }
        const double edge = cube_edge_for_density(total, r.system.density);
        box = {edge, edge, edge};
        r.system.cell_shape = box;
    }

    // Instances: each component's template relaxed once, shared by its copies.
    std::vector<MoleculeTemplate> relaxed;
    relaxed.reserve(r.components.size());
    std::vector<std::uint64_t> copies;
    for (const auto& c : r.components) {
        const auto it = templates.find(c.name);
        if (it == templates.end()) return fail("No template");
        MoleculeTemplate work;
        std::uint64_t n = 0;
        if (c.role == ComponentRole::Polymer) {
            if (!c.polymer_params) return fail("No params");
            auto chain = generate_chain(it->second, *c.polymer_params);
            if (!chain) return chain.error();
            work = std::move(chain).value();
            n = c.polymer_params->n_chains;
        } else {
            work = it->second;
            n = c.count.value_or(1);
        }
        // Once per component: the copies share this conformation.
        VseprOptimizer{1500, 0.15}.optimize(work.atoms, work.bonds);
        if (auto st = relax_template(work, packing_relax_settings()); !st) return st.error();
        relaxed.push_back(std::move(work));
        copies.push_back(n);
    }
    std::vector<Instance> instances;
    for (std::size_t c = 0; c < r.components.size(); ++c)
        for (std::uint64_t k = 0; k < copies[c]; ++k) instances.push_back(Instance{&relaxed[c], &r.components[c].name, c});

    const std::size_t count = instances.size();
    if (count > 0)
        for (const double side : box)
            if (!(side > 0.0) || !std::isfinite(side))
                return fail(fmt::format("Cannot place {} molecules in a box of {} x {} x {} Å", count, box[0], box[1],
                                        box[2]));

    // Lattice: the centres of an n x n x n division of the box, shuffled.
    std::size_t n = 0;
    while (n * n * n < count) ++n;
    std::vector<Vec3> points;
    points.reserve(n * n * n);
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = 0; j < n; ++j)
            for (std::size_t k = 0; k < n; ++k)
                points.push_back({(static_cast<double>(i) + 0.5) * box[0] / static_cast<double>(n),
                                  (static_cast<double>(j) + 0.5) * box[1] / static_cast<double>(n),
                                  (static_cast<double>(k) + 0.5) * box[2] / static_cast<double>(n)});
    auto& rng = thread_rng();
    std::shuffle(points.begin(), points.end(), rng);

    // New system; placement.
    Mat3 cell{};
    cell[0][0] = box[0];
    cell[1][1] = box[1];
    cell[2][2] = box[2];
    System out = System::from_cell(cell);
    std::size_t atom_total = 0, bond_total = 0;
    for (const auto& inst : instances) {
        atom_total += inst.tmpl->atoms.size();
        bond_total += inst.tmpl->bonds.size();
    }
    out.atoms.reserve(atom_total);
    out.bonds.reserve(bond_total);
    for (std::size_t t = 0; t < count; ++t) {
        const Instance& inst = instances[t];
        const Vec3& g = points[t];
        const double u1 = unit_uniform(rng), u2 = unit_uniform(rng), u3 = unit_uniform(rng);
        const std::uint64_t base = out.atoms.size();
        for (const Atom& src : inst.tmpl->atoms) {
            Vec3 p = random_rotation_apply(u1, u2, u3, src.position);
            for (int k = 0; k < 3; ++k) p[k] += g[k];
            Atom a;
            a.residue_name = *inst.name;
            a.element = src.element;
            a.atom_type = src.atom_type;
            a.index = out.atoms.size();
            a.residue_id = src.residue_id;
            a.position = wrap_into_cell(p, out.cell, out.inv_cell);
            a.charge = src.charge;
            a.component_id = inst.component;
            out.atoms.push_back(std::move(a));
        }
        for (const Bond& b : inst.tmpl->bonds) out.bonds.push_back(Bond{b.i + base, b.j + base, b.order});
    }
    system = std::move(out);
    return Ok{};
}

}  // namespace zelt
