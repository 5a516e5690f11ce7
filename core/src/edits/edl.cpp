#include "edits/edl.h"

#include <algorithm>
#include <cstdint>
#include <optional>

#include <fmt/format.h>

#include "edits/time.h"
#include "util/numbers.h"
#include "util/text.h"

namespace reel {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

struct EdlTime {
    double seconds = 0;
    std::optional<std::int64_t> frame;
};

std::optional<EdlTime> read_edl_time(std::string_view field) {
    if (field.starts_with('#')) {
        const std::string_view digits = field.substr(1);
        if (digits.empty() || !std::ranges::all_of(digits, [](char c) { return c >= '0' && c <= '9'; }))
            return std::nullopt;
        const auto frame = parse_int64(digits);  // absent on overflow
        if (!frame) return std::nullopt;
        return EdlTime{0, *frame};
    }
    const auto seconds = parse_time(field);
    if (!seconds) return std::nullopt;
    return EdlTime{*seconds, std::nullopt};
}

// Fields separated by runs of blanks and tabs.
std::vector<std::string_view> edl_fields(std::string_view line) {
    std::vector<std::string_view> fields;
    constexpr std::string_view blanks = " \t\v\f\r";
    std::size_t pos = line.find_first_not_of(blanks);
    while (pos != std::string_view::npos) {
        const std::size_t end = line.find_first_of(blanks, pos);
        fields.push_back(line.substr(pos, end == std::string_view::npos ? end : end - pos));
        pos = end == std::string_view::npos ? end : line.find_first_not_of(blanks, end);
    }
    return fields;
}

struct EdlLine {
    EdlTime start;
    EdlTime end;
    std::int64_t action = 0;
};

std::optional<EdlLine> read_edl_line(std::string_view line) {
    const auto fields = edl_fields(line);
    if (fields.size() != 3) return std::nullopt;
    const auto start = read_edl_time(fields[0]);
    const auto end = read_edl_time(fields[1]);
    const auto action = parse_int64(fields[2]);
    if (!start || !end || !action) return std::nullopt;
    return EdlLine{*start, *end, *action};
}

std::optional<EditAction> edl_action(std::int64_t number) {
    switch (number) {
        case 0: return EditAction::Remove;
        case 1: return EditAction::Mute;
        case 3: return EditAction::Remove;  // a commercial break is cut like any other range
        default: return std::nullopt;
    }
}

// False when both ends are given the same way and the end is not after the start.
bool end_after_start(const EdlTime& start, const EdlTime& end) {
    if (start.frame && end.frame) return *start.frame < *end.frame;
    if (!start.frame && !end.frame) return start.seconds < end.seconds;
    return true;  // one in frames: checked once the frame rate is known
}

Result<Edit> edit_from_line(std::string_view line, std::size_t number, double default_card_seconds) {
    const auto read = read_edl_line(line);
    constexpr std::int64_t kSceneMarker = 2;
    if (read && read->action == kSceneMarker) return fail(fmt::format("Line {}: scene marker skipped.", number));
    const auto action = read ? edl_action(read->action) : std::nullopt;
    if (!action) return fail(fmt::format("Line {}: could not read start/end/action.", number));
    if (!end_after_start(read->start, read->end)) return fail(fmt::format("Line {}: end must be after start.", number));

    Edit edit;
    edit.id = fmt::format("edl{}", number);
    edit.start = read->start.seconds;
    edit.end = read->end.seconds;
    edit.startFrame = read->start.frame;
    edit.endFrame = read->end.frame;
    edit.cardSeconds = default_card_seconds;
    edit.action = *action;
    return edit;
}

std::string_view without_byte_order_mark(std::string_view text) {
    if (text.starts_with(kByteOrderMark)) text.remove_prefix(kByteOrderMark.size());
    return text;
}

}  // namespace

bool looks_like_edl(std::string_view text) {
    const auto lines = edit_list_lines(without_byte_order_mark(text));
    return !lines.empty() && read_edl_line(lines.front()).has_value();
}

EditListResult parse_edl(std::string_view text, double default_card_seconds) {
    EditListResult result;
    const auto lines = edit_list_lines(without_byte_order_mark(text));
    if (lines.empty()) result.messages.emplace_back("The file is empty.");
    for (std::size_t i = 0; i < lines.size(); ++i) {
        auto edit = edit_from_line(lines[i], i + 1, default_card_seconds);
        if (edit) {
            result.edits.push_back(std::move(*edit));
        } else {
            result.messages.push_back(std::move(edit.error()));
        }
    }
    return result;
}

}  // namespace reel
