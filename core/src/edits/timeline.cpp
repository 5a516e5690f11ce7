#include "edits/timeline.h"

#include <algorithm>
#include <cmath>

namespace reel {

namespace {

// What is left of a subtitle line or chapter after a cut is kept when it lasts
// at least this long.
constexpr double kShortestFragment = 0.3;
// Two times this close are one moment.
constexpr double kContiguous = 1e-6;

}  // namespace

Timeline Timeline::identity(double duration) {
    return from_segments({TimelineSegment{false, 0, duration, duration}});
}

Timeline Timeline::from_segments(std::vector<TimelineSegment> segments) {
    Timeline timeline;
    double offset = 0;
    for (const auto& segment : segments) {
        timeline.offsets.push_back(offset);
        offset += segment.length;
    }
    timeline.segments = std::move(segments);
    return timeline;
}

std::vector<std::pair<double, double>> map_range_all(const Timeline& timeline, double a, double b) {
    std::vector<std::pair<double, double>> kept;
    // Written as a negated comparison so that a NaN range maps to nothing.
    if (!(a < b)) return kept;
    const std::size_t count = std::min(timeline.segments.size(), timeline.offsets.size());
    for (std::size_t i = 0; i < count; ++i) {
        const auto& segment = timeline.segments[i];
        if (segment.card) continue;
        const double from = std::max(a, segment.sourceStart);
        const double to = std::min(b, segment.sourceEnd);
        if (!(from < to)) continue;
        const double offset = timeline.offsets[i];
        const std::pair<double, double> piece{from - segment.sourceStart + offset, to - segment.sourceStart + offset};
        // Pieces that meet in the edited file (a removal in between) are one.
        if (!kept.empty() && std::abs(kept.back().second - piece.first) < kContiguous) {
            kept.back().second = piece.second;
        } else {
            kept.push_back(piece);
        }
    }
    // A cut can leave a flash of a line or a chapter; what is shorter than a
    // reader needs and shorter than it was is left out.
    std::erase_if(kept, [&](const auto& piece) {
        const double length = piece.second - piece.first;
        return length < kShortestFragment && length < (b - a) - kContiguous;
    });
    return kept;
}

std::optional<std::pair<double, double>> map_range(const Timeline& timeline, double a, double b) {
    auto kept = map_range_all(timeline, a, b);
    if (kept.empty()) return std::nullopt;
    return kept.front();
}

}  // namespace reel
