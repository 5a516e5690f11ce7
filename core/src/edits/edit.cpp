#include "edits/edit.h"

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

}  // namespace reel
