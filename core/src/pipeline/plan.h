#pragma once
// Edit validation, keyframe snapping, piece planning and the old-to-new time map.
// Pure apart from the keyframe lookup, which callers pass in.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "edits/edit.h"
#include "util/result.h"

namespace reel {

struct SnappedEdit {
    Edit edit;
    double snappedStart = 0;
    double snappedEnd = 0;
};

struct AppliedEdit {
    std::string id;
    EditAction action = EditAction::Remove;
    double requestedStart = 0;
    double requestedEnd = 0;
    double actualStart = 0;
    double actualEnd = 0;
    std::optional<double> cardSeconds;
};

AppliedEdit applied_from(const SnappedEdit& snapped, std::optional<double> card_seconds);

struct PieceRange {
    double start = 0;
    std::optional<double> end;  // absent: to the end of the file
};

struct PieceSlot {
    enum class Kind { Piece, Card } kind = Kind::Piece;
    std::size_t index = 0;  // Piece: index into ranges; Card: index into the planned edit list
    bool needsBitstreamPass = false;
};

struct CutPlan {
    std::vector<PieceRange> ranges;
    std::vector<PieceSlot> slots;
};

struct TimelineSegment {
    bool card = false;
    double sourceStart = 0;
    double sourceEnd = 0;
    double length = 0;
};

struct Timeline {
    std::vector<TimelineSegment> segments;
    std::vector<double> offsets;

    static Timeline identity(double duration);
    // Offsets become the running sums of the segment lengths.
    static Timeline from_segments(std::vector<TimelineSegment> segments);
};

// Where the source range (a, b) lands in the edited file: every part of it in
// kept source, in order, parts that meet in the edited file joined. A part that
// a cut left shorter than 0.3 s is dropped (a flash of a line helps nobody); a
// range that was that short to begin with stays.
std::vector<std::pair<double, double>> map_range_all(const Timeline& timeline, double a, double b);
// The first of those parts: where a subtitle line or a chapter now begins and
// how long it lasts; absent when nothing of the range is left.
std::optional<std::pair<double, double>> map_range(const Timeline& timeline, double a, double b);

// Enabled edits, checked, sorted (stable) and clamped to the duration. `fps` is
// needed to refuse title cards whose frame count could not be rendered.
Result<std::vector<Edit>> validate_edits(const std::vector<Edit>& edits, double duration, double fps);

// Frames of a title card that is not matched to its range:
// max(round(max(card_seconds, 0.5) x fps), 1). Absent when that count is not a
// finite number that fits in 32 signed bits (ffmpeg's frame limit).
std::optional<std::int64_t> fixed_card_frames(double card_seconds, double fps);
// Frames of a title card lasting `seconds`; the caller has checked the range.
std::int64_t title_card_frames(double seconds, double fps);

// Answers "nearest keyframe to t" (ties to the earlier), with the run's source and limit.
using KeyframeLookup = std::function<Result<double>(double)>;

struct SnappedGroups {
    std::vector<SnappedEdit> mute;
    std::vector<SnappedEdit> text;
    std::vector<SnappedEdit> cut;  // remove and card edits
};
Result<SnappedGroups> snap_edits(const std::vector<Edit>& validated, double duration, double fps,
                                 const KeyframeLookup& lookup);

// Everything plan_gap needs besides the gap itself.
struct GapContext {
    std::string videoCodec;
    double duration = 0;
    KeyframeLookup lookup;  // on the plan's source
};

Result<void> plan_gap(CutPlan& plan, double gap_start, std::optional<double> gap_end, bool previous_was_card,
                      const GapContext& gap);

enum class PlanKind { Text, Cut };
Result<CutPlan> plan_pieces(const std::vector<SnappedEdit>& edits, PlanKind kind, double fps, const GapContext& gap);

}  // namespace reel
