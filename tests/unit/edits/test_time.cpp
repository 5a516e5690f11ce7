#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "edits/time.h"

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

TEST(ParseTime, ReadsTheNotation) {
    struct Case { std::string text; double seconds; };
    const Case cases[] = {
        {"90", 90},           {"1:30", 90},          {"1:02:03.5", 3723.5}, {"  1:30  ", 90},
        {"1 : 30", 90},       {"1:02,250", 62.25},   {"1e2", 100},          {".5", 0.5},
        {"5.", 5},            {"0:90", 90},          {"1:75", 135},         {"0:0:2", 2},
        {"-1:30", -30},       {"1:-30", 30},         {"\t1:30\r\n", 90},    {"0,5", 0.5},
        {"\xC2\xA0" "12:30" "\xE3\x80\x80", 750},    // no-break space and ideographic space
        {"1:1e1", 70},        {"-0", 0},
    };
    for (const auto& c : cases) {
        const auto v = parse_time(c.text);
        ASSERT_TRUE(v.has_value()) << c.text;
        EXPECT_EQ(*v, c.seconds) << c.text;
    }
}

TEST(ParseTime, RefusesEmptyPartsAndBadNumbers) {
    for (const char* text : {"", "   ", "1::2", ":30", "1:", ":", "x", "1:x", "1,000,5", "1.5.5", "0x1E", "1h",
                             "1:30 x", "1;30", "1.:.5:"})
        EXPECT_FALSE(parse_time(text).has_value()) << "'" << text << "'";
}

TEST(ParseTime, RefusesNonFiniteResults) {
    for (const char* text : {"nan", "inf", "-inf", "Infinity", "1:nan", "nan:1", "inf:0", "1:inf", "0:0:-INF",
                             "1e400", "1e308:0", " NaN "})
        EXPECT_FALSE(parse_time(text).has_value()) << text;
}

TEST(ParseTime, AtMostThreeParts) {
    for (const char* text : {"1:2:3:4", "2:0:0:0", "0:0:0:1", " 1 : 2 : 3 : 4 "})
        EXPECT_FALSE(parse_time(text).has_value()) << text;
    std::string many = "0";
    for (int i = 0; i < 9999; ++i) many += ":0";
    EXPECT_FALSE(parse_time(many).has_value());

    EXPECT_EQ(bad_time_message("1:2:3:4"), "bad time '1:2:3:4': a time has at most three parts (H:MM:SS)");
    EXPECT_EQ(bad_time_message("1:x:3"), "bad time '1:x:3'");
    EXPECT_EQ(parse_range("1:2:3:4-1:2:3:5").error(),
              "bad time '1:2:3:4': a time has at most three parts (H:MM:SS)");
}

TEST(ParseRange, ReadsStartAndEnd) {
    struct Case { std::string text; double start, end; };
    const Case cases[] = {
        {"1:00-1:10", 60, 70}, {"1:00 - 1:10", 60, 70}, {"0-0.001", 0, 0.001}, {"5-+6", 5, 6},
        {"1e2-1e3", 100, 1000}, {"0:0:1-0:0:2", 1, 2},
    };
    for (const auto& c : cases) {
        const auto r = parse_range(c.text);
        ASSERT_TRUE(r.has_value()) << c.text << ": " << r.error();
        EXPECT_EQ(r->first, c.start) << c.text;
        EXPECT_EQ(r->second, c.end) << c.text;
    }
}

TEST(ParseRange, WordsEveryFailure) {
    struct Case { std::string text, message; };
    const Case cases[] = {
        {"10-5", "range '10-5': end must be after start"},
        {"5-5", "range '5-5': end must be after start"},
        {"5--3", "range '5--3': end must be after start"},
        {"10", "range '10' must look like START-END"},
        {"", "range '' must look like START-END"},
        {" 1:00 ", "range ' 1:00 ' must look like START-END"},
        {"-5-10", "bad time ''"},
        {"1:00-x", "bad time 'x'"},
        {"a-b", "bad time 'a'"},
        {"1e-3-5", "bad time '1e'"},
        {" x -5", "bad time ' x '"},
        {"1- ", "bad time ' '"},
        {"1-2-3", "bad time '2-3'"},
        {"nan-5", "bad time 'nan'"},
        {"5-inf", "bad time 'inf'"},
        {"-inf-5", "bad time ''"},
    };
    for (const auto& c : cases) {
        const auto r = parse_range(c.text);
        ASSERT_FALSE(r.has_value()) << c.text;
        EXPECT_EQ(r.error(), c.message) << c.text;
    }
}

}  // namespace
}  // namespace reel
