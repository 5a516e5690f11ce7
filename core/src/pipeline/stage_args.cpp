#include "pipeline/stage_args.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "encode/silence.h"
#include "pipeline/commands.h"
#include "pipeline/video_cut.h"
#include "pipeline/work_folder.h"
#include "util/files.h"
#include "util/numbers.h"
#include "util/text.h"

namespace reel {

namespace {

// A start time this close to zero needs no remux.
constexpr double kStartTimeTolerance = 0.01;

void append(std::vector<std::string>& args, std::initializer_list<std::string> more) {
    args.insert(args.end(), more);
}

}  // namespace

bool remux_depends_on_start_time(const std::string& container) {
    return container.starts_with("matroska") || container.starts_with("webm");
}

bool start_time_asks_remux(const std::optional<std::string>& start_time) {
    if (!start_time) return false;
    const std::string text(trim(*start_time));
    if (text.empty()) return false;
    // The whole text must be the number ("N/A" and the like do not read).
    const auto value = read_number(text);
    return value && std::fabs(*value) > kStartTimeTolerance;
}

bool matroska_holds_subtitle(const std::string& codec) {
    for (std::string_view held : {"subrip", "srt", "ass", "ssa", "webvtt", "mov_text", "text", "hdmv_pgs_subtitle",
                                  "dvd_subtitle", "dvb_subtitle"})
        if (codec == held) return true;
    return false;
}

std::vector<std::string> remux_arguments(const std::string& movie, const MediaInfo& info,
                                         const std::filesystem::path& output) {
    auto args = ffmpeg_prefix(FfmpegRun::Progress);
    append(args, {"-i", movie, "-map", "0", "-map", "-0:d", "-c", "copy"});
    for (const auto& track : info.subtitles) {
        if (!matroska_holds_subtitle(track.codec)) append(args, {"-map", fmt::format("-0:{}", track.index)});
    }
    std::size_t kept = 0;  // "-c:s:N" counts the output's subtitle streams
    for (const auto& track : info.subtitles) {
        if (!matroska_holds_subtitle(track.codec)) continue;
        if (track.codec == "mov_text") append(args, {fmt::format("-c:s:{}", kept), "srt"});
        ++kept;
    }
    append(args, {"-avoid_negative_ts", "make_zero", path_text(output)});
    return args;
}

namespace {

std::string yes_no(bool flag) { return flag ? "yes" : "no"; }

void track_properties(std::vector<std::string>& args, const MuxTrack& track) {
    const auto id = track.source.id;
    if (track.source.syncMs != 0) append(args, {"--sync", fmt::format("{}:{}", id, track.source.syncMs)});
    if (!track.source.timestamps.empty())
        append(args, {"--timestamps", fmt::format("{}:{}", id, track.source.timestamps)});
    if (track.ownProperties) return;
    append(args, {"--language", fmt::format("{}:{}", id, track.language.value_or("und"))});
    if (track.title) append(args, {"--track-name", fmt::format("{}:{}", id, *track.title)});
    append(args, {"--default-track-flag", fmt::format("{}:{}", id, yes_no(track.isDefault))});
    append(args, {"--forced-display-flag", fmt::format("{}:{}", id, yes_no(track.forced))});
    // ffmpeg cannot write a rotation into Matroska; mkvmerge writes it as the
    // projection's roll, which players and ffprobe read back as the rotation.
    if (track.video && track.rotation)
        append(args, {"--projection-pose-roll", fmt::format("{}:{}", id, format_shortest(*track.rotation))});
}

std::string id_list(const std::vector<const MuxTrack*>& tracks, bool video) {
    std::vector<std::string> ids;
    for (const MuxTrack* track : tracks)
        if (track->video == video) ids.push_back(std::to_string(track->source.id));
    return fmt::format("{}", fmt::join(ids, ","));
}

}  // namespace

std::vector<std::string> mux_arguments(const MuxInputs& in) {
    // Lacing would store one time for several audio packets, and readers
    // would guess the others; every packet keeps its own time instead.
    std::vector<std::string> args{"-o", path_text(in.target), "--disable-lacing"};
    if (in.title) append(args, {"--title", *in.title});
    if (!in.splitParts.empty()) append(args, {"--split", in.splitParts});
    args.insert(args.end(), in.chapterArgs.begin(), in.chapterArgs.end());

    // The movie's own order of picture and sound (some store the sound first),
    // one input per carrier file.
    std::vector<const MuxTrack*> ordered;
    for (const auto& track : in.tracks) ordered.push_back(&track);
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const MuxTrack* a, const MuxTrack* b) { return a->order < b->order; });
    std::vector<std::string> files;
    for (const MuxTrack* track : ordered)
        if (std::find(files.begin(), files.end(), track->source.file) == files.end()) files.push_back(track->source.file);
    // The source's own subtitles, chapters, tags and attachments come with the
    // tracks taken from it: mkvmerge reads a file once per input, the whole
    // movie where an input takes any of its tracks. Where rebuilt tracks
    // follow that input, the track order puts them back before the source's
    // subtitles (each input is one file when no pieces are chained).
    const bool source_last = !files.empty() && files.back() == in.source;
    const bool extras_along = in.subtitleArgs.empty() && std::ranges::find(files, in.source) != files.end() &&
                              (source_last || in.videoPieces.empty());
    if (extras_along && !source_last) {
        std::vector<std::string> order;
        for (const MuxTrack* track : ordered) {
            const auto file = std::ranges::find(files, track->source.file) - files.begin();
            order.push_back(fmt::format("{}:{}", file, track->source.id));
        }
        append(args, {"--track-order", fmt::format("{}", fmt::join(order, ","))});
    }
    const auto source_extras = [&args, &in](bool along) {
        if (!along) {
            append(args, {"--no-subtitles", "--no-chapters", "--no-global-tags", "--no-attachments"});
            return;
        }
        if (!in.sourceSubtitles) args.emplace_back("--no-subtitles");
        if (!in.sourceChapters) args.emplace_back("--no-chapters");
    };
    for (const auto& file : files) {
        std::vector<const MuxTrack*> group;
        for (const MuxTrack* track : ordered)
            if (track->source.file == file) group.push_back(track);
        const std::string video_ids = id_list(group, true);
        const std::string audio_ids = id_list(group, false);
        if (video_ids.empty()) args.emplace_back("--no-video");
        else append(args, {"--video-tracks", video_ids});
        if (audio_ids.empty()) args.emplace_back("--no-audio");
        else append(args, {"--audio-tracks", audio_ids});
        source_extras(extras_along && file == in.source);
        for (const MuxTrack* track : group) track_properties(args, *track);
        if (!in.videoPieces.empty() && file == path_text(in.videoPieces.front().file)) {
            const auto chain = video_join_inputs(in.videoPieces);
            args.insert(args.end(), chain.begin(), chain.end());
        } else {
            args.push_back(file);
        }
    }

    if (extras_along) return args;
    args.insert(args.end(), in.subtitleArgs.begin(), in.subtitleArgs.end());
    append(args, {"--no-video", "--no-audio"});
    source_extras(true);
    args.push_back(in.source);
    return args;
}

std::optional<std::string> matroska_date(std::string_view creation_time) {
    const std::string_view text = trim(creation_time);
    // YYYY-mm-ddTHH:MM:SS
    constexpr std::string_view shape = "dddd-dd-ddTdd:dd:dd";
    if (text.size() < shape.size()) return std::nullopt;
    for (std::size_t i = 0; i < shape.size(); ++i) {
        const char c = text[i];
        const bool ok = shape[i] == 'd' ? (c >= '0' && c <= '9') : (c == shape[i] || (shape[i] == 'T' && c == ' '));
        if (!ok) return std::nullopt;
    }
    std::string date(text.substr(0, shape.size()));
    date[10] = 'T';
    std::string_view rest = text.substr(shape.size());
    if (!rest.empty() && rest.front() == '.') {
        rest.remove_prefix(1);
        while (!rest.empty() && rest.front() >= '0' && rest.front() <= '9') rest.remove_prefix(1);
    }
    if (rest.empty() || rest == "Z") return date + "Z";
    if (rest.size() == 6 && (rest[0] == '+' || rest[0] == '-') && rest[3] == ':') return date + std::string(rest);
    return std::nullopt;
}

std::vector<std::string> date_arguments(const std::filesystem::path& file, const std::string& date) {
    return {path_text(file), "--edit", "info", "--set", fmt::format("date={}", date)};
}

std::vector<std::string> mp4_arguments(const std::filesystem::path& final_mkv, const std::filesystem::path& output,
                                       const std::vector<std::size_t>& text_subtitles, const std::string& video_codec,
                                       const std::optional<std::string>& created) {
    auto args = ffmpeg_prefix(FfmpegRun::Progress);
    // "V": the picture, not cover art stored as a picture stream.
    append(args, {"-i", path_text(final_mkv), "-map", "0:V", "-map", "0:a?"});
    for (std::size_t n : text_subtitles) append(args, {"-map", fmt::format("0:s:{}", n)});
    if (!text_subtitles.empty()) append(args, {"-c:s", "mov_text"});
    append(args, {"-c:v", "copy", "-c:a", "copy"});
    // Apple players only accept HEVC in MP4 under this sample entry name.
    if (video_codec == "hevc") append(args, {"-tag:v", "hvc1"});
    if (created) append(args, {"-metadata", "creation_time=" + *created});
    // The movie's own tags (a DIRECTOR, say) need MP4's free-form keys.
    append(args, {"-movflags", "+faststart+use_metadata_tags", path_text(output)});
    return args;
}

}  // namespace reel
