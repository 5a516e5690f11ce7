#pragma once
// The condensed ffprobe report. Member names follow the probe JSON keys.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace reel {

struct VideoStreamInfo {
    std::uint64_t index = 0;
    std::string codec = "unknown";
    std::optional<std::string> profile;
    std::optional<std::int64_t> level;
    std::int64_t width = 0;
    std::int64_t height = 0;
    std::int64_t fpsNum = 24;
    std::int64_t fpsDen = 1;
    std::optional<std::string> pixFmt;
    std::optional<std::string> colorRange;
    std::optional<std::string> colorSpace;
    std::optional<std::string> colorTransfer;
    std::optional<std::string> colorPrimaries;
    std::optional<std::string> chromaLocation;
    std::optional<std::string> sar;
    std::optional<std::string> fieldOrder;
    std::optional<std::int64_t> bitRate;
    std::optional<std::int64_t> nbFrames;
    // Carried into the edited file, not part of the probe document.
    std::optional<std::string> language;
    std::optional<std::string> title;
    bool isDefault = false;
    bool forced = false;
    // Degrees of the display matrix, as ffprobe reports them (phones store
    // portrait video sideways and let the player turn it).
    std::optional<double> rotation;
};

struct AudioStreamInfo {
    std::uint64_t index = 0;
    std::string codec = "unknown";
    std::optional<std::string> profile;
    std::int64_t channels = 2;
    std::optional<std::string> channelLayout;
    std::int64_t sampleRate = 48000;
    std::optional<std::int64_t> bitRate;
    std::optional<std::string> language;
    std::optional<std::string> title;
    bool isDefault = false;  // JSON key "default"
    // Carried into the edited file, not part of the probe document.
    bool forced = false;
    std::optional<std::string> sampleFormat;  // "s16", "s32", ...: silence must match it
};

struct SubtitleStreamInfo {
    std::uint64_t index = 0;
    std::string codec = "unknown";
    std::optional<std::string> language;
    std::optional<std::string> title;
    bool isDefault = false;  // JSON key "default"
    bool forced = false;
    bool text = false;
};

struct ChapterInfo {
    double start = 0;
    double end = 0;
    std::string title;
};

struct MediaInfo {
    std::string path;
    std::string fileName;
    std::string container;
    double duration = 0;
    std::uint64_t size = 0;
    std::optional<std::string> title;
    std::optional<VideoStreamInfo> video;
    std::vector<AudioStreamInfo> audio;
    std::vector<SubtitleStreamInfo> subtitles;
    std::vector<ChapterInfo> chapters;
    // Carried into the edited file, not part of the probe document: when the
    // movie was made, and the stream indexes of further real video tracks
    // (cover art is not among them).
    std::optional<std::string> creationTime;
    // The container's start time as ffprobe writes it ("0.000000"), if it gives one.
    std::optional<std::string> startTime;
    std::vector<std::uint64_t> otherVideo;
};

}  // namespace reel
