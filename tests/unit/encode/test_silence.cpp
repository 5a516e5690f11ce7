#include <gtest/gtest.h>

#include "encode/silence.h"

namespace reel {
namespace {

using Args = std::vector<std::string>;

AudioStreamInfo track(const std::string& codec, std::optional<std::int64_t> bit_rate, std::int64_t rate,
                      std::int64_t channels, std::optional<std::string> layout = std::nullopt) {
    AudioStreamInfo t;
    t.codec = codec;
    t.bitRate = bit_rate;
    t.sampleRate = rate;
    t.channels = channels;
    t.channelLayout = std::move(layout);
    return t;
}

TEST(SilenceLayout, LayoutWinsElseChannelCount) {
    struct Case {
        std::int64_t channels;
        std::optional<std::string> layout;
        std::string expected;
    };
    const Case cases[] = {
        {1, std::nullopt, "mono"}, {2, std::nullopt, "stereo"}, {6, std::nullopt, "5.1"},
        {8, std::nullopt, "7.1"},  {3, std::nullopt, "3c"},     {0, std::nullopt, "0c"},
        {6, "5.1(side)", "5.1(side)"}, {2, "downmix", "downmix"},
    };
    for (const auto& c : cases) {
        const auto t = track("aac", std::nullopt, 48000, c.channels, c.layout);
        EXPECT_EQ(silence_layout(t), c.expected);
        EXPECT_EQ(silence_source(t), "anullsrc=r=48000:cl=" + c.expected);
    }
    EXPECT_EQ(silence_source(track("ac3", 640000, 44100, 6)), "anullsrc=r=44100:cl=5.1");
}

TEST(SilentAudioArgs, CodecTable) {
    struct Case {
        std::string codec;
        std::size_t index;
        Args expected;  // with a known bit rate of 128000, 48000 Hz, 2 channels
    };
    const auto lossy = [](const std::string& encoder, std::size_t i, Args strict = {}) {
        const std::string s = "a:" + std::to_string(i);
        Args args{"-c:" + s, encoder};
        args.insert(args.end(), strict.begin(), strict.end());
        for (const std::string& item : {"-b:" + s, std::string("128000"), "-ar:" + s, std::string("48000"), "-ac:" + s,
                                        std::string("2")})
            args.push_back(item);
        return args;
    };
    const auto lossless = [](const std::string& encoder, std::size_t i, Args strict = {}) {
        const std::string s = "a:" + std::to_string(i);
        Args args{"-c:" + s, encoder};
        args.insert(args.end(), strict.begin(), strict.end());
        for (const std::string& item : {"-ar:" + s, std::string("48000"), "-ac:" + s, std::string("2")})
            args.push_back(item);
        return args;
    };
    const Args strict{"-strict", "-2"};
    const Case cases[] = {
        {"aac", 0, lossy("aac", 0)},           {"ac3", 1, lossy("ac3", 1)},
        {"eac3", 0, lossy("eac3", 0)},         {"dts", 2, lossy("dca", 2, strict)},
        {"mp3", 0, lossy("libmp3lame", 0)},    {"mp2", 0, lossy("mp2", 0)},
        {"opus", 0, lossy("libopus", 0)},      {"vorbis", 0, lossy("libvorbis", 0)},
        {"wmav1", 0, lossy("wmav1", 0)},       {"wmav2", 0, lossy("wmav2", 0)},
        {"truehd", 1, lossless("truehd", 1, strict)}, {"mlp", 0, lossless("mlp", 0, strict)},
        {"flac", 0, lossless("flac", 0)},      {"alac", 0, lossless("alac", 0)},
        {"pcm_s16le", 0, lossless("pcm_s16le", 0)}, {"pcm_f32le", 0, lossless("pcm_f32le", 0)},
        {"pcm_s24be", 3, lossless("pcm_s24be", 3)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.codec);
        const auto args = silent_audio_args(track(c.codec, 128000, 48000, 2), c.index);
        ASSERT_TRUE(args.has_value()) << args.error();
        EXPECT_EQ(*args, c.expected);
    }
}

TEST(SilentAudioArgs, WorkedExamples) {
    EXPECT_EQ(silent_audio_args(track("ac3", 640000, 48000, 6), 0).value(),
              (Args{"-c:a:0", "ac3", "-b:a:0", "640000", "-ar:a:0", "48000", "-ac:a:0", "6"}));
    EXPECT_EQ(silent_audio_args(track("truehd", 3000000, 48000, 8), 1).value(),
              (Args{"-c:a:1", "truehd", "-strict", "-2", "-ar:a:1", "48000", "-ac:a:1", "8"}));
    EXPECT_EQ(silent_audio_args(track("pcm_s16le", std::nullopt, 44100, 2), 0).value(),
              (Args{"-c:a:0", "pcm_s16le", "-ar:a:0", "44100", "-ac:a:0", "2"}));
    // Without a known bit rate a lossy codec gets no "-b:".
    EXPECT_EQ(silent_audio_args(track("aac", std::nullopt, 48000, 2), 0).value(),
              (Args{"-c:a:0", "aac", "-ar:a:0", "48000", "-ac:a:0", "2"}));
}

TEST(SilentAudioArgs, UnknownCodecsFail) {
    for (const std::string codec : {"pcm", "cook", "amr_nb", "AAC", "unknown", ""}) {
        const auto args = silent_audio_args(track(codec, 128000, 48000, 2), 0);
        ASSERT_FALSE(args.has_value()) << codec;
        EXPECT_EQ(args.error(), "Silent audio cannot be generated for codec '" + codec + "'.");
    }
}

}  // namespace
}  // namespace reel
