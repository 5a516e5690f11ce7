#include "pipeline/commands.h"

#include <algorithm>

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "encode/encoder.h"
#include "pipeline/audio_cut.h"
#include "probe/keyframes.h"
#include "util/files.h"

namespace reel {

namespace {


// mkvmerge splits before the first packet at or after the time it is given; half
// a millisecond early makes sure the keyframe that the time names starts the part.
std::string split_time(double t) {
    const double shifted = t > 0.001 ? t - kListedTimeTolerance : 0.0;
    return fmt::format("{:.4f}s", shifted);
}

}  // namespace

std::string format_split_parts(const std::vector<PieceRange>& ranges, bool linked) {
    std::string out = "parts:";
    for (std::size_t i = 0; i < ranges.size(); ++i) {
        if (i > 0) out += linked ? ",+" : ",";
        out += split_time(ranges[i].start);
        out += "-";
        if (ranges[i].end) out += split_time(*ranges[i].end);
    }
    return out;
}

std::vector<std::filesystem::path> split_part_paths(const std::filesystem::path& output, std::size_t count) {
    // A split that keeps one range writes the plain output name.
    if (count == 1) return {output};
    const auto name = output.filename();
    // std::filesystem already treats a leading "." as part of the stem.
    const std::string stem = path_text(name.stem());
    std::string ext = path_text(name.extension());
    ext = ext.empty() ? "mkv" : ext.substr(1);
    std::vector<std::filesystem::path> parts;
    parts.reserve(count);
    for (std::size_t i = 1; i <= count; ++i) {
        parts.push_back(output.parent_path() / fmt::format("{}-{:03}.{}", stem, i, ext));
    }
    return parts;
}

std::optional<std::string> annexb_filter(const std::string& codec) {
    if (codec == "h264") return "h264_mp4toannexb";
    if (codec == "hevc") return "hevc_mp4toannexb";
    return std::nullopt;
}

std::filesystem::path bitstream_pass_path(const std::filesystem::path& piece) {
    return piece.parent_path() / (path_text(piece.stem()) + "-ib.mkv");
}

std::optional<std::string> piece_filters(const std::string& codec, bool annexb, bool drop_leading) {
    std::vector<std::string> chain;
    // Positive for the packets shown before the first one, 0 for the rest
    // (a negative value would drop at random); no comma, which would end the filter.
    if (drop_leading) chain.emplace_back("noise=drop=(startpts-pts+abs(startpts-pts))");
    if (annexb) {
        if (auto filter = annexb_filter(codec)) chain.push_back(*filter);
    }
    if (chain.empty()) return std::nullopt;
    std::string out = chain.front();
    for (std::size_t i = 1; i < chain.size(); ++i) out += "," + chain[i];
    return out;
}

std::vector<std::string> piece_pass_arguments(const std::vector<FileJob>& jobs) {
    auto args = ffmpeg_prefix(FfmpegRun::Progress);
    for (const auto& job : jobs) args.insert(args.end(), {"-i", path_text(job.input)});
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        args.insert(args.end(), {"-map", fmt::format("{}", i), "-c", "copy", "-bsf:v", jobs[i].filters,
                                 path_text(jobs[i].output)});
    }
    return args;
}

std::vector<std::string> stretch_arguments(const std::string& source, std::uint64_t track,
                                           const std::vector<StretchJob>& jobs,
                                           const std::vector<std::string>& settings, const std::string& codec,
                                           const std::filesystem::path& stem) {
    auto args = ffmpeg_prefix(FfmpegRun::Progress);
    // The seek drops nothing and the times stay the file's own: the filter
    // keeps each stretch's pictures from its first one on.
    args.push_back("-copyts");
    // Every stretch has a decoder of its own, kept to the end of the run and
    // busy for a few pictures only: frame threads would each hold their own
    // pictures for nothing (70 MB a batch at 720p).
    for (const auto& job : jobs) {
        args.insert(args.end(), {"-seek_timestamp", "1", "-noaccurate_seek", "-ss",
                                 fmt::format("{:.6f}", stretch_seek(job.stretch)), "-threads", "1", "-i", source});
    }
    // One encoder for the whole batch: its start and its frames in flight cost
    // more than the few pictures of a stretch. The stretches follow each other
    // and the forced keyframes start each anew.
    std::string graph;
    std::string chain;
    // Where a stretch begins, the encoder starts anew and the muxer a new file.
    std::vector<std::int64_t> starts;
    std::int64_t frames = 0;
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        graph += fmt::format("[{}:{}]trim=start={:.6f},setpts=PTS-STARTPTS,trim=end_frame={}[s{}];", i, track,
                             std::max(jobs[i].stretch.firstFrame - kListedTimeTolerance, 0.0), jobs[i].stretch.frames, i);
        chain += fmt::format("[s{}]", i);
        if (i > 0) starts.push_back(frames);
        frames += jobs[i].stretch.frames;
    }
    graph += fmt::format("{}concat=n={}:v=1:a=0[v]", chain, jobs.size());
    args.insert(args.end(), {"-filter_complex", graph, "-map", "[v]", "-map_metadata", "-1", "-map_chapters", "-1",
                             "-fps_mode", "passthrough"});
    args.insert(args.end(), settings.begin(), settings.end());
    if (const auto keyframes = forced_keyframe_options(codec, starts)) args.insert(args.end(), keyframes->begin(), keyframes->end());
    args.insert(args.end(), {"-f", "segment", "-segment_format", "matroska", "-reset_timestamps", "1"});
    if (!starts.empty()) args.insert(args.end(), {"-segment_frames", fmt::format("{}", fmt::join(starts, ","))});
    args.push_back(numbered_pattern(path_from_text(path_text(stem) + "-%03d.mkv")));
    return args;
}

double stretch_seek(const EncodedStretch& stretch) {
    // Where a file may hold reordered pictures, ffmpeg seeks 3/23 s before the
    // time it is given (its guard for files indexed by decode time), elsewhere
    // to the time itself, and lands on the last keyframe at or before. The
    // keyframe plus that guard lands on the keyframe either way, unless the
    // next one is nearer; then just before the next one lands on it or on an
    // earlier one, which costs decoding but loses no picture. Without a
    // keyframe listed, just before the first picture is as safe.
    constexpr double kGuard = 3.0 / 23.0 + kListedTimeTolerance;
    double seek = stretch.firstFrame - kListedTimeTolerance;
    if (stretch.keyframe) {
        seek = *stretch.keyframe + kGuard;
        if (stretch.nextKeyframe) seek = std::min(seek, *stretch.nextKeyframe - kListedTimeTolerance);
    }
    return std::max(seek, 0.0);
}

std::string card_parts_script(const std::vector<std::filesystem::path>& parts, const CardRepeat& repeat, double fps) {
    std::string script = "ffconcat version 1.0\n";
    const auto add = [&](const std::filesystem::path& part, std::int64_t frames) {
        script += fmt::format("file {}\nduration {:.6f}\n", concat_quote(part), static_cast<double>(frames) / fps);
    };
    add(parts[0], repeat.head);
    for (std::int64_t i = 0; i < repeat.repeats; ++i) add(parts[1], repeat.group);
    add(parts[2], repeat.tail);
    return script;
}

std::filesystem::path stretch_segment(const std::filesystem::path& stem, std::size_t index) {
    auto name = stem.filename();
    name += fmt::format("-{:03}.mkv", index);
    return stem.parent_path() / name;
}

}  // namespace reel
