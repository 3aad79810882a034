#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "build/packing.hpp"

using namespace zelt;

namespace {

MoleculeTemplate single_atom(const char* element) {
    MoleculeTemplate t;
    t.atoms.push_back(Atom{"X", element, "XX", 0, 0, {0, 0, 0}, 0.25, 0});
    return t;
}

// A water-like three-atom template with two bonds.
MoleculeTemplate water() {
    MoleculeTemplate t;
    t.atoms = {Atom{"W", "O", "O", 0, 0, {0, 0, 0}, -0.8, 0}, Atom{"W", "H", "H", 1, 0, {0.96, 0, 0}, 0.4, 0},
               Atom{"W", "H", "H", 2, 0, {-0.24, 0.93, 0}, 0.4, 0}};
    t.bonds = {{0, 1, 1.0}, {0, 2, 1.0}};
    return t;
}

ComponentConfig component(const std::string& name, ComponentRole role, std::optional<std::uint64_t> count) {
    ComponentConfig c;
    c.name = name;
    c.role = role;
    c.count = count;
    return c;
}

Builder water_and_argon(std::optional<std::array<double, 3>> cell, double density) {
    Builder b;
    b.templates["water"] = water();
    b.templates["argon"] = single_atom("Ar");
    auto& r = b.ensure_recipe();
    r.system.cell_shape = cell;
    r.system.density = density;
    r.components.push_back(component("water", ComponentRole::Molecule, 5));
    r.components.push_back(component("argon", ComponentRole::Ion, std::nullopt));  // one copy
    return b;
}

void expect_inside(const System& s) {
    for (const auto& a : s.atoms)
        for (int k = 0; k < 3; ++k) {
            const double f = a.position[0] * s.inv_cell[0][k] + a.position[1] * s.inv_cell[1][k] +
                             a.position[2] * s.inv_cell[2][k];
            EXPECT_GE(f, 0.0);
            EXPECT_LT(f, 1.0);
        }
}

}  // namespace

TEST(Packing, CellWinsOverDensityAndCopiesAreContiguous) {
    Builder b = water_and_argon(std::array<double, 3>{30, 31, 32}, 0.8);
    ASSERT_TRUE(b.build().ok());
    const System& s = *b.system;
    EXPECT_EQ(s.cell[0][0], 30.0);
    EXPECT_EQ(s.cell[1][1], 31.0);
    EXPECT_EQ(s.cell[2][2], 32.0);
    EXPECT_EQ(s.cell[0][1], 0.0);
    ASSERT_EQ(s.atoms.size(), 16u);
    ASSERT_EQ(s.bonds.size(), 10u);
    for (std::size_t i = 0; i < s.atoms.size(); ++i) {
        EXPECT_EQ(s.atoms[i].index, i);
        EXPECT_EQ(s.atoms[i].component_id, i < 15 ? 0u : 1u);
        EXPECT_EQ(s.atoms[i].residue_name, i < 15 ? "water" : "argon");
    }
    EXPECT_EQ(s.atoms[0].element, "O");
    EXPECT_EQ(s.atoms[1].charge, 0.4);
    EXPECT_EQ(s.atoms[15].element, "Ar");
    // The k-th copy's bonds are the template's shifted by 3k.
    for (std::size_t k = 0; k < 5; ++k) {
        EXPECT_EQ(s.bonds[2 * k], (Bond{3 * k, 3 * k + 1, 1.0}));
        EXPECT_EQ(s.bonds[2 * k + 1], (Bond{3 * k, 3 * k + 2, 1.0}));
    }
    expect_inside(s);
    // The stored templates are not changed by the build.
    EXPECT_EQ(b.templates["water"], water());
}

TEST(Packing, DensityGivesTheCubeAndStoresIt) {
    Builder b = water_and_argon(std::nullopt, 0.5);
    ASSERT_TRUE(b.build().ok());
    const double mass = 5 * (15.999 + 2 * 1.008) + 39.948;
    const double edge = std::cbrt(mass / (0.5 * 0.602214076));
    ASSERT_TRUE(b.recipe->system.cell_shape);
    EXPECT_DOUBLE_EQ((*b.recipe->system.cell_shape)[0], edge);
    EXPECT_DOUBLE_EQ(b.system->cell[2][2], edge);
    // Later density changes have no effect: the stored cell wins.
    b.recipe->system.density = 2.0;
    ASSERT_TRUE(b.build().ok());
    EXPECT_DOUBLE_EQ(b.system->cell[0][0], edge);
    expect_inside(*b.system);
}

TEST(Packing, EmptyBoxes) {
    Builder b;
    b.ensure_recipe();
    ASSERT_TRUE(b.build().ok());
    EXPECT_TRUE(b.system->atoms.empty());
    EXPECT_EQ(b.system->cell, cubic_cell(20.0));
    EXPECT_FALSE(b.recipe->system.cell_shape);  // the default box is not stored

    Builder d;
    d.ensure_recipe().system.density = 1.0;
    ASSERT_TRUE(d.build().ok());
    EXPECT_EQ(*d.recipe->system.cell_shape, (std::array<double, 3>{0, 0, 0}));
    EXPECT_TRUE(d.system->atoms.empty());
}

TEST(Packing, LatticePointsOfSingleAtoms) {
    // The shaping step puts a lone atom sitting at the origin at (1, 0, 1):
    // after rotation it lies sqrt(2) Å from its lattice point.
    auto dist = [](const Vec3& a, const Vec3& b) {
        return std::sqrt((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) + (a[2] - b[2]) * (a[2] - b[2]));
    };
    Builder one;
    one.templates["a"] = single_atom("Ne");
    one.ensure_recipe().system.cell_shape = std::array<double, 3>{10, 12, 14};
    one.recipe->components.push_back(component("a", ComponentRole::Molecule, 1));
    ASSERT_TRUE(one.build().ok());
    EXPECT_NEAR(dist(one.system->atoms[0].position, Vec3{5, 6, 7}), std::sqrt(2.0), 1e-9);

    // Nine copies take nine distinct centres of a 3 x 3 x 3 division.
    Builder nine = one;
    nine.recipe->components[0].count = 9;
    nine.recipe->system.cell_shape = std::array<double, 3>{9, 9, 9};
    ASSERT_TRUE(nine.build().ok());
    std::set<std::array<int, 3>> cells;
    for (const auto& a : nine.system->atoms) {
        std::array<int, 3> c;
        Vec3 centre;
        for (int k = 0; k < 3; ++k) {
            c[k] = static_cast<int>(std::floor(a.position[k] / 3.0));
            centre[k] = 1.5 + 3.0 * c[k];
        }
        EXPECT_NEAR(dist(a.position, centre), std::sqrt(2.0), 1e-9);
        cells.insert(c);
    }
    EXPECT_EQ(cells.size(), 9u);
}

TEST(Packing, RepeatedBuildsDifferOnlyInPositions) {
    Builder b = water_and_argon(std::array<double, 3>{25, 25, 25}, 0.0);
    ASSERT_TRUE(b.build().ok());
    const System first = *b.system;
    ASSERT_TRUE(b.build().ok());
    const System& second = *b.system;
    EXPECT_EQ(first.bonds, second.bonds);
    EXPECT_EQ(first.cell, second.cell);
    ASSERT_EQ(first.atoms.size(), second.atoms.size());
    bool moved = false;
    for (std::size_t i = 0; i < first.atoms.size(); ++i) {
        EXPECT_EQ(first.atoms[i].element, second.atoms[i].element);
        moved = moved || first.atoms[i].position != second.atoms[i].position;
    }
    EXPECT_TRUE(moved);
    // Rotations keep the shape: the O-H distance of every copy is the relaxed one.
    auto dist = [](const Vec3& a, const Vec3& b) {
        return std::sqrt((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) + (a[2] - b[2]) * (a[2] - b[2]));
    };
    const double d0 = dist(first.atoms[0].position, first.atoms[1].position);
    EXPECT_GT(d0, 0.8);
    EXPECT_LT(d0, 1.2);
}

TEST(Packing, ZeroCountStillNeedsItsTemplate) {
    Builder b;
    b.ensure_recipe().system.cell_shape = std::array<double, 3>{10, 10, 10};
    b.recipe->components.push_back(component("ghost", ComponentRole::Molecule, 0));
    auto st = b.build();
    ASSERT_FALSE(st.ok());
    EXPECT_EQ(st.error().message, "No template");
    b.templates["ghost"] = single_atom("C");
    ASSERT_TRUE(b.build().ok());
    EXPECT_TRUE(b.system->atoms.empty());
}

TEST(Packing, FailureMessagesAndThePreviousSystemSurvives) {
    Builder none;
    EXPECT_EQ(none.build().error().message, "No recipe");

    Builder b = water_and_argon(std::array<double, 3>{20, 20, 20}, 0.0);
    ASSERT_TRUE(b.build().ok());
    const System before = *b.system;

    b.recipe->components.push_back(component("missing", ComponentRole::Molecule, 1));
    EXPECT_EQ(b.build().error().message, "No template");
    b.recipe->system.cell_shape.reset();
    b.recipe->system.density = 1.0;
    EXPECT_EQ(b.build().error().message, "No template for missing");
    b.recipe->components.pop_back();

    b.templates["pe"] = water();
    b.recipe->components.push_back(component("pe", ComponentRole::Polymer, std::nullopt));
    EXPECT_EQ(b.build().error().message, "No polymer params for pe");
    b.recipe->system.cell_shape = std::array<double, 3>{20, 20, 20};
    EXPECT_EQ(b.build().error().message, "No params");
    // A chain generator refusal passes through unchanged.
    PolymerParams bad;
    bad.degree = 2;
    bad.n_chains = 1;
    bad.head_index = 7;
    b.recipe->components.back().polymer_params = bad;
    EXPECT_EQ(b.build().error().message, "Head index 7 is out of range for a repeat unit of 3 atoms");

    ASSERT_TRUE(b.system);
    EXPECT_EQ(b.system->atoms, before.atoms);
}

TEST(Packing, PolymerChainsAreCopiedPerChain) {
    Builder b;
    MoleculeTemplate unit;
    unit.atoms = {Atom{"P", "C", "C", 0, 0, {0, 0, 0}, 0, 0}, Atom{"P", "C", "C", 1, 0, {1.5, 0, 0}, 0, 0}};
    unit.bonds = {{0, 1, 1.0}};
    b.templates["pe"] = unit;
    b.ensure_recipe().system.cell_shape = std::array<double, 3>{40, 40, 40};
    PolymerParams p;
    p.degree = 4;
    p.n_chains = 3;
    auto c = component("pe", ComponentRole::Polymer, 99);  // count is not read for polymers
    c.polymer_params = p;
    b.recipe->components.push_back(c);
    ASSERT_TRUE(b.build().ok());
    EXPECT_EQ(b.system->atoms.size(), 3u * 8u);
    EXPECT_EQ(b.system->bonds.size(), 3u * 7u);
    EXPECT_EQ(b.system->atoms[8].residue_id, 1u);
    EXPECT_EQ(b.system->atoms[15].residue_id, 4u);
}

TEST(Packing, NoPlacementIntoADegenerateBox) {
    Builder b = water_and_argon(std::array<double, 3>{0, 10, 10}, 0.0);
    auto st = b.build();
    ASSERT_FALSE(st.ok());
    EXPECT_FALSE(b.system);
}

TEST(Packing, WrapAndRotationHelpers) {
    const Mat3 cell = cubic_cell(10.0);
    const Mat3 inv = invert_cell(cell);
    EXPECT_EQ(wrap_into_cell({-1, 10, 25}, cell, inv), (Vec3{9, 0, 5}));
    EXPECT_EQ(wrap_into_cell({-1e-17, 0, 0}, cell, inv)[0], 0.0);
    const Vec3 p{1.0, -2.0, 0.5};
    for (double u : {0.0, 0.3, 0.99}) {
        const Vec3 q = random_rotation_apply(u, 1 - u, u / 2, p);
        EXPECT_NEAR(q[0] * q[0] + q[1] * q[1] + q[2] * q[2], 5.25, 1e-12);
    }
}
