#include "page_data.h"

#include <algorithm>
#include <cmath>

#include <fmt/format.h>

#include "edits/edit_list.h"
#include "edits/edl.h"
#include "util/files.h"
#include "util/numbers.h"
#include "util/text.h"

namespace reel {

namespace {

// The edit-list reader's word for each action.
std::string_view csv_action_word(EditAction action) { return edit_kind(action).words.front(); }

// "row 3: ..." for a page row counted from 1.
std::string row_problem(std::size_t index, std::string_view problem) {
    return fmt::format("row {}: {}", index + 1, problem);
}

Result<Edit> edit_from_json(const nlohmann::json& row, std::size_t index) {
    if (!row.is_object()) return fail(row_problem(index, "not an object"));
    Edit edit;
    edit.id = fmt::format("row{}", index + 1);
    edit.origin = EditOrigin::Page;

    const auto action = row.find("action");
    if (action == row.end() || !action->is_string()) return fail(row_problem(index, "no action"));
    const auto kinds = edit_kinds();
    const auto known = std::ranges::find(kinds, action->get_ref<const std::string&>(), &EditKind::reportName);
    if (known == kinds.end())
        return fail(row_problem(index, fmt::format("unknown action '{}'", action->get<std::string>())));
    edit.action = known->action;

    for (auto [key, member] : {std::pair{"start", &Edit::start}, std::pair{"end", &Edit::end}}) {
        const auto value = row.find(key);
        if (value == row.end() || !value->is_number()) return fail(row_problem(index, fmt::format("no {} time", key)));
        edit.*member = value->get<double>();
    }
    if (!(edit.start < edit.end)) return fail(row_problem(index, "end must be after start"));

    if (const auto text = row.find("text"); text != row.end()) {
        if (!text->is_string()) return fail(row_problem(index, "the text must be text"));
        edit.text = text->get<std::string>();
    }
    if (const auto seconds = row.find("cardSeconds"); seconds != row.end()) {
        if (!seconds->is_number() || !card_seconds_in_range(seconds->get<double>()))
            return fail(row_problem(index, fmt::format("the card length must be {}", card_seconds_range_text())));
        edit.cardSeconds = seconds->get<double>();
    }
    for (auto [key, member] : {std::pair{"match", &Edit::match}, std::pair{"enabled", &Edit::enabled}}) {
        const auto flag = row.find(key);
        if (flag == row.end()) continue;
        if (!flag->is_boolean()) return fail(row_problem(index, fmt::format("{} must be true or false", key)));
        edit.*member = flag->get<bool>();
    }
    return edit;
}

// A CSV field in quotes: the reader takes separators and doubled quotes inside
// literally. A line break would end the row, so it becomes a blank.
std::string quoted_field(std::string_view text) {
    std::string flat = replace_all(replace_all(text, "\r\n", " "), "\n", " ");
    std::ranges::replace(flat, '\r', ' ');
    return "\"" + replace_all(flat, "\"", "\"\"") + "\"";
}

bool is_cut(EditAction action) { return edit_kind(action).movesTimeline; }

}  // namespace

nlohmann::json edit_to_json(const Edit& edit) {
    return {{"action", std::string(action_name(edit.action))},
            {"start", edit.start},
            {"end", edit.end},
            {"text", edit.text},
            {"cardSeconds", edit.cardSeconds},
            {"match", edit.match},
            {"enabled", edit.enabled}};
}

Result<std::vector<Edit>> edits_from_json(const nlohmann::json& rows) {
    if (!rows.is_array()) return fail("the edits must be a list");
    std::vector<Edit> edits;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        auto edit = edit_from_json(rows[i], i);
        if (!edit) return fail(edit.error());
        edits.push_back(std::move(*edit));
    }
    return edits;
}

ImportedEdits import_edit_list(std::string_view name, std::string_view text, double fps) {
    constexpr double default_card_seconds = 10;
    const bool edl = ascii_lower(path_text(path_from_text(name).extension())) == ".edl" || looks_like_edl(text);
    EditListResult list = edl ? parse_edl(text, default_card_seconds) : parse_edit_list(text, default_card_seconds);
    ImportedEdits imported;
    imported.messages = std::move(list.messages);
    for (Edit& edit : list.edits) {
        auto resolved = resolve_frames(std::move(edit), fps);
        if (resolved)
            imported.edits.push_back(std::move(*resolved));
        else
            imported.messages.push_back(resolved.error());
    }
    return imported;
}

std::string edit_list_csv(const std::vector<Edit>& edits) {
    std::string csv = "start,end,action,text,card_seconds,enabled\n";
    for (const Edit& edit : edits) {
        csv += fmt::format("{},{},{},{},{},{}\n", format_shortest(edit.start), format_shortest(edit.end),
                           csv_action_word(edit.action), quoted_field(edit.text),
                           edit.match ? std::string("same") : format_shortest(edit.cardSeconds),
                           edit.enabled ? 1 : 0);
    }
    return csv;
}

EdlText edit_list_edl(const std::vector<Edit>& edits) {
    EdlText edl;
    for (std::size_t i = 0; i < edits.size(); ++i) {
        const Edit& edit = edits[i];
        if (!edit.enabled) {
            edl.messages.push_back(row_problem(i, "is switched off and left out"));
            continue;
        }
        if (edit.action != EditAction::Remove && edit.action != EditAction::Mute) {
            edl.messages.push_back(row_problem(i, fmt::format("an EDL has no {} edits; left out", action_name(edit.action))));
            continue;
        }
        edl.text += fmt::format("{} {} {}\n", format_shortest(edit.start), format_shortest(edit.end),
                                edit.action == EditAction::Remove ? 0 : 1);
    }
    return edl;
}

std::vector<CutPicture> cut_pictures(const RunReport& report, double frame_seconds) {
    std::vector<const AppliedEdit*> cuts;
    for (const AppliedEdit& applied : report.applied)
        if (is_cut(applied.action)) cuts.push_back(&applied);
    std::ranges::sort(cuts, {}, &AppliedEdit::actualStart);

    std::vector<CutPicture> pictures;
    double shift = 0;  // output minus source time after the cuts so far
    for (const AppliedEdit* cut : cuts) {
        const double start = cut->actualStart;
        const double card = cut->action == EditAction::Replace ? cut->cardSeconds.value_or(0) : 0;
        pictures.push_back({cut->id, std::string(action_name(cut->action)), std::max(0.0, start - frame_seconds),
                            std::max(0.0, start + shift + card / 2)});
        shift += card - (cut->actualEnd - cut->actualStart);
    }
    return pictures;
}

}  // namespace reel
