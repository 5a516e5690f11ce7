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
#include "edits/timeline.h"
#include "probe/keyframes.h"
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
    // Exact cuts: where the piece's pictures end when that is before `end`.
    // An open GOP shows the leading pictures of the keyframe at `end` before
    // it, but they travel with that keyframe into the next part.
    std::optional<double> picturesEnd{};
    // Exact cuts: where the piece's first picture lies when its keyframe's
    // leading pictures come along (shown before `start`).
    std::optional<double> picturesStart{};
};

// Exact cuts: source pictures encoded again, those whose time lies in
// [start, end). `firstFrame` is the time of the first of them.
struct EncodedStretch {
    double start = 0;
    double end = 0;
    double firstFrame = 0;
    std::int64_t frames = 0;
    // The keyframe its decoding starts from (the last one at or before its
    // first picture) and the next one, where the listing has them.
    std::optional<double> keyframe;
    std::optional<double> nextKeyframe;
    // The head of the group of pictures at `copyFrom` (a keyframe), whose
    // first `packets` packets are copied as stored instead of encoded (see
    // copyable_head); a picture stored as two fields takes two. The head
    // starts at `start`, before its keyframe where that has leading pictures.
    std::int64_t packets = 0;
    double copyFrom = 0;
    bool copied() const { return packets > 0; }
};

struct PieceSlot {
    enum class Kind { Piece, Card, Encoded } kind = Kind::Piece;
    // Piece: index into ranges; Card: index into the planned edit list;
    // Encoded: index into stretches.
    std::size_t index = 0;
    bool needsBitstreamPass = false;
    // The piece starts at a keyframe whose leading pictures belong to what
    // was cut away or encoded before it: they are dropped from the copy.
    bool dropLeading = false;
};

struct CutPlan {
    std::vector<PieceRange> ranges;
    std::vector<EncodedStretch> stretches;
    std::vector<PieceSlot> slots;
};

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
// `exact`: the cut points stay where they were asked for (the pictures up to
// the next keyframe are encoded again); `lookup` is then not asked.
Result<SnappedGroups> snap_edits(const std::vector<Edit>& validated, double duration, double fps,
                                 const KeyframeLookup& lookup, bool exact = false);

// Adds the mutes found from a word list (disjoint, sorted by start, as
// word_mute_edits makes them) to the snapped edits, where the user's own edits
// win: of each word mute only its parts outside every cut (as snapped) and
// every mute of the user's are kept, and parts shorter than a millisecond go.
// A kept part's edit holds the cue's times (its end at most `duration`), its
// snapped range the part. A text edit may lie over a word mute: the card hides
// the picture, the mute the sound. The mutes stay sorted by start.
void add_word_mutes(SnappedGroups& groups, const std::vector<Edit>& word_mutes, double duration);

// Everything plan_gap needs besides the gap itself.
struct GapContext {
    std::string videoCodec;
    double duration = 0;
    KeyframeLookup lookup;  // on the plan's source
    // Exact cuts: every picture of the plan's source. Absent: cuts at keyframes.
    const FrameIndex* frames = nullptr;
    // Exact cuts: the run can copy the head of a group of pictures out of the
    // source by itself, so a cut inside one encodes only what follows it.
    bool copiesHeads = false;
};

Result<void> plan_gap(CutPlan& plan, double gap_start, std::optional<double> gap_end, bool previous_was_card,
                      const GapContext& gap);

// Exact cuts at `edits` (snapped; the ends of each, and every picture of a
// text edit, whose card takes their place) on a file with `keyframes`
// (sorted) that lasts `duration`: the stretches whose pictures the plan needs listed, sorted and
// merged. From the keyframe at or before each cut past the keyframe where a
// long copy after it may be divided, and a second on for the pictures that
// follow that keyframe but are shown before it.
std::vector<std::pair<double, double>> exact_listing_windows(const std::vector<SnappedEdit>& edits,
                                                             const std::vector<double>& keyframes, double duration);

enum class PlanKind { Text, Cut };
Result<CutPlan> plan_pieces(const std::vector<SnappedEdit>& edits, PlanKind kind, double fps, const GapContext& gap);

// `lookup` with no keyframe strictly inside any of `ranges` (the text ranges,
// whose pictures a card replaces): a time in there gets the nearer of the
// range's ends, which are keyframes themselves.
KeyframeLookup keyframes_outside(KeyframeLookup lookup, std::vector<std::pair<double, double>> ranges);

// A cut plan whose pieces come straight from the source although text cards
// lie over some of its pictures: every piece slot of the cut is divided where
// a text card starts and ends. One split of the source then serves both.
struct ComposedSlot {
    std::size_t cutSlot = 0;  // the slot of the cut plan this is part of
    double offset = 0;        // from the start of that slot's range
    // A text card in place of source pictures (its slot indexes the text edits).
    bool textCard = false;
};
struct ComposedPlan {
    CutPlan plan;  // its Card slots index the cut edits, or the text edits for a text card
    std::vector<ComposedSlot> origins;  // per slot of `plan`
};
// The cut plan as it is, slot for slot.
ComposedPlan compose_plans(CutPlan cut);
// The cut plan with the text cards of `text_edits` (snapped at keyframes)
// put in place of the source pictures they cover, the pieces around them
// divided as every gap after a card is (`gap` on the source). Fails when a
// piece of the cut would begin or end inside a text range, or for exact cuts.
Result<ComposedPlan> compose_plans(const std::vector<SnappedEdit>& text_edits, const CutPlan& cut, double fps,
                                   const GapContext& gap);

// Which cards are rendered side by side: at most `at_once` groups of indices
// into `lengths` (a card's frame count; absent where there is no card), with
// totals of frames as close as can be. Cards of one length stay in one group,
// one after the other, since their text files are named by the length.
std::vector<std::vector<std::size_t>> card_groups(const std::vector<std::optional<std::int64_t>>& lengths,
                                                  std::size_t at_once);

}  // namespace reel
