// Pure rewriting of SubRip and ASS text onto the edited timeline.
#include <fmt/format.h>
#include <fmt/ranges.h>

#include "edits/time.h"
#include "subs/subtitles.h"
#include "util/text.h"

namespace reel {

namespace {

// Whole units (milliseconds, centiseconds) of a time; 0 for times not after 0.
std::int64_t time_units(double t, double per_second) { return t > 0 ? round_half_away(t * per_second) : 0; }

// Lines ending at "\n"; a final line without "\n" counts, a final "\n" adds no empty line.
std::vector<std::string_view> text_lines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) {
            lines.push_back(text.substr(pos));
            break;
        }
        lines.push_back(text.substr(pos, end - pos));
        pos = end + 1;
    }
    return lines;
}

// Byte position and length of the first Unicode white-space character, or
// (npos, 0) when there is none.
std::pair<std::size_t, std::size_t> find_space(std::string_view text) {
    std::size_t pos = 0;
    while (pos < text.size()) {
        const auto window = utf8_code_points(text.substr(pos, 4));
        const char32_t cp = window.empty() ? U'\uFFFD' : window.front();
        const std::size_t length = cp < 0x80 ? 1 : cp == 0xFFFD ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
        if (is_unicode_space(cp)) return {pos, length};
        pos += length;
    }
    return {std::string_view::npos, 0};
}

// Retimes one SubRip block: one cue for every part of it that is kept, none
// when nothing is.
std::string retime_srt_block(std::string_view block, const Timeline& timeline, std::int64_t& counter) {
    const auto lines = text_lines(block);
    std::size_t timing = 0;
    while (timing < lines.size() && !contains(lines[timing], "-->")) ++timing;
    if (timing == lines.size()) return {};

    const std::string_view line = lines[timing];
    const std::size_t arrow = line.find("-->");
    const std::string_view start_text = line.substr(0, arrow);
    const std::string_view rest = trim(line.substr(arrow + 3));
    const auto [space, space_length] = find_space(rest);
    const std::string_view end_text = rest.substr(0, space);
    // Position settings after the end time ("X1:10 X2:20") are kept as written.
    const std::string extra =
        space == std::string_view::npos ? std::string() : fmt::format(" {}", rest.substr(space + space_length));

    const auto start = parse_time(start_text);
    const auto end = parse_time(end_text);
    if (!start || !end) return {};

    std::string out;
    for (const auto& [from, to] : map_range_all(timeline, *start, *end)) {
        ++counter;
        out += fmt::format("{}\n{} --> {}{}\n", counter, format_srt_time(from), format_srt_time(to), extra);
        for (std::size_t i = timing + 1; i < lines.size(); ++i) {
            out.append(lines[i]);
            out.push_back('\n');
        }
        out.push_back('\n');
    }
    return out;
}

// Retimes one ASS line: an event becomes one line per kept part of it (none
// when nothing is kept); every other line stays as it is.
std::vector<std::string> retime_ass_line(std::string_view line, const Timeline& timeline) {
    if (!line.starts_with("Dialogue:")) return {std::string(line)};
    std::vector<std::string_view> fields;
    std::string_view rest = line.substr(9);
    while (fields.size() < 9) {
        const std::size_t comma = rest.find(',');
        if (comma == std::string_view::npos) break;
        fields.push_back(rest.substr(0, comma));
        rest = rest.substr(comma + 1);
    }
    fields.push_back(rest);  // the text field keeps any further commas
    if (fields.size() < 3) return {std::string(line)};
    const auto start = parse_time(fields[1]);
    const auto end = parse_time(fields[2]);
    if (!start || !end) return {std::string(line)};

    std::vector<std::string> lines;
    for (const auto& [from, to] : map_range_all(timeline, *start, *end)) {
        const std::string new_start = format_ass_time(from);
        const std::string new_end = format_ass_time(to);
        fields[1] = new_start;
        fields[2] = new_end;
        lines.push_back(fmt::format("Dialogue:{}", fmt::join(fields, ",")));
    }
    return lines;
}

}  // namespace

std::string format_srt_time(double t) {
    const std::int64_t m = time_units(t, 1000.0);
    return fmt::format("{:02}:{:02}:{:02},{:03}", m / 3600000, (m / 60000) % 60, (m / 1000) % 60, m % 1000);
}

std::string format_ass_time(double t) {
    const std::int64_t c = time_units(t, 100.0);
    return fmt::format("{}:{:02}:{:02}.{:02}", c / 360000, (c / 6000) % 60, (c / 100) % 60, c % 100);
}

std::string retime_srt(std::string_view text, const Timeline& timeline) {
    const std::string unified = replace_all(replace_all(text, "\r\n", "\n"), "\r", "\n");
    const std::string_view all = unified;
    std::string out;
    std::int64_t counter = 0;
    std::size_t pos = 0;
    while (true) {
        const std::size_t separator = all.find("\n\n", pos);
        const std::string_view block = all.substr(pos, separator == std::string_view::npos ? all.npos : separator - pos);
        out += retime_srt_block(block, timeline, counter);
        if (separator == std::string_view::npos) break;
        pos = separator + 2;
    }
    return out;
}

std::string retime_ass(std::string_view text, const Timeline& timeline) {
    const std::string unified = replace_all(text, "\r\n", "\n");
    std::string out;
    for (const auto line : text_lines(unified)) {
        for (const auto& kept : retime_ass_line(line, timeline)) {
            out += kept;
            out.push_back('\n');
        }
    }
    return out;
}

}  // namespace reel
