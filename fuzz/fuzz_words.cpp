// Word lists come from users and cue text from whatever the movie carried:
// matching and masking must never break, must mask exactly when they match,
// and must leave everything but the matched words as it was.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <string>
#include <string_view>

#include "subs/cue_layout.h"
#include "subs/words.h"
#include "util/text.h"

namespace {

// The ASCII bytes masking never touches: everything but letters, digits, the
// apostrophe (which may belong to a word) and the asterisk (which masking writes).
std::string untouchable(std::string_view text) {
    std::string out;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x80 && !std::isalnum(u) && c != '\'' && c != '*') out.push_back(c);
    }
    return out;
}

void check_cues(const reel::WordScan& scan) {
    for (const auto& cue : scan.cues)
        if (!(cue.start >= 0) || !(cue.start < cue.end) || !std::isfinite(cue.end) || cue.number == 0) std::abort();
}

}  // namespace

// Input: the word list, a zero byte, the cue text (or, without a zero byte,
// the first line as the list and the whole input as the text).
extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t zero = input.find('\0');
    const std::string_view list_text = zero == input.npos ? input.substr(0, input.find('\n')) : input.substr(0, zero);
    const std::string_view text = zero == input.npos ? input : input.substr(zero + 1);
    const reel::WordList list = reel::parse_word_list(list_text);

    const std::string masked = reel::mask_words(text, list);
    if (reel::cue_has_words(text, list) != (masked != text)) std::abort();
    if (reel::is_valid_utf8(text) && !reel::is_valid_utf8(masked)) std::abort();
    if (untouchable(masked) != untouchable(text)) std::abort();

    const auto srt = reel::scan_srt_words(text, list);
    check_cues(srt);
    if (untouchable(srt.masked) != untouchable(text)) std::abort();

    const auto ass = reel::scan_ass_words(text, list);
    check_cues(ass);
    const auto before = reel::split_lines(text);
    const auto after = reel::split_lines(ass.masked);
    if (before.size() != after.size()) std::abort();
    for (std::size_t i = 0; i < before.size(); ++i)
        if (!before[i].starts_with("Dialogue:") && before[i] != after[i]) std::abort();
    return 0;
}
