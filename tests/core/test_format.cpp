#include "core/format.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

TEST(Format, NumbersPrintTheirShortestRoundTripForm) {
    const struct {
        double value;
        const char* text;
    } cases[] = {
        {3.0, "3.0"},
        {2.5, "2.5"},
        {-0.5, "-0.5"},
        {0.0, "0.0"},
        {-0.0, "-0.0"},
        {1536.0 / 7.0, "219.42857142857142"},
        {0.1, "0.1"},
        {0.0001, "0.0001"},
        {0.00001, "1e-05"},
        {0.00015, "0.00015"},
        {1.5e-7, "1.5e-07"},
        {1e15, "1000000000000000.0"},
        {9007199254740991.0, "9007199254740991.0"},
        {9007199254740992.0, "9.007199254740992e+15"},
        {1e16, "1e+16"},
        {-1e16, "-1e+16"},
        {9223372036854775807.0, "9.223372036854776e+18"},
        {1e300, "1e+300"},
        {5e-324, "5e-324"},
        {std::numeric_limits<double>::infinity(), "inf"},
        {-std::numeric_limits<double>::infinity(), "-inf"},
        {std::nan(""), "nan"},
    };
    for (const auto& c : cases) EXPECT_EQ(format::number(c.value), QString::fromLatin1(c.text)) << c.text;
}

TEST(Format, CompositeForms) {
    EXPECT_EQ(format::size(700, 300), "(700.0, 300.0)");
    EXPECT_EQ(format::point(512, 1536.0 / 7.0), "(512.0, 219.42857142857142)");
    EXPECT_EQ(format::optional(1.0), "Optional(1.0)");
    EXPECT_EQ(format::optional(std::nullopt), "nil");
    EXPECT_EQ(format::boolean(true), "true");
    EXPECT_EQ(format::boolean(false), "false");
    EXPECT_EQ(format::quotedList({"a", "b"}), "[\"a\", \"b\"]");
    EXPECT_EQ(format::quotedList({}), "[]");
    EXPECT_EQ(format::quotedList({"say \"hi\"\n", "C:\\"}), "[\"say \\\"hi\\\"\\n\", \"C:\\\\\"]");
    EXPECT_EQ(format::intList({80, 75}), "[80, 75]");
    EXPECT_EQ(format::intList({}), "[]");
    EXPECT_EQ(format::intList({-1, INT64_MAX}), "[-1, 9223372036854775807]");
}

TEST(Format, ClippedNeverSplitsACharacter) {
    const QString clef = QString::fromUtf8("\xF0\x9D\x84\x9E");  // one character, two UTF-16 units
    const QString accented = QString::fromUtf8("e\xCC\x81");      // a letter and its combining mark
    const struct {
        QString text;
        qsizetype max;
        QString expected;
    } cases[] = {
        {"short", 10, "short"},
        {"abcdef", 3, "abc"},
        {"ab" + clef, 3, "ab"},
        {"ab" + clef + "c", 4, "ab" + clef},
        {"a" + accented + "z", 2, "a"},
        {"abc", 0, ""},
    };
    for (const auto& c : cases) EXPECT_EQ(format::clipped(c.text, c.max), c.expected) << c.text.toStdString();
    EXPECT_EQ(format::clipped(QString(1 << 20, QLatin1Char('x')), 4096).size(), 4096);
}

}  // namespace
