#pragma once
// Listed words and phrases found in subtitle cues: which cues hold one, and the
// cue text with each of them masked by asterisks.
#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "edits/edit.h"
#include "util/result.h"

namespace reel {

// One entry of a word list: its words in order, case-folded, and what stands
// between neighbouring words apart from white space ("-" in "bull-crap"; empty
// in "son of a gun"), so that joints[k] lies between words[k] and words[k + 1].
struct WordPhrase {
    std::vector<std::u32string> words;
    std::vector<std::u32string> joints;
    friend bool operator==(const WordPhrase&, const WordPhrase&) = default;
};

class WordList {
public:
    WordList() = default;
    // Keeps each phrase once, ordered by first word for lookup.
    explicit WordList(std::vector<WordPhrase> phrases);

    bool empty() const { return phrases_.empty(); }
    const std::vector<WordPhrase>& phrases() const { return phrases_; }
    std::span<const WordPhrase> starting_with(std::u32string_view word) const;

private:
    std::vector<WordPhrase> phrases_;
};

// A word-list text: one word or phrase a line; blank lines, lines that begin
// with "#" (after white space) and lines without a word character are ignored;
// a leading byte-order mark is skipped. The result may be empty.
WordList parse_word_list(std::string_view text);

// Reads the file at `path` (as given, used in messages). Fails when it cannot
// be read, is not UTF-8, or lists no word.
Result<WordList> read_word_list(const std::string& path);

// Cue text is SubRip or ASS text. Markup is neither matched nor changed: ASS
// override blocks ("{\i1}", also met in SubRip files) and SubRip tags ("<i>",
// "</font>"), both transparent inside a word ("da{\k20}mn" is one word). The
// escapes "\N", "\n" and "\h" and real line breaks separate words like blanks.
//
// Words are runs of letters and digits of any script, with combining marks and
// with apostrophes (' or ’) that stand between two letters. Matching ignores
// letter case (simple case folding) but not accents, except on Greek vowels,
// whose accents capitals leave out; it takes whole words only. A phrase matches its words in order when the text between them holds,
// apart from white space, line breaks and markup, exactly the phrase's own
// punctuation there.

// True when the cue text holds a listed word or phrase.
bool cue_has_words(std::string_view cue_text, const WordList& words);

// The cue text with every letter of every matched word replaced by one "*" (a
// letter with combining marks is one letter; apostrophes inside a word count as
// letters). White space, punctuation and markup between the words of a phrase,
// and everything outside matches, stay byte for byte; invalid UTF-8 is kept.
std::string mask_words(std::string_view cue_text, const WordList& words);

// A cue that holds a listed word. `number` is the cue's 1-based position among
// the document's cues with readable times (SubRip blocks with a timing line,
// ASS "Dialogue:" events).
// Times are seconds, start >= 0 and start < end: cues never shown (end not
// after start, or not after 0) are masked but not reported.
struct WordCue {
    std::size_t number = 0;
    double start = 0;
    double end = 0;
};

struct WordScan {
    std::vector<WordCue> cues;  // in document order
    std::string masked;         // the document with only the matched cue text changed
};

// SubRip: the text lines of every block with a timing line are matched as one
// cue text (also across its line breaks).
WordScan scan_srt_words(std::string_view document, const WordList& words);
// ASS and SSA: the text field (the tenth) of every "Dialogue:" line; "Comment:"
// lines and everything else stay as they are.
WordScan scan_ass_words(std::string_view document, const WordList& words);

// Mute edits over the cues, ordered by start, with ids "word" + cue number.
// Cues that overlap in time become one edit (named after its first cue), since
// the pipeline refuses overlapping edits.
std::vector<Edit> word_mute_edits(std::vector<WordCue> cues);

}  // namespace reel
