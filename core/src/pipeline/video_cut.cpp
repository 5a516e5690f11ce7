#include "pipeline/video_cut.h"

#include <algorithm>
#include <cmath>

#include <fmt/format.h>

#include "pipeline/commands.h"
#include "probe/keyframes.h"
#include "util/files.h"
#include "util/numbers.h"
#include "util/text.h"

namespace reel {

std::vector<std::string> video_split_arguments(const std::filesystem::path& output,
                                               const std::vector<PieceRange>& ranges, const TrackSource& video) {
    return {"-o",
            path_text(output),
            "--no-audio",
            "--no-subtitles",
            "--no-chapters",
            "--no-global-tags",
            "--no-attachments",
            "--video-tracks",
            std::to_string(video.id),
            "--split",
            format_split_parts(ranges),
            video.file};
}

std::optional<std::size_t> SplitParts::keyframe(double seconds) {
    if (current_ && ranges_[*current_].end && seconds >= *ranges_[*current_].end - kListedTimeTolerance) current_.reset();
    while (!current_ && next_ < ranges_.size() && seconds >= ranges_[next_].start - kListedTimeTolerance) {
        // A range ended before this keyframe gets no pictures (the split
        // then finds its part empty), never the ones of a later range.
        const auto& end = ranges_[next_].end;
        if (!end || seconds < *end - kListedTimeTolerance) current_ = next_;
        ++next_;
    }
    return current_;
}

std::vector<std::string> video_join_arguments(const std::filesystem::path& output,
                                              const std::vector<VideoPiece>& pieces) {
    std::vector<std::string> args{"-o", path_text(output)};
    const auto inputs = video_join_inputs(pieces);
    args.insert(args.end(), inputs.begin(), inputs.end());
    return args;
}

std::vector<std::string> video_join_inputs(const std::vector<VideoPiece>& pieces) {
    std::vector<std::string> args;
    std::int64_t placed_ms = 0;  // where mkvmerge puts the current file's time 0
    double previous_end = 0;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        const auto& piece = pieces[i];
        const double wanted = piece.position - piece.firstFrame;
        // mkvmerge starts an appended file with its first picture where the
        // file before ends: a piece cut after a gap in the picture's times
        // (a file joined from recordings) begins later than its own 0.
        const std::int64_t first_ms = i == 0 ? 0 : round_half_away(piece.firstFrame * 1000.0);
        const std::int64_t natural_ms = i == 0 ? 0 : placed_ms + round_half_away(previous_end * 1000.0) - first_ms;
        const std::int64_t shift = round_half_away(wanted * 1000.0) - natural_ms;
        if (i > 0) args.emplace_back("+");
        if (shift != 0) {
            args.emplace_back("--sync");
            args.push_back(fmt::format("0:{}", shift));
        }
        args.push_back(path_text(piece.file));
        placed_ms = natural_ms + shift;
        previous_end = piece.end;
    }
    return args;
}

std::vector<double> cut_keyframes(const std::vector<PieceRange>& ranges) {
    std::vector<double> cuts;
    for (const auto& range : ranges) {
        if (range.start > kListedTimeTolerance) cuts.push_back(range.start);
        if (range.end) cuts.push_back(*range.end);
    }
    return cuts;
}

std::vector<std::pair<double, double>> windows_before(const std::vector<double>& cuts) {
    std::vector<std::pair<double, double>> windows;
    for (const double cut : cuts) windows.emplace_back(std::max(0.0, cut - kBeforeCut), cut);
    return windows;
}

bool pictures_meet_cuts(const std::vector<double>& times, const std::vector<double>& cuts, double frame_seconds) {
    return std::ranges::all_of(cuts, [&](double cut) {
        const auto after = std::ranges::lower_bound(times, cut - kListedTimeTolerance);
        if (after == times.begin()) return false;
        return std::abs(*(after - 1) + frame_seconds - cut) <= 2 * kListedTimeTolerance;
    });
}

LinkedSplit linked_split(const std::vector<PieceRange>& ranges) {
    LinkedSplit split{format_split_parts(ranges, true), {}};
    double edited = 0;
    for (const auto& range : ranges) {
        split.cut.editedStarts.push_back(edited);
        split.cut.shifts.push_back(range.start - edited);
        edited += range.end.value_or(range.start) - range.start;
    }
    return split;
}

std::string linked_timestamps(const std::vector<double>& times, double sync, const LinkedCut& cut) {
    std::string out = "# timestamp format v2\n";
    double last = 0;
    for (const double t : times) {
        last = std::max(last, linked_place(cut, t + sync, 0.001));
        out += fmt::format("{:.3f}\n", last * 1000.0);
    }
    return out;
}

}  // namespace reel
