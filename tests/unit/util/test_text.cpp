#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "util/base64.h"
#include "util/numbers.h"
#include "util/text.h"

namespace reel {
namespace {

TEST(Trim, RemovesUnicodeWhiteSpaceOnly) {
    struct Case { std::string in, out; };
    const Case cases[] = {
        {"  a b  ", "a b"},
        {"\t\r\n x \v\f", "x"},
        {"\xC2\xA0" "x" "\xE3\x80\x80", "x"},        // no-break space, ideographic space
        {"\xE2\x80\x83" "1:30" "\xE2\x80\xA8", "1:30"},  // em space, line separator
        {"\xC3\xA9", "\xC3\xA9"},                     // é is not space
        {"", ""},
        {"   ", ""},
        {"\xFF x", "\xFF x"},                         // invalid bytes stop the trim
    };
    for (const auto& c : cases) EXPECT_EQ(trim(c.in), c.out) << c.in;
}

TEST(Utf8, ValidationAndLossyDecoding) {
    EXPECT_TRUE(is_valid_utf8("plain"));
    EXPECT_TRUE(is_valid_utf8("\xE2\x82\xAC"));
    EXPECT_FALSE(is_valid_utf8("\xC0\xAF"));          // overlong
    EXPECT_FALSE(is_valid_utf8("\xED\xA0\x80"));      // surrogate
    EXPECT_FALSE(is_valid_utf8("\xE2\x82"));          // truncated
    EXPECT_FALSE(is_valid_utf8("\xF4\x90\x80\x80"));  // beyond U+10FFFF
    EXPECT_EQ(utf8_lossy("a\xFF" "b"), "a\xEF\xBF\xBD" "b");
    EXPECT_EQ(utf8_lossy("a\xE2\x82"), "a\xEF\xBF\xBD");
    EXPECT_EQ(utf8_code_points("a\xC3\xA9"), (std::vector<char32_t>{U'a', 0xE9}));
}

TEST(Base64, RoundTripsAndRejectsMalformedText) {
    const std::pair<std::string, std::string> known[] = {
        {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foobar", "Zm9vYmFy"},
        {std::string("\xFF\xFE\x00", 3), "//4A"},
    };
    for (const auto& [raw, encoded] : known) {
        EXPECT_EQ(base64_encode(raw), encoded);
        EXPECT_EQ(base64_decode(encoded), raw);
    }
    std::string all;
    for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
    EXPECT_EQ(base64_decode(base64_encode(all)), all);
    for (const char* bad : {"Zg=", "Z===", "Zg==Zg==", "Zm9v!A==", "Zm=v"})
        EXPECT_FALSE(base64_decode(bad).has_value()) << bad;
}

TEST(ReplaceAndSplit, Basics) {
    EXPECT_EQ(replace_all("a\r\nb\r\n", "\r\n", "\n"), "a\nb\n");
    EXPECT_EQ(replace_all("&&", "&", "&amp;"), "&amp;&amp;");
    EXPECT_EQ(split("a,,b", ','), (std::vector<std::string>{"a", "", "b"}));
    EXPECT_EQ(split("", ','), (std::vector<std::string>{""}));
}

}  // namespace
}  // namespace reel
