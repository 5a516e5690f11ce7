#pragma once
// The edited movie's time against the source's: which stretches of the source
// are kept, in order, with the cards between them, and where a source range
// lands after the edit. Pure.
#include <optional>
#include <utility>
#include <vector>

namespace reel {

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

}  // namespace reel
