#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "forcefield/params.hpp"
#include "forcefield/system.hpp"
#include "forcefield/typing.hpp"
#include "forcefield_fixtures.hpp"

using namespace zelt::forcefield;
using fixtures::Molecule;

namespace {

std::vector<std::string> labels(const System& s) {
    std::vector<std::string> out;
    for (const Atom& a : s.atoms()) out.push_back(a.uff_type.value);
    return out;
}

// A ring of `n` atoms with the given elements and bond orders, each ring atom
// carrying `h[k]` hydrogens (coordinates do not matter for typing).
Molecule ring(const std::vector<std::uint64_t>& z, const std::vector<float>& orders, const std::vector<int>& h) {
    Molecule m;
    for (std::size_t k = 0; k < z.size(); ++k) m.add(z[k], {double(k), 0, 0});
    for (std::size_t k = 0; k < z.size(); ++k) m.bond(k, (k + 1) % z.size(), orders[k]);
    for (std::size_t k = 0; k < z.size(); ++k)
        for (int n = 0; n < h[k]; ++n) m.bond(k, m.add(1, {double(k), 1.0 + n, 0}));
    return m;
}

}  // namespace

TEST(UffTable, RowsInTableOrder) {
    const std::vector<std::string> expected{
        "Du",    "H_",    "D",     "H_b",   "He4+4", "Li",    "Be3+2", "B_3",   "B_2",   "C_3",   "C_R",   "C_2",
        "C_1",   "N_3",   "N_R",   "N_2",   "N_1",   "O_3",   "O_3_z", "O_R",   "O_2",   "O_1",   "F_",    "Ne4+4",
        "Na",    "Mg3+2", "Al3",   "Si3",   "P_3+3", "P_3+5", "P_3+q", "S_3+2", "S_3+4", "S_3+6", "S_R",   "S_2",
        "Cl",    "Ar4+4", "K_",    "Ca6+2", "Sc3+3", "Ti3+4", "Ti6+4", "V_3+5", "Cr6+3", "Mn6+2", "Fe3+2", "Fe6+2",
        "Co6+3", "Ni4+2", "Cu3+1", "Zn3+2", "Ga3+3", "Ge3",   "As3+3", "Se3+2", "Br",    "Kr4+4", "Rb",    "Sr6+2",
        "Y_3+3", "Zr3+4", "Nb3+5", "Mo6+6", "Mo3+6", "Tc6+5", "Ru6+2", "Rh6+3", "Pd4+2", "Ag1+1", "Cd3+2", "In3+3",
        "Sn3",   "Sb3+3", "Te3+2", "I_",    "Xe4+4", "Cs",    "Ba6+2", "La3+3", "Ce6+3", "Pr6+3", "Nd6+3", "Pm6+3",
        "Sm6+3", "Eu6+3", "Gd6+3", "Tb6+3", "Dy6+3", "Ho6+3", "Er6+3", "Tm6+3", "Yb6+3", "Lu6+3", "Hf3+4", "Ta3+5",
        "W_6+6", "W_3+4", "W_3+6", "Re6+5", "Re3+7", "Os6+6", "Ir6+3", "Pt4+2", "Au4+3", "Hg1+2", "Tl3+3", "Pb3",
        "Bi3+3", "Po3+2", "At",    "Rn4+4", "Fr",    "Ra6+2", "Ac6+3", "Th6+4", "Pa6+4", "U_6+4", "Np6+4", "Pu6+4",
        "Am6+4", "Cm6+3", "Bk6+3", "Cf6+3", "Es6+3", "Fm6+3", "Md6+3", "No6+3", "Lw6+3"};
    const auto table = uff_params_table();
    ASSERT_EQ(table.size(), expected.size());
    for (std::size_t k = 0; k < table.size(); ++k) EXPECT_EQ(table[k].label, expected[k]) << k;
}

TEST(UffTable, ReachableRowsCarryTheirValues) {
    // label, r1, theta0, x1, d1, zeta, z1, chi, v_sp3
    const std::vector<UffParams> rows{
        {"Du", 0.01, 180, 0.4, 5000, 12, 10, 9.66, 0},        {"H_", 0.354, 180, 2.886, 0.044, 12, 0.712, 4.528, 0},
        {"D", 0.354, 180, 2.886, 0.044, 12, 0.712, 4.528, 0}, {"B_3", 0.838, 109.47, 4.083, 0.18, 12.052, 1.755, 5.11, 0},
        {"B_2", 0.828, 120, 4.083, 0.18, 12.052, 1.755, 5.11, 0},
        {"C_3", 0.757, 109.47, 3.851, 0.105, 12.73, 1.912, 5.343, 2.119},
        {"C_R", 0.729, 120, 3.851, 0.105, 12.73, 1.912, 5.343, 0},
        {"C_2", 0.732, 120, 3.851, 0.105, 12.73, 1.912, 5.343, 0},
        {"C_1", 0.706, 180, 3.851, 0.105, 12.73, 1.912, 5.343, 0},
        {"N_3", 0.7, 106.7, 3.66, 0.069, 13.407, 2.544, 6.899, 0.45},
        {"N_R", 0.699, 120, 3.66, 0.069, 13.407, 2.544, 6.899, 0},
        {"N_2", 0.685, 111.2, 3.66, 0.069, 13.407, 2.544, 6.899, 0},
        {"N_1", 0.656, 180, 3.66, 0.069, 13.407, 2.544, 6.899, 0},
        {"O_3", 0.658, 104.51, 3.5, 0.06, 14.085, 2.3, 8.741, 0.018},
        {"O_R", 0.68, 110, 3.5, 0.06, 14.085, 2.3, 8.741, 0}, {"O_2", 0.634, 120, 3.5, 0.06, 14.085, 2.3, 8.741, 0},
        {"F_", 0.668, 180, 3.364, 0.05, 14.762, 1.735, 10.874, 0},
        {"S_2", 0.854, 120, 4.035, 0.274, 13.969, 2.703, 6.928, 0},
        {"K_", 1.953, 180, 3.812, 0.035, 12, 1.165, 2.421, 0}, {"I_", 1.382, 180, 4.5, 0.339, 15, 2.65, 6.822, 0}};
    for (const auto& want : rows) {
        const UffParams* got = find_uff_params(want.label);
        ASSERT_NE(got, nullptr) << want.label;
        EXPECT_EQ(got->label, want.label);
        EXPECT_DOUBLE_EQ(got->r1, want.r1) << want.label;
        EXPECT_DOUBLE_EQ(got->theta0, want.theta0) << want.label;
        EXPECT_DOUBLE_EQ(got->x1, want.x1) << want.label;
        EXPECT_DOUBLE_EQ(got->d1, want.d1) << want.label;
        EXPECT_DOUBLE_EQ(got->zeta, want.zeta) << want.label;
        EXPECT_DOUBLE_EQ(got->z1, want.z1) << want.label;
        EXPECT_DOUBLE_EQ(got->chi, want.chi) << want.label;
        EXPECT_DOUBLE_EQ(got->v_sp3, want.v_sp3) << want.label;
    }
}

TEST(UffTable, FirstMatchLookup) {
    struct Case {
        const char* label;
        const char* row;  // nullptr: nothing found
    };
    const Case cases[] = {{"H_b", "H_"}, {"H_", "H_"},   {"F_1", "F_"},  {"I_1", "I_"},  {"K_", "K_"},
                          {"K_1", "K_"}, {"B_3", "B_3"}, {"B_2", "B_2"}, {"S_2", "S_2"}, {"D", "D"},
                          {"Cl_1", nullptr}, {"Br_1", nullptr}, {"Si_4", nullptr}, {"P_3", nullptr},
                          {"S_3", nullptr},  {"S_1", nullptr},  {"Na_", nullptr},  {"X_1", nullptr},
                          {"", nullptr},     {"Unknown", nullptr}};
    for (const auto& c : cases) {
        const UffParams* row = find_uff_params(c.label);
        if (c.row == nullptr)
            EXPECT_EQ(row, nullptr) << c.label;
        else {
            ASSERT_NE(row, nullptr) << c.label;
            EXPECT_EQ(row->label, c.row) << c.label;
        }
    }
}

TEST(UffTable, ElementRowWhenTheLabelFindsNothing) {
    struct Case {
        std::uint64_t z;
        const char* row;
    };
    const Case cases[] = {{17, "Cl"},    {35, "Br"}, {14, "Si3"}, {15, "P_3+3"}, {16, "S_3+2"}, {11, "Na"},
                          {53, "I_"},    {19, "K_"}, {74, "W_6+6"}, {2, "He4+4"}, {5, "B_3"}};
    for (const auto& c : cases) {
        const UffParams* row = element_params(c.z);
        ASSERT_NE(row, nullptr) << c.z;
        EXPECT_EQ(row->label, c.row) << c.z;
    }
    EXPECT_EQ(element_params(0), nullptr);
    EXPECT_EQ(element_params(104), nullptr);
    EXPECT_EQ(element_params(103), nullptr);  // lawrencium's row is labelled "Lw6+3"
    // A label with a row of its own keeps it.
    EXPECT_EQ(atom_params("C_R", 6)->label, "C_R");
    EXPECT_EQ(atom_params("S_2", 16)->label, "S_2");
    EXPECT_EQ(atom_params("S_3", 16)->label, "S_3+2");
    EXPECT_EQ(atom_params("X_1", 0), nullptr);
}

TEST(UffTable, ElementSymbols) {
    EXPECT_EQ(element_symbol(1), "H");
    EXPECT_EQ(element_symbol(17), "Cl");
    EXPECT_EQ(element_symbol(103), "Lr");
    EXPECT_EQ(element_symbol(0), "X");
    EXPECT_EQ(element_symbol(104), "X");
}

TEST(UffTyping, Molecules) {
    // Benzene: six aromatic ring carbons with one hydrogen each.
    EXPECT_EQ(labels(ring({6, 6, 6, 6, 6, 6}, std::vector<float>(6, 1.5f), {1, 1, 1, 1, 1, 1}).system()),
              (std::vector<std::string>{"C_R", "C_R", "C_R", "C_R", "C_R", "C_R", "H_", "H_", "H_", "H_", "H_", "H_"}));
    // Pyridine: the nitrogen has two aromatic bonds and no hydrogen.
    EXPECT_EQ(labels(ring({7, 6, 6, 6, 6, 6}, std::vector<float>(6, 1.5f), {0, 1, 1, 1, 1, 1}).system())[0], "N_2");
    // Pyrrole: N–H with two aromatic ring bonds.
    EXPECT_EQ(labels(ring({7, 6, 6, 6, 6}, std::vector<float>(5, 1.5f), {1, 1, 1, 1, 1}).system())[0], "N_R");
    // Furan: aromatic oxygen.
    EXPECT_EQ(labels(ring({8, 6, 6, 6, 6}, std::vector<float>(5, 1.5f), {0, 1, 1, 1, 1}).system())[0], "O_R");
    // Thiophene: aromatic sulphur takes the resonant row.
    const System thiophene = ring({16, 6, 6, 6, 6}, std::vector<float>(5, 1.5f), {0, 1, 1, 1, 1}).system();
    EXPECT_EQ(labels(thiophene)[0], "S_R");
    ASSERT_NE(thiophene.topology().rows[0], nullptr);
    EXPECT_EQ(thiophene.topology().rows[0]->label, "S_R");

    // Hydrogen sulphide: the tetrahedral row, not the trigonal "S_2".
    Molecule h2s;
    h2s.add(16, {0, 0, 0});
    h2s.bond(0, h2s.add(1, {1.34, 0, 0}));
    h2s.bond(0, h2s.add(1, {-0.03, 1.34, 0}));
    const System hs = h2s.system();
    EXPECT_EQ(labels(hs)[0], "S_3+2");
    EXPECT_EQ(hs.topology().rows[0]->label, "S_3+2");

    Molecule ethene;
    ethene.add(6, {0, 0, 0});
    ethene.add(6, {1.33, 0, 0});
    ethene.bond(0, 1, 2.0f);
    for (int k = 0; k < 2; ++k) ethene.bond(0, ethene.add(1, {-0.5, 0.9 * (k ? 1 : -1), 0}));
    for (int k = 0; k < 2; ++k) ethene.bond(1, ethene.add(1, {1.8, 0.9 * (k ? 1 : -1), 0}));
    EXPECT_EQ(labels(ethene.system()), (std::vector<std::string>{"C_R", "C_R", "H_", "H_", "H_", "H_"}));

    Molecule formaldehyde;
    formaldehyde.add(6, {0, 0, 0});
    formaldehyde.add(8, {1.2, 0, 0});
    formaldehyde.bond(0, 1, 2.0f);
    formaldehyde.bond(0, formaldehyde.add(1, {-0.5, 0.9, 0}));
    formaldehyde.bond(0, formaldehyde.add(1, {-0.5, -0.9, 0}));
    EXPECT_EQ(labels(formaldehyde.system()), (std::vector<std::string>{"C_R", "O_2", "H_", "H_"}));

    Molecule water;
    water.add(8, {0, 0, 0});
    water.bond(0, water.add(1, {0.96, 0, 0}));
    water.bond(0, water.add(1, {-0.24, 0.93, 0}));
    EXPECT_EQ(labels(water.system()), (std::vector<std::string>{"O_3", "H_", "H_"}));
}

TEST(UffTyping, LabelRules) {
    struct Case {
        std::uint64_t z;
        std::size_t n;
        bool aromatic, has_double;
        const char* label;
    };
    const Case cases[] = {
        {6, 3, false, false, "C_2"}, {6, 4, false, false, "C_3"}, {6, 2, false, false, "C_1"},
        {6, 0, false, false, "C_3"}, {6, 1, false, true, "C_3"},  {6, 5, false, false, "C_3"},
        {6, 3, true, false, "C_R"},  {7, 1, false, false, "N_1"}, {7, 3, false, false, "N_3"},
        {7, 4, false, false, "N_3"}, {7, 0, false, false, "N_3"}, {7, 2, true, false, "N_2"},
        {8, 1, false, true, "O_2"},  {8, 2, false, true, "O_3"},  {8, 2, true, false, "O_R"},
        {8, 0, false, false, "O_3"}, {1, 2, false, false, "H_"},  {9, 1, false, false, "F_1"},
        {17, 1, false, false, "Cl_1"}, {14, 4, false, false, "Si_4"}, {19, 0, false, false, "K_"},
        {11, 0, false, false, "Na_"},  {0, 0, false, false, "X_"},    {0, 2, false, false, "X_2"},
        {200, 1, false, false, "X_1"},
        // Sulphur: divalent single-bonded (thiols, thioethers) tetrahedral,
        // aromatic resonant, the rest by the general rule.
        {16, 2, false, false, "S_3+2"}, {16, 2, true, false, "S_R"}, {16, 1, false, true, "S_1"},
        {16, 2, false, true, "S_2"},    {16, 4, false, true, "S_4"}, {16, 0, false, false, "S_"}};
    for (const auto& c : cases) EXPECT_EQ(uff_label(c.z, c.n, c.aromatic, c.has_double), c.label) << c.label;
}

TEST(UffTyping, OrderTestsInSinglePrecision) {
    // 1.59 is within 0.1 of 1.5 (aromatic); 1.61 is not; a bond listed twice counts twice.
    Molecule m;
    m.add(6, {0, 0, 0});
    for (int k = 0; k < 3; ++k) m.add(1, {double(k + 1), 0, 0});
    m.bond(0, 1, 1.59f);
    m.bond(0, 2, 1.0f);
    m.bond(0, 3, 1.0f);
    EXPECT_EQ(labels(m.system())[0], "C_R");
    m.bonds[0].order = 1.61f;
    EXPECT_EQ(labels(m.system())[0], "C_2");
    m.bonds.pop_back();
    m.bond(0, 2, 1.0f);  // 0-2 twice: still three entries
    EXPECT_EQ(labels(m.system())[0], "C_2");
}

TEST(UffTyping, ElementsWithoutALabelRowStillTakePart) {
    // Chloromethane: Cl_1 finds no row of its own and takes the "Cl" row, so
    // the C–Cl bond, the H–C–Cl angles and the non-bonded terms include it.
    Molecule m;
    const auto c = m.add(6, {0, 0, 0});
    const auto cl = m.add(17, {1.77, 0, 0});
    m.bond(c, cl);
    for (int k = 0; k < 3; ++k) {
        const double a = 2 * M_PI * k / 3;
        m.bond(c, m.add(1, {-0.36, 1.03 * std::cos(a), 1.03 * std::sin(a)}));
    }
    const System s = m.system();
    EXPECT_EQ(s.atoms()[cl].uff_type.value, "Cl_1");
    ASSERT_NE(s.topology().rows[cl], nullptr);
    EXPECT_EQ(s.topology().rows[cl]->label, "Cl");
    EXPECT_EQ(s.topology().bonds.size(), 4u);  // C–Cl among them
    EXPECT_EQ(s.topology().angles.size(), 6u);
    EXPECT_EQ(s.topology().lj_members.size(), 5u);

    // Fluorine keeps the "F_" row through its label; a lone sodium ion takes
    // the "Na" row; an unknown element stays out of every term.
    Molecule f;
    f.add(6, {0, 0, 0});
    f.bond(0, f.add(9, {1.35, 0, 0}));
    f.add(11, {5, 5, 5});
    f.add(19, {-5, 5, 5});
    f.bond(0, f.add(0, {0, 1.5, 0}));
    const System fs = f.system();
    EXPECT_EQ(labels(fs), (std::vector<std::string>{"C_1", "F_1", "Na_", "K_", "X_1"}));
    EXPECT_EQ(fs.topology().rows[1]->label, "F_");
    EXPECT_EQ(fs.topology().rows[2]->label, "Na");
    EXPECT_EQ(fs.topology().rows[3]->label, "K_");
    EXPECT_EQ(fs.topology().rows[4], nullptr);
    EXPECT_EQ(fs.topology().bonds.size(), 1u);  // C–X has none
    EXPECT_EQ(fs.topology().lj_members, (std::vector<std::uint32_t>{0, 1, 2, 3}));
}

TEST(UffTyping, BondIndexBeyondTheAtomsIsRefused) {
    std::vector<Atom> atoms{Atom::make(6, {0, 0, 0}), Atom::make(1, {1, 0, 0})};
    auto s = System::create(atoms, {{0, 2, 1.0f}}, UnitCell::non_periodic());
    ASSERT_FALSE(s.ok());
    EXPECT_NE(s.error().message.find("not below the atom count 2"), std::string::npos) << s.error().message;
    EXPECT_FALSE(auto_assign_uff_types(atoms, std::vector<Bond>{{5, 0, 1.0f}}).ok());
    EXPECT_EQ(atoms[0].uff_type.value, "Unknown");  // nothing changed
}
