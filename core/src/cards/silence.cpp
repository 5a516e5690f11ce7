#include "cards/silence.h"

#include <fmt/format.h>
#include <optional>

#include "util/text.h"

namespace reel {

namespace {

struct SilenceEncoder {
    std::string encoder;
    bool strict = false;   // needs "-strict" "-2" (experimental encoders)
    bool bitRate = false;  // lossy: the source's bit rate is passed on
};

std::optional<SilenceEncoder> silence_encoder(const std::string& codec) {
    struct Row {
        const char* codec;
        const char* encoder;
        bool strict;
        bool bitRate;
    };
    static constexpr Row table[] = {
        {"aac", "aac", false, true},          {"ac3", "ac3", false, true},
        {"eac3", "eac3", false, true},        {"dts", "dca", true, true},
        {"mp3", "libmp3lame", false, true},   {"mp2", "mp2", false, true},
        {"opus", "libopus", false, true},     {"vorbis", "libvorbis", false, true},
        {"wmav1", "wmav1", false, true},      {"wmav2", "wmav2", false, true},
        {"truehd", "truehd", true, false},    {"mlp", "mlp", true, false},
        {"flac", "flac", false, false},       {"alac", "alac", false, false},
    };
    for (const auto& row : table) {
        if (codec == row.codec) return SilenceEncoder{row.encoder, row.strict, row.bitRate};
    }
    // The PCM family is encoded under its own names, always lossless.
    if (starts_with(codec, "pcm_")) return SilenceEncoder{codec, false, false};
    return std::nullopt;
}

}  // namespace

std::string silence_layout(const AudioStreamInfo& track) {
    if (track.channelLayout) return *track.channelLayout;
    switch (track.channels) {
        case 1: return "mono";
        case 2: return "stereo";
        case 6: return "5.1";
        case 8: return "7.1";
        default: return fmt::format("{}c", track.channels);
    }
}

std::string silence_source(const AudioStreamInfo& track) {
    return fmt::format("anullsrc=r={}:cl={}", track.sampleRate, silence_layout(track));
}

Result<std::vector<std::string>> silent_audio_args(const AudioStreamInfo& track, std::size_t index) {
    const auto encoder = silence_encoder(track.codec);
    if (!encoder) return fail(fmt::format("Silent audio cannot be generated for codec '{}'.", track.codec));
    const std::string spec = fmt::format("a:{}", index);
    std::vector<std::string> args{fmt::format("-c:{}", spec), encoder->encoder};
    if (encoder->strict) {
        args.emplace_back("-strict");
        args.emplace_back("-2");
    }
    if (encoder->bitRate && track.bitRate) {
        args.push_back(fmt::format("-b:{}", spec));
        args.push_back(fmt::format("{}", *track.bitRate));
    }
    args.push_back(fmt::format("-ar:{}", spec));
    args.push_back(fmt::format("{}", track.sampleRate));
    args.push_back(fmt::format("-ac:{}", spec));
    args.push_back(fmt::format("{}", track.channels));
    return args;
}

}  // namespace reel
