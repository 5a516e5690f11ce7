#pragma once
// DVD picture subtitles (VobSub: an ".idx" text index and a ".sub" MPEG program
// stream of subpicture units), rewritten for the edited timeline.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "edits/timeline.h"
#include "util/result.h"

namespace reel {

// A picture whose display the timeline cut short: where its unit starts in
// the .sub and how long it may now be shown (seconds).
struct ShortenedPicture {
    std::uint64_t filepos = 0;
    double length = 0;
    bool operator==(const ShortenedPicture&) const = default;
};

struct IdxRetiming {
    std::string text;
    std::vector<ShortenedPicture> shortened;
};

// How long the picture at a .sub position is shown, when known.
using PictureLength = std::function<std::optional<double>(std::uint64_t filepos)>;

// Rewrites the .idx text. Every "timestamp: HH:MM:SS:mmm, filepos: N" line is
// kept with its new time or dropped, as `map_range` answers for the span the
// picture is shown: from its time for `length_of(filepos)` seconds, or, when
// that is not known, until the next timestamp of its track ("id:" section; the
// last one without end). "delay:" lines are folded into the times that follow
// them in their track and left out. Every other line stays as it is; line ends
// are kept. Pictures whose span was cut short are listed in `shortened`.
IdxRetiming retime_idx(std::string_view text, const Timeline& timeline, const PictureLength& length_of = {});

// How long the subpicture unit that starts in the pack at `filepos` of a .sub
// is shown (its stop command's delay); absent when the bytes there are not a
// readable unit with a stop command.
std::optional<double> spu_length(std::string_view sub, std::uint64_t filepos);
// Makes that unit stop after at most `length` seconds; false when it cannot
// be read. Nothing else changes, so .idx positions stay valid.
bool limit_spu_length(std::string& sub, std::uint64_t filepos, double length);

struct VobSubFiles {
    std::string idx;
    std::string sub;
};
// Both files for the edited timeline: retime_idx with the lengths the .sub
// gives, and the cut-short pictures stopped where their kept stretch ends.
// Fails when the .idx does not begin with "# VobSub index file".
Result<VobSubFiles> retime_vobsub(std::string_view idx, std::string sub, const Timeline& timeline);

}  // namespace reel
