#pragma once
// Cutting the picture at keyframes and putting pieces and cards back together,
// each at the place the plan gives it. Pure: the stages run what these build.
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "pipeline/plan.h"
#include "pipeline/tracks.h"

namespace reel {

// mkvmerge's split of one video track at the ranges; no other track, tag or
// attachment rides along into the pieces.
std::vector<std::string> video_split_arguments(const std::filesystem::path& output,
                                               const std::vector<PieceRange>& ranges, const TrackSource& video);

// Which kept range each picture belongs to as the split reads the picture in
// file order, as mkvmerge's split parts it: a part begins at the first
// keyframe at or after its range's start and ends at the first one at or after
// its end, so that an open GOP's leading pictures travel with their keyframe.
class SplitParts {
public:
    explicit SplitParts(std::vector<PieceRange> ranges) : ranges_(std::move(ranges)) {}
    // The part of the pictures from a keyframe at `seconds` on, up to the next keyframe.
    std::optional<std::size_t> keyframe(double seconds);
    std::optional<std::size_t> current() const { return current_; }
    // Every part has begun and ended: nothing further is read.
    bool done() const { return !current_ && next_ == ranges_.size(); }

private:
    std::vector<PieceRange> ranges_;
    std::size_t next_ = 0;
    std::optional<std::size_t> current_;
};

// mkvmerge appends each file with its first picture at the end of the one
// before (a piece cut after a gap in the picture's times starts later than its
// own 0). A piece whose neighbour ends a little early or late (a card of whole
// frames, an odd last frame) would push everything after it; each file
// therefore gets the shift, in whole milliseconds, that puts its first frame
// on its planned position, reckoned from where mkvmerge really puts it so that
// rounding never adds up.
std::vector<std::string> video_join_arguments(const std::filesystem::path& output,
                                              const std::vector<VideoPiece>& pieces);
// The same pieces as the input files of a larger mkvmerge run: each file with
// its shift, joined by "+". Options for the picture track go before them.
std::vector<std::string> video_join_inputs(const std::vector<VideoPiece>& pieces);

// The kept ranges (keyframe times; each but the last with an end) as one cut
// of the final mux. mkvmerge moves the first range to time 0 and starts each
// further one where the one before ends.
LinkedSplit linked_split(const std::vector<PieceRange>& ranges);
// mkvmerge glues each track on at a linked part's start by its own reckoning,
// which matches the edited time only where the picture runs on without a gap
// into every cut keyframe (a file joined from recordings has such gaps).
// The kept ranges' starts and ends (the file's start and an open end are no
// cuts), the `kBeforeCut` seconds before each of them that a packet listing
// reads, and whether in the picture times read there (sorted) the last
// picture before each cut ends on it, with pictures `frame_seconds` long.
constexpr double kBeforeCut = 1.0;
std::vector<double> cut_keyframes(const std::vector<PieceRange>& ranges);
std::vector<std::pair<double, double>> windows_before(const std::vector<double>& cuts);
bool pictures_meet_cuts(const std::vector<double>& times, const std::vector<double>& cuts, double frame_seconds);
// mkvmerge's timestamp file (format v2) that places a sound track made for the
// edited time for `cut`: `times` are its packets' times as its file stores
// them, which the edited time has `sync` seconds later. mkvmerge takes no
// negative time, and would shift by a "--sync" before it cuts.
std::string linked_timestamps(const std::vector<double>& times, double sync, const LinkedCut& cut);

}  // namespace reel
