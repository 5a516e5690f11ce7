#include <cmath>
#include "pipeline/layout.h"

namespace reel {

std::int64_t title_card_frames_for(const SnappedEdit& edit, double fps) {
    // validate_edits has made sure a fixed card length gives a usable count.
    return edit.edit.match ? title_card_frames(edit.snappedEnd - edit.snappedStart, fps)
                           : fixed_card_frames(edit.edit.cardSeconds, fps).value_or(1);
}

namespace {

// The segmenter is given its cut times in whole microseconds; the stretches
// use the same times so that both count a packet on a boundary alike.
double to_microseconds(double t) { return std::round(t * 1e6) / 1e6; }

}  // namespace

CutLayout layout_cut(const CutPlan& plan, const std::vector<SnappedEdit>& cut, double fps, double duration) {
    CutLayout layout;
    std::vector<TimelineSegment> segments;
    double position = 0;
    for (const auto& slot : plan.slots) {
        layout.slotPositions.push_back(position);
        if (slot.kind == PieceSlot::Kind::Card) {
            const std::int64_t frames = title_card_frames_for(cut[slot.index], fps);
            const double length = static_cast<double>(frames) / fps;
            layout.cardFrames.push_back(frames);
            layout.silence.push_back({position, length});
            segments.push_back({true, 0, 0, length});
            position += length;
            continue;
        }
        layout.cardFrames.push_back(0);
        double start = 0;
        double end = 0;
        if (slot.kind == PieceSlot::Kind::Encoded) {
            start = plan.stretches[slot.index].start;
            end = plan.stretches[slot.index].end;
        } else {
            const auto& range = plan.ranges[slot.index];
            start = range.start;
            end = range.picturesEnd.value_or(range.end.value_or(duration));
        }
        const double length = end - start;
        // A piece that continues the one before in the source (a gap divided
        // for the bitstream pass, a copy after an encoded stretch) is no cut:
        // it joins that segment.
        if (!segments.empty() && !segments.back().card && segments.back().sourceEnd == start) {
            segments.back().sourceEnd = end;
            segments.back().length += length;
        } else {
            segments.push_back({false, start, end, length});
        }
        position += length;
    }
    layout.timeline = Timeline::from_segments(std::move(segments));

    double cursor = 0;
    bool open = false;
    for (std::size_t i = 0; i < layout.timeline.segments.size(); ++i) {
        const auto& segment = layout.timeline.segments[i];
        if (segment.card) continue;
        const double start = to_microseconds(segment.sourceStart);
        if (start > cursor) layout.stretches.push_back({AudioStretch::Kind::Drop, cursor, start, 0});
        const bool last_is_open = segment.sourceEnd >= duration;
        layout.stretches.push_back({AudioStretch::Kind::Keep, start,
                                    last_is_open ? std::nullopt : std::optional<double>(to_microseconds(segment.sourceEnd)),
                                    layout.timeline.offsets[i] - segment.sourceStart});
        cursor = to_microseconds(segment.sourceEnd);
        open = last_is_open;
    }
    if (!open) layout.stretches.push_back({AudioStretch::Kind::Drop, cursor, std::nullopt, 0});
    return layout;
}

}  // namespace reel
