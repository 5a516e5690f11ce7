#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "util/numbers.h"

namespace reel {
namespace {

constexpr double inf = std::numeric_limits<double>::infinity();

TEST(ReadNumber, AcceptsTheDecimalGrammar) {
    struct Case { std::string text; double value; };
    const Case cases[] = {
        {"0", 0},          {"7", 7},           {"+7", 7},         {"-7", -7},
        {"2.5", 2.5},      {".5", 0.5},        {"5.", 5},         {"-.25", -0.25},
        {"+5.", 5},        {"1e2", 100},       {"1E2", 100},      {"1e+2", 100},
        {"1e-2", 0.01},    {"2.5e1", 25},      {".5e1", 5},       {"5.e1", 50},
        {"007", 7},        {"0.1", 0.1},       {"1e0", 1},        {"-0.0e-0", 0},
        // Correct rounding: 2^53 + 1 is a tie and goes to the even neighbour;
        // the long tail after it breaks the tie upwards.
        {"9007199254740993", 9007199254740992.0},
        {"9007199254740993000000000000000000000000000000000000000000001e-45", 9007199254740994.0},
        {"0.1000000000000000055511151231257827021181583404541015625", 0.1},
        {"4e-320", 4e-320},  // subnormal
    };
    for (const auto& c : cases) {
        const auto v = read_number(c.text);
        ASSERT_TRUE(v.has_value()) << c.text;
        EXPECT_EQ(*v, c.value) << c.text;
    }
}

TEST(ReadNumber, OverlongDigitStrings) {
    const std::string ones(5000, '1');
    const auto big = read_number(ones);  // 1.11e4999 is far beyond double
    ASSERT_TRUE(big.has_value());
    EXPECT_EQ(*big, inf);

    const std::string tiny = "0." + std::string(400, '0') + "1";
    EXPECT_EQ(read_number(tiny), 0.0);

    // 4000 digits that scale back into range with the exponent.
    const std::string scaled = "1" + std::string(3999, '0') + "e-3999";
    EXPECT_EQ(read_number(scaled), 1.0);
}

TEST(ReadNumber, OutOfRangeRoundsToInfinityOrZero) {
    EXPECT_EQ(read_number("1e400"), inf);
    EXPECT_EQ(read_number("-1e400"), -inf);
    EXPECT_EQ(read_number("1e99999999999999999999999"), inf);
    EXPECT_EQ(read_number("0.00001e400"), inf);
    const auto under = read_number("-1e-400");
    ASSERT_TRUE(under.has_value());
    EXPECT_EQ(*under, 0.0);
    EXPECT_TRUE(std::signbit(*under));
    EXPECT_EQ(read_number("1e-99999999999999999999999"), 0.0);
    EXPECT_EQ(read_number("1000e-326"), 1e-323);  // in range after scaling: no rounding to zero
}

TEST(ReadNumber, AcceptsInfinityAndNanWordsInAnyCase) {
    for (const char* text : {"inf", "INF", "Inf", "+inf", "infinity", "InFiNiTy", "+INFINITY"})
        EXPECT_EQ(read_number(text), inf) << text;
    for (const char* text : {"-inf", "-Infinity"}) EXPECT_EQ(read_number(text), -inf) << text;
    for (const char* text : {"nan", "NaN", "NAN", "-nan", "+nan"}) {
        const auto v = read_number(text);
        ASSERT_TRUE(v.has_value()) << text;
        EXPECT_TRUE(std::isnan(*v)) << text;
    }
}

TEST(ReadNumber, RefusesEverythingElse) {
    const char* cases[] = {
        "", "+", "-", ".", "+.", "-.", "e5", ".e5", "1e", "1e+", "1e-", "1.2.3", "--1", "+-1", "++1",
        " 1", "1 ", "1 000", "1,5", "1_000", "0x10", "0X1p3", "1p3", "1f", "1d", "abc", "1:30",
        "infin", "infinit", "infinityy", "nan(1)", "nan()", "nana", "in", "- inf", "1e5.0", "1e2e3",
        "\xEF\xBC\x91",  // a full-width digit one
    };
    for (const char* text : cases) EXPECT_FALSE(read_number(text).has_value()) << "'" << text << "'";
    EXPECT_FALSE(read_number(std::string("1\0", 2)).has_value());
}

TEST(ParseInt64, WholeDecimalNumbersOnly) {
    EXPECT_EQ(parse_int64("1234"), 1234);
    EXPECT_EQ(parse_int64("+17"), 17);
    EXPECT_EQ(parse_int64("-5"), -5);
    EXPECT_EQ(parse_int64("9223372036854775807"), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(parse_int64("-9223372036854775808"), std::numeric_limits<std::int64_t>::min());
    for (const char* bad : {"", "+", "-", "12a", " 1", "1 ", "N/A", "9223372036854775808",
                            "-9223372036854775809", "1.0", "++1", "0x10"})
        EXPECT_FALSE(parse_int64(bad).has_value()) << bad;
}

TEST(Rounding, HalvesAwayFromZero) {
    EXPECT_EQ(round_half_away(2.5), 3);
    EXPECT_EQ(round_half_away(-2.5), -3);
    EXPECT_EQ(round_half_away(191.808), 192);
    EXPECT_EQ(round_half_away(0.49), 0);
}

TEST(FormatShortest, PlainDigitsWithoutTrailingPoint) {
    EXPECT_EQ(format_shortest(3.0), "3");
    EXPECT_EQ(format_shortest(0.75), "0.75");
    EXPECT_EQ(format_shortest(2.25), "2.25");
    EXPECT_EQ(format_shortest(0.1 + 0.2), "0.30000000000000004");
    EXPECT_EQ(format_shortest(-1.5), "-1.5");
    EXPECT_EQ(format_shortest(0.04), "0.04");
}

}  // namespace
}  // namespace reel
