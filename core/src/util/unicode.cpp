#include "util/unicode.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <iterator>
#include <span>

#include "util/text.h"

namespace reel {

namespace {

struct FoldRun {
    char32_t first;
    char32_t last;
    std::int32_t delta;   // added to fold
    std::uint8_t stride;  // 2: every other code point (upper and lower case alternate)
};

// The simple foldings (status C and S) of the Unicode 14 case folding data for
// Basic Latin to Latin Extended-B, Greek and Coptic, Cyrillic with its
// supplement, Armenian, Latin Extended Additional, Greek Extended and
// fullwidth Latin; plus U+0130 to "i". Sorted by first code point.
constexpr std::array<FoldRun, 126> kFoldRuns{{
    {0x0041, 0x005A, 32, 1}, {0x00B5, 0x00B5, 775, 1}, {0x00C0, 0x00D6, 32, 1}, {0x00D8, 0x00DE, 32, 1},
    {0x0100, 0x012E, 1, 2}, {0x0130, 0x0130, -199, 1}, {0x0132, 0x0136, 1, 2}, {0x0139, 0x0147, 1, 2},
    {0x014A, 0x0176, 1, 2}, {0x0178, 0x0178, -121, 1}, {0x0179, 0x017D, 1, 2}, {0x017F, 0x017F, -268, 1},
    {0x0181, 0x0181, 210, 1}, {0x0182, 0x0184, 1, 2}, {0x0186, 0x0186, 206, 1}, {0x0187, 0x0187, 1, 1},
    {0x0189, 0x018A, 205, 1}, {0x018B, 0x018B, 1, 1}, {0x018E, 0x018E, 79, 1}, {0x018F, 0x018F, 202, 1},
    {0x0190, 0x0190, 203, 1}, {0x0191, 0x0191, 1, 1}, {0x0193, 0x0193, 205, 1}, {0x0194, 0x0194, 207, 1},
    {0x0196, 0x0196, 211, 1}, {0x0197, 0x0197, 209, 1}, {0x0198, 0x0198, 1, 1}, {0x019C, 0x019C, 211, 1},
    {0x019D, 0x019D, 213, 1}, {0x019F, 0x019F, 214, 1}, {0x01A0, 0x01A4, 1, 2}, {0x01A6, 0x01A6, 218, 1},
    {0x01A7, 0x01A7, 1, 1}, {0x01A9, 0x01A9, 218, 1}, {0x01AC, 0x01AC, 1, 1}, {0x01AE, 0x01AE, 218, 1},
    {0x01AF, 0x01AF, 1, 1}, {0x01B1, 0x01B2, 217, 1}, {0x01B3, 0x01B5, 1, 2}, {0x01B7, 0x01B7, 219, 1},
    {0x01B8, 0x01B8, 1, 1}, {0x01BC, 0x01BC, 1, 1}, {0x01C4, 0x01C4, 2, 1}, {0x01C5, 0x01C5, 1, 1},
    {0x01C7, 0x01C7, 2, 1}, {0x01C8, 0x01C8, 1, 1}, {0x01CA, 0x01CA, 2, 1}, {0x01CB, 0x01DB, 1, 2},
    {0x01DE, 0x01EE, 1, 2}, {0x01F1, 0x01F1, 2, 1}, {0x01F2, 0x01F4, 1, 2}, {0x01F6, 0x01F6, -97, 1},
    {0x01F7, 0x01F7, -56, 1}, {0x01F8, 0x021E, 1, 2}, {0x0220, 0x0220, -130, 1}, {0x0222, 0x0232, 1, 2},
    {0x023A, 0x023A, 10795, 1}, {0x023B, 0x023B, 1, 1}, {0x023D, 0x023D, -163, 1}, {0x023E, 0x023E, 10792, 1},
    {0x0241, 0x0241, 1, 1}, {0x0243, 0x0243, -195, 1}, {0x0244, 0x0244, 69, 1}, {0x0245, 0x0245, 71, 1},
    {0x0246, 0x024E, 1, 2}, {0x0370, 0x0372, 1, 2}, {0x0376, 0x0376, 1, 1}, {0x037F, 0x037F, 116, 1},
    {0x0386, 0x0386, 38, 1}, {0x0388, 0x038A, 37, 1}, {0x038C, 0x038C, 64, 1}, {0x038E, 0x038F, 63, 1},
    {0x0391, 0x03A1, 32, 1}, {0x03A3, 0x03AB, 32, 1}, {0x03C2, 0x03C2, 1, 1}, {0x03CF, 0x03CF, 8, 1},
    {0x03D0, 0x03D0, -30, 1}, {0x03D1, 0x03D1, -25, 1}, {0x03D5, 0x03D5, -15, 1}, {0x03D6, 0x03D6, -22, 1},
    {0x03D8, 0x03EE, 1, 2}, {0x03F0, 0x03F0, -54, 1}, {0x03F1, 0x03F1, -48, 1}, {0x03F4, 0x03F4, -60, 1},
    {0x03F5, 0x03F5, -64, 1}, {0x03F7, 0x03F7, 1, 1}, {0x03F9, 0x03F9, -7, 1}, {0x03FA, 0x03FA, 1, 1},
    {0x03FD, 0x03FF, -130, 1}, {0x0400, 0x040F, 80, 1}, {0x0410, 0x042F, 32, 1}, {0x0460, 0x0480, 1, 2},
    {0x048A, 0x04BE, 1, 2}, {0x04C0, 0x04C0, 15, 1}, {0x04C1, 0x04CD, 1, 2}, {0x04D0, 0x052E, 1, 2},
    {0x0531, 0x0556, 48, 1}, {0x1E00, 0x1E94, 1, 2}, {0x1E9B, 0x1E9B, -58, 1}, {0x1E9E, 0x1E9E, -7615, 1},
    {0x1EA0, 0x1EFE, 1, 2}, {0x1F08, 0x1F0F, -8, 1}, {0x1F18, 0x1F1D, -8, 1}, {0x1F28, 0x1F2F, -8, 1},
    {0x1F38, 0x1F3F, -8, 1}, {0x1F48, 0x1F4D, -8, 1}, {0x1F59, 0x1F5F, -8, 2}, {0x1F68, 0x1F6F, -8, 1},
    {0x1F88, 0x1F8F, -8, 1}, {0x1F98, 0x1F9F, -8, 1}, {0x1FA8, 0x1FAF, -8, 1}, {0x1FB8, 0x1FB9, -8, 1},
    {0x1FBA, 0x1FBB, -74, 1}, {0x1FBC, 0x1FBC, -9, 1}, {0x1FBE, 0x1FBE, -7173, 1}, {0x1FC8, 0x1FCB, -86, 1},
    {0x1FCC, 0x1FCC, -9, 1}, {0x1FD8, 0x1FD9, -8, 1}, {0x1FDA, 0x1FDB, -100, 1}, {0x1FE8, 0x1FE9, -8, 1},
    {0x1FEA, 0x1FEB, -112, 1}, {0x1FEC, 0x1FEC, -7, 1}, {0x1FF8, 0x1FF9, -128, 1}, {0x1FFA, 0x1FFB, -126, 1},
    {0x1FFC, 0x1FFC, -9, 1}, {0xFF21, 0xFF3A, 32, 1},
}};

struct Range {
    char32_t first;
    char32_t last;
};

bool in_ranges(char32_t cp, std::span<const Range> ranges) {
    const auto it = std::ranges::upper_bound(ranges, cp, {}, &Range::first);
    return it != ranges.begin() && cp <= std::prev(it)->last;
}

constexpr Range kCombiningMarks[] = {
    {0x0300, 0x036F}, {0x0483, 0x0489}, {0x1AB0, 0x1AFF}, {0x1DC0, 0x1DFF},
    {0x20D0, 0x20FF}, {0xFE00, 0xFE0F}, {0xFE20, 0xFE2F},
};

// Code points at or above U+00C0 that are not word characters. Sorted.
constexpr Range kNotWord[] = {
    {0x00D7, 0x00D7}, {0x00F7, 0x00F7},                      // multiplication and division signs
    {0x037E, 0x037E}, {0x0387, 0x0387},                      // Greek question mark, ano teleia
    {0x0482, 0x0482},                                        // Cyrillic thousands sign
    {0x055A, 0x055F}, {0x0589, 0x058A},                      // Armenian punctuation
    {0x05BE, 0x05BE}, {0x05C0, 0x05C0}, {0x05C3, 0x05C3}, {0x05C6, 0x05C6}, {0x05F3, 0x05F4},  // Hebrew
    {0x060C, 0x060C}, {0x061B, 0x061B}, {0x061F, 0x061F}, {0x066A, 0x066D}, {0x06D4, 0x06D4},  // Arabic
    {0x0964, 0x0965},                                        // Devanagari danda
    {0x2000, 0x20CF},                                        // punctuation, super- and subscripts, currency
    {0x2100, 0x2BFF},                                        // letterlike symbols to miscellaneous symbols
    {0x2E00, 0x2E7F},                                        // supplemental punctuation
    {0x3000, 0x3004}, {0x3008, 0x3020}, {0x3030, 0x3030}, {0x303D, 0x303F},  // CJK punctuation
    {0xD800, 0xF8FF},                                        // surrogates, private use
    {0xFE10, 0xFE1F}, {0xFE30, 0xFE6F},                      // vertical and small forms
    {0xFEFF, 0xFEFF},                                        // byte-order mark
    {0xFF00, 0xFF0F}, {0xFF1A, 0xFF20}, {0xFF3B, 0xFF40}, {0xFF5B, 0xFF65},  // fullwidth punctuation
    {0xFFF0, 0xFFFF},                                        // specials, the replacement character
    {0x1F000, 0x1FBFF},                                      // emoji and other pictographs
    {0xE0000, 0x10FFFF},                                     // tags, private use
};

constexpr Range kInvisible[] = {
    {0x00AD, 0x00AD}, {0x200C, 0x200D}, {0x2060, 0x2064}, {0xFEFF, 0xFEFF},
};

}  // namespace

char32_t fold_case(char32_t cp) {
    const auto it = std::ranges::upper_bound(kFoldRuns, cp, {}, &FoldRun::first);
    if (it == kFoldRuns.begin()) return cp;
    const FoldRun& run = *std::prev(it);
    if (cp > run.last || (cp - run.first) % run.stride != 0) return cp;
    return static_cast<char32_t>(static_cast<std::int32_t>(cp) + run.delta);
}

bool is_combining_mark(char32_t cp) { return in_ranges(cp, kCombiningMarks); }

bool is_invisible_format(char32_t cp) { return in_ranges(cp, kInvisible); }

bool is_word_character(char32_t cp) {
    if (cp < 0x80) return (cp >= '0' && cp <= '9') || (cp >= 'A' && cp <= 'Z') || (cp >= 'a' && cp <= 'z');
    // Latin-1 punctuation and symbols, but the ordinal indicators and the micro sign are letters.
    if (cp < 0xC0) return cp == 0xAA || cp == 0xB5 || cp == 0xBA;
    if (is_unicode_space(cp)) return false;
    if (is_combining_mark(cp)) return true;
    return !in_ranges(cp, kNotWord);
}

}  // namespace reel
