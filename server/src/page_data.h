#pragma once
// What the page and the server hand each other, as pure functions: edits as
// JSON, edit lists as CSV or EDL text, and where the before-and-after pictures
// of a finished run lie.
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "edits/edit.h"
#include "pipeline/pipeline.h"
#include "util/result.h"

namespace reel {

// {"action", "start", "end", "text", "cardSeconds", "match", "enabled"}; the
// action under the run report's names ("remove", "replace", "textOverVideo",
// "mute").
nlohmann::json edit_to_json(const Edit& edit);

// The page's edit table. Ids are "row" and the position from 1, so the report
// points back at table rows. Fails with the first row that cannot be read.
Result<std::vector<Edit>> edits_from_json(const nlohmann::json& rows);

// An imported edit-list file: EDL when the name ends in ".edl" or the text
// looks like one, else CSV (separator detected). Frame numbers (EDL "#1234")
// become seconds with `fps`; an edit that cannot be converted is dropped with
// a message.
struct ImportedEdits {
    std::vector<Edit> edits;
    std::vector<std::string> messages;
};
ImportedEdits import_edit_list(std::string_view name, std::string_view text, double fps);

// A CSV edit list with a header line, every edit (disabled ones with enabled
// 0) in table order; reads back through the edit-list reader unchanged.
std::string edit_list_csv(const std::vector<Edit>& edits);

// An MPlayer/Kodi EDL: enabled remove (0) and mute (1) edits. Cards, text cards
// and disabled rows have no form there; each is named in a message.
struct EdlText {
    std::string text;
    std::vector<std::string> messages;
};
EdlText edit_list_edl(const std::vector<Edit>& edits);

// One cut of a finished run, pictured twice: the source's last frame before
// the cut, and the output at the place of the cut: where the rest of the movie
// begins, or for a title card its middle (its first frame is black, faded in).
struct CutPicture {
    std::string id;
    std::string kind;
    double source = 0;  // seconds in the movie
    double output = 0;  // seconds in the edited file
};
// Remove and title-card edits of `report`, in source order. The output time of
// a source moment is that moment less every cut stretch that ends before it,
// plus the cards that took their place. `frame_seconds`: one frame of the
// movie (0 when unknown).
std::vector<CutPicture> cut_pictures(const RunReport& report, double frame_seconds);

}  // namespace reel
