#include "edits/edit.h"

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

}  // namespace reel
