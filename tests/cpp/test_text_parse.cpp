#include <gtest/gtest.h>

#include <cmath>

#include "core/parse.hpp"
#include "core/text.hpp"

using namespace zelt;

TEST(ParseFloat, AcceptedForms) {
    struct Case {
        const char* text;
        double value;
    };
    const Case cases[] = {{"1.5", 1.5}, {"-2", -2.0}, {"+3.25", 3.25}, {".5", 0.5},  {"5.", 5.0},
                          {"1e3", 1000.0}, {"-1.5E-2", -0.015}, {"inf", INFINITY}, {"-Infinity", -INFINITY},
                          {"1e400", INFINITY}, {"1e-400", 0.0}};
    for (const auto& c : cases) {
        auto r = parse::f64(c.text);
        ASSERT_TRUE(r.ok()) << c.text;
        EXPECT_EQ(*r, c.value) << c.text;
    }
    auto n = parse::f64("NaN");
    ASSERT_TRUE(n.ok());
    EXPECT_TRUE(std::isnan(*n));
}

TEST(ParseFloat, Rejected) {
    EXPECT_EQ(parse::f64("").error().message, "cannot parse float from empty string");
    for (const char* bad : {"abc", "1.2.3", "e5", "1e", "--1", " 1", "1 ", "0x10", ".", "+", "nan(1)", "1,5"})
        EXPECT_EQ(parse::f64(bad).error().message, "invalid float literal") << bad;
}

TEST(ParseUnsigned, AcceptedAndRejected) {
    EXPECT_EQ(*parse::u64("42"), 42u);
    EXPECT_EQ(*parse::u64("+7"), 7u);
    EXPECT_EQ(*parse::u64("18446744073709551615"), UINT64_MAX);
    EXPECT_EQ(parse::u64("").error().message, "cannot parse integer from empty string");
    for (const char* bad : {"-1", "+", "-", "1a", "1.0", " 1", "++1"})
        EXPECT_EQ(parse::u64(bad).error().message, "invalid digit found in string") << bad;
    EXPECT_EQ(parse::u64("18446744073709551616").error().message, "number too large to fit in target type");
    // The first fault met while reading is the one reported.
    EXPECT_EQ(parse::u64("99999999999999999999x").error().message, "number too large to fit in target type");
}

TEST(Text, TrimAndSplitUseUnicodeWhiteSpace) {
    const std::string nbsp = "\xC2\xA0", ideo = "\xE3\x80\x80";
    EXPECT_EQ(text::trim(nbsp + " a b\t" + ideo), "a b");
    const std::string line = "  1" + nbsp + "C\t\t2.0 " + ideo + "x ";
    const auto tok = text::split_whitespace(line);
    ASSERT_EQ(tok.size(), 4u);
    EXPECT_EQ(tok[0], "1");
    EXPECT_EQ(tok[1], "C");
    EXPECT_EQ(tok[3], "x");
    EXPECT_TRUE(text::split_whitespace(" \t ").empty());
}

TEST(Text, LinesDropCarriageReturnBeforeNewline) {
    const auto l = text::lines("a\r\nb\n\nc\r");
    ASSERT_EQ(l.size(), 4u);
    EXPECT_EQ(l[0], "a");
    EXPECT_EQ(l[1], "b");
    EXPECT_EQ(l[2], "");
    EXPECT_EQ(l[3], "c\r");
}

TEST(Text, PaddingCountsCharactersAndFixedPrintsNaN) {
    EXPECT_EQ(text::pad_left_aligned("\xC3\x85", 3), "\xC3\x85  ");
    EXPECT_EQ(text::pad_right_aligned("ab", 4), "  ab");
    EXPECT_EQ(text::pad_left_aligned("toolongtext", 8), "toolongtext");
    EXPECT_EQ(text::fixed(1.23456, 4, 10), "    1.2346");
    EXPECT_EQ(text::fixed(-0.0, 4, 0), "-0.0000");
    EXPECT_EQ(text::fixed(NAN, 4, 6), "   NaN");
    EXPECT_EQ(text::fixed(12345678901.5, 4, 10), "12345678901.5000");
}

TEST(Text, Utf8Checks) {
    EXPECT_TRUE(text::is_valid_utf8("abc \xC3\xA9"));
    EXPECT_FALSE(text::is_valid_utf8("\xC3"));
    EXPECT_FALSE(text::is_valid_utf8("\xFF"));
    EXPECT_FALSE(text::is_valid_utf8("\xED\xA0\x80"));  // surrogate
    const std::string s = "a\xC3\xA9" "b";
    EXPECT_TRUE(text::is_char_boundary(s, 1));
    EXPECT_FALSE(text::is_char_boundary(s, 2));
    EXPECT_TRUE(text::is_char_boundary(s, 3));
    EXPECT_TRUE(text::is_char_boundary(s, 4));
}
