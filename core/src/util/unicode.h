#pragma once
// Character classes and case folding for matching words in any script, without
// a Unicode library: small tables that cover what subtitles carry.
namespace reel {

// Simple case folding (one code point to one) for Latin, Greek, Cyrillic and
// Armenian letters and fullwidth Latin; other code points come back unchanged.
// The dotted capital I folds to "i" as well, so Turkish capitals find their words.
char32_t fold_case(char32_t cp);

// Marks that belong to the letter before them (accents written apart, variation
// selectors).
bool is_combining_mark(char32_t cp);

// Letters and digits of any script. Rather than list every letter, the table
// lists what is not one: white space, controls, and the punctuation and symbol
// blocks (ASCII, Latin-1, general punctuation, symbols, CJK punctuation,
// emoji, private use). Combining marks count as word characters too.
bool is_word_character(char32_t cp);

// Characters that join nothing and separate nothing: the soft hyphen, zero-width
// joiners and the byte-order mark.
bool is_invisible_format(char32_t cp);

}  // namespace reel
