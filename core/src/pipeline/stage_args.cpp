#include "pipeline/stage_args.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include <fmt/format.h>

#include "cards/silence.h"
#include "pipeline/commands.h"
#include "util/files.h"
#include "util/text.h"

namespace reel {

namespace {

// A start time this close to zero needs no remux.
constexpr double kStartTimeTolerance = 0.01;
// Audio pieces shorter than this are not worth a piece of their own.
constexpr double kAudioPieceTolerance = 0.0005;

void append(std::vector<std::string>& args, std::initializer_list<std::string> more) {
    args.insert(args.end(), more);
}

}  // namespace

std::filesystem::path output_folder(const std::filesystem::path& output) {
    const auto parent = output.parent_path();
    return parent.empty() ? std::filesystem::path(".") : parent;
}

std::filesystem::path work_folder_path(const std::filesystem::path& output, std::uint32_t pid) {
    // Every intermediate file's path starts with the work folder's, and the
    // tools would take a path that begins with "-" for an option.
    const auto folder = output_folder(output);
    const auto base = path_text(folder).starts_with("-") ? std::filesystem::path(".") / folder : folder;
    return base / fmt::format(".reelmender-work-{}", pid);
}

bool remux_depends_on_start_time(const std::string& container) {
    return container.starts_with("matroska") || container.starts_with("webm") || contains(container, "mp4") ||
           contains(container, "mov") || container == "avi";
}

std::vector<std::string> start_time_query_arguments(const std::string& movie) {
    return {"-v", "error", "-show_entries", "format=start_time", "-of", "csv=p=0", tool_path_argument(movie)};
}

bool start_time_asks_remux(const std::optional<std::string>& query_output) {
    if (!query_output) return false;
    const std::string text(trim(*query_output));
    if (text.empty()) return false;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    // The whole text must be the number ("N/A" and the like do not read).
    if (end != text.c_str() + text.size()) return false;
    return std::fabs(value) > kStartTimeTolerance;
}

std::vector<std::string> remux_arguments(const std::string& movie, const std::filesystem::path& output) {
    auto args = std_ffmpeg_prefix();
    append(args, {movie, "-map", "0", "-map", "-0:d", "-map", "-0:t", "-c", "copy", "-avoid_negative_ts", "make_zero",
                  path_text(output)});
    return args;
}

AudioPieces plan_audio_pieces(const std::vector<SnappedEdit>& mute_edits, double duration) {
    AudioPieces out;
    double cursor = 0;
    for (const auto& edit : mute_edits) {
        if (cursor + kAudioPieceTolerance < edit.snappedStart) out.pieces.push_back({cursor, edit.snappedStart});
        out.muted.push_back(out.pieces.size());
        out.pieces.push_back({edit.snappedStart, edit.snappedEnd});
        cursor = edit.snappedEnd;
    }
    if (cursor < duration - kAudioPieceTolerance) out.pieces.push_back({cursor, std::nullopt});
    return out;
}

std::vector<std::string> audio_split_arguments(const std::filesystem::path& output,
                                               const std::vector<PieceRange>& pieces, const std::string& source) {
    return {"-o",          path_text(output),         "--no-video", "--no-subtitles", "--no-chapters",
            "--no-global-tags", "--split", format_split_parts(pieces), source};
}

Result<std::vector<std::string>> silence_arguments(const std::vector<AudioStreamInfo>& audio, double seconds,
                                                   const std::filesystem::path& output) {
    std::vector<std::string> args{"-hide_banner", "-loglevel", "error", "-y"};
    for (const auto& track : audio) append(args, {"-f", "lavfi", "-i", silence_source(track)});
    for (std::size_t j = 0; j < audio.size(); ++j) append(args, {"-map", fmt::format("{}:a", j)});
    append(args, {"-t", fmt::format("{:.6f}", seconds)});
    for (std::size_t j = 0; j < audio.size(); ++j) {
        auto encoder = silent_audio_args(audio[j], j);
        if (!encoder) return fail(encoder.error());
        args.insert(args.end(), encoder->begin(), encoder->end());
    }
    args.push_back(path_text(output));
    return args;
}

std::vector<std::string> video_split_arguments(const std::filesystem::path& output,
                                               const std::vector<PieceRange>& ranges, const std::string& source) {
    return {"-o",      path_text(output),          "--no-audio", "--no-subtitles", "--no-chapters", "--no-global-tags",
            "--split", format_split_parts(ranges), source};
}

std::vector<std::string> cut_split_arguments(const std::filesystem::path& output, const std::vector<PieceRange>& ranges,
                                             const SplitInputs& inputs) {
    std::vector<std::string> args{"-o", path_text(output), "--no-subtitles", "--no-chapters", "--no-global-tags"};
    if (!inputs.textVideo && !inputs.mutedAudio) {
        args.push_back(inputs.source);
    } else {
        append(args, {"--no-audio", inputs.textVideo ? path_text(*inputs.textVideo) : inputs.source});
        if (inputs.hasAudio) {
            append(args, {"--no-video", inputs.mutedAudio ? path_text(*inputs.mutedAudio) : inputs.source});
        }
    }
    append(args, {"--split", format_split_parts(ranges)});
    return args;
}

std::vector<std::string> mux_arguments(const MuxInputs& in) {
    std::vector<std::string> args{"-o", path_text(in.target)};
    if (in.title) append(args, {"--title", *in.title});
    args.insert(args.end(), in.chapterArgs.begin(), in.chapterArgs.end());

    if (!in.joined) {
        append(args, {"--no-audio", "--no-subtitles", "--no-chapters", "--no-global-tags",
                      in.textVideo ? path_text(*in.textVideo) : in.source});
        if (!in.audio.empty()) {
            append(args, {"--no-video", "--no-subtitles", "--no-chapters", "--no-global-tags",
                          in.mutedAudio ? path_text(*in.mutedAudio) : in.source});
        }
    } else {
        // The joined file's audio tracks lost their names and flags in the pieces;
        // give them back the source's.
        for (std::size_t k = 1; k <= in.audio.size(); ++k) {
            const auto& track = in.audio[k - 1];
            append(args, {"--language", fmt::format("{}:{}", k, track.language.value_or("und"))});
            if (track.title) append(args, {"--track-name", fmt::format("{}:{}", k, *track.title)});
            append(args, {"--default-track-flag", fmt::format("{}:{}", k, track.isDefault ? "yes" : "no")});
        }
        append(args, {"--no-subtitles", "--no-chapters", path_text(*in.joined)});
    }

    if (in.subtitlesRebuilt) {
        args.insert(args.end(), in.subtitleArgs.begin(), in.subtitleArgs.end());
    } else if (in.sourceHasSubtitlesOrChapters) {
        append(args, {"--no-video", "--no-audio", "--no-global-tags", in.source});
    }
    return args;
}

std::vector<std::string> mp4_arguments(const std::filesystem::path& final_mkv, const std::filesystem::path& output,
                                       const std::vector<bool>& subtitle_is_text, const std::string& video_codec) {
    auto args = std_ffmpeg_prefix();
    append(args, {path_text(final_mkv), "-map", "0:v", "-map", "0:a?"});
    const auto text_count = std::count(subtitle_is_text.begin(), subtitle_is_text.end(), true);
    if (text_count > 0 && text_count == std::ssize(subtitle_is_text)) {
        append(args, {"-map", "0:s?"});
    } else {
        // mov_text cannot take pictures: name the text tracks one by one.
        for (std::size_t k = 0; k < subtitle_is_text.size(); ++k)
            if (subtitle_is_text[k]) append(args, {"-map", fmt::format("0:s:{}", k)});
    }
    if (text_count > 0) append(args, {"-c:s", "mov_text"});
    append(args, {"-c:v", "copy", "-c:a", "copy"});
    // Apple players only accept HEVC in MP4 under this sample entry name.
    if (video_codec == "hevc") append(args, {"-tag:v", "hvc1"});
    append(args, {"-movflags", "+faststart", path_text(output)});
    return args;
}

}  // namespace reel
