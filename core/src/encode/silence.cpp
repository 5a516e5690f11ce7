#include "encode/silence.h"

#include <fmt/format.h>
#include <optional>

#include "util/numbers.h"
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

std::int64_t silence_frame_samples(const AudioStreamInfo& track, std::optional<std::int64_t> source_samples) {
    const std::string& codec = track.codec;
    if (codec == "aac") return 1024;
    if (codec == "ac3" || codec == "eac3") return 1536;
    if (codec == "mp3") return track.sampleRate >= 32000 ? 1152 : 576;
    if (codec == "mp2") return 1152;
    if (codec == "dts") return 512;
    if (codec == "opus") {
        // libopus takes 2.5 to 60 ms packets; Opus counts samples at 48 kHz.
        for (std::int64_t samples : {120, 240, 480, 960, 1920, 2880})
            if (source_samples == samples) return samples;
        return 960;
    }
    if (codec == "flac") return source_samples && *source_samples >= 16 && *source_samples <= 65535 ? *source_samples : 4608;
    return source_samples && *source_samples > 0 ? *source_samples : 1024;
}

Result<SilentTracks> silent_tracks(const std::vector<AudioStreamInfo>& tracks, std::size_t first_input,
                                   std::optional<std::int64_t> frame_samples) {
    SilentTracks silence;
    for (std::size_t k = 0; k < tracks.size(); ++k) {
        const AudioStreamInfo& track = tracks[k];
        std::string source = silence_source(track);
        if (frame_samples) source += fmt::format(":nb_samples={}", *frame_samples);
        silence.inputs.insert(silence.inputs.end(), {"-f", "lavfi", "-i", source});
        silence.maps.insert(silence.maps.end(), {"-map", fmt::format("{}:a", first_input + k)});

        auto encoder = silent_audio_args(track, k);
        if (!encoder) return fail(encoder.error());
        silence.encoders.insert(silence.encoders.end(), encoder->begin(), encoder->end());
        // Packet sizes the encoders are told; the others have one size only.
        if (frame_samples && track.codec == "opus")
            silence.encoders.insert(silence.encoders.end(), {fmt::format("-frame_duration:a:{}", k),
                                                             format_shortest(static_cast<double>(*frame_samples) / 48.0)});
        if (frame_samples && track.codec == "flac")
            silence.encoders.insert(silence.encoders.end(),
                                    {fmt::format("-frame_size:a:{}", k), std::to_string(*frame_samples)});
        if (track.sampleFormat && (track.codec == "flac" || track.codec == "alac"))
            silence.encoders.insert(silence.encoders.end(), {fmt::format("-sample_fmt:a:{}", k), *track.sampleFormat});
    }
    return silence;
}

}  // namespace reel
