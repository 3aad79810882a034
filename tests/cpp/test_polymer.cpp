#include <gtest/gtest.h>

#include <numeric>
#include <set>

#include "build/polymer.hpp"

using namespace zelt;

namespace {

Atom atom(const char* element, Vec3 p) { return Atom{"PE", element, element, 0, 0, p, 0.0, 0}; }

// *CC* as the SMILES reader gives it: two carbons first, then the two
// markers, each marker bonded to its carbon.
MoleculeTemplate star_unit() {
    MoleculeTemplate t;
    t.atoms = {atom("C", {0, 0, 0}), atom("C", {1.5, 0, 0}), atom("R", {-1.0, 0, 0}), atom("R", {2.5, 0, 0})};
    for (std::size_t i = 0; i < t.atoms.size(); ++i) t.atoms[i].index = i;
    t.bonds = {{0, 1, 1.0}, {2, 0, 1.0}, {1, 3, 1.0}};
    return t;
}

// Ethane without markers: head C0 and tail C1, each with a leaving hydrogen.
MoleculeTemplate ethane_unit() {
    MoleculeTemplate t;
    t.atoms = {atom("C", {0, 0, 0}),      atom("C", {1.54, 0, 0}),   atom("H", {-0.5, 0.9, 0}),
               atom("H", {-0.5, -0.9, 0}), atom("H", {-0.5, 0, 0.9}), atom("H", {2.0, 0.9, 0}),
               atom("H", {2.0, -0.9, 0}),  atom("H", {2.0, 0, 0.9})};
    t.bonds = {{0, 1, 1.0}, {0, 2, 1.0}, {0, 3, 1.0}, {0, 4, 1.0}, {1, 5, 1.0}, {1, 6, 1.0}, {1, 7, 1.0}};
    return t;
}

PolymerParams params(std::uint64_t degree, std::optional<std::uint64_t> head, std::optional<std::uint64_t> tail,
                     std::optional<std::uint64_t> hl, std::optional<std::uint64_t> tl) {
    PolymerParams p;
    p.degree = degree;
    p.n_chains = 1;
    p.head_index = head;
    p.tail_index = tail;
    p.head_leaving_index = hl;
    p.tail_leaving_index = tl;
    return p;
}

// Each chain is one connected bond graph.
bool connected(const MoleculeTemplate& t) {
    std::vector<std::size_t> parent(t.atoms.size());
    std::iota(parent.begin(), parent.end(), 0);
    auto find = [&](std::size_t x) {
        while (parent[x] != x) x = parent[x] = parent[parent[x]];
        return x;
    };
    for (const auto& b : t.bonds) parent[find(b.i)] = find(b.j);
    std::set<std::size_t> roots;
    for (std::size_t i = 0; i < t.atoms.size(); ++i) roots.insert(find(i));
    return roots.size() <= 1;
}

}  // namespace

TEST(Polymer, TwoUnitStarChainIsCappedAndJoined) {
    auto c = generate_chain(star_unit(), params(2, 0, 1, 2, 3));
    ASSERT_TRUE(c.ok()) << c.error().message;
    // Unit 1: C, C, H cap (head-side R); unit 2: C, C, H cap (tail-side R).
    ASSERT_EQ(c->atoms.size(), 6u);
    const char* elements[] = {"C", "C", "H", "C", "C", "H"};
    for (std::size_t k = 0; k < 6; ++k) {
        EXPECT_EQ(c->atoms[k].element, elements[k]) << k;
        EXPECT_EQ(c->atoms[k].index, k);
        EXPECT_EQ(c->atoms[k].residue_id, k < 3 ? 1u : 2u);
    }
    EXPECT_EQ(c->atoms[2].atom_type, "H");
    EXPECT_EQ(c->atoms[2].position, (Vec3{-1.0, 0, 0}));  // the first unit's head-side marker
    // Step: head->tail is 1.5 Å along x, lengthened by 1.54 Å.
    EXPECT_DOUBLE_EQ(c->atoms[3].position[0], 3.04);
    EXPECT_DOUBLE_EQ(c->atoms[5].position[0], 2.5 + 3.04);  // the last unit's tail-side marker
    const std::vector<Bond> bonds = {{0, 1, 1.0}, {2, 0, 1.0}, {3, 4, 1.0}, {4, 5, 1.0}, {1, 3, 1.0}};
    EXPECT_EQ(c->bonds, bonds);
    EXPECT_TRUE(connected(*c));
}

TEST(Polymer, LeavingHydrogensGiveSixPerUnitPlusTwo) {
    for (std::uint64_t degree : {2u, 3u, 10u}) {
        auto c = generate_chain(ethane_unit(), params(degree, 0, 1, 2, 5));
        ASSERT_TRUE(c.ok());
        EXPECT_EQ(c->atoms.size(), 6 * degree + 2) << degree;
        EXPECT_EQ(c->bonds.size(), c->atoms.size() - 1);  // a tree
        EXPECT_TRUE(connected(*c));
        for (std::size_t k = 0; k < c->atoms.size(); ++k) EXPECT_EQ(c->atoms[k].index, k);
        EXPECT_EQ(c->atoms.front().residue_id, 1u);
        EXPECT_EQ(c->atoms.back().residue_id, degree);
    }
}

TEST(Polymer, DegreeZeroAndOne) {
    auto empty = generate_chain(star_unit(), params(0, 0, 1, 2, 3));
    ASSERT_TRUE(empty.ok());
    EXPECT_TRUE(empty->atoms.empty());
    EXPECT_TRUE(empty->bonds.empty());

    // One unit is first and last at once: both caps are made, both leaving atoms kept.
    auto one = generate_chain(star_unit(), params(1, 0, 1, 2, 3));
    ASSERT_TRUE(one.ok());
    ASSERT_EQ(one->atoms.size(), 4u);
    EXPECT_EQ(one->atoms[2].element, "H");
    EXPECT_EQ(one->atoms[3].element, "H");
    EXPECT_EQ(one->bonds.size(), 3u);
    auto one_h = generate_chain(ethane_unit(), params(1, 0, 1, 2, 5));
    ASSERT_TRUE(one_h.ok());
    EXPECT_EQ(one_h->atoms.size(), 8u);
}

TEST(Polymer, StepForCoincidentOrCloseHeadAndTail) {
    MoleculeTemplate t;
    t.atoms = {atom("C", {1, 2, 3}), atom("C", {1.03, 2.04, 3})};
    auto same = generate_chain(t, params(3, 0, 0, std::nullopt, std::nullopt));
    ASSERT_TRUE(same.ok());
    EXPECT_DOUBLE_EQ(same->atoms[2].position[0], 1 + 1.54);
    EXPECT_DOUBLE_EQ(same->atoms[2].position[1], 2.0);
    auto close = generate_chain(t, params(2, 0, 1, std::nullopt, std::nullopt));
    ASSERT_TRUE(close.ok());
    EXPECT_DOUBLE_EQ(close->atoms[2].position[0], 1 + 1.54);
    EXPECT_DOUBLE_EQ(close->atoms[2].position[1], 2 + 0.04);
    // Defaults: head 0, tail the last atom; no leaving atoms, junction bond 1 -> 2.
    auto def = generate_chain(t, params(2, std::nullopt, std::nullopt, std::nullopt, std::nullopt));
    ASSERT_TRUE(def.ok());
    EXPECT_EQ(def->atoms.size(), 4u);
    EXPECT_EQ(def->bonds, (std::vector<Bond>{{1, 2, 1.0}}));
}

TEST(Polymer, InvalidUnitsAreRefused) {
    EXPECT_FALSE(generate_chain(MoleculeTemplate{}, params(2, std::nullopt, std::nullopt, std::nullopt, std::nullopt)).ok());
    EXPECT_FALSE(generate_chain(star_unit(), params(2, 4, 1, std::nullopt, std::nullopt)).ok());
    EXPECT_FALSE(generate_chain(star_unit(), params(2, 0, 9, std::nullopt, std::nullopt)).ok());
    MoleculeTemplate bad = star_unit();
    bad.bonds.push_back({1, 4, 1.0});
    auto r = generate_chain(bad, params(2, 0, 1, 2, 3));
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().message, "Repeat unit bond (1, 4) names an atom beyond its 4 atoms");
}
