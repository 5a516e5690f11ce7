#include "edits/edit.h"

#include <cmath>

#include <fmt/format.h>

#include "util/numbers.h"
#include "util/text.h"

namespace reel {

bool card_seconds_in_range(double seconds) {
    return seconds >= kShortestCardSeconds && seconds <= kLongestCardSeconds;
}

std::string card_seconds_range_text() {
    return fmt::format("between {} and {} seconds", format_shortest(kShortestCardSeconds),
                       format_shortest(kLongestCardSeconds));
}

Result<Edit> resolve_frames(Edit edit, double fps) {
    if (!edit.startFrame && !edit.endFrame) return edit;
    if (!std::isfinite(fps) || !(fps > 0))
        return fail(fmt::format("Edit {} counts frames, but the movie's frame rate is unknown.", edit.id));
    if (edit.startFrame) edit.start = static_cast<double>(*edit.startFrame) / fps;
    if (edit.endFrame) edit.end = static_cast<double>(*edit.endFrame) / fps;
    edit.startFrame.reset();
    edit.endFrame.reset();
    return edit;
}

}  // namespace reel
