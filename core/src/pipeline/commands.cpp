#include "pipeline/commands.h"

#include <algorithm>

#include <fmt/format.h>

#include "util/files.h"

namespace reel {

namespace {

// mkvmerge splits before the first packet at or after the time it is given; half
// a millisecond early makes sure the keyframe that the time names starts the part.
std::string split_time(double t) {
    const double shifted = t > 0.001 ? t - 0.0005 : 0.0;
    return fmt::format("{:.4f}s", shifted);
}

}  // namespace

std::string format_split_parts(const std::vector<PieceRange>& ranges) {
    std::string out = "parts:";
    for (std::size_t i = 0; i < ranges.size(); ++i) {
        if (i > 0) out += ",";
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

std::vector<std::string> bitstream_pass_arguments(const std::filesystem::path& piece, const std::string& filter,
                                                  const std::filesystem::path& output) {
    auto args = ffmpeg_prefix(FfmpegRun::Progress);
    args.insert(args.end(), {"-i", path_text(piece), "-map", "0", "-c", "copy", "-bsf:v", filter, path_text(output)});
    return args;
}

Result<std::filesystem::path> bitstream_pass(RunContext& ctx, const VideoStreamInfo& video,
                                             const std::filesystem::path& piece) {
    const auto filter = annexb_filter(video.codec);
    if (!filter) return piece;
    const auto output = bitstream_pass_path(piece);
    if (auto r = run_ffmpeg(ctx, bitstream_pass_arguments(piece, *filter, output), std::nullopt); !r) {
        return fail(r.error());
    }
    return output;
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
                                           const std::vector<std::string>& settings) {
    auto args = ffmpeg_prefix(FfmpegRun::Progress);
    for (const auto& job : jobs) {
        // Half a millisecond early: the listed times are whole milliseconds.
        const double seek = std::max(job.stretch.firstFrame - 0.0005, 0.0);
        args.insert(args.end(), {"-seek_timestamp", "1", "-ss", fmt::format("{:.6f}", seek), "-i", source});
    }
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        args.insert(args.end(), {"-map", fmt::format("{}:{}", i, track), "-map_metadata", "-1", "-map_chapters", "-1",
                                 "-frames:v", fmt::format("{}", jobs[i].stretch.frames), "-fps_mode", "passthrough"});
        args.insert(args.end(), settings.begin(), settings.end());
        args.push_back(path_text(jobs[i].output));
    }
    return args;
}

}  // namespace reel
