#include <gtest/gtest.h>

#include <cmath>

#include "core/elements.hpp"
#include "core/records.hpp"

using namespace zelt;

TEST(Elements, LookupIsCaseInsensitiveAndWhole) {
    struct Case {
        const char* symbol;
        double mass;
        std::uint32_t number;
    };
    const Case cases[] = {
        {"cl", 35.45, 17}, {"Cl", 35.45, 17}, {"CL", 35.45, 17}, {"H", 1.008, 1},   {"lr", 262.0, 103},
        {"Xx", 0.0, 0},    {"R", 0.0, 0},     {"C1", 0.0, 0},    {"Ca ", 0.0, 0},   {"", 0.0, 0},
        {" C", 0.0, 0},    {"CA", 40.078, 20}, {"se", 78.971, 34},
        // Unicode upper-casing: the long s and the dotless i become S and I.
        {"\xC5\xBF", 32.06, 16}, {"\xC4\xB1n", 114.82, 49}, {"\xC3\xA9", 0.0, 0},
    };
    for (const auto& c : cases) {
        EXPECT_DOUBLE_EQ(atomic_mass(c.symbol), c.mass) << c.symbol;
        EXPECT_EQ(atomic_number(c.symbol), c.number) << c.symbol;
    }
}

TEST(Elements, TableIsInAtomicNumberOrder) {
    for (std::uint32_t z = 1; z <= element_count; ++z) {
        const auto& e = element_by_number(z);
        EXPECT_EQ(e.number, z);
        EXPECT_EQ(atomic_number(e.symbol), z);
        EXPECT_GT(e.mass, 0.0);
    }
    EXPECT_EQ(element_by_number(8).symbol, "O");
    EXPECT_DOUBLE_EQ(element_by_number(43).mass, 98.0);
}

TEST(SystemRecord, IdentityCell) {
    Mat3 id{};
    id[0][0] = id[1][1] = id[2][2] = 1.0;
    const System s = System::from_cell(id);
    EXPECT_EQ(s.inv_cell, id);
    EXPECT_TRUE(s.atoms.empty());
    EXPECT_TRUE(s.bonds.empty());
}

TEST(SystemRecord, TriclinicInverseAndSetCell) {
    const Mat3 cell{{{10.0, 0.0, 0.0}, {2.5, 9.0, 0.0}, {-1.5, 3.0, 8.0}}};
    System s = System::from_cell(cell);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            double p = 0.0;
            for (int k = 0; k < 3; ++k) p += s.cell[i][k] * s.inv_cell[k][j];
            EXPECT_NEAR(p, i == j ? 1.0 : 0.0, 1e-14);
        }
    s.set_cell(cubic_cell(4.0));
    EXPECT_DOUBLE_EQ(s.inv_cell[1][1], 0.25);
    EXPECT_DOUBLE_EQ(s.inv_cell[1][0], 0.0);
}

TEST(SystemRecord, SingularCellGivesNonFiniteInverse) {
    const System s = System::from_cell(Mat3{});
    EXPECT_FALSE(std::isfinite(s.inv_cell[0][0]));
}

TEST(SystemRecord, CopiesAreDeep) {
    MoleculeTemplate t;
    t.atoms.push_back(Atom{"MOL", "C", "C", 0, 0, {1, 2, 3}, 0.0, 0});
    MoleculeTemplate u = t;
    u.atoms[0].element = "N";
    u.atoms[0].position[0] = 9.0;
    EXPECT_EQ(t.atoms[0].element, "C");
    EXPECT_EQ(t.atoms[0].position[0], 1.0);
}
