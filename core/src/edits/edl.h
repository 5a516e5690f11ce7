#pragma once
// MPlayer and Kodi edit decision lists: one "START END ACTION" line per edit.
#include <string_view>

#include "edits/edit_list.h"

namespace reel {

// True when the first non-blank line has the "START END ACTION" form: three
// fields separated by blanks or tabs, two times and a whole number. Times are
// seconds or H:MM:SS.sss as everywhere (parse_time), or "#" and a frame number.
// A leading byte-order mark is skipped.
bool looks_like_edl(std::string_view text);

// Reads an EDL text, forgiving like a CSV list: lines are numbered as there
// (non-blank lines from 1) and a bad line costs only itself, with the same
// messages. Action 0 and 3 (commercial break) remove, 1 mutes, 2 (scene marker)
// is skipped with a message. Edits get the id "edl" + line number and the
// default card length. A frame number goes into start_frame/end_frame, for
// validation to turn into seconds with the movie's frame rate; an end that is
// not after its start is caught here when both are given the same way, else
// then. Edits keep the file's order: times in frames cannot be ordered yet.
EditListResult parse_edl(std::string_view text, double default_card_seconds);

}  // namespace reel
