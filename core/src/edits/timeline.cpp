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

namespace {

// The range edited time t falls in (the first one for times before it).
std::size_t linked_range(const LinkedCut& cut, double edited) {
    const auto after = std::upper_bound(cut.editedStarts.begin(), cut.editedStarts.end(), edited + kContiguous);
    return after == cut.editedStarts.begin() ? 0 : static_cast<std::size_t>(after - cut.editedStarts.begin()) - 1;
}

}  // namespace

double linked_shift(const LinkedCut& cut, double edited) {
    const std::size_t range = linked_range(cut, edited);
    return range < cut.shifts.size() ? cut.shifts[range] : 0;
}

double linked_place(const LinkedCut& cut, double edited, double step) {
    const std::size_t range = linked_range(cut, edited);
    const double shift = range < cut.shifts.size() ? cut.shifts[range] : 0;
    const double placed = std::round((edited + shift) / step) * step;
    // A time before the first range (a packet that starts a little early)
    // stays where it is; any other stays inside its range, whose start in the
    // source is its edited start moved by the same shift.
    if (range >= cut.editedStarts.size() || edited + kContiguous < cut.editedStarts[range]) return placed;
    return placed < cut.editedStarts[range] + shift - kContiguous ? placed + step : placed;
}

}  // namespace reel
