#include <string>
#include <utility>
#include <variant>
#include <vector>

#include <gtest/gtest.h>

#include "smiles/reader.hpp"

using namespace zelt::smiles;

namespace {

AtomGraph read_ok(std::string_view text) {
    auto r = read(text);
    if (auto* f = std::get_if<ReadFailure>(&r)) {
        ADD_FAILURE() << "'" << text << "' failed: " << f->description;
        return {};
    }
    return std::get<AtomGraph>(std::move(r));
}

ReadFailure read_failure(std::string_view text) {
    auto r = read(text);
    if (auto* f = std::get_if<ReadFailure>(&r)) return *f;
    ADD_FAILURE() << "'" << text << "' was accepted";
    return {};
}

using Bonds = std::vector<GraphBond>;

}  // namespace

TEST(SmilesReader, OrganicAromaticStarAndBracketAtoms) {
    const auto g = read_ok("BCNOSPFClBrIAtTs*bcnops[13C@@H2+:7]");
    const std::vector<std::pair<AtomKind, std::string>> expected{
        {AtomKind::Aliphatic, "B"},  {AtomKind::Aliphatic, "C"},  {AtomKind::Aliphatic, "N"},
        {AtomKind::Aliphatic, "O"},  {AtomKind::Aliphatic, "S"},  {AtomKind::Aliphatic, "P"},
        {AtomKind::Aliphatic, "F"},  {AtomKind::Aliphatic, "Cl"}, {AtomKind::Aliphatic, "Br"},
        {AtomKind::Aliphatic, "I"},  {AtomKind::Aliphatic, "At"}, {AtomKind::Aliphatic, "Ts"},
        {AtomKind::Star, ""},        {AtomKind::Aromatic, "b"},   {AtomKind::Aromatic, "c"},
        {AtomKind::Aromatic, "n"},   {AtomKind::Aromatic, "o"},   {AtomKind::Aromatic, "p"},
        {AtomKind::Aromatic, "s"},   {AtomKind::Bracket, ""},
    };
    ASSERT_EQ(g.atoms.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(g.atoms[i].kind, expected[i].first) << i;
        EXPECT_EQ(g.atoms[i].symbol, expected[i].second) << i;
    }
}

TEST(SmilesReader, BracketGrammarIsAcceptedInFull) {
    for (const char* s : {"[H]", "[2H]", "[HH]", "[*]", "[se]", "[as]", "[nH]", "[Fe+2]", "[Fe+12]", "[C--]",
                          "[C++]", "[O-]", "[NH4+]", "[C@]", "[C@@]", "[C@TH1]", "[C@TH2]", "[C@AL2]", "[C@SP3]",
                          "[C@TB1]", "[C@TB20]", "[C@OH9]", "[C@OH30]", "[C@@H]", "[13CH3-:123]", "[Og]", "[Uut]"}) {
        auto r = read(s);
        if (std::string(s) == "[Uut]") {  // not an element symbol
            EXPECT_TRUE(std::holds_alternative<ReadFailure>(r)) << s;
            continue;
        }
        ASSERT_TRUE(std::holds_alternative<AtomGraph>(r)) << s << ": " << std::get<ReadFailure>(r).description;
        const auto& g = std::get<AtomGraph>(r);
        ASSERT_EQ(g.atoms.size(), 1u) << s;
        EXPECT_EQ(g.atoms[0].kind, AtomKind::Bracket) << s;
    }
}

TEST(SmilesReader, BondSymbolsAndBothDirectionsOfEveryBond) {
    const auto g = read_ok("C-C=C#C$C:C/C\\CC");
    const BondKind kinds[] = {BondKind::Single, BondKind::Double, BondKind::Triple,   BondKind::Quadruple,
                              BondKind::Aromatic, BondKind::Up,   BondKind::Down,     BondKind::Elided};
    ASSERT_EQ(g.atoms.size(), 9u);
    EXPECT_EQ(g.atoms[0].bonds, (Bonds{{1, kinds[0]}}));
    for (std::size_t i = 1; i < 8; ++i) EXPECT_EQ(g.atoms[i].bonds, (Bonds{{i - 1, kinds[i - 1]}, {i + 1, kinds[i]}}));
    EXPECT_EQ(g.atoms[8].bonds, (Bonds{{7, BondKind::Elided}}));
}

TEST(SmilesReader, BranchesAndDotsAttachToTheRightAtoms) {
    // Atom 0 carries two branches and the chain; the dot inside a branch cuts it off.
    const auto g = read_ok("C(=O)(C.N)C.O");
    ASSERT_EQ(g.atoms.size(), 6u);
    EXPECT_EQ(g.atoms[0].bonds, (Bonds{{1, BondKind::Double}, {2, BondKind::Elided}, {4, BondKind::Elided}}));
    EXPECT_EQ(g.atoms[3].bonds, Bonds{});  // N after the dot
    EXPECT_EQ(g.atoms[5].bonds, Bonds{});  // O after the dot
    const auto h = read_ok("C(.C)C");
    EXPECT_EQ(h.atoms[0].bonds, (Bonds{{2, BondKind::Elided}}));
    EXPECT_EQ(h.atoms[1].bonds, Bonds{});
    const auto nested = read_ok("CC(C(C)C)(C)C");
    EXPECT_EQ(nested.atoms[1].bonds,
              (Bonds{{0, BondKind::Elided}, {2, BondKind::Elided}, {5, BondKind::Elided}, {6, BondKind::Elided}}));
    EXPECT_EQ(nested.atoms[2].bonds, (Bonds{{1, BondKind::Elided}, {3, BondKind::Elided}, {4, BondKind::Elided}}));
}

TEST(SmilesReader, RingClosuresSitWhereTheirDigitsStand) {
    const auto g = read_ok("c1ccccc1");
    ASSERT_EQ(g.atoms.size(), 6u);
    EXPECT_EQ(g.atoms[0].bonds, (Bonds{{5, BondKind::Elided}, {1, BondKind::Elided}}));
    EXPECT_EQ(g.atoms[5].bonds, (Bonds{{4, BondKind::Elided}, {0, BondKind::Elided}}));

    // The kind written on one side is the kind of the bond; both sides may agree.
    EXPECT_EQ(read_ok("C=1CCC1").atoms[3].bonds, (Bonds{{2, BondKind::Elided}, {0, BondKind::Double}}));
    EXPECT_EQ(read_ok("C1CCC=1").atoms[0].bonds, (Bonds{{3, BondKind::Double}, {1, BondKind::Elided}}));
    EXPECT_EQ(read_ok("C#1CCC#1").atoms[0].bonds, (Bonds{{3, BondKind::Triple}, {1, BondKind::Elided}}));

    // "%nn", reuse of a number, and several closures on one atom.
    EXPECT_EQ(read_ok("C%10CC%10").atoms[0].bonds, (Bonds{{2, BondKind::Elided}, {1, BondKind::Elided}}));
    const auto reuse = read_ok("C1CC1C1CC1");
    EXPECT_EQ(reuse.atoms[3].bonds, (Bonds{{2, BondKind::Elided}, {5, BondKind::Elided}, {4, BondKind::Elided}}));
    const auto cubane = read_ok("C12C3C4C1C5C2C3C45");
    ASSERT_EQ(cubane.atoms.size(), 8u);
    std::size_t ends = 0;
    for (const auto& a : cubane.atoms) {
        EXPECT_EQ(a.bonds.size(), 3u);
        ends += a.bonds.size();
    }
    EXPECT_EQ(ends, 24u);
    // "1" and "%01" are the same ring number.
    EXPECT_EQ(read_ok("C%01CC1").atoms[0].bonds, (Bonds{{2, BondKind::Elided}, {1, BondKind::Elided}}));
}

TEST(SmilesReader, FailuresCarryTheirDescriptions) {
    const std::vector<std::pair<std::string, ReadFailure>> cases{
        {"", {FailureKind::Reading, "EndOfLine"}},
        {"C(", {FailureKind::Reading, "EndOfLine"}},
        {"C(C", {FailureKind::Reading, "EndOfLine"}},
        {"C=", {FailureKind::Reading, "EndOfLine"}},
        {"C.", {FailureKind::Reading, "EndOfLine"}},
        {"[C", {FailureKind::Reading, "EndOfLine"}},
        {"[", {FailureKind::Reading, "EndOfLine"}},
        {"C%1", {FailureKind::Reading, "EndOfLine"}},
        {"[C:", {FailureKind::Reading, "EndOfLine"}},
        {"[C@TH", {FailureKind::Reading, "EndOfLine"}},
        {"CA", {FailureKind::Reading, "EndOfLine"}},
        {"C)", {FailureKind::Reading, "Character(1)"}},
        {"()", {FailureKind::Reading, "Character(0)"}},
        {"C()", {FailureKind::Reading, "Character(2)"}},
        {"=C", {FailureKind::Reading, "Character(0)"}},
        {"C..C", {FailureKind::Reading, "Character(2)"}},
        {"C=.C", {FailureKind::Reading, "Character(2)"}},
        {"C(=.C)", {FailureKind::Reading, "Character(3)"}},
        {"C==C", {FailureKind::Reading, "Character(2)"}},
        {"C(C)1CC1", {FailureKind::Reading, "Character(4)"}},
        {"C(C)=1CC1", {FailureKind::Reading, "Character(5)"}},
        {"C%1C", {FailureKind::Reading, "Character(3)"}},
        {"CAx", {FailureKind::Reading, "Character(2)"}},
        {"CX", {FailureKind::Reading, "Character(1)"}},
        {"Ca", {FailureKind::Reading, "Character(1)"}},
        {"[X]", {FailureKind::Reading, "Character(2)"}},
        {"[Q]", {FailureKind::Reading, "Character(1)"}},
        {"[ax]", {FailureKind::Reading, "Character(2)"}},
        {"[CH12]", {FailureKind::Reading, "Character(4)"}},
        {"[C+++]", {FailureKind::Reading, "Character(4)"}},
        {"[C++2]", {FailureKind::Reading, "Character(4)"}},
        {"[C+123]", {FailureKind::Reading, "Character(5)"}},
        {"[C@TB21]", {FailureKind::Reading, "Character(6)"}},
        {"[C@TH3]", {FailureKind::Reading, "Character(5)"}},
        {"[C@TB0]", {FailureKind::Reading, "Character(5)"}},
        {"[C@X]", {FailureKind::Reading, "Character(3)"}},
        {"[C:x]", {FailureKind::Reading, "Character(3)"}},
        {"[CH]C]", {FailureKind::Reading, "Character(5)"}},
        {"C C", {FailureKind::Reading, "Character(1)"}},
        {"CCO\n", {FailureKind::Reading, "Character(3)"}},
        // Positions count characters: the bad "!" is the fourth character.
        {"C\xC3\xA9!", {FailureKind::Reading, "Character(1)"}},
        {"CC\xC3\xA9", {FailureKind::Reading, "Character(2)"}},
        // A reading failure wins over an unresolved ring.
        {"C1CC(", {FailureKind::Reading, "EndOfLine"}},
        {"C=1CC#1)", {FailureKind::Reading, "Character(7)"}},
        {"C1CC", {FailureKind::Graph, "Rnum(1)"}},
        {"C2CC1", {FailureKind::Graph, "Rnum(2)"}},
        {"C%42C", {FailureKind::Graph, "Rnum(42)"}},
        {"C1CC1C2", {FailureKind::Graph, "Rnum(2)"}},
        {"C=1CCC#1", {FailureKind::Graph, "Join(0, 3)"}},
        {"C/1CCC\\1", {FailureKind::Graph, "Join(0, 3)"}},
        {"C-1CCC=1", {FailureKind::Graph, "Join(0, 3)"}},
        {"CC11", {FailureKind::Graph, "Join(1, 1)"}},
        {"C1C1", {FailureKind::Graph, "Join(0, 1)"}},
        {"C12CC12", {FailureKind::Graph, "Join(0, 2)"}},
        // The first failed join is reported, and it wins over a ring left open.
        {"C1C1.C=2CC#2C3", {FailureKind::Graph, "Join(0, 1)"}},
    };
    for (const auto& [text, expected] : cases) {
        const ReadFailure f = read_failure(text);
        EXPECT_EQ(f.kind, expected.kind) << "'" << text << "'";
        EXPECT_EQ(f.description, expected.description) << "'" << text << "'";
    }
}

TEST(SmilesReader, NeverLooksPastTheEndOfTheText) {
    // Each view ends inside a longer buffer; what follows must not be read.
    const std::string buffer = "C[C]Cl%12";
    EXPECT_EQ(read_failure(std::string_view(buffer).substr(0, 2)).description, "EndOfLine");  // "C["
    EXPECT_EQ(read_failure(std::string_view(buffer).substr(0, 3)).description, "EndOfLine");  // "C[C"
    const auto c = read_ok(std::string_view(buffer).substr(4, 1));                            // "C" of "Cl"
    ASSERT_EQ(c.atoms.size(), 1u);
    EXPECT_EQ(c.atoms[0].symbol, "C");
    EXPECT_EQ(read_failure(std::string_view(buffer).substr(4, 4)).description, "EndOfLine");  // "Cl%1"
    const std::string at = "CAt";
    EXPECT_EQ(read_failure(std::string_view(at).substr(0, 2)).description, "EndOfLine");
}

TEST(SmilesReader, DeepNestingAndLongInputDoNotExhaustTheStack) {
    const std::size_t depth = 300000;
    std::string nested = "C";
    for (std::size_t i = 0; i < depth; ++i) nested += "(C";
    nested.append(depth, ')');
    const auto g = read_ok(nested);
    ASSERT_EQ(g.atoms.size(), depth + 1);
    EXPECT_EQ(g.atoms.back().bonds, (Bonds{{depth - 1, BondKind::Elided}}));

    EXPECT_EQ(read_failure("C" + std::string(depth, '(')).description, "Character(2)");
    std::string unbalanced = nested.substr(0, nested.size() - 1);
    EXPECT_EQ(read_failure(unbalanced).description, "EndOfLine");

    const std::string chain(1000000, 'C');
    const auto long_chain = read_ok(chain);
    EXPECT_EQ(long_chain.atoms.size(), chain.size());
}
