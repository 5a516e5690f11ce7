#pragma once
// One edit: a time range of the movie and what to do with it.
#include <cstdint>
#include <string>
#include <string_view>

namespace reel {

enum class EditAction : std::uint8_t { Remove = 0, Replace = 1, TextOverVideo = 2, Mute = 3 };

// "remove", "replace", "textOverVideo", "mute": the names the run report uses.
std::string_view action_name(EditAction action);

struct Edit {
    std::string id;  // "arg1", "csv3", ...
    std::string text;
    double start = 0;
    double end = 0;
    double card_seconds = 10.0;
    bool match = false;
    bool enabled = true;
    EditAction action = EditAction::Remove;
};

}  // namespace reel
