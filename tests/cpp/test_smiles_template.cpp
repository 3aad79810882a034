#include <cmath>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "core/random.hpp"
#include "smiles/polymer_indices.hpp"
#include "smiles/template.hpp"

using namespace zelt;

namespace {

MoleculeTemplate build(const std::string& smiles) {
    auto r = parse_smiles_with_hydrogens(smiles);
    if (!r.ok()) {
        ADD_FAILURE() << smiles << ": " << r.error().message;
        return {};
    }
    return std::move(r).value();
}

std::string elements(const MoleculeTemplate& m) {
    std::string s;
    for (const auto& a : m.atoms) s += a.element + " ";
    return s;
}

using BondList = std::vector<std::tuple<std::uint64_t, std::uint64_t, double>>;

BondList bonds_of(const MoleculeTemplate& m) {
    BondList out;
    for (const auto& b : m.bonds) out.emplace_back(b.i, b.j, b.order);
    return out;
}

std::size_t hydrogens_on(const MoleculeTemplate& m, std::uint64_t k) {
    std::size_t n = 0;
    for (const auto& b : m.bonds)
        if (b.i == k && m.atoms[b.j].element == "H") ++n;
    return n;
}

}  // namespace

TEST(SmilesTemplate, EthanolAtomsBondsAndRecordFields) {
    const auto m = build("CCO");
    EXPECT_EQ(elements(m), "C C O H H H H H H ");
    EXPECT_EQ(bonds_of(m), (BondList{{0, 1, 1.0}, {1, 2, 1.0}, {0, 3, 1.0}, {0, 4, 1.0}, {0, 5, 1.0},
                                     {1, 6, 1.0}, {1, 7, 1.0}, {2, 8, 1.0}}));
    for (std::size_t i = 0; i < m.atoms.size(); ++i) {
        const Atom& a = m.atoms[i];
        EXPECT_EQ(a.residue_name, "MOL");
        EXPECT_EQ(a.atom_type, a.element);
        EXPECT_EQ(a.index, i);
        EXPECT_EQ(a.residue_id, 0u);
        EXPECT_EQ(a.charge, 0.0);
        EXPECT_EQ(a.component_id, 0u);
    }
}

TEST(SmilesTemplate, ElementsBondOrdersAndHydrogenCounts) {
    struct Case {
        const char* smiles;
        const char* elements;
        BondList graph_bonds;                 // the bonds before the hydrogens
        std::vector<std::size_t> hydrogens;   // per heavy atom
    };
    const std::vector<Case> cases{
        {"c1ccccc1", "C C C C C C H H H H H H ",
         {{0, 5, 1.5}, {0, 1, 1.5}, {1, 2, 1.5}, {2, 3, 1.5}, {3, 4, 1.5}, {4, 5, 1.5}}, {1, 1, 1, 1, 1, 1}},
        {"C=O", "C O H H ", {{0, 1, 2.0}}, {2, 0}},
        {"C#N", "C N H ", {{0, 1, 3.0}}, {1, 0}},
        {"C$C", "C C H H H H H H ", {{0, 1, 1.0}}, {3, 3}},
        {"[NH4+]", "X ", {}, {0}},
        {"B", "B ", {}, {0}},
        {"CS(=O)(=O)C", "C S O O C H H H H H H ", {{0, 1, 1.0}, {1, 2, 2.0}, {1, 3, 2.0}, {1, 4, 1.0}},
         {3, 0, 0, 0, 3}},
        {"ClC(Br)(F)I", "Cl C Br F I ", {{0, 1, 1.0}, {1, 2, 1.0}, {1, 3, 1.0}, {1, 4, 1.0}}, {0, 0, 0, 0, 0}},
        {"[C]C", "X C H H H ", {{0, 1, 1.0}}, {0, 3}},
        {"AtTs", "At Ts ", {{0, 1, 1.0}}, {0, 0}},
        // A bracket atom is not aromatic: its ring bonds count 1.0 and its neighbours get 2 hydrogens.
        {"c1cc[nH]c1", "C C C X C H H H H H H ", {{0, 4, 1.5}, {0, 1, 1.5}, {1, 2, 1.5}, {2, 3, 1.0}, {3, 4, 1.0}},
         {1, 1, 2, 0, 2}},
        {"C-C=C#C:C/C\\C", "C C C C C C C H H H H H H H H H H H ",
         {{0, 1, 1.0}, {1, 2, 2.0}, {2, 3, 3.0}, {3, 4, 1.5}, {4, 5, 1.0}, {5, 6, 1.0}}, {3, 1, 0, 0, 2, 2, 3}},
        // Aromatic ring letters become upper-case elements.
        {"n1ccoc1", "N C C O C H H H ", {{0, 4, 1.5}, {0, 1, 1.5}, {1, 2, 1.5}, {2, 3, 1.5}, {3, 4, 1.5}},
         {0, 1, 1, 0, 1}},
        {"CCO.O", "C C O O H H H H H H H H ", {{0, 1, 1.0}, {1, 2, 1.0}}, {3, 2, 1, 2}},
    };
    for (const auto& c : cases) {
        const auto m = build(c.smiles);
        EXPECT_EQ(elements(m), c.elements) << c.smiles;
        const BondList all = bonds_of(m);
        ASSERT_GE(all.size(), c.graph_bonds.size()) << c.smiles;
        EXPECT_EQ(BondList(all.begin(), all.begin() + static_cast<long>(c.graph_bonds.size())), c.graph_bonds)
            << c.smiles;
        for (std::size_t k = 0; k < c.hydrogens.size(); ++k)
            EXPECT_EQ(hydrogens_on(m, k), c.hydrogens[k]) << c.smiles << " atom " << k;
    }
}

TEST(SmilesTemplate, BiphenylLinkOrderDependsOnHowItIsWritten) {
    const auto elided = build("c1ccccc1c1ccccc1");
    const auto single = build("c1ccccc1-c1ccccc1");
    auto link = [](const MoleculeTemplate& m) {
        for (const auto& b : m.bonds)
            if ((b.i == 5 && b.j == 6) || (b.i == 6 && b.j == 5)) return b.order;
        return -1.0;
    };
    EXPECT_EQ(link(elided), 1.5);
    EXPECT_EQ(link(single), 1.0);
    // Each ring carbon gets one hydrogen except the two linked ones.
    EXPECT_EQ(elided.atoms.size(), 22u);
    EXPECT_EQ(single.atoms.size(), 22u);
}

TEST(SmilesTemplate, HalfValenceRoundsAwayFromZero) {
    // Atom 1: one aromatic bond (1.5) and one single: 4 - 2.5 = 1.5 -> 2 hydrogens.
    const auto m = build("Cc:c");
    EXPECT_EQ(hydrogens_on(m, 1), 2u);
    // Atom 1: two aromatic bonds: 4 - 3 = 1. Atom 0: one aromatic bond: 4 - 1.5 = 2.5 -> 3.
    const auto n = build("ccc");
    EXPECT_EQ(hydrogens_on(n, 0), 3u);
    EXPECT_EQ(hydrogens_on(n, 1), 1u);
    // An atom whose bonds exceed its valence gets none.
    EXPECT_EQ(hydrogens_on(build("O=C=O"), 1), 0u);
    EXPECT_EQ(hydrogens_on(build("FC=F"), 0), 0u);
}

TEST(SmilesTemplate, HydrogenValenceTable) {
    for (const auto& [sym, v] : std::vector<std::pair<std::string, int>>{
             {"C", 4}, {"c", 4}, {"N", 3}, {"P", 3}, {"O", 2}, {"S", 2}, {"F", 1}, {"Cl", 1}, {"cl", 1},
             {"BR", 1}, {"I", 1}, {"H", 1}, {"B", 0}, {"At", 0}, {"Ts", 0}, {"R", 0}, {"X", 0}, {"Si", 0},
             {"C ", 0}, {"", 0}})
        EXPECT_EQ(hydrogen_valence(sym), v) << "'" << sym << "'";
}

TEST(SmilesTemplate, StartCoordinatesFollowTheDrawOrder) {
    auto& rng = thread_rng();
    rng.seed(20240611);
    std::mt19937_64 replay = rng;
    const auto m = build("CO");  // C, O, then 3 + 1 hydrogens
    ASSERT_EQ(m.atoms.size(), 6u);
    for (std::size_t i = 0; i < 2; ++i) {
        const double y = smiles::uniform(replay, -0.3, 0.3), z = smiles::uniform(replay, -0.3, 0.3);
        EXPECT_EQ(m.atoms[i].position, (Vec3{1.5 * static_cast<double>(i), y, z}));
    }
    const Vec3 offsets[4] = {{0, 1.1, 0}, {0, -1.1, 0}, {0, 0, 1.1}, {0, 0, -1.1}};
    const std::size_t carrier[4] = {0, 0, 0, 1};
    const std::size_t slot[4] = {0, 1, 2, 0};
    for (std::size_t h = 0; h < 4; ++h) {
        Vec3 expected = m.atoms[carrier[h]].position;
        for (int d = 0; d < 3; ++d) expected[d] += offsets[slot[h]][d] + smiles::uniform(replay, -0.1, 0.1);
        EXPECT_EQ(m.atoms[2 + h].position, expected) << h;
    }
}

TEST(SmilesTemplate, UniformDrawsStayInTheirInterval) {
    std::mt19937_64 rng(7);
    double lo = 1, hi = -1;
    for (int i = 0; i < 100000; ++i) {
        const double v = smiles::uniform(rng, -0.3, 0.3);
        ASSERT_GE(v, -0.3);
        ASSERT_LT(v, 0.3);
        lo = std::min(lo, v);
        hi = std::max(hi, v);
    }
    EXPECT_LT(lo, -0.299);
    EXPECT_GT(hi, 0.299);
}

TEST(SmilesTemplate, ParserFailuresBecomeMessages) {
    const std::vector<std::pair<std::string, std::string>> cases{
        {"C(", "Failed to parse SMILES 'C(': EndOfLine"},
        {"CC)", "Failed to parse SMILES 'CC)': Character(2)"},
        {"", "Failed to parse SMILES '': EndOfLine"},
        {"C1CC", "Failed to build graph: Rnum(1)"},
        {"C=1CC#1", "Failed to build graph: Join(0, 2)"},
    };
    for (const auto& [smiles, message] : cases) {
        const auto r = parse_smiles_with_hydrogens(smiles);
        ASSERT_FALSE(r.ok()) << smiles;
        EXPECT_EQ(r.error().message, message);
    }
}

TEST(SmilesTemplate, RepeatedCallsDifferOnlyInCoordinates) {
    const auto a = build("CC(=O)Oc1ccccc1C(=O)O");
    const auto b = build("CC(=O)Oc1ccccc1C(=O)O");
    EXPECT_EQ(bonds_of(a), bonds_of(b));
    ASSERT_EQ(a.atoms.size(), b.atoms.size());
    bool moved = false;
    for (std::size_t i = 0; i < a.atoms.size(); ++i) {
        EXPECT_EQ(a.atoms[i].element, b.atoms[i].element);
        moved = moved || a.atoms[i].position != b.atoms[i].position;
    }
    EXPECT_TRUE(moved);
}

TEST(PolymerIndices, MarkersAndHeavyAtomRules) {
    const auto star = build("*CC*");
    EXPECT_EQ(elements(star), "R C C R H H H H ");
    EXPECT_EQ(hydrogens_on(star, 0), 0u);
    EXPECT_EQ(hydrogens_on(star, 3), 0u);
    EXPECT_EQ(*resolve_polymer_indices(star, std::nullopt, std::nullopt), (PolymerIndices{1, 2, 0, 3}));
    // The arguments are not consulted when markers decide, not even out-of-range ones.
    EXPECT_EQ(*resolve_polymer_indices(star, 7, 9), (PolymerIndices{1, 2, 0, 3}));

    const auto cc = build("CC");
    EXPECT_EQ(*resolve_polymer_indices(cc, std::nullopt, std::nullopt), (PolymerIndices{0, 1, 2, 5}));
    EXPECT_EQ(*resolve_polymer_indices(cc, 1, 0), (PolymerIndices{1, 0, 5, 2}));
    const auto oob = resolve_polymer_indices(cc, 5, std::nullopt);
    ASSERT_FALSE(oob.ok());
    EXPECT_EQ(oob.error().message, "Head/Tail index out of bounds. Found 2 heavy atoms.");
    EXPECT_FALSE(resolve_polymer_indices(cc, std::nullopt, 2).ok());

    EXPECT_EQ(*resolve_polymer_indices(build("C"), std::nullopt, std::nullopt), (PolymerIndices{0, 0, 1, 1}));

    // One marker is no marker pair: the heavy-atom rule applies and R is skipped.
    const auto one = build("*CC");
    EXPECT_EQ(elements(one), "R C C H H H H H ");
    EXPECT_EQ(*resolve_polymer_indices(one, std::nullopt, std::nullopt), (PolymerIndices{1, 2, 3, 5}));

    const auto alone = resolve_polymer_indices(build("*"), std::nullopt, std::nullopt);
    ASSERT_FALSE(alone.ok());
    EXPECT_EQ(alone.error().message, "No heavy atoms found in template");

    // Ordinals count heavy atoms only; an atom without hydrogens has no leaving atom.
    const auto ketone = build("CC(=O)C");
    const auto k = *resolve_polymer_indices(ketone, 2, std::nullopt);
    EXPECT_EQ(k.head, 2u);
    EXPECT_EQ(k.h_leaving, std::nullopt);
    EXPECT_EQ(k.tail, 3u);
    EXPECT_EQ(k.t_leaving, std::optional<std::uint64_t>(7));
}

TEST(PolymerIndices, MarkersBondedOnlyToHydrogenOrNothingFallBack) {
    // Markers that are not bonded to heavy atoms do not decide: "*.*C" has two
    // markers but neither is bonded, so the heavy-atom rule applies.
    const auto loose = build("*.*C");
    EXPECT_EQ(*resolve_polymer_indices(loose, std::nullopt, std::nullopt), (PolymerIndices{2, 2, 3, 3}));

    // Hand-made template: marker 0 bonded to a hydrogen first, then to carbon 1.
    MoleculeTemplate t;
    for (const char* e : {"R", "C", "H", "R"}) {
        Atom a;
        a.element = e;
        a.index = t.atoms.size();
        t.atoms.push_back(a);
    }
    t.bonds = {{0, 2, 1.0}, {1, 0, 1.0}, {3, 1, 1.0}, {1, 2, 1.0}};
    EXPECT_EQ(*resolve_polymer_indices(t, std::nullopt, std::nullopt), (PolymerIndices{1, 1, 0, 3}));
    // A bond naming an atom that does not exist is passed over.
    t.bonds = {{0, 99, 1.0}, {0, 1, 1.0}, {3, 1, 1.0}, {1, 42, 1.0}};
    EXPECT_EQ(*resolve_polymer_indices(t, std::nullopt, std::nullopt), (PolymerIndices{1, 1, 0, 3}));
    t.bonds.clear();  // no bonds: heavy-atom rule, no leaving atoms
    EXPECT_EQ(*resolve_polymer_indices(t, std::nullopt, std::nullopt),
              (PolymerIndices{1, 1, std::nullopt, std::nullopt}));
}
