#include "encode/encoder.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fmt/format.h>
#include <fmt/ranges.h>
#include <optional>

#include "util/numbers.h"
#include "util/text.h"

namespace reel {

std::int64_t keyframe_interval(const VideoStreamInfo& video) {
    const double frames = 2.0 * static_cast<double>(video.fpsNum) / static_cast<double>(video.fpsDen);
    return std::max<std::int64_t>(1, round_half_away(frames));
}

namespace {

// The level as "4.1": h264 counts levels in tenths, hevc in thirtieths.
std::optional<std::string> level_text(const VideoStreamInfo& video, double divisor) {
    if (!video.level || *video.level <= 0) return std::nullopt;
    return fmt::format("{:.1f}", static_cast<double>(*video.level) / divisor);
}

std::string h264_profile(const std::string& pix) {
    if (contains(pix, "10")) return "high10";
    if (contains(pix, "444")) return "high444";
    if (contains(pix, "422")) return "high422";
    return "high";
}

std::string hevc_profile(const std::string& pix) {
    if (contains(pix, "12")) return "main12";
    if (contains(pix, "10")) return "main10";
    return "main";
}

int chroma_location_number(const std::string& location) {
    if (location == "center") return 1;
    if (location == "topleft") return 2;
    if (location == "top") return 3;
    if (location == "bottomleft") return 4;
    if (location == "bottom") return 5;
    return 0;
}

std::vector<std::string> colour_params(const VideoStreamInfo& video) {
    std::vector<std::string> items;
    if (video.colorPrimaries) items.push_back(fmt::format("colorprim={}", *video.colorPrimaries));
    if (video.colorTransfer) items.push_back(fmt::format("transfer={}", *video.colorTransfer));
    if (video.colorSpace) items.push_back(fmt::format("colormatrix={}", *video.colorSpace));
    return items;
}

std::string x264_params(std::int64_t gop, const VideoStreamInfo& video, Pictures pictures) {
    // repeat-headers: every keyframe carries its own SPS and PPS, so that the
    // pictures decode after source pictures with other parameter sets
    // without a second pass over the file.
    std::vector<std::string> items{fmt::format("keyint={}", gop), fmt::format("min-keyint={}", gop / 2),
                                   "repeat-headers=1", "bframes=0"};
    for (auto& item : colour_params(video)) items.push_back(std::move(item));
    // One picture in flight: the threads share each picture by slices
    // instead of holding one each. Source pictures keep a look-ahead of one
    // (it keeps them smaller at the same quality) on one thread.
    if (pictures == Pictures::Still) items.insert(items.end(), {"rc-lookahead=0", "sliced-threads=1"});
    if (pictures == Pictures::Source) items.insert(items.end(), {"rc-lookahead=1", "threads=1"});
    return fmt::format("{}", fmt::join(items, ":"));
}

std::string x265_params(std::int64_t gop, const VideoStreamInfo& video, const std::optional<std::string>& level,
                        Pictures pictures) {
    std::vector<std::string> items{fmt::format("keyint={}", gop), fmt::format("min-keyint={}", gop / 2),
                                   "repeat-headers=1", "bframes=0"};
    if (level) items.push_back(fmt::format("level-idc={}", *level));
    if (video.colorRange) items.push_back(*video.colorRange == "pc" ? "range=full" : "range=limited");
    if (video.chromaLocation) items.push_back(fmt::format("chromaloc={}", chroma_location_number(*video.chromaLocation)));
    for (auto& item : colour_params(video)) items.push_back(std::move(item));
    // x265's threads already share each picture by rows.
    if (pictures == Pictures::Still) items.insert(items.end(), {"rc-lookahead=0", "frame-threads=1"});
    if (pictures == Pictures::Source) items.insert(items.end(), {"rc-lookahead=1", "frame-threads=1"});
    return fmt::format("{}", fmt::join(items, ":"));
}

// The codec-specific options; absent for a codec no card can be encoded in.
std::optional<std::vector<std::string>> head_options(const VideoStreamInfo& video, const std::string& preset,
                                                     const std::string& pix, std::int64_t gop, Pictures pictures) {
    const std::string& codec = video.codec;
    const std::string g = fmt::format("{}", gop);
    if (codec == "h264") {
        std::vector<std::string> head{"-c:v", "libx264", "-preset", preset, "-crf", "18", "-profile:v", h264_profile(pix)};
        if (auto level = level_text(video, 10.0)) {
            head.push_back("-level:v");
            head.push_back(*level);
        }
        head.push_back("-x264-params");
        head.push_back(x264_params(gop, video, pictures));
        return head;
    }
    if (codec == "hevc") {
        return std::vector<std::string>{"-c:v",       "libx265",         "-preset",
                                        preset,       "-crf",            "18",
                                        "-profile:v", hevc_profile(pix), "-x265-params",
                                        x265_params(gop, video, level_text(video, 30.0), pictures)};
    }
    if (codec == "av1") return std::vector<std::string>{"-c:v", "libsvtav1", "-preset", "8", "-crf", "28", "-g", g};
    if (codec == "vp9") {
        return std::vector<std::string>{"-c:v", "libvpx-vp9", "-crf", "28", "-b:v", "0", "-g", g, "-row-mt", "1"};
    }
    if (codec == "vp8") return std::vector<std::string>{"-c:v", "libvpx", "-crf", "12", "-b:v", "2M", "-g", g};
    if (codec == "mpeg4") {
        std::vector<std::string> head{"-c:v", "mpeg4", "-q:v", "3", "-g", g};
        if (video.profile && contains(*video.profile, "Advanced")) {
            head.push_back("-profile:v");
            head.push_back("15");
        }
        return head;
    }
    if (codec == "mpeg2video" || codec == "mpeg1video") return std::vector<std::string>{"-c:v", codec, "-q:v", "3", "-g", g};
    if (codec == "mjpeg") return std::vector<std::string>{"-c:v", "mjpeg", "-q:v", "3"};
    if (codec == "dnxhd") return std::vector<std::string>{"-c:v", "dnxhd", "-profile:v", "dnxhr_hq"};
    if (codec == "prores") return std::vector<std::string>{"-c:v", "prores_ks", "-profile:v", "3"};
    return std::nullopt;
}

}  // namespace

Result<EncoderSettings> match_encoder(const VideoStreamInfo& video, const std::string& preset, Pictures pictures) {
    const std::string pix = video.pixFmt.value_or("yuv420p");
    auto head = head_options(video, preset, pix, keyframe_interval(video), pictures);
    if (!head) {
        return fail(fmt::format(
            "The video is encoded with '{}', which ffmpeg cannot encode, so text cards cannot be inserted. "
            "Remove and Mute still work.",
            video.codec));
    }
    EncoderSettings settings = std::move(*head);
    for (const char* item : {"-bf", "0", "-pix_fmt"}) settings.emplace_back(item);
    settings.push_back(pix);
    const std::pair<const char*, const std::optional<std::string>*> tail[] = {
        {"-color_range", &video.colorRange},
        {"-color_primaries", &video.colorPrimaries},
        {"-color_trc", &video.colorTransfer},
        {"-colorspace", &video.colorSpace},
        {"-chroma_sample_location", &video.chromaLocation},
    };
    for (const auto& [option, value] : tail) {
        if (!*value) continue;
        settings.emplace_back(option);
        settings.push_back(**value);
    }
    return settings;
}

std::optional<std::vector<std::string>> forced_keyframe_options(const std::string& codec,
                                                                const std::vector<std::int64_t>& frames) {
    // x264 and x265 make a forced keyframe a plain I picture unless told; later
    // pictures may then refer across it. The others' forced keyframes are
    // entry points already (intra-only codecs have nothing else).
    static const std::vector<std::string> entry_points{"mpeg4", "mpeg2video", "mpeg1video", "vp8",
                                                       "vp9",   "mjpeg",      "dnxhd",      "prores"};
    std::vector<std::string> options;
    if (codec == "h264" || codec == "hevc") {
        options = {"-forced-idr", "1"};
    } else if (std::ranges::find(entry_points, codec) == entry_points.end()) {
        return std::nullopt;
    }
    if (frames.empty()) return options;
    std::vector<std::string> terms;
    for (const auto frame : frames) terms.push_back(fmt::format("eq(n,{})", frame));
    options.push_back("-force_key_frames");
    options.push_back(fmt::format("expr:{}", fmt::join(terms, "+")));
    return options;
}

}  // namespace reel
