#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "io/mol.hpp"

using namespace zelt;

namespace {

const std::string header = "  ethene-ish \nprogram line\ncomment line\n";

std::string atom_line(double x, double y, double z, const std::string& element) {
    char buf[128];
    std::snprintf(buf, sizeof buf, "%10.4f%10.4f%10.4f %-3s 0  0  0  0  0  0  0  0  0  0  0  0", x, y, z,
                  element.c_str());
    return buf;
}

std::string counts(int atoms, int bonds) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%3d%3d  0  0  0  0  0  0  0  0999 V2000", atoms, bonds);
    return buf;
}

std::string two_atoms(const std::string& bond_line) {
    return header + counts(2, 1) + "\n" + atom_line(0, 0, 0, "C") + "\n" + atom_line(1.34, 0, 0, "C") + "\n" +
           bond_line + "\nM  END\n";
}

std::string error_of(const std::string& text) {
    const auto r = parse_mol(text);
    if (r.ok()) {
        ADD_FAILURE() << "accepted:\n" << text;
        return {};
    }
    return r.error().message;
}

MoleculeTemplate ok(const std::string& text) {
    auto r = parse_mol(text);
    if (!r.ok()) {
        ADD_FAILURE() << r.error().message << "\n" << text;
        return {};
    }
    return std::move(r).value();
}

}  // namespace

TEST(MolReader, TwoAtomsAndADoubleBond) {
    const auto m = ok(two_atoms("  1  2  2  0  0  0  0"));
    ASSERT_EQ(m.atoms.size(), 2u);
    EXPECT_EQ(m.bonds, (std::vector<Bond>{{0, 1, 2.0}}));
    const Atom& a = m.atoms[1];
    EXPECT_EQ(a.residue_name, "ethene-ish");
    EXPECT_EQ(a.element, "C");
    EXPECT_EQ(a.atom_type, "XX");
    EXPECT_EQ(a.index, 1u);
    EXPECT_EQ(a.residue_id, 0u);
    EXPECT_EQ(a.position, (Vec3{1.34, 0.0, 0.0}));
    EXPECT_EQ(a.charge, 0.0);
    EXPECT_EQ(a.component_id, 0u);
    // Windows line ends, and property lines after the bond block, change nothing.
    std::string crlf = two_atoms("  1  2  2  0  0  0  0") + "M  CHG  1   1   1\n> <data>\nvalue\n";
    for (std::size_t p = crlf.find('\n'); p != std::string::npos; p = crlf.find('\n', p + 2)) crlf.insert(p, "\r");
    EXPECT_EQ(ok(crlf), m);
}

TEST(MolReader, CountsLineFailures) {
    EXPECT_EQ(error_of(header + "  0  0  0  0  0  0  0  0  0  0999 V3000\n"),
              "V3000 is not supported yet, please use V2000");
    EXPECT_EQ(error_of(header + "V3000\n"), "V3000 is not supported yet, please use V2000");
    EXPECT_EQ(error_of(header + "abc\n"), "Invalid MOL counts line: 'abc'");
    EXPECT_EQ(error_of(header + "  1  \r\n"), "Invalid MOL counts line: '  1  '");
    EXPECT_EQ(error_of(header), "Invalid MOL counts line: ''");
    EXPECT_EQ(error_of(""), "Invalid MOL counts line: ''");
    EXPECT_EQ(error_of("only\ntwo"), "Invalid MOL counts line: ''");
}

TEST(MolReader, UnreadableCountsAreZero) {
    // Blank atom count: no atoms, but the bond block is still read.
    const auto none = ok(header + "     1\n  0  2  1\n");
    EXPECT_TRUE(none.atoms.empty());
    EXPECT_TRUE(none.bonds.empty());
    EXPECT_EQ(error_of(header + "     1\n"), "Unexpected EOF in bonds block");
    EXPECT_TRUE(ok(header + "abcdef\n").atoms.empty());
    EXPECT_TRUE(ok(header + "  +  -\n").atoms.empty());
    EXPECT_EQ(ok(header + " +1  0\n" + atom_line(0, 0, 0, "O")).atoms.size(), 1u);
}

TEST(MolReader, AtomBlock) {
    EXPECT_EQ(error_of(header + counts(3, 0) + "\n" + atom_line(0, 0, 0, "C") + "\n" + atom_line(1, 0, 0, "C")),
              "Unexpected EOF in atoms block");
    // A 33-byte atom line is skipped but keeps its number.
    const std::string short_line = atom_line(0, 0, 0, "C").substr(0, 33);
    const auto m = ok(header + counts(2, 0) + "\n" + short_line + "\n" + atom_line(1, 2, 3, "N") + "\n");
    ASSERT_EQ(m.atoms.size(), 1u);
    EXPECT_EQ(m.atoms[0].index, 1u);
    EXPECT_EQ(m.atoms[0].element, "N");
    // Elements are trimmed, not case-normalised.
    const auto cl = ok(header + counts(2, 0) + "\n" + atom_line(0, 0, 0, " Cl").substr(0, 34) + "\n" +
                       atom_line(0, 0, 0, "CL") + "\n");
    ASSERT_EQ(cl.atoms.size(), 2u);
    EXPECT_EQ(cl.atoms[0].element, "Cl");
    EXPECT_EQ(cl.atoms[1].element, "CL");
    // Coordinates report the float parse message.
    std::string bad = atom_line(0, 0, 0, "C");
    bad.replace(10, 10, "      1.x ");
    EXPECT_EQ(error_of(header + counts(1, 0) + "\n" + bad + "\n"), "invalid float literal");
    std::string blank = atom_line(0, 0, 0, "C");
    blank.replace(20, 10, std::string(10, ' '));
    EXPECT_EQ(error_of(header + counts(1, 0) + "\n" + blank + "\n"), "cannot parse float from empty string");
}

TEST(MolReader, BondBlock) {
    EXPECT_TRUE(ok(two_atoms("  1  0  1  0")).bonds.empty());  // second atom 0: dropped
    EXPECT_EQ(ok(two_atoms("  1  2")).bonds, (std::vector<Bond>{{0, 1, 1.0}}));           // exactly 6 bytes
    EXPECT_TRUE(ok(two_atoms("  1 2")).bonds.empty());                                      // 5 bytes: skipped
    EXPECT_EQ(ok(two_atoms("  2  1  x  0")).bonds, (std::vector<Bond>{{1, 0, 1.0}}));     // type x
    EXPECT_EQ(ok(two_atoms("  1  2  4  0")).bonds, (std::vector<Bond>{{0, 1, 4.0}}));     // type 4
    EXPECT_EQ(ok(two_atoms("  1  2  3")).bonds, (std::vector<Bond>{{0, 1, 3.0}}));
    EXPECT_EQ(ok(two_atoms("  1  2nan")).bonds, (std::vector<Bond>{{0, 1, 1.0}}));        // not finite: single
    EXPECT_EQ(ok(two_atoms(" ab  2  2")).bonds, std::vector<Bond>{});                      // unreadable number: 0
    EXPECT_EQ(error_of(header + counts(2, 2) + "\n" + atom_line(0, 0, 0, "C") + "\n" + atom_line(1, 0, 0, "C") +
                       "\n  1  2  1\n"),
              "Unexpected EOF in bonds block");
    // A bond naming an atom that was not read is refused: its index would lie
    // outside the atom array.
    EXPECT_EQ(error_of(two_atoms("  1  3  1  0")),
              "bond on line 7 ('  1  3  1  0') refers to atom 3, but only 2 atoms were read");
}

TEST(MolReader, OnlyTheFirstSdRecordIsRead) {
    const std::string second = header + counts(1, 0) + "\n" + atom_line(9, 9, 9, "O") + "\nM  END\n";
    const auto m = ok(two_atoms("  1  2  1") + "$$$$\n" + second + "$$$$\n");
    ASSERT_EQ(m.atoms.size(), 2u);
    EXPECT_EQ(m.atoms[0].element, "C");
    // A record cut short by the separator is read up to it.
    EXPECT_EQ(error_of(header + counts(1, 0) + "\n$$$$\n" + atom_line(0, 0, 0, "C")), "Unexpected EOF in atoms block");
}

TEST(MolReader, ColumnsThatSplitACharacterAreRefused) {
    // "é" is two bytes; each line puts one across a column boundary.
    EXPECT_EQ(error_of(header + "  \xC3\xA9  0\n"), "Invalid MOL counts line: '  \xC3\xA9  0'");
    std::string atom = atom_line(0, 0, 0, "C");
    atom.replace(9, 2, "\xC3\xA9");  // bytes 10 and 11
    const std::string err = error_of(header + counts(1, 0) + "\n" + atom + "\n");
    EXPECT_EQ(err.rfind("Invalid MOL atom line 5: its columns split a multi-byte character", 0), 0u) << err;
    std::string element = atom_line(0, 0, 0, "C");
    element.replace(33, 2, "\xC3\xA9");  // bytes 34 and 35: the cut after the element column
    EXPECT_NE(error_of(header + counts(1, 0) + "\n" + element + "\n").find("atom line 5"), std::string::npos);
    EXPECT_NE(error_of(two_atoms("  1  \xC3\xA9 1")).find("Invalid MOL bond line 7"), std::string::npos);
    EXPECT_NE(error_of(two_atoms("  1  2 \xE2\x82\xAC")).find("bond line 7"), std::string::npos);  // 3 bytes over 9
    // Multi-byte text inside a column, and in ignored parts of a line, is fine.
    const auto named = ok("caf\xC3\xA9\n\n\n" + counts(1, 0) + " \xC3\xA9\n" + atom_line(0, 0, 0, "C") + " \xC3\xA9\n");
    ASSERT_EQ(named.atoms.size(), 1u);
    EXPECT_EQ(named.atoms[0].residue_name, "caf\xC3\xA9");
    std::string inside = atom_line(0, 0, 0, "C");
    inside.replace(0, 2, "\xC2\xA0");  // a no-break space inside the x column, trimmed away
    EXPECT_EQ(ok(header + counts(1, 0) + "\n" + inside + "\n").atoms.size(), 1u);
}
