// Argument lists of the two preview helpers. Pure.
#include <algorithm>

#include <fmt/format.h>

#include "preview/preview.h"
#include "tools/run.h"
#include "util/files.h"

namespace reel {

namespace {

// Times go to ffmpeg with exactly three decimals. A negative, NaN or negative
// zero time becomes 0 (a plain max() would keep NaN and write "-0.000").
std::string seconds_text(double seconds, double floor) {
    return fmt::format("{:.3f}", seconds > floor ? seconds : floor);
}

// The default audio track is what a player would play; without one, the first.
const AudioStreamInfo* preview_audio(const MediaInfo& info) {
    for (const auto& audio : info.audio)
        if (audio.isDefault) return &audio;
    return info.audio.empty() ? nullptr : &info.audio.front();
}

}  // namespace

std::vector<std::string> frame_grab_arguments(const std::string& movie, double time, unsigned width, bool exact) {
    const unsigned w = std::max(width, 64u);
    auto args = ffmpeg_prefix(FfmpegRun::Captured);
    args.insert(args.end(), {"-threads", "8"});
    if (!exact) {
        // Seek to the nearest keyframe and decode keyframes only: fast scrubbing.
        args.insert(args.end(), {"-noaccurate_seek", "-skip_frame", "nokey"});
    }
    args.insert(args.end(), {"-ss", seconds_text(time, 0), "-i", tool_path_argument(movie)});
    args.insert(args.end(), {"-map", "0:v:0", "-frames:v", "1"});
    // The shown shape: a 16:9 broadcast stored 720x576 comes out 16:9, not
    // squeezed (ffmpeg has already turned a rotated phone picture upright).
    args.insert(args.end(),
                {"-vf", fmt::format("scale={0}:round({0}*ih/(iw*sar)/2)*2:flags=fast_bilinear,setsar=1,format=yuv420p", w)});
    args.insert(args.end(), {"-f", "image2pipe", "-c:v", "mjpeg", "-q:v", "4", "-strict", "unofficial", "-"});
    return args;
}

std::vector<std::string> proxy_clip_arguments(const MediaInfo& info, const std::string& movie, double start,
                                              double length, unsigned height) {
    const unsigned h = std::max(height, 144u);
    auto args = ffmpeg_prefix(FfmpegRun::Captured);
    args.insert(args.end(), {"-ss", seconds_text(start, 0), "-i", tool_path_argument(movie), "-t", seconds_text(length, 0.5)});
    args.insert(args.end(), {"-map", "0:v:0"});
    if (const AudioStreamInfo* audio = preview_audio(info))
        args.insert(args.end(), {"-map", fmt::format("0:{}", audio->index)});
    args.insert(args.end(), {"-sn", "-dn"});
    args.insert(args.end(),
                {"-vf", fmt::format("scale=round({0}*iw*sar/ih/2)*2:{0}:flags=fast_bilinear,setsar=1,format=yuv420p", h)});
    args.insert(args.end(),
                {"-c:v", "libx264", "-preset", "ultrafast", "-tune", "zerolatency", "-crf", "27", "-g", "48"});
    args.insert(args.end(), {"-c:a", "aac", "-b:a", "128k", "-ac", "2"});
    args.insert(args.end(), {"-movflags", "frag_keyframe+empty_moov+default_base_moof", "-f", "mp4", "-"});
    return args;
}

}  // namespace reel
