#include <gtest/gtest.h>

#include <algorithm>
#include <limits>

#include "encode/encoder.h"

namespace reel {
namespace {

using Args = std::vector<std::string>;

VideoStreamInfo video(const std::string& codec, std::int64_t num = 25, std::int64_t den = 1) {
    VideoStreamInfo v;
    v.codec = codec;
    v.fpsNum = num;
    v.fpsDen = den;
    return v;
}

Args settings(const VideoStreamInfo& v, const std::string& preset = "fast") {
    auto result = match_encoder(v, preset);
    EXPECT_TRUE(result.has_value()) << result.error();
    return result.value_or(Args{});
}

// The value that follows `option`, or "<absent>".
std::string option_value(const Args& args, const std::string& option) {
    auto it = std::find(args.begin(), args.end(), option);
    if (it == args.end() || std::next(it) == args.end()) return "<absent>";
    return *std::next(it);
}

TEST(MatchEncoder, H264WorkedExample) {
    VideoStreamInfo v = video("h264", 24000, 1001);
    v.pixFmt = "yuv420p";
    v.level = 41;
    v.colorPrimaries = v.colorTransfer = v.colorSpace = "bt709";
    v.colorRange = "tv";
    const Args expected{"-c:v", "libx264", "-preset", "fast", "-crf", "18", "-profile:v", "high", "-level:v", "4.1",
                        "-x264-params", "keyint=48:min-keyint=24:repeat-headers=1:bframes=0:colorprim=bt709:transfer=bt709:colormatrix=bt709",
                        "-bf", "0", "-pix_fmt", "yuv420p", "-color_range", "tv", "-color_primaries", "bt709",
                        "-color_trc", "bt709", "-colorspace", "bt709"};
    EXPECT_EQ(settings(v), expected);
}

TEST(MatchEncoder, HevcFullParameterString) {
    VideoStreamInfo v = video("hevc", 24000, 1001);
    v.pixFmt = "yuv420p10le";
    v.level = 123;
    v.colorRange = "tv";
    v.chromaLocation = "topleft";
    v.colorPrimaries = "bt2020";
    v.colorTransfer = "smpte2084";
    v.colorSpace = "bt2020nc";
    const Args expected{"-c:v", "libx265", "-preset", "slow", "-crf", "18", "-profile:v", "main10", "-x265-params",
                        "keyint=48:min-keyint=24:repeat-headers=1:bframes=0:level-idc=4.1:range=limited:chromaloc=2:"
                        "colorprim=bt2020:transfer=smpte2084:colormatrix=bt2020nc",
                        "-bf", "0", "-pix_fmt", "yuv420p10le", "-color_range", "tv", "-color_primaries", "bt2020",
                        "-color_trc", "smpte2084", "-colorspace", "bt2020nc", "-chroma_sample_location", "topleft"};
    EXPECT_EQ(settings(v, "slow"), expected);
}

TEST(MatchEncoder, KeyframeIntervalFromFrameRate) {
    struct Case {
        std::int64_t num, den;
        std::string x264, g;
    };
    const Case cases[] = {
        {24000, 1001, "keyint=48:min-keyint=24:repeat-headers=1:bframes=0", "48"},
        {25, 1, "keyint=50:min-keyint=25:repeat-headers=1:bframes=0", "50"},
        {30000, 1001, "keyint=60:min-keyint=30:repeat-headers=1:bframes=0", "60"},
        {60000, 1001, "keyint=120:min-keyint=60:repeat-headers=1:bframes=0", "120"},
        {1, 2, "keyint=1:min-keyint=0:repeat-headers=1:bframes=0", "1"},
        {0, 1, "keyint=1:min-keyint=0:repeat-headers=1:bframes=0", "1"},
        // Absurd rates clamp instead of overflowing.
        {std::numeric_limits<std::int64_t>::max(), 1,
         "keyint=9223372036854775807:min-keyint=4611686018427387903:repeat-headers=1:bframes=0", "9223372036854775807"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.num << "/" << c.den);
        EXPECT_EQ(option_value(settings(video("h264", c.num, c.den)), "-x264-params"), c.x264);
        EXPECT_EQ(option_value(settings(video("vp9", c.num, c.den)), "-g"), c.g);
        EXPECT_EQ(option_value(settings(video("mpeg2video", c.num, c.den)), "-g"), c.g);
    }
    EXPECT_EQ(option_value(settings(video("hevc", 24000, 1001)), "-x265-params"),
              "keyint=48:min-keyint=24:repeat-headers=1:bframes=0");
}

TEST(MatchEncoder, LevelText) {
    struct Case {
        std::string codec;
        std::optional<std::int64_t> level;
        std::string h264_level;  // value of "-level:v"
        std::string x265;        // the x265 string
    };
    const std::string base = "keyint=50:min-keyint=25:repeat-headers=1:bframes=0";
    const Case cases[] = {
        {"h264", 41, "4.1", ""},          {"h264", 40, "4.0", ""},
        {"h264", -99, "<absent>", ""},    {"h264", std::nullopt, "<absent>", ""},
        {"h264", 0, "<absent>", ""},      {"hevc", 123, "<absent>", base + ":level-idc=4.1"},
        {"hevc", 153, "<absent>", base + ":level-idc=5.1"}, {"hevc", 120, "<absent>", base + ":level-idc=4.0"},
        {"hevc", 0, "<absent>", base},    {"hevc", std::nullopt, "<absent>", base},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.codec + " " + (c.level ? std::to_string(*c.level) : "absent"));
        VideoStreamInfo v = video(c.codec);
        v.level = c.level;
        const Args args = settings(v);
        EXPECT_EQ(option_value(args, "-level:v"), c.h264_level);
        if (c.codec == "hevc") {
            EXPECT_EQ(option_value(args, "-x265-params"), c.x265);
        }
    }
}

TEST(MatchEncoder, ProfilesByPixelFormat) {
    struct Case {
        std::string codec;
        std::optional<std::string> pix;
        std::string profile;
        std::string pix_out;
    };
    const Case cases[] = {
        {"h264", std::nullopt, "high", "yuv420p"},        {"h264", "yuv420p", "high", "yuv420p"},
        {"h264", "yuv420p10le", "high10", "yuv420p10le"}, {"h264", "yuv422p10le", "high10", "yuv422p10le"},
        {"h264", "yuv444p", "high444", "yuv444p"},        {"h264", "yuv422p", "high422", "yuv422p"},
        {"hevc", std::nullopt, "main", "yuv420p"},        {"hevc", "yuv420p10le", "main10", "yuv420p10le"},
        {"hevc", "yuv420p12le", "main12", "yuv420p12le"}, {"hevc", "yuv422p", "main", "yuv422p"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.codec + " " + c.pix.value_or("absent"));
        VideoStreamInfo v = video(c.codec);
        v.pixFmt = c.pix;
        const Args args = settings(v);
        EXPECT_EQ(option_value(args, "-profile:v"), c.profile);
        EXPECT_EQ(option_value(args, "-pix_fmt"), c.pix_out);
    }
}

TEST(MatchEncoder, HevcRangeAndChromaLocation) {
    struct Case {
        std::optional<std::string> range, chroma;
        std::string extra;
    };
    const Case cases[] = {
        {"tv", std::nullopt, ":range=limited"},
        {"pc", std::nullopt, ":range=full"},
        {"unknown", std::nullopt, ":range=limited"},
        {std::nullopt, "left", ":chromaloc=0"},
        {std::nullopt, "center", ":chromaloc=1"},
        {std::nullopt, "topleft", ":chromaloc=2"},
        {std::nullopt, "top", ":chromaloc=3"},
        {std::nullopt, "bottomleft", ":chromaloc=4"},
        {std::nullopt, "bottom", ":chromaloc=5"},
        {std::nullopt, "sideways", ":chromaloc=0"},
        {"pc", "center", ":range=full:chromaloc=1"},
        {std::nullopt, std::nullopt, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.range.value_or("-") + " " + c.chroma.value_or("-"));
        VideoStreamInfo v = video("hevc");
        v.colorRange = c.range;
        v.chromaLocation = c.chroma;
        const Args args = settings(v);
        EXPECT_EQ(option_value(args, "-x265-params"), "keyint=50:min-keyint=25:repeat-headers=1:bframes=0" + c.extra);
        EXPECT_EQ(option_value(args, "-color_range"), c.range.value_or("<absent>"));
        EXPECT_EQ(option_value(args, "-chroma_sample_location"), c.chroma.value_or("<absent>"));
    }
}

TEST(MatchEncoder, H264CarriesColourOnlyInColourParamsAndTail) {
    VideoStreamInfo v = video("h264");
    v.colorRange = "pc";
    v.chromaLocation = "center";
    v.colorSpace = "bt709";
    const Args args = settings(v);
    EXPECT_EQ(option_value(args, "-x264-params"), "keyint=50:min-keyint=25:repeat-headers=1:bframes=0:colormatrix=bt709");
    const Args tail(args.end() - 10, args.end());
    EXPECT_EQ(tail, (Args{"-bf", "0", "-pix_fmt", "yuv420p", "-color_range", "pc", "-colorspace", "bt709",
                          "-chroma_sample_location", "center"}));
}

TEST(MatchEncoder, OtherCodecHeads) {
    struct Case {
        std::string codec;
        std::optional<std::string> profile;
        Args head;
    };
    const Case cases[] = {
        {"av1", std::nullopt, {"-c:v", "libsvtav1", "-preset", "8", "-crf", "28", "-g", "50"}},
        {"vp9", std::nullopt, {"-c:v", "libvpx-vp9", "-crf", "28", "-b:v", "0", "-g", "50", "-row-mt", "1"}},
        {"vp8", std::nullopt, {"-c:v", "libvpx", "-crf", "12", "-b:v", "2M", "-g", "50"}},
        {"mpeg4", std::nullopt, {"-c:v", "mpeg4", "-q:v", "3", "-g", "50"}},
        {"mpeg4", "Simple Profile", {"-c:v", "mpeg4", "-q:v", "3", "-g", "50"}},
        {"mpeg4", "Advanced Simple Profile", {"-c:v", "mpeg4", "-q:v", "3", "-g", "50", "-profile:v", "15"}},
        {"mpeg2video", std::nullopt, {"-c:v", "mpeg2video", "-q:v", "3", "-g", "50"}},
        {"mpeg1video", std::nullopt, {"-c:v", "mpeg1video", "-q:v", "3", "-g", "50"}},
        {"mjpeg", std::nullopt, {"-c:v", "mjpeg", "-q:v", "3"}},
        {"dnxhd", std::nullopt, {"-c:v", "dnxhd", "-profile:v", "dnxhr_hq"}},
        {"prores", std::nullopt, {"-c:v", "prores_ks", "-profile:v", "3"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.codec + " " + c.profile.value_or(""));
        VideoStreamInfo v = video(c.codec);
        v.profile = c.profile;
        v.colorPrimaries = "bt709";
        Args expected = c.head;
        // The preset only concerns x264 and x265; the colour tail is shared.
        for (const char* item : {"-bf", "0", "-pix_fmt", "yuv420p", "-color_primaries", "bt709"}) expected.push_back(item);
        EXPECT_EQ(settings(v, "veryslow"), expected);
    }
}

TEST(MatchEncoder, UnsupportedCodecsFail) {
    for (const std::string codec : {"HEVC", "theora", "unknown", "", "h264 "}) {
        const auto result = match_encoder(video(codec), "fast");
        ASSERT_FALSE(result.has_value()) << codec;
        EXPECT_EQ(result.error(), "The video is encoded with '" + codec +
                                      "', which ffmpeg cannot encode, so text cards cannot be inserted. "
                                      "Remove and Mute still work.");
    }
}

TEST(ForcedKeyframes, EntryPointsOnlyWhereTheEncoderIsKnownToMakeThem) {
    // x264 and x265 would make a plain I picture that later pictures may refer across.
    EXPECT_EQ(forced_keyframe_options("h264", {12, 50}),
              (std::vector<std::string>{"-forced-idr", "1", "-force_key_frames", "expr:eq(n,12)+eq(n,50)"}));
    EXPECT_EQ(forced_keyframe_options("hevc", {}), (std::vector<std::string>{"-forced-idr", "1"}));
    EXPECT_EQ(forced_keyframe_options("vp9", {7}), (std::vector<std::string>{"-force_key_frames", "expr:eq(n,7)"}));
    for (const char* codec : {"av1", "theora", ""}) EXPECT_FALSE(forced_keyframe_options(codec, {3})) << codec;
}

}  // namespace
}  // namespace reel
