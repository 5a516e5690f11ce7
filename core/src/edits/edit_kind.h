#pragma once
// The kinds of edit, as one table: everything that tells one kind from
// another (its names, whether it draws a card, how it meets keyframes and the
// timeline, which stage carries it out) is read from here. A new kind is one
// enumerator and one row, and its stage.
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace reel {

enum class EditAction : std::uint8_t { Remove = 0, Replace = 1, TextOverVideo = 2, Mute = 3 };

// The stages that carry edits out: mutes rebuild the sound, text edits the
// picture in place, cuts the picture, the sound and the timeline.
enum class EditGroup : std::uint8_t { Mute, Text, Cut };

struct EditKind {
    EditAction action;
    std::string_view reportName;  // "remove": in the run report and the page
    std::string_view option;      // "--remove"
    std::string_view help;        // the option's line in the usage text
    // The words an edit list may name it by, any letter case; the first is
    // what lists are written with.
    std::span<const std::string_view> words;
    bool takesText;      // draws a card with the edit's text
    bool snaps;          // its ends move to keyframes
    bool movesTimeline;  // what follows it moves in time
    EditGroup group;
};

// Every kind, in the order the usage text lists them.
std::span<const EditKind> edit_kinds();
const EditKind& edit_kind(EditAction action);

// "remove", "replace", "textOverVideo", "mute": the names the run report uses.
std::string_view action_name(EditAction action);
// The kind an edit-list word names (trimmed, any letter case); absent for others.
std::optional<EditAction> action_from_word(std::string_view word);

}  // namespace reel
