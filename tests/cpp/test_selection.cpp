#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "core/selection.hpp"
#include "core/unicode_case.hpp"

using namespace zelt;

namespace {

// Two waters (one with force-field element names), an ion, a ligand with a
// lower-case element, a non-ASCII element and potassium.
SelectionEngine engine() {
    std::vector<AtomInfo> atoms = {
        {"O", "SOL", 0, 0},  {"H", "SOL", 1, 1},  {"H", "SOL", 2, 1},  {"OW", "WAT", 3, 0},
        {"HW", "WAT", 4, 1}, {"Cl", "ION", 5, 2}, {"o", "LIG", 6, 0},  {"H", "LIG", 7, 1},
        {"\xC3\xA9", "UNK", 8, 0}, {"K", "ION", 9, 2},
    };
    return SelectionEngine(std::move(atoms));
}

struct Case {
    std::string query;
    Selection expected;
    std::optional<std::string> error = std::nullopt;
};

}  // namespace

TEST(Selection, QueryTable) {
    const Case cases[] = {
        // Element names: bare (short or long), keyword, any case.
        {"O", {0, 6}},
        {"o", {0, 6}},
        {"element O", {0, 6}},
        {"  ELEMENT o  ", {0, 6}},
        {"Ow", {3}},
        {"OW", {3}},
        {"element ow extra words", {3}},
        {"CL", {5}},
        {"Xe", {}},
        {"\xC3\x89", {8}},     // É lower-cases to é
        {"\xC3\xA9", {8}},     // é itself
        {"\xE2\x84\xAA", {9}},  // the Kelvin sign lower-cases to k
        {"element\xC2\xA0O", {0, 6}},  // no-break space separates tokens
        // Residue names.
        {"resname SOL", {0, 1, 2}},
        {"residue ion", {5, 9}},
        // Conjunction keeps the first part's order and repeats.
        {"resname SOL and element h", {1, 2}},
        {"element h and resname sol", {1, 2}},
        {"index 7 2 2 1 and element h", {7, 2, 2, 1}},
        {"not element h and resname sol", {0}},
        {"type 1 and not resname wat and not resname lig", {1, 2}},
        // Negation.
        {"not element h", {0, 3, 4, 5, 6, 8, 9}},
        {"not not element h", {1, 2, 7}},
        {"NOT element H", {0, 3, 4, 5, 6, 8, 9}},
        {"not\xC2\xA0" "element h", {0, 3, 4, 5, 6, 8, 9}},  // a two-byte space after the keyword
        {"not", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
        {"not   ", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
        {"not xe", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
        // Types.
        {"type 0", {0, 3, 6, 8}},
        {"type +2", {5, 9}},
        {"type 7", {}},
        {"type 1 2", {1, 2, 4, 7}},
        // Index forms; numbers are not checked against the atoms.
        {"index 10 to 12", {10, 11, 12}},
        {"index 10 TO 12", {10, 11, 12}},
        {"index 10 x 12 y", {10, 12}},  // no " to ": a list, words skipped
        {"index 10:12", {10, 11}},
        {"index 7 3 x 5", {7, 3, 5}},
        {"index 7 - + 3 99999999999999999999 5", {7, 3, 5}},
        {"index 12 to 10", {}},
        {"index 12 to 12", {12}},
        {"index 3:3", {}},
        {"index 5:2", {}},
        {"index 1:2:3 4", {4}},  // two colons: a list, and "1:2:3" is not a number
        // Empty queries.
        {"", {}},
        {"   ", {}},
        // Failures.
        {"element", {}, "Missing element name"},
        {"resname", {}, "Missing residue name"},
        {"residue", {}, "Missing residue name"},
        {"type", {}, "Missing type ID"},
        {"index", {}, "Missing index range"},
        {"type x", {}, "invalid digit found in string"},
        {"type -1", {}, "invalid digit found in string"},
        {"type +", {}, "invalid digit found in string"},
        {"type 18446744073709551616", {}, "number too large to fit in target type"},
        {"index a to 3", {}, "invalid digit found in string"},
        {"index 1 to b", {}, "invalid digit found in string"},
        {"index to 3", {}, "invalid digit found in string"},
        {"index :3", {}, "cannot parse integer from empty string"},
        {"index 3:", {}, "cannot parse integer from empty string"},
        {"index 0 to 18446744073709551615", {}, "Index range is too large"},
        {"element o and type x", {}, "invalid digit found in string"},
        {"not type", {}, "Missing type ID"},
    };
    const auto eng = engine();
    for (const auto& c : cases) {
        const auto got = eng.select(c.query);
        if (c.error) {
            ASSERT_FALSE(got.ok()) << "query: " << c.query;
            EXPECT_EQ(got.error().message, *c.error) << "query: " << c.query;
        } else {
            ASSERT_TRUE(got.ok()) << "query: " << c.query << ": " << got.error().message;
            EXPECT_EQ(*got, c.expected) << "query: " << c.query;
        }
    }
}

TEST(Selection, LongIndexRangeIsNotCheckedAgainstAtoms) {
    const auto got = engine().select("index 0 to 99");
    ASSERT_TRUE(got.ok());
    ASSERT_EQ(got->size(), 100u);
    EXPECT_EQ(got->front(), 0u);
    EXPECT_EQ(got->back(), 99u);
}

TEST(Selection, ReportsTheIndexField) {
    // Selections report the atoms' index fields, and "not" compares by them.
    SelectionEngine eng({{"O", "A", 40, 0}, {"H", "A", 41, 0}, {"H", "A", 7, 0}});
    EXPECT_EQ(*eng.select("element h"), (Selection{41, 7}));
    EXPECT_EQ(*eng.select("not element h"), (Selection{40}));
    EXPECT_EQ(*eng.select("not index 7 40"), (Selection{41}));
}

TEST(Selection, EmptyElementTextMatchesOnlyTheEmptyQueryAsShortName) {
    SelectionEngine eng({{"", "A", 0, 0}, {"C", "A", 1, 0}});
    EXPECT_EQ(*eng.select(""), (Selection{0}));
    // A bare "not" still selects every atom.
    EXPECT_EQ(*eng.select("not"), (Selection{0, 1}));
}

TEST(Selection, PairTable) {
    struct PairCase {
        std::string query;
        Selection a, b;
        std::optional<std::string> error = std::nullopt;
    };
    const PairCase cases[] = {
        {"element O with element H", {0, 6}, {1, 2, 7}},
        {"O WITH H", {0, 6}, {1, 2, 7}},
        {"element O", {0, 6}, {0, 6}},
        {"element O-element H", {0, 6}, {1, 2, 7}},
        {"element O - element H", {0, 6}, {1, 2, 7}},
        // " with " is preferred to a hyphen that comes first.
        {"index 1-2 with element o", {}, {0, 6}},
        {"index 0 to 2 with resname ion", {0, 1, 2}, {5, 9}},
        {"index 0:3-type 2", {0, 1, 2}, {5, 9}},
        {"index 1-3", {1}, {}},  // the hyphen splits: "index 1" and "3"
        {"with", {}, {}},        // no separator with spaces around it: the element "with"
        {"element O with element", {}, {}, "Missing element name"},
        {"type x - o", {}, {}, "invalid digit found in string"},
        // Lower-casing changes byte lengths; the split stays between characters.
        {"\xE2\x84\xAA-element o", {9}, {0, 6}},            // Kelvin sign (3 bytes) -> k (1 byte)
        {"\xC8\xBA\xC8\xBA-element h", {}, {1, 2, 7}},      // U+023A (2 bytes) -> U+2C65 (3 bytes)
        {"element h with \xE2\x84\xAA", {1, 2, 7}, {9}},
    };
    const auto eng = engine();
    for (const auto& c : cases) {
        const auto got = eng.select_pair(c.query);
        if (c.error) {
            ASSERT_FALSE(got.ok()) << "query: " << c.query;
            EXPECT_EQ(got.error().message, *c.error) << "query: " << c.query;
        } else {
            ASSERT_TRUE(got.ok()) << "query: " << c.query << ": " << got.error().message;
            EXPECT_EQ(got->first, c.a) << "query: " << c.query;
            EXPECT_EQ(got->second, c.b) << "query: " << c.query;
        }
    }
}

TEST(UnicodeCase, LowerCasing) {
    const std::pair<std::string, std::string> cases[] = {
        {"ELEMENT Ow", "element ow"},
        {"\xC3\x80" "B", "\xC3\xA0" "b"},                    // ÀB -> àb
        {"\xC4\xB0", "i\xCC\x87"},                           // İ -> i + combining dot above
        {"\xE2\x84\xAA", "k"},                               // Kelvin sign
        {"\xCE\xA3\xCE\x91\xCE\xA3", "\xCF\x83\xCE\xB1\xCF\x82"},  // ΣΑΣ -> σας (final sigma)
        {"\xCE\xA3", "\xCF\x83"},                            // a lone Σ is not final
        {"\xCE\x91\xCE\xA3 x", "\xCE\xB1\xCF\x82 x"},        // final before a space
        {"a\xFF" "B", "a\xFF" "b"},                          // invalid bytes pass through
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(text::unicode_lower(in), out) << in;
    EXPECT_TRUE(text::is_alphabetic(U'a'));
    EXPECT_TRUE(text::is_alphabetic(U'\u00E9'));
    EXPECT_TRUE(text::is_alphabetic(U'\u0345'));  // a combining mark that is alphabetic
    EXPECT_FALSE(text::is_alphabetic(U'1'));
    EXPECT_FALSE(text::is_alphabetic(U'\u00D7'));  // multiplication sign
}
