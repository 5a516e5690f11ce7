#include "subs/cue_layout.h"

#include <utility>

#include "util/text.h"

namespace reel {

namespace {

// Byte position and length of the first Unicode white-space character, or
// (npos, 0) when there is none.
std::pair<std::size_t, std::size_t> find_space(std::string_view text) {
    for (std::size_t pos = 0; pos < text.size();) {
        const Utf8Char ch = decode_utf8(text, pos);
        if (is_unicode_space(ch.cp)) return {pos, ch.length};
        pos += ch.length;
    }
    return {std::string_view::npos, 0};
}

// Lines of a SubRip document, which may end at "\r\n", "\r" or "\n".
std::vector<std::string_view> srt_lines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string_view::npos) {
            lines.push_back(text.substr(pos));
            break;
        }
        lines.push_back(text.substr(pos, end - pos));
        pos = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    }
    return lines;
}

std::optional<SrtCue> read_srt_block(const std::vector<std::string_view>& lines) {
    std::size_t timing = 0;
    while (timing < lines.size() && !contains(lines[timing], "-->")) ++timing;
    if (timing == lines.size()) return std::nullopt;

    const std::string_view line = lines[timing];
    const std::size_t arrow = line.find("-->");
    const std::string_view rest = trim(line.substr(arrow + 3));
    const auto [space, space_length] = find_space(rest);

    SrtCue cue;
    cue.startText = line.substr(0, arrow);
    cue.endText = rest.substr(0, space);
    if (space != std::string_view::npos) cue.settings = rest.substr(space + space_length);
    cue.text.assign(lines.begin() + static_cast<std::ptrdiff_t>(timing) + 1, lines.end());
    return cue;
}

}  // namespace

std::vector<SrtCue> read_srt_cues(std::string_view document) {
    std::vector<SrtCue> cues;
    std::vector<std::string_view> block;
    const auto close_block = [&] {
        if (auto cue = read_srt_block(block)) cues.push_back(std::move(*cue));
        block.clear();
    };
    for (const std::string_view line : srt_lines(document)) {
        if (line.empty()) {
            close_block();
        } else {
            block.push_back(line);
        }
    }
    close_block();
    return cues;
}

std::optional<std::vector<std::string_view>> dialogue_fields(std::string_view line) {
    if (!line.starts_with("Dialogue:")) return std::nullopt;
    std::vector<std::string_view> fields;
    std::string_view rest = line.substr(9);
    while (fields.size() < kAssTextField) {
        const std::size_t comma = rest.find(',');
        if (comma == std::string_view::npos) break;
        fields.push_back(rest.substr(0, comma));
        rest = rest.substr(comma + 1);
    }
    fields.push_back(rest);  // the text field keeps any further commas
    return fields;
}

}  // namespace reel
