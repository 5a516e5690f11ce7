#pragma once
// How SubRip and ASS documents hold their cues, read in one place for retiming
// and for word masking. Every view points into the document it was read from,
// so a caller can also rewrite a cue's text in place.
#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

namespace reel {

struct SrtCue {
    std::string_view startText;
    std::string_view endText;
    // What follows the end time after white space (position settings such as
    // "X1:10 X2:20"); absent when nothing follows.
    std::optional<std::string_view> settings;
    std::vector<std::string_view> text;  // the lines after the timing line, without line ends
};

// The cues of a SubRip document, in order. Lines end at "\r\n", "\r" or "\n";
// empty lines separate blocks; a block is a cue when one of its lines holds
// "-->" (the first such line is the timing line, lines before it are ignored).
std::vector<SrtCue> read_srt_cues(std::string_view document);

// The fields of an ASS "Dialogue:" line: the text after the colon split at ","
// into at most 10 fields, the tenth (the text) keeping any further commas.
// Absent for every other line.
std::optional<std::vector<std::string_view>> dialogue_fields(std::string_view line);

inline constexpr std::size_t kAssStartField = 1;
inline constexpr std::size_t kAssEndField = 2;
inline constexpr std::size_t kAssTextField = 9;

}  // namespace reel
