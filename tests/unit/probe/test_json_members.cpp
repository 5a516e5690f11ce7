// The tolerant member readers, fed the shapes ffprobe and mkvmerge really write.
#include <gtest/gtest.h>

#include <cmath>

#include "probe/json_members.h"

namespace reel {
namespace {

using nlohmann::json;

json doc(const char* text) { return json::parse(text); }

TEST(JsonMembers, TextMemberTreatsUnknownAsMissing) {
    const json stream = doc(R"({"profile":"unknown","pix_fmt":"yuv420p","level":41,"empty":""})");
    EXPECT_EQ(text_member(stream, "pix_fmt"), "yuv420p");
    EXPECT_EQ(text_member(stream, "profile"), std::nullopt);
    EXPECT_EQ(text_member(stream, "level"), std::nullopt) << "a number is no text";
    EXPECT_EQ(text_member(stream, "absent"), std::nullopt);
    EXPECT_EQ(text_member(stream, "empty"), "");
    EXPECT_EQ(text_member(json::array({1, 2}), "pix_fmt"), std::nullopt) << "not an object";
}

struct IntegerCase {
    const char* value;  // JSON text of the member's value
    std::optional<std::int64_t> expected;
};

class IntegerMember : public ::testing::TestWithParam<IntegerCase> {};

TEST_P(IntegerMember, ReadsNumbersAndWholeDecimalStrings) {
    const json object = json::parse(std::string(R"({"v":)") + GetParam().value + "}");
    EXPECT_EQ(integer_member(object, "v"), GetParam().expected) << GetParam().value;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IntegerMember,
    ::testing::Values(IntegerCase{"1920", 1920}, IntegerCase{R"("185913")", 185913}, IntegerCase{R"("+7")", 7},
                      IntegerCase{R"("-3")", -3}, IntegerCase{"-12", -12},
                      IntegerCase{"9223372036854775807", INT64_MAX},
                      IntegerCase{"9223372036854775808", std::nullopt},   // does not fit
                      IntegerCase{R"("9223372036854775808")", std::nullopt},
                      IntegerCase{"25.0", std::nullopt},                  // a fraction, even if zero
                      IntegerCase{"1e3", std::nullopt}, IntegerCase{R"("12.5")", std::nullopt},
                      IntegerCase{R"(" 12")", std::nullopt}, IntegerCase{R"("")", std::nullopt},
                      IntegerCase{R"("N/A")", std::nullopt}, IntegerCase{"true", std::nullopt},
                      IntegerCase{"null", std::nullopt}));

struct DecimalCase {
    const char* value;
    std::optional<double> expected;
};

class DecimalMember : public ::testing::TestWithParam<DecimalCase> {};

TEST_P(DecimalMember, ReadsNumbersAndNumericStrings) {
    const json object = json::parse(std::string(R"({"v":)") + GetParam().value + "}");
    EXPECT_EQ(decimal_member(object, "v"), GetParam().expected) << GetParam().value;
}

INSTANTIATE_TEST_SUITE_P(Cases, DecimalMember,
                         ::testing::Values(DecimalCase{R"("5400.120000")", 5400.12}, DecimalCase{"5400.12", 5400.12},
                                           DecimalCase{"90", 90.0}, DecimalCase{R"("1e2")", 100.0},
                                           DecimalCase{R"("-0.5")", -0.5}, DecimalCase{R"("N/A")", std::nullopt},
                                           DecimalCase{R"(" 4.0")", std::nullopt},
                                           DecimalCase{R"("4.0s")", std::nullopt},
                                           // Finite values only: a NaN would pass every "> 0" test.
                                           DecimalCase{R"("nan")", std::nullopt},
                                           DecimalCase{R"("inf")", std::nullopt}, DecimalCase{"[]", std::nullopt}));

TEST(JsonMembers, TagFallsBackToUpperCaseKeyOnlyWhenAbsent) {
    const json stream = doc(R"({"tags":{"LANGUAGE":"fre","title":"Commentary","TITLE":"ignored",
                                      "NUMBER_OF_FRAMES":"100","year":2020,"handler":"unknown"}})");
    EXPECT_EQ(tag_value(stream, "language"), "fre");
    EXPECT_EQ(tag_value(stream, "title"), "Commentary");
    EXPECT_EQ(tag_value(stream, "NUMBER_OF_FRAMES"), "100");
    EXPECT_EQ(tag_value(stream, "year"), std::nullopt) << "non-string tag";
    EXPECT_EQ(tag_value(stream, "handler"), "unknown") << "the unknown rule is for members, not tags";
    EXPECT_EQ(tag_value(stream, "encoder"), std::nullopt);
    EXPECT_EQ(tag_value(doc(R"({"tags":"x"})"), "title"), std::nullopt);
    EXPECT_EQ(tag_value(doc(R"({"tags":{"Title":"mixed"}})"), "title"), std::nullopt);
}

TEST(JsonMembers, DispositionFlagIsTrueOnlyForIntegerOne) {
    const json stream = doc(R"({"disposition":{"default":1,"forced":2,"attached_pic":0,
                                             "dub":"1","original":1.0,"comment":true}})");
    EXPECT_TRUE(disposition_flag(stream, "default"));
    EXPECT_FALSE(disposition_flag(stream, "forced"));
    EXPECT_FALSE(disposition_flag(stream, "attached_pic"));
    EXPECT_FALSE(disposition_flag(stream, "dub"));
    EXPECT_FALSE(disposition_flag(stream, "original"));
    EXPECT_FALSE(disposition_flag(stream, "comment"));
    EXPECT_FALSE(disposition_flag(stream, "lyrics"));
    EXPECT_FALSE(disposition_flag(doc(R"({"disposition":[1]})"), "default"));
}

TEST(JsonMembers, RationalNeedsBothPartsAndANonZeroDenominator) {
    const json stream = doc(R"({"a":"24000/1001","b":"0/0","c":"25","d":"0/1","e":"50/2","f":"25/x",
                                "g":"1/2/3","h":"-30/1","i":"unknown"})");
    using Pair = std::pair<std::int64_t, std::int64_t>;
    EXPECT_EQ(rational_member(stream, "a"), (Pair{24000, 1001}));
    EXPECT_EQ(rational_member(stream, "b"), std::nullopt);
    EXPECT_EQ(rational_member(stream, "c"), std::nullopt);
    EXPECT_EQ(rational_member(stream, "d"), (Pair{0, 1}));
    EXPECT_EQ(rational_member(stream, "e"), (Pair{50, 2})) << "kept as read, not reduced";
    EXPECT_EQ(rational_member(stream, "f"), std::nullopt);
    EXPECT_EQ(rational_member(stream, "g"), std::nullopt);
    EXPECT_EQ(rational_member(stream, "h"), (Pair{-30, 1}));
    EXPECT_EQ(rational_member(stream, "i"), std::nullopt);
}

TEST(JsonMembers, ParseFailureCarriesPositionWithoutExceptionTag) {
    const auto bad = parse_json_document("{\n  \"format\": oops\n}");
    ASSERT_FALSE(bad);
    EXPECT_EQ(bad.error().find("[json.exception"), std::string::npos) << bad.error();
    EXPECT_NE(bad.error().find("line 2"), std::string::npos) << bad.error();
    EXPECT_FALSE(parse_json_document(""));
    EXPECT_FALSE(parse_json_document("{} trailing"));
    EXPECT_TRUE(parse_json_document("[1, 2]"));
}

}  // namespace
}  // namespace reel
