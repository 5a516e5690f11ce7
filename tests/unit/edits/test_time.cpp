#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "edits/time.h"

#include "util/numbers.h"

namespace reel {
namespace {

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
