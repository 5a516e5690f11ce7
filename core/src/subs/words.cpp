#include "subs/words.h"

#include <algorithm>
#include <tuple>

#include <fmt/format.h>

#include "edits/time.h"
#include "subs/cue_layout.h"
#include "util/files.h"
#include "util/text.h"
#include "util/unicode.h"

namespace reel {

namespace {

constexpr char32_t kZeroWidthSpace = 0x200B;

bool is_apostrophe(char32_t cp) { return cp == U'\'' || cp == 0x2019; }

// Greek written in capitals leaves out its accents ("ΘΕΟΣ" for "θεός"), so
// folded Greek vowels lose their tonos and dialytika before they are compared.
char32_t greek_vowel(char32_t cp) {
    switch (cp) {
        case U'ά': return U'α';
        case U'έ': return U'ε';
        case U'ή': return U'η';
        case U'ί': case U'ϊ': case U'ΐ': return U'ι';
        case U'ό': return U'ο';
        case U'ύ': case U'ϋ': case U'ΰ': return U'υ';
        case U'ώ': return U'ω';
        default: return cp;
    }
}

// The form in which characters are compared: case-folded, every apostrophe the
// ASCII one (subtitles write "don’t", word lists "don't").
char32_t comparison_form(char32_t cp) {
    return is_apostrophe(cp) || cp == 0x02BC ? U'\'' : greek_vowel(fold_case(cp));
}

// Bytes of a word between two pieces of markup.
struct Piece {
    std::size_t begin = 0;
    std::size_t end = 0;
};

struct Word {
    std::u32string key;
    std::vector<Piece> pieces;
};

struct Tokens {
    std::vector<Word> words;
    std::vector<std::u32string> joints;  // joints[k]: between words k and k + 1
};

enum class Markup { Plain, Subtitle };

bool is_ascii_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Finds markup in cue text. Remembers where the next "}" is, so that a text
// full of unclosed "{" is still read in one pass.
class MarkupFinder {
public:
    explicit MarkupFinder(std::string_view text) : text_(text) {}

    // Length of the override block ("{...}") or tag ("<i>", "</font>") at
    // `pos`; 0 when none starts there.
    std::size_t length_at(std::size_t pos) {
        if (text_[pos] == '{') {
            if (close_brace_ <= pos) close_brace_ = text_.find('}', pos + 1);
            return close_brace_ == std::string_view::npos ? 0 : close_brace_ + 1 - pos;
        }
        if (text_[pos] != '<') return 0;
        std::size_t i = pos + 1;
        if (i < text_.size() && text_[i] == '/') ++i;
        if (i >= text_.size() || !is_ascii_letter(text_[i])) return 0;
        const std::size_t close = text_.find_first_of("<>\r\n", i);
        return close != std::string_view::npos && text_[close] == '>' ? close + 1 - pos : 0;
    }

private:
    std::string_view text_;
    std::size_t close_brace_ = 0;
};

bool is_escaped_break(std::string_view text, std::size_t pos) {
    return text[pos] == '\\' && pos + 1 < text.size() &&
           (text[pos + 1] == 'N' || text[pos + 1] == 'n' || text[pos + 1] == 'h');
}

// An apostrophe belongs to a word only between two of its letters.
bool apostrophe_inside(std::string_view text, std::size_t next) {
    if (next >= text.size()) return false;
    const char32_t cp = decode_utf8(text, next).cp;
    return is_word_character(cp) && !is_combining_mark(cp);
}

Tokens tokenize(std::string_view text, Markup markup) {
    Tokens tokens;
    std::u32string joint;
    bool in_word = false;
    MarkupFinder finder(text);
    std::size_t pos = 0;
    while (pos < text.size()) {
        if (markup == Markup::Subtitle) {
            if (const std::size_t length = finder.length_at(pos)) {
                pos += length;  // a word goes on across markup
                continue;
            }
            if (is_escaped_break(text, pos)) {
                in_word = false;
                pos += 2;
                continue;
            }
        }
        const Utf8Char ch = decode_utf8(text, pos);
        const bool letter = is_word_character(ch.cp) && (in_word || !is_combining_mark(ch.cp));
        if (letter || (in_word && is_apostrophe(ch.cp) && apostrophe_inside(text, pos + ch.length))) {
            if (!in_word) {
                if (!tokens.words.empty()) tokens.joints.push_back(std::move(joint));
                joint.clear();
                tokens.words.emplace_back();
                in_word = true;
            }
            Word& word = tokens.words.back();
            if (!word.pieces.empty() && word.pieces.back().end == pos) {
                word.pieces.back().end = pos + ch.length;
            } else {
                word.pieces.push_back({pos, pos + ch.length});
            }
            word.key.push_back(comparison_form(ch.cp));
        } else if (!is_invisible_format(ch.cp)) {
            in_word = false;
            if (!is_unicode_space(ch.cp) && ch.cp != kZeroWidthSpace) joint.push_back(comparison_form(ch.cp));
        }
        pos += ch.length;
    }
    return tokens;
}

bool phrase_at(const Tokens& tokens, std::size_t first, const WordPhrase& phrase) {
    if (tokens.words.size() - first < phrase.words.size()) return false;
    for (std::size_t k = 1; k < phrase.words.size(); ++k) {
        if (tokens.words[first + k].key != phrase.words[k]) return false;
        if (tokens.joints[first + k - 1] != phrase.joints[k - 1]) return false;
    }
    return true;
}

// Which words of the text belong to a match; with `first_only`, stops at the
// first match found.
std::vector<bool> matched_words(const Tokens& tokens, const WordList& list, bool first_only) {
    std::vector<bool> matched(tokens.words.size(), false);
    for (std::size_t i = 0; i < tokens.words.size(); ++i) {
        for (const WordPhrase& phrase : list.starting_with(tokens.words[i].key)) {
            if (!phrase_at(tokens, i, phrase)) continue;
            std::fill_n(matched.begin() + static_cast<std::ptrdiff_t>(i), phrase.words.size(), true);
            if (first_only) return matched;
        }
    }
    return matched;
}

// The masked text, or absent when nothing matched.
std::optional<std::string> masked_cue(std::string_view text, const WordList& list) {
    const Tokens tokens = tokenize(text, Markup::Subtitle);
    const std::vector<bool> matched = matched_words(tokens, list, false);
    if (std::ranges::find(matched, true) == matched.end()) return std::nullopt;

    std::string out;
    out.reserve(text.size());
    std::size_t copied = 0;
    for (std::size_t i = 0; i < tokens.words.size(); ++i) {
        if (!matched[i]) continue;
        for (const Piece& piece : tokens.words[i].pieces) {
            out.append(text.substr(copied, piece.begin - copied));
            for (std::size_t pos = piece.begin; pos < piece.end;) {
                const Utf8Char ch = decode_utf8(text, pos);
                if (!is_combining_mark(ch.cp)) out.push_back('*');
                pos += ch.length;
            }
            copied = piece.end;
        }
    }
    out.append(text.substr(copied));
    return out;
}

// Adds a matched cue when it is ever shown; a start before 0 is shown from 0.
void add_cue(std::vector<WordCue>& cues, std::size_t number, double start, double end) {
    if (!(end > 0) || !(start < end)) return;
    cues.push_back({number, std::max(start, 0.0), end});
}

// Collects the masked document piece by piece; cue texts arrive in order.
class DocumentMasker {
public:
    explicit DocumentMasker(std::string_view document) : document_(document) {}

    // Masks `cue_text` (a view into the document); true when it matched.
    bool mask(std::string_view cue_text, const WordList& list) {
        auto masked = masked_cue(cue_text, list);
        if (!masked) return false;
        const auto offset = static_cast<std::size_t>(cue_text.data() - document_.data());
        out_.append(document_.substr(copied_, offset - copied_));
        out_ += *masked;
        copied_ = offset + cue_text.size();
        return true;
    }

    std::string finish() {
        out_.append(document_.substr(copied_));
        return std::move(out_);
    }

private:
    std::string_view document_;
    std::string out_;
    std::size_t copied_ = 0;
};

}  // namespace

WordList::WordList(std::vector<WordPhrase> phrases) : phrases_(std::move(phrases)) {
    const auto order = [](const WordPhrase& a, const WordPhrase& b) {
        return std::tie(a.words, a.joints) < std::tie(b.words, b.joints);
    };
    std::ranges::sort(phrases_, order);
    const auto duplicates = std::ranges::unique(phrases_);
    phrases_.erase(duplicates.begin(), duplicates.end());
    std::erase_if(phrases_, [](const WordPhrase& p) { return p.words.empty(); });
}

std::span<const WordPhrase> WordList::starting_with(std::u32string_view word) const {
    const auto range = std::ranges::equal_range(phrases_, word, {},
                                                [](const WordPhrase& p) { return std::u32string_view(p.words[0]); });
    return {range.begin(), range.end()};
}

WordList parse_word_list(std::string_view text) {
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    std::vector<WordPhrase> phrases;
    for (const std::string_view line : split_lines(text)) {
        const std::string_view entry = trim(line);
        if (entry.empty() || entry.starts_with('#')) continue;
        Tokens tokens = tokenize(entry, Markup::Plain);
        if (tokens.words.empty()) continue;
        WordPhrase phrase;
        for (Word& word : tokens.words) phrase.words.push_back(std::move(word.key));
        phrase.joints = std::move(tokens.joints);
        phrases.push_back(std::move(phrase));
    }
    return WordList(std::move(phrases));
}

Result<WordList> read_word_list(const std::string& path) {
    const auto bytes = read_file(path_from_text(path));
    if (!bytes) return fail(fmt::format("{}: {}", path, bytes.error()));
    if (!is_valid_utf8(*bytes)) return fail(fmt::format("{}: stream did not contain valid UTF-8", path));
    WordList list = parse_word_list(*bytes);
    if (list.empty()) return fail(fmt::format("{}: the file lists no words to mute.", path));
    return list;
}

bool cue_has_words(std::string_view cue_text, const WordList& words) {
    const std::vector<bool> matched = matched_words(tokenize(cue_text, Markup::Subtitle), words, true);
    return std::ranges::find(matched, true) != matched.end();
}

std::string mask_words(std::string_view cue_text, const WordList& words) {
    auto masked = masked_cue(cue_text, words);
    return masked ? std::move(*masked) : std::string(cue_text);
}

WordScan scan_srt_words(std::string_view document, const WordList& words) {
    WordScan scan;
    DocumentMasker masker(document);
    std::size_t number = 0;
    for (const SrtCue& cue : read_srt_cues(document)) {
        const auto start = parse_time(cue.startText);
        const auto end = parse_time(cue.endText);
        if (start && end) ++number;
        if (cue.text.empty()) continue;
        // The text lines follow each other in the document; masked as one text,
        // a phrase is found across their line breaks.
        const char* first = cue.text.front().data();
        const std::string_view text(first, static_cast<std::size_t>(cue.text.back().data() - first) +
                                               cue.text.back().size());
        if (masker.mask(text, words) && start && end) add_cue(scan.cues, number, *start, *end);
    }
    scan.masked = masker.finish();
    return scan;
}

WordScan scan_ass_words(std::string_view document, const WordList& words) {
    WordScan scan;
    DocumentMasker masker(document);
    std::size_t number = 0;
    for (const std::string_view line : split_lines(document)) {
        const auto fields = dialogue_fields(line);
        if (!fields || fields->size() <= kAssEndField) continue;
        const auto start = parse_time((*fields)[kAssStartField]);
        const auto end = parse_time((*fields)[kAssEndField]);
        if (start && end) ++number;
        if (fields->size() <= kAssTextField) continue;
        if (masker.mask((*fields)[kAssTextField], words) && start && end) add_cue(scan.cues, number, *start, *end);
    }
    scan.masked = masker.finish();
    return scan;
}

std::vector<Edit> word_mute_edits(std::vector<WordCue> cues) {
    std::ranges::stable_sort(cues, {}, &WordCue::start);
    std::vector<Edit> edits;
    for (const WordCue& cue : cues) {
        if (!edits.empty() && cue.start < edits.back().end) {
            edits.back().end = std::max(edits.back().end, cue.end);
            continue;
        }
        Edit edit;
        edit.id = fmt::format("word{}", cue.number);
        edit.origin = EditOrigin::Words;
        edit.start = cue.start;
        edit.end = cue.end;
        edit.action = EditAction::Mute;
        edits.push_back(std::move(edit));
    }
    return edits;
}

}  // namespace reel
