#include <gtest/gtest.h>

#include "util/unicode.h"

namespace reel {
namespace {

TEST(FoldCase, LatinGreekCyrillicAndMore) {
    const std::pair<char32_t, char32_t> cases[] = {
        {U'A', U'a'}, {U'z', U'z'}, {U'À', U'à'}, {U'Þ', U'þ'}, {U'×', U'×'}, {U'Ÿ', U'ÿ'}, {U'Ł', U'ł'},
        {U'ſ', U's'}, {U'ẞ', U'ß'}, {U'ß', U'ß'}, {U'İ', U'i'}, {U'ı', U'ı'}, {U'Ș', U'ș'}, {U'ǅ', U'ǆ'},
        {U'Ệ', U'ệ'}, {U'µ', U'μ'}, {U'Σ', U'σ'}, {U'ς', U'σ'}, {U'Ά', U'ά'}, {U'Ώ', U'ώ'}, {U'ϑ', U'θ'},
        {U'ᾈ', U'ᾀ'}, {U'Ё', U'ё'}, {U'Я', U'я'}, {U'Ѣ', U'ѣ'}, {U'Ӂ', U'ӂ'}, {U'Ա', U'ա'}, {U'Ａ', U'ａ'},
        {U'1', U'1'}, {U'中', U'中'}, {0x10400, 0x10400},
    };
    for (const auto& [from, to] : cases) EXPECT_EQ(fold_case(from), to) << static_cast<unsigned>(from);
}

TEST(WordCharacter, LettersDigitsAndMarksButNoPunctuation) {
    for (const char32_t cp : {U'a', U'Z', U'0', U'ª', U'é', U'ß', U'ω', U'ж', U'ա', U'א', U'ب', U'中', U'ʼ', char32_t{0x301}})
        EXPECT_TRUE(is_word_character(cp)) << static_cast<unsigned>(cp);
    for (const char32_t cp : {U' ', U'\'', U'-', U'_', U'*', U'¡', U'«', U'\u00A0', U'×', U'’', U'…', U'€', U'、',
                              U'！', char32_t{0xFEFF}, char32_t{0xFFFD}, char32_t{0x1F600}, char32_t{0xE000}})
        EXPECT_FALSE(is_word_character(cp)) << static_cast<unsigned>(cp);
}

}  // namespace
}  // namespace reel
