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
    // The edited movie's length.
    double length() const { return segments.empty() ? 0.0 : offsets.back() + segments.back().length; }
};

// Where the source range (a, b) lands in the edited file: every part of it in
// kept source, in order, parts that meet in the edited file joined. A part that
// a cut left shorter than 0.3 s is dropped (a flash of a line helps nobody); a
// range that was that short to begin with stays.
std::vector<std::pair<double, double>> map_range_all(const Timeline& timeline, double a, double b);
// The first of those parts: where a subtitle line or a chapter now begins and
// how long it lasts; absent when nothing of the range is left.
std::optional<std::pair<double, double>> map_range(const Timeline& timeline, double a, double b);

// A cut that the final mux makes as it writes: mkvmerge keeps ranges of the
// source and links them, moving each range back by its own shift, and it does
// so to every track of the file it writes. A track made for the edited time
// must therefore be handed over in the source's time: what belongs at edited
// time t is given at t plus the shift of the range that t falls in, so that
// nothing lands between ranges and everything comes back where it belongs.
struct LinkedCut {
    std::vector<double> editedStarts;  // where each kept range begins in the edited file, ascending
    std::vector<double> shifts;        // source time minus edited time within each range
};
// The shift of the range edited time t falls in (the first range for times
// before it).
double linked_shift(const LinkedCut& cut, double edited);
// The source time for edited time t, in whole `step`s (the unit a file
// stores times in), never before the start of its range: rounded down, a
// time at the very start of a range would fall between two.
double linked_place(const LinkedCut& cut, double edited, double step);

}  // namespace reel
