#include "edits/edit.h"

#include <cmath>

#include <fmt/format.h>

#include "util/text.h"

namespace reel {

std::string_view action_name(EditAction action) {
    switch (action) {
        case EditAction::Remove: return "remove";
        case EditAction::Replace: return "replace";
        case EditAction::TextOverVideo: return "textOverVideo";
        case EditAction::Mute: return "mute";
    }
    return "remove";  // unreachable for the four enumerators
}

bool card_seconds_in_range(double seconds) {
    return seconds >= kShortestCardSeconds && seconds <= kLongestCardSeconds;
}

std::string card_seconds_range_text() {
    return fmt::format("between {} and {} seconds", format_shortest(kShortestCardSeconds),
                       format_shortest(kLongestCardSeconds));
}

Result<Edit> resolve_frames(Edit edit, double fps) {
    if (!edit.start_frame && !edit.end_frame) return edit;
    if (!std::isfinite(fps) || !(fps > 0))
        return fail(fmt::format("Edit {} counts frames, but the movie's frame rate is unknown.", edit.id));
    if (edit.start_frame) edit.start = static_cast<double>(*edit.start_frame) / fps;
    if (edit.end_frame) edit.end = static_cast<double>(*edit.end_frame) / fps;
    edit.start_frame.reset();
    edit.end_frame.reset();
    return edit;
}

}  // namespace reel
