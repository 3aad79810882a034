#include <gtest/gtest.h>

#include <cmath>

#include "io/mol2.hpp"

using namespace zelt;

namespace {

System fixture() {
    System s = System::from_cell(cubic_cell(10.0));
    s.atoms.push_back(Atom{"X", "C", "C.3", 0, 0, {1.5, -2.25, 0.0}, -0.12345, 0});
    s.atoms.push_back(Atom{"X", "O", "XX", 1, 0, {1234567.12345, 0.00005, -0.0}, 0.0, 0});
    s.atoms.push_back(Atom{"X", "Chlorine", "Cl", 2, 0, {0.0, 0.0, 1.0}, 1.0, 0});
    s.bonds.push_back(Bond{0, 1, 2.0});
    s.bonds.push_back(Bond{1, 2, 1.45});
    s.bonds.push_back(Bond{0, 2, 1.39});
    s.bonds.push_back(Bond{2, 0, 2.95});
    return s;
}

const char* const fixture_text =
    "@<TRIPOS>MOLECULE\n"
    "ZELT_System\n"
    "    3     4     1     0     0\n"
    "SMALL\n"
    "USER_CHARGES\n"
    "\n"
    "@<TRIPOS>ATOM\n"
    "      1 C            1.5000    -2.2500     0.0000 C.3          1 RES         -0.1235\n"
    "      2 O        1234567.1235     0.0001    -0.0000 O            1 RES          0.0000\n"
    "      3 Chlorine     0.0000     0.0000     1.0000 Cl           1 RES          1.0000\n"
    "@<TRIPOS>BOND\n"
    "     1      1      2   2\n"
    "     2      2      3  ar\n"
    "     3      1      3   1\n"
    "     4      3      1   3\n"
    "@<TRIPOS>CRYSIN\n"
    "   10.0000    10.0000    10.0000    90.0000    90.0000    90.0000 1 1\n";

std::string read_error(const std::string& text) {
    auto r = parse_mol2_internal(text);
    return r.ok() ? std::string("<no error>") : r.error().message;
}

}  // namespace

TEST(Mol2Writer, FixedLayoutCharacterForCharacter) { EXPECT_EQ(write_mol2(fixture()), fixture_text); }

TEST(Mol2Writer, NoBondsStillWritesBondHeaderAndIdsComeFromIndex) {
    System s = System::from_cell(cubic_cell(20.0));
    s.atoms.push_back(Atom{"M", "N", "XX", 41, 0, {0, 0, 0}, 0.0, 0});
    const std::string out = write_mol2(s);
    EXPECT_NE(out.find("@<TRIPOS>BOND\n@<TRIPOS>CRYSIN\n"), std::string::npos);
    EXPECT_NE(out.find("\n     42 N"), std::string::npos);
    EXPECT_NE(out.find("    1     0     1     0     0\n"), std::string::npos);
}

TEST(Mol2Reader, RoundTripOfWriterOutput) {
    System s = System::from_cell(Mat3{{{12.0, 0.0, 0.0}, {-3.0, 11.0, 0.0}, {2.0, 1.5, 9.0}}});
    s.atoms.push_back(Atom{"A", "C", "XX", 0, 0, {0.123456, 1.0, 2.0}, 0.456789, 0});
    s.atoms.push_back(Atom{"A", "N", "N.ar", 1, 0, {-5.55555, 3.0, 4.0}, -1.0, 0});
    s.atoms.push_back(Atom{"A", "H", "XX", 2, 0, {1.0, 1.0, 1.0}, 0.0, 0});
    for (double order : {1.0, 2.0, 3.0, 1.5}) s.bonds.push_back(Bond{0, 1, order});
    s.bonds.push_back(Bond{1, 2, 1.0});

    auto back = parse_mol2_as_system(write_mol2(s));
    ASSERT_TRUE(back.ok()) << back.error().message;
    ASSERT_EQ(back->atoms.size(), 3u);
    const auto& a0 = back->atoms[0];
    EXPECT_EQ(a0.residue_name, "ZELT_System");
    EXPECT_EQ(a0.element, "C");
    EXPECT_EQ(a0.atom_type, "C");  // unassigned type written as the element
    EXPECT_EQ(a0.index, 0u);
    EXPECT_DOUBLE_EQ(a0.position[0], 0.1235);
    EXPECT_DOUBLE_EQ(a0.charge, 0.4568);
    EXPECT_EQ(back->atoms[1].atom_type, "N.ar");
    EXPECT_EQ(back->atoms[1].element, "N");
    EXPECT_DOUBLE_EQ(back->atoms[1].position[0], -5.5556);
    ASSERT_EQ(back->bonds.size(), 5u);
    const double orders[] = {1.0, 2.0, 3.0, 1.5, 1.0};
    for (int k = 0; k < 5; ++k) EXPECT_EQ(back->bonds[k].order, orders[k]);
    // The cell comes back from lengths and angles: a along x, b in the xy plane,
    // with the same lengths and angles as the original.
    const auto& c = back->cell;
    EXPECT_DOUBLE_EQ(c[0][1], 0.0);
    EXPECT_DOUBLE_EQ(c[1][2], 0.0);
    auto len = [](const Vec3& v) { return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]); };
    for (int r = 0; r < 3; ++r) EXPECT_NEAR(len(c[r]), len(s.cell[r]), 1e-4);
    auto dot = [](const Vec3& u, const Vec3& v) { return u[0] * v[0] + u[1] * v[1] + u[2] * v[2]; };
    EXPECT_NEAR(dot(c[1], c[2]) / (len(c[1]) * len(c[2])), dot(s.cell[1], s.cell[2]) / (len(s.cell[1]) * len(s.cell[2])), 1e-5);
    EXPECT_NEAR(back->inv_cell[0][0] * c[0][0], 1.0, 1e-12);
}

TEST(Mol2Reader, TolerantRules) {
    const std::string text =
        "# comment\n"
        "@<TRIPOS>MOLECULE\r\n"
        "  water box  \r\n"
        "3 2\n"
        "@<TRIPOS>atom\n"
        "9 X 0 0 0 C.3\n"  // lower-case section name: ignored
        "@<TRIPOS>ATOM\n"
        "1 O1 0.0 0.0 0.0 O.3 1 RES\n"        // 8 tokens: charge 0
        "+2 H1 1 0 0 H 1 RES abc\n"           // unparsable charge: 0
        "3 C1 1e0 -2 inf .x 1 RES -0.5 9 9\n"  // empty element
        "4 X 1 2\n"                           // short: ignored
        "@<TRIPOS>SUBSTRUCTURE\n"
        "1 RES 1\n"
        "@<TRIPOS>BOND\n"
        "1 1 2 am\n"
        "2 1 3 du\n"
        "3 2 3 4\n"
        "4 1 2\n"
        "@<TRIPOS>CRYSIN\n"
        "5 5 5\n"
        "10 20 30 90 90 90 1 1\n"
        "40 40 40 90 90 90\n";
    auto r = parse_mol2_internal(text);
    ASSERT_TRUE(r.ok()) << r.error().message;
    EXPECT_EQ(r->name, "water box");
    ASSERT_EQ(r->atoms.size(), 3u);
    EXPECT_EQ(r->atoms[0].residue_name, "water box");
    EXPECT_EQ(r->atoms[0].charge, 0.0);
    EXPECT_EQ(r->atoms[1].charge, 0.0);
    EXPECT_EQ(r->atoms[1].index, 1u);
    EXPECT_EQ(r->atoms[2].element, "");
    EXPECT_EQ(r->atoms[2].atom_type, ".x");
    EXPECT_EQ(r->atoms[2].charge, -0.5);
    EXPECT_TRUE(std::isinf(r->atoms[2].position[2]));
    ASSERT_EQ(r->bonds.size(), 3u);
    EXPECT_EQ(r->bonds[0].order, 1.5);
    EXPECT_EQ(r->bonds[1].order, 1.0);
    EXPECT_EQ(r->bonds[2].order, 1.0);
    ASSERT_TRUE(r->cell.has_value());
    EXPECT_DOUBLE_EQ((*r->cell)[0][0], 40.0);  // the later CRYSIN line wins
    EXPECT_NEAR((*r->cell)[2][2], 40.0, 1e-12);
}

TEST(Mol2Reader, RightAnglesGiveAnExactlyOrthogonalCell) {
    auto r = parse_mol2_as_system("@<TRIPOS>CRYSIN\n10 12 14 90 90 90 1 1\n");
    ASSERT_TRUE(r.ok());
    Mat3 expected{};
    expected[0][0] = 10.0;
    expected[1][1] = 12.0;
    expected[2][2] = 14.0;
    EXPECT_EQ(r->cell, expected);
    // Other angles keep the general formula.
    auto m = parse_mol2_as_system("@<TRIPOS>CRYSIN\n10 10 10 90 90 120 1 1\n");
    ASSERT_TRUE(m.ok());
    EXPECT_DOUBLE_EQ(m->cell[1][0], -5.0);
    EXPECT_EQ(m->cell[2][0], 0.0);
    EXPECT_EQ(m->cell[2][2], 10.0);
}

TEST(Mol2Reader, EmptyTextGivesDefaultCube) {
    auto r = parse_mol2_as_system("no sections here\n");
    ASSERT_TRUE(r.ok());
    EXPECT_TRUE(r->atoms.empty());
    EXPECT_EQ(r->cell, cubic_cell(20.0));
    EXPECT_DOUBLE_EQ(r->inv_cell[2][2], 0.05);
}

TEST(Mol2Reader, Failures) {
    const std::string atom = "@<TRIPOS>ATOM\n";
    struct Case {
        std::string text;
        std::string message;
    };
    const Case cases[] = {
        {atom + "x C 0 0 0 C\n", "invalid digit found in string"},
        {atom + "-1 C 0 0 0 C\n", "invalid digit found in string"},
        {atom + "+ C 0 0 0 C\n", "invalid digit found in string"},
        {atom + "99999999999999999999 C 0 0 0 C\n", "number too large to fit in target type"},
        {atom + "1 C 0 abc 0 C\n", "invalid float literal"},
        {atom + "1 C 0 0 0 C\n@<TRIPOS>BOND\n1 1 y 1\n", "invalid digit found in string"},
        {"@<TRIPOS>CRYSIN\n10 10 ten 90 90 90\n", "invalid float literal"},
        {atom + "1 C 0 0 0 C\n2 C 1 0 0 C\n@<TRIPOS>BOND\n1 1 3 1\n",
         "bond on line 5 ('1 1 3 1') refers to atom 3, but the file has 2 atoms"},
        {atom + "1 C 0 0 0 C\n@<TRIPOS>BOND\n1 0 1 1\n",
         "bond on line 4 ('1 0 1 1') refers to atom 0, but the file has 1 atoms"},
    };
    for (const auto& c : cases) EXPECT_EQ(read_error(c.text), c.message) << c.text;
}

TEST(Mol2Reader, TemplateDropsNameAndCell) {
    auto t = parse_mol2(fixture_text);
    ASSERT_TRUE(t.ok());
    EXPECT_EQ(t->atoms.size(), 3u);
    EXPECT_EQ(t->bonds.size(), 4u);
    EXPECT_EQ(t->atoms[2].element, "Cl");
}
