// Condensing ffprobe's JSON report into a MediaInfo. Pure: no tool runs here.
#include "probe/json_members.h"
#include "probe/probe.h"
#include "util/files.h"
#include "util/numbers.h"
#include "util/text.h"

namespace reel {

namespace {

using nlohmann::json;

constexpr std::string_view kDurationMessage = "Could not determine the duration of this file.";

// Stream indexes and sizes are unsigned; a negative value is as unreadable as
// a missing one.
std::uint64_t unsigned_member(const json& object, std::string_view key) {
    const auto value = integer_member(object, key);
    return value && *value >= 0 ? static_cast<std::uint64_t>(*value) : 0;
}

bool is_text_subtitle_codec(std::string_view codec) {
    for (std::string_view text_codec : {"srt", "ass", "ssa", "subrip", "webvtt", "text", "mov_text"})
        if (codec == text_codec) return true;
    return false;
}

// The rotation of a "Display Matrix" side data entry; a zero rotation is none.
std::optional<double> display_rotation(const json& stream) {
    if (!stream.is_object() || !stream.contains("side_data_list") || !stream["side_data_list"].is_array())
        return std::nullopt;
    for (const json& entry : stream["side_data_list"]) {
        if (text_member(entry, "side_data_type") != "Display Matrix") continue;
        const auto rotation = decimal_member(entry, "rotation");
        if (rotation && *rotation != 0) return rotation;
    }
    return std::nullopt;
}

// A track's name: its title, or the handler name MP4 stores names in, unless
// that is one of the names tools write for every track.
std::optional<std::string> track_name(const json& stream) {
    if (auto title = tag_value(stream, "title")) return title;
    const auto handler = tag_value(stream, "handler_name");
    if (!handler || handler->empty()) return std::nullopt;
    for (std::string_view generic : {"VideoHandler", "SoundHandler", "SubtitleHandler", "TextHandler",
                                     "Core Media Video", "Core Media Audio", "Core Media Text", "DataHandler",
                                     "Mainconcept Video Media Handler", "Apple Video Media Handler",
                                     "Apple Sound Media Handler", "ISO Media file produced by Google Inc."})
        if (*handler == generic) return std::nullopt;
    return handler;
}

VideoStreamInfo read_video(const json& stream, std::uint64_t index, const std::string& codec) {
    VideoStreamInfo video;
    video.index = index;
    video.codec = codec;
    video.profile = text_member(stream, "profile");
    video.level = integer_member(stream, "level");
    video.width = integer_member(stream, "width").value_or(0);
    video.height = integer_member(stream, "height").value_or(0);

    // The average rate is the true one for variable-rate sources; ffprobe
    // writes 0/0 there when it cannot tell, and the nominal rate stands in.
    const auto average = rational_member(stream, "avg_frame_rate");
    if (average && average->first > 0) {
        video.fpsNum = average->first;
        video.fpsDen = average->second;
    } else if (const auto nominal = rational_member(stream, "r_frame_rate")) {
        video.fpsNum = nominal->first;
        video.fpsDen = nominal->second;
    }

    video.pixFmt = text_member(stream, "pix_fmt");
    video.colorRange = text_member(stream, "color_range");
    video.colorSpace = text_member(stream, "color_space");
    video.colorTransfer = text_member(stream, "color_transfer");
    video.colorPrimaries = text_member(stream, "color_primaries");
    video.chromaLocation = text_member(stream, "chroma_location");
    video.sar = text_member(stream, "sample_aspect_ratio");
    video.fieldOrder = text_member(stream, "field_order");
    video.bitRate = integer_member(stream, "bit_rate");
    video.nbFrames = integer_member(stream, "nb_frames");
    if (!video.nbFrames) {
        // Matroska keeps the count in mkvmerge's statistics tags.
        if (const auto tag = tag_value(stream, "NUMBER_OF_FRAMES")) video.nbFrames = parse_int64(*tag);
    }
    video.language = tag_value(stream, "language");
    video.title = track_name(stream);
    video.isDefault = disposition_flag(stream, "default");
    video.forced = disposition_flag(stream, "forced");
    video.rotation = display_rotation(stream);
    return video;
}

AudioStreamInfo read_audio(const json& stream, std::uint64_t index, const std::string& codec) {
    AudioStreamInfo audio;
    audio.index = index;
    audio.codec = codec;
    audio.profile = text_member(stream, "profile");
    audio.channels = integer_member(stream, "channels").value_or(2);
    audio.channelLayout = text_member(stream, "channel_layout");
    audio.sampleRate = integer_member(stream, "sample_rate").value_or(48000);
    audio.bitRate = integer_member(stream, "bit_rate");
    audio.language = tag_value(stream, "language");
    audio.title = track_name(stream);
    audio.isDefault = disposition_flag(stream, "default");
    audio.forced = disposition_flag(stream, "forced");
    audio.sampleFormat = text_member(stream, "sample_fmt");
    return audio;
}

SubtitleStreamInfo read_subtitle(const json& stream, std::uint64_t index, const std::string& codec) {
    SubtitleStreamInfo subtitle;
    subtitle.index = index;
    subtitle.codec = codec;
    subtitle.language = tag_value(stream, "language");
    subtitle.title = track_name(stream);
    subtitle.isDefault = disposition_flag(stream, "default");
    subtitle.forced = disposition_flag(stream, "forced");
    subtitle.text = is_text_subtitle_codec(codec);
    return subtitle;
}

ChapterInfo read_chapter(const json& chapter) {
    ChapterInfo info;
    info.start = decimal_member(chapter, "start_time").value_or(0);
    info.end = decimal_member(chapter, "end_time").value_or(0);
    info.title = tag_value(chapter, "title").value_or("");
    return info;
}

}  // namespace

std::vector<std::string> probe_arguments(const std::string& path) {
    return {"-v", "error", "-print_format", "json", "-show_format", "-show_streams", "-show_chapters", tool_path_argument(path)};
}

Result<MediaInfo> parse_probe_report(std::string_view json_text, const std::string& path) {
    auto report = parse_json_document(json_text);
    if (!report) return fail("ffprobe output could not be parsed: " + report.error());
    const json& root = *report;

    MediaInfo info;
    info.path = path;
    info.fileName = path_text(path_from_text(path).filename());

    static const json kNothing;
    const json& format = root.is_object() && root.contains("format") ? root["format"] : kNothing;
    info.container = text_member(format, "format_name").value_or("");
    info.duration = decimal_member(format, "duration").value_or(0);
    info.size = unsigned_member(format, "size");
    info.title = tag_value(format, "title");
    info.creationTime = tag_value(format, "creation_time");
    info.startTime = text_member(format, "start_time");

    if (root.is_object() && root.contains("streams") && root["streams"].is_array()) {
        for (const json& stream : root["streams"]) {
            const std::uint64_t index = unsigned_member(stream, "index");
            const std::string codec = text_member(stream, "codec_name").value_or("unknown");
            const auto type = text_member(stream, "codec_type");
            if (!type) continue;
            if (*type == "video") {
                // Cover art is stored as a one-picture video stream.
                if (disposition_flag(stream, "attached_pic")) continue;
                if (info.video) {
                    info.otherVideo.push_back(index);
                    continue;
                }
                info.video = read_video(stream, index, codec);
            } else if (*type == "audio") {
                info.audio.push_back(read_audio(stream, index, codec));
            } else if (*type == "subtitle") {
                info.subtitles.push_back(read_subtitle(stream, index, codec));
            }
        }
    }

    if (root.is_object() && root.contains("chapters") && root["chapters"].is_array())
        for (const json& chapter : root["chapters"]) info.chapters.push_back(read_chapter(chapter));

    if (!(info.duration > 0)) return fail(std::string(kDurationMessage));
    return info;
}

}  // namespace reel
