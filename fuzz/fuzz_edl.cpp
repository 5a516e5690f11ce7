// EDL files come from other programs and from users: every byte string must be
// read into edits and messages, one of the two for every line, with ranges that
// stay finite and ordered however their ends are written.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string_view>

#include "edits/edl.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto result = reel::parse_edl(text, 10.0);
    for (const auto& edit : result.edits) {
        if (edit.action != reel::EditAction::Remove && edit.action != reel::EditAction::Mute) std::abort();
        if (!std::isfinite(edit.start) || !std::isfinite(edit.end)) std::abort();
        if ((edit.startFrame && *edit.startFrame < 0) || (edit.endFrame && *edit.endFrame < 0)) std::abort();
        if (!edit.startFrame && !edit.endFrame && !(edit.start < edit.end)) std::abort();
        if (edit.startFrame && edit.endFrame && !(*edit.startFrame < *edit.endFrame)) std::abort();
        const auto resolved = reel::resolve_frames(edit, 24000.0 / 1001.0);
        if (!resolved || !std::isfinite(resolved->start) || !std::isfinite(resolved->end)) std::abort();
    }
    // A first line that reads as an edit makes the text an EDL for the dispatch.
    if (!result.edits.empty() && result.edits.front().id == "edl1" && !reel::looks_like_edl(text)) std::abort();

    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    const std::size_t lines = std::max<std::size_t>(reel::edit_list_lines(text).size(), 1);
    if (result.edits.size() + result.messages.size() != lines) std::abort();
    return 0;
}
