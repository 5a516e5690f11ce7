// Pure rewriting of SubRip and ASS text onto the edited timeline.
#include <fmt/format.h>
#include <fmt/ranges.h>

#include "edits/time.h"
#include "subs/cue_layout.h"
#include "subs/subtitles.h"
#include "util/numbers.h"
#include "util/text.h"

namespace reel {

namespace {

// Whole units (milliseconds, centiseconds) of a time; 0 for times not after 0.
std::int64_t time_units(double t, double per_second) { return t > 0 ? round_half_away(t * per_second) : 0; }

// Where the kept parts of a cue go: the edited time, or for a cut that the
// final mux makes, the source time that lands there. A cue keeps its length,
// moved by the shift of the range it starts in: one that runs on past a join
// is shown as long as in the edited time.
// `step`: the unit the file stores times in.
std::vector<std::pair<double, double>> placed_ranges(const Timeline& timeline, const LinkedCut* linked, double a,
                                                     double b, double step) {
    auto parts = map_range_all(timeline, a, b);
    if (linked) {
        for (auto& [from, to] : parts) {
            to += linked_shift(*linked, from);
            from = linked_place(*linked, from, step);
        }
    }
    return parts;
}

// Retimes one SubRip cue: one cue for every part of it that is kept, none when
// nothing is.
std::string retime_srt_cue(const SrtCue& cue, const Timeline& timeline, const LinkedCut* linked,
                           std::int64_t& counter) {
    const auto start = parse_time(cue.startText);
    const auto end = parse_time(cue.endText);
    if (!start || !end) return {};

    // Position settings after the end time ("X1:10 X2:20") are kept as written.
    const std::string extra = cue.settings ? fmt::format(" {}", *cue.settings) : std::string();
    std::string out;
    for (const auto& [from, to] : placed_ranges(timeline, linked, *start, *end, 0.001)) {
        ++counter;
        out += fmt::format("{}\n{} --> {}{}\n", counter, format_srt_time(from), format_srt_time(to), extra);
        for (const std::string_view line : cue.text) {
            out.append(line);
            out.push_back('\n');
        }
        out.push_back('\n');
    }
    return out;
}

// Retimes one ASS line: an event becomes one line per kept part of it (none
// when nothing is kept); every other line stays as it is.
std::vector<std::string> retime_ass_line(std::string_view line, const Timeline& timeline, const LinkedCut* linked) {
    auto fields = dialogue_fields(line);
    if (!fields || fields->size() <= kAssEndField) return {std::string(line)};
    const auto start = parse_time((*fields)[kAssStartField]);
    const auto end = parse_time((*fields)[kAssEndField]);
    if (!start || !end) return {std::string(line)};

    std::vector<std::string> lines;
    for (const auto& [from, to] : placed_ranges(timeline, linked, *start, *end, 0.01)) {
        const std::string new_start = format_ass_time(from);
        const std::string new_end = format_ass_time(to);
        (*fields)[kAssStartField] = new_start;
        (*fields)[kAssEndField] = new_end;
        lines.push_back(fmt::format("Dialogue:{}", fmt::join(*fields, ",")));
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

std::string retime_srt(std::string_view text, const Timeline& timeline, const LinkedCut* linked) {
    std::string out;
    std::int64_t counter = 0;
    for (const SrtCue& cue : read_srt_cues(text)) out += retime_srt_cue(cue, timeline, linked, counter);
    return out;
}

std::string retime_ass(std::string_view text, const Timeline& timeline, const LinkedCut* linked) {
    const std::string unified = replace_all(text, "\r\n", "\n");
    std::string out;
    for (const auto line : split_lines(unified)) {
        for (const auto& kept : retime_ass_line(line, timeline, linked)) {
            out += kept;
            out.push_back('\n');
        }
    }
    return out;
}

}  // namespace reel
