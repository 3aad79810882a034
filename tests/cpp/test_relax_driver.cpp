#include <gtest/gtest.h>

#include <cmath>

#include "build/relax.hpp"
#include "core/geometry.hpp"

using namespace zelt;

namespace {

Atom atom(const char* element, Vec3 p, std::uint64_t index = 0) {
    Atom a;
    a.element = element;
    a.position = p;
    a.index = index;
    a.residue_name = "WAT";
    return a;
}

// Water molecules on a lattice, one of them split across the x face.
System water_box() {
    System s = System::from_cell(cubic_cell(12.0));
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k) {
                const Vec3 o{0.3 + 4.0 * i, 2.0 + 4.0 * j, 2.0 + 4.0 * k};
                const std::uint64_t n = s.atoms.size();
                s.atoms.push_back(atom("O", o, n));
                s.atoms.push_back(atom("H", {o[0] - 1.1, o[1] + 0.2, o[2]}, n + 1));
                s.atoms.push_back(atom("h", {o[0] + 0.1, o[1] + 1.0, o[2] + 0.3}, n + 2));
                s.bonds.push_back({n, n + 1, 1.0});
                s.bonds.push_back({n, n + 2, 1.0});
            }
    // Wrap the first molecule's hydrogen to the far side of the box.
    s.atoms[1].position[0] += 12.0;
    return s;
}

forcefield::UffOptimizer quiet(std::uint64_t steps) {
    RelaxOptions o;
    o.steps = steps;
    o.verbose = false;
    return *o.settings();
}

}  // namespace

TEST(RelaxOptions, DefaultsAndCutoffRefusal) {
    const auto d = *RelaxOptions{}.settings();
    EXPECT_EQ(d.max_iterations, 1000u);
    EXPECT_EQ(d.threshold, 1.0);
    EXPECT_TRUE(d.verbose);
    EXPECT_EQ(d.num_threads, 0u);
    EXPECT_EQ(d.cutoff, 6.0);
    EXPECT_EQ(d.history_size, 10u);
    for (const double bad : {0.0, -6.0, std::nan(""), double(INFINITY)}) {
        RelaxOptions o;
        o.cutoff = bad;
        EXPECT_FALSE(o.settings().ok()) << bad;
    }
    RelaxOptions edge;
    edge.threshold = -1.0;
    edge.history_size = 0;
    EXPECT_TRUE(edge.settings().ok());
    EXPECT_EQ(smiles_relax_settings().max_iterations, 500u);
    EXPECT_EQ(smiles_relax_settings().threshold, 0.1);
    EXPECT_EQ(packing_relax_settings().max_iterations, 200u);
    EXPECT_FALSE(packing_relax_settings().verbose);
}

TEST(Minimize, MovesOnlyPositions) {
    System s = water_box();
    const System before = s;
    ASSERT_TRUE(minimize(s, quiet(200)).ok());
    EXPECT_EQ(s.bonds, before.bonds);
    EXPECT_EQ(s.cell, before.cell);
    bool moved = false;
    for (std::size_t i = 0; i < s.atoms.size(); ++i) {
        Atom a = s.atoms[i];
        moved = moved || a.position != before.atoms[i].position;
        a.position = before.atoms[i].position;
        EXPECT_EQ(a, before.atoms[i]);
    }
    EXPECT_TRUE(moved);
    // The split molecule relaxed through the periodic face: its O–H bond
    // has the rest length by minimum image, not 11 Å.
    const Vec3 d = minimum_image(s.cell, s.inv_cell,
                                 {s.atoms[1].position[0] - s.atoms[0].position[0],
                                  s.atoms[1].position[1] - s.atoms[0].position[1],
                                  s.atoms[1].position[2] - s.atoms[0].position[2]});
    EXPECT_NEAR(std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]), 0.990, 0.03);
}

TEST(Minimize, EmptyAndInvalid) {
    System empty = System::from_cell(cubic_cell(10));
    EXPECT_TRUE(minimize(empty, quiet(10)).ok());
    System bad = water_box();
    bad.bonds.push_back({0, 999, 1.0});
    const System before = bad;
    const auto st = minimize(bad, quiet(10));
    ASSERT_FALSE(st.ok());
    EXPECT_NE(st.error().message.find("999"), std::string::npos);
    EXPECT_EQ(bad.atoms, before.atoms);
    // The copy flow leaves the caller's atoms alone too.
    EXPECT_FALSE(relax_system_copy(bad.atoms, bad.bonds, bad.cell, quiet(10)).ok());
}

TEST(RelaxFlows, SystemCopyComesBackUnwrapped) {
    const System s = water_box();
    auto atoms = relax_system_copy(s.atoms, s.bonds, s.cell, quiet(100));
    ASSERT_TRUE(atoms.ok());
    // The hydrogen wrapped across the face is back next to its oxygen.
    const auto& o = (*atoms)[0].position;
    const auto& h = (*atoms)[1].position;
    EXPECT_LT(std::abs(h[0] - o[0]), 1.5);
    System in_place = s;
    ASSERT_TRUE(relax_system_in_place(in_place, quiet(100)).ok());
    EXPECT_LT(std::abs(in_place.atoms[1].position[0] - in_place.atoms[0].position[0]), 1.5);
}

TEST(RelaxFlows, TemplatesAndMolecules) {
    MoleculeTemplate t;
    t.atoms = {atom("C", {0, 0, 0}, 5), atom("Cl", {2.2, 0, 0}, 6), atom("Xx", {0, 1.2, 0}, 7)};
    t.bonds = {{0, 1, 1.0}, {0, 2, 1.0}};
    auto engine = as_uff_system(t);
    ASSERT_TRUE(engine.ok());
    EXPECT_FALSE(engine->cell().periodic());
    EXPECT_EQ(engine->atoms()[1].atomic_number, 17u);
    EXPECT_EQ(engine->atoms()[2].atomic_number, 0u);
    EXPECT_EQ(engine->atoms()[0].uff_type.value, "C_1");

    MoleculeTemplate relaxed = t;
    ASSERT_TRUE(relax_template(relaxed, quiet(300)).ok());
    // The stretched C–Cl bond shortened; indices are untouched by this flow.
    EXPECT_LT(relaxed.atoms[1].position[0] - relaxed.atoms[0].position[0], 2.0);
    EXPECT_EQ(relaxed.atoms[0].index, 5u);

    MoleculeTemplate mol = t;
    ASSERT_TRUE(relax_molecule_template(mol, quiet(50)).ok());
    EXPECT_EQ(mol.atoms[0].index, 0u);
    EXPECT_EQ(mol.atoms[1].index, 1u);
    EXPECT_EQ(mol.atoms[2].index, 2u);
    EXPECT_EQ(mol.bonds, t.bonds);

    // In the 50 Å cube two argon atoms 46 Å apart along x are 4 Å apart and interact.
    MoleculeTemplate pair;
    pair.atoms = {atom("Ar", {0, 0, 0}), atom("Ar", {46, 0, 0})};
    ASSERT_TRUE(relax_molecule_template(pair, quiet(20)).ok());
    EXPECT_NE(pair.atoms[0].position[0], 0.0);
    // 30 Å apart means 20 Å by minimum image: beyond the cutoff, nothing moves.
    MoleculeTemplate far;
    far.atoms = {atom("Ar", {0, 0, 0}), atom("Ar", {30, 0, 0})};
    ASSERT_TRUE(relax_molecule_template(far, quiet(20)).ok());
    EXPECT_EQ(far.atoms[0].position[0], 0.0);
}
