#include "edits/edit_kind.h"

#include <algorithm>
#include <string>

#include "util/text.h"

namespace reel {

namespace {

constexpr std::string_view kRemoveWords[] = {"remove", "cut", "delete"};
constexpr std::string_view kMuteWords[] = {"mute", "silence"};
constexpr std::string_view kCardWords[] = {"card", "replace"};
constexpr std::string_view kTextWords[] = {"text", "textovervideo", "text-over-video", "text-keep-audio"};

constexpr EditKind kKinds[] = {
    {EditAction::Remove, "remove", "--remove", "cut the range out", kRemoveWords, false, true, true, EditGroup::Cut},
    {EditAction::Mute, "mute", "--mute", "silence the range", kMuteWords, false, false, false, EditGroup::Mute},
    {EditAction::Replace, "replace", "--card",
     "replace the range with a title card (length: --card-seconds, default 10, or --match)", kCardWords, true, true,
     true, EditGroup::Cut},
    {EditAction::TextOverVideo, "textOverVideo", "--text", "keep the audio, replace the picture with a title card",
     kTextWords, true, true, false, EditGroup::Text},
};

}  // namespace

std::span<const EditKind> edit_kinds() { return kKinds; }

const EditKind& edit_kind(EditAction action) {
    const auto* kind = std::ranges::find(kKinds, action, &EditKind::action);
    // Every enumerator has its row.
    return kind != std::end(kKinds) ? *kind : kKinds[0];
}

std::string_view action_name(EditAction action) { return edit_kind(action).reportName; }

std::optional<EditAction> action_from_word(std::string_view word) {
    const std::string lower = ascii_lower(trim(word));
    for (const EditKind& kind : kKinds)
        if (std::ranges::find(kind.words, lower) != kind.words.end()) return kind.action;
    return std::nullopt;
}

}  // namespace reel
