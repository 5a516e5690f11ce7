#pragma once
// One edit: a time range of the movie and what to do with it.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "edits/edit_kind.h"
#include "util/result.h"

namespace reel {

// Card lengths a user may ask for: long enough to be read, short enough that a
// slip of the keyboard cannot start an encode of many hours.
inline constexpr double kShortestCardSeconds = 0.5;
inline constexpr double kLongestCardSeconds = 3600;
// False also for NaN.
bool card_seconds_in_range(double seconds);
// "between 0.5 and 3600 seconds", for messages about a refused length.
std::string card_seconds_range_text();

// Where an edit was asked for.
enum class EditOrigin : std::uint8_t { CommandLine, List, Page, Words };

struct Edit {
    std::string id;  // "arg1", "csv3", ...: names the edit in messages and the report
    EditOrigin origin = EditOrigin::List;
    std::string text;
    double start = 0;
    double end = 0;
    double cardSeconds = 10.0;
    bool match = false;
    bool enabled = true;
    EditAction action = EditAction::Remove;
    // Lists that count frames (EDL "#1234") set these and leave the matching
    // time at 0: the frame rate is known only once the movie has been read.
    std::optional<std::int64_t> startFrame;
    std::optional<std::int64_t> endFrame;
};

// The edit with its frame numbers turned into seconds (frame / fps) and
// cleared; an edit without them comes back unchanged. Fails when a frame
// number is given and fps is not a positive finite number.
Result<Edit> resolve_frames(Edit edit, double fps);

}  // namespace reel
