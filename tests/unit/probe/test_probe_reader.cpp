// Condensing recorded ffprobe reports. The documents below are written the way
// ffprobe writes them: numbers as strings, "unknown" names, upper-case
// Matroska tags, cover pictures and 0/0 rates.
#include <gtest/gtest.h>

#include "probe/probe.h"

namespace reel {
namespace {

// ffprobe 5.1 on an mkvmerge-written movie, trimmed to the members that matter
// plus a few that must be ignored.
constexpr const char* kMatroskaReport = R"json({
    "streams": [
        {
            "index": 0, "codec_name": "h264", "profile": "High", "codec_type": "video",
            "width": 1920, "height": 1080, "has_b_frames": 2, "sample_aspect_ratio": "1:1",
            "pix_fmt": "yuv420p", "level": 41, "color_range": "tv", "color_space": "bt709",
            "color_transfer": "bt709", "color_primaries": "bt709", "chroma_location": "left",
            "field_order": "progressive", "r_frame_rate": "24000/1001", "avg_frame_rate": "24000/1001",
            "start_time": "0.000000",
            "disposition": {"default": 1, "forced": 0, "attached_pic": 0},
            "tags": {"BPS": "4012345", "NUMBER_OF_FRAMES": "129467", "DURATION": "01:30:00.120000000"}
        },
        {
            "index": 1, "codec_name": "ac3", "codec_type": "audio", "sample_rate": "48000",
            "channels": 6, "channel_layout": "5.1(side)", "bit_rate": "448000",
            "r_frame_rate": "0/0", "avg_frame_rate": "0/0",
            "disposition": {"default": 1, "forced": 0},
            "tags": {"language": "eng", "title": "Surround 5.1"}
        },
        {
            "index": 2, "codec_name": "aac", "profile": "LC", "codec_type": "audio", "sample_rate": "44100",
            "channels": 2, "channel_layout": "stereo",
            "disposition": {"default": 0, "forced": 0},
            "tags": {"LANGUAGE": "ger", "TITLE": "Kommentar"}
        },
        {
            "index": 3, "codec_name": "subrip", "codec_type": "subtitle",
            "disposition": {"default": 0, "forced": 1},
            "tags": {"language": "eng", "title": "Signs"}
        },
        {
            "index": 4, "codec_name": "hdmv_pgs_subtitle", "codec_type": "subtitle",
            "width": 1920, "height": 1080,
            "disposition": {"default": 2, "forced": 0},
            "tags": {"language": "fre"}
        },
        {
            "index": 5, "codec_name": "ttf", "codec_type": "attachment",
            "tags": {"filename": "font.ttf", "mimetype": "font/ttf"}
        },
        {
            "index": 6, "codec_name": "mjpeg", "codec_type": "video", "width": 600, "height": 600,
            "disposition": {"default": 0, "attached_pic": 1}
        }
    ],
    "chapters": [
        {"id": 1, "time_base": "1/1000000000", "start": 0, "start_time": "0.000000",
         "end": 600000000000, "end_time": "600.000000", "tags": {"title": "Opening"}},
        {"id": 2, "time_base": "1/1000000000", "start_time": "600.000000", "end_time": "5400.120000",
         "tags": {"TITLE": "Main part"}},
        {"id": 3, "start_time": "5400.120000", "end_time": "5400.120000"}
    ],
    "format": {
        "filename": "/films/Movie.2019.mkv", "nb_streams": 7, "format_name": "matroska,webm",
        "format_long_name": "Matroska / WebM", "start_time": "0.000000", "duration": "5400.120000",
        "size": "2712345678", "bit_rate": "4018000", "probe_score": 100,
        "tags": {"title": "Movie", "ENCODER": "libebml v1.4.4 + libmatroska v1.7.1"}
    }
})json";

TEST(ProbeReader, RecordedMatroskaReportIsCondensedMemberByMember) {
    const auto info = parse_probe_report(kMatroskaReport, "/films/Movie.2019.mkv");
    ASSERT_TRUE(info) << info.error();
    EXPECT_EQ(info->path, "/films/Movie.2019.mkv");
    EXPECT_EQ(info->fileName, "Movie.2019.mkv");
    EXPECT_EQ(info->container, "matroska,webm");
    EXPECT_DOUBLE_EQ(info->duration, 5400.12);
    EXPECT_EQ(info->size, 2712345678u);
    EXPECT_EQ(info->title, "Movie");

    ASSERT_TRUE(info->video);
    const VideoStreamInfo& v = *info->video;
    EXPECT_EQ(v.index, 0u);
    EXPECT_EQ(v.codec, "h264");
    EXPECT_EQ(v.profile, "High");
    EXPECT_EQ(v.level, 41);
    EXPECT_EQ(v.width, 1920);
    EXPECT_EQ(v.height, 1080);
    EXPECT_EQ(v.fpsNum, 24000);
    EXPECT_EQ(v.fpsDen, 1001);
    EXPECT_EQ(v.pixFmt, "yuv420p");
    EXPECT_EQ(v.colorRange, "tv");
    EXPECT_EQ(v.colorSpace, "bt709");
    EXPECT_EQ(v.colorTransfer, "bt709");
    EXPECT_EQ(v.colorPrimaries, "bt709");
    EXPECT_EQ(v.chromaLocation, "left");
    EXPECT_EQ(v.sar, "1:1");
    EXPECT_EQ(v.fieldOrder, "progressive");
    EXPECT_EQ(v.bitRate, std::nullopt) << "the BPS tag is not the bit_rate member";
    EXPECT_EQ(v.nbFrames, 129467) << "from the NUMBER_OF_FRAMES tag";

    ASSERT_EQ(info->audio.size(), 2u);
    const AudioStreamInfo& a1 = info->audio[0];
    EXPECT_EQ(a1.index, 1u);
    EXPECT_EQ(a1.codec, "ac3");
    EXPECT_EQ(a1.profile, std::nullopt);
    EXPECT_EQ(a1.channels, 6);
    EXPECT_EQ(a1.channelLayout, "5.1(side)");
    EXPECT_EQ(a1.sampleRate, 48000);
    EXPECT_EQ(a1.bitRate, 448000);
    EXPECT_EQ(a1.language, "eng");
    EXPECT_EQ(a1.title, "Surround 5.1");
    EXPECT_TRUE(a1.isDefault);
    const AudioStreamInfo& a2 = info->audio[1];
    EXPECT_EQ(a2.index, 2u);
    EXPECT_EQ(a2.profile, "LC");
    EXPECT_EQ(a2.sampleRate, 44100);
    EXPECT_EQ(a2.language, "ger");
    EXPECT_EQ(a2.title, "Kommentar");
    EXPECT_FALSE(a2.isDefault);

    ASSERT_EQ(info->subtitles.size(), 2u);
    EXPECT_EQ(info->subtitles[0].index, 3u);
    EXPECT_EQ(info->subtitles[0].codec, "subrip");
    EXPECT_EQ(info->subtitles[0].title, "Signs");
    EXPECT_TRUE(info->subtitles[0].forced);
    EXPECT_FALSE(info->subtitles[0].isDefault);
    EXPECT_TRUE(info->subtitles[0].text);
    EXPECT_EQ(info->subtitles[1].index, 4u);
    EXPECT_EQ(info->subtitles[1].language, "fre");
    EXPECT_EQ(info->subtitles[1].title, std::nullopt);
    EXPECT_FALSE(info->subtitles[1].isDefault) << "disposition 2 is not 1";
    EXPECT_FALSE(info->subtitles[1].text) << "PGS is a picture format";

    ASSERT_EQ(info->chapters.size(), 3u);
    EXPECT_DOUBLE_EQ(info->chapters[0].start, 0.0);
    EXPECT_DOUBLE_EQ(info->chapters[0].end, 600.0);
    EXPECT_EQ(info->chapters[0].title, "Opening");
    EXPECT_EQ(info->chapters[1].title, "Main part");
    EXPECT_DOUBLE_EQ(info->chapters[1].end, 5400.12);
    EXPECT_EQ(info->chapters[2].title, "");
}

// Builds a report around one stream object and returns the condensed info.
MediaInfo with_streams(const std::string& streams, const std::string& extra = "") {
    const std::string text =
        R"({"format":{"duration":"10.0"},"streams":[)" + streams + "]" + extra + "}";
    auto info = parse_probe_report(text, "m.mkv");
    EXPECT_TRUE(info) << info.error();
    return info.value_or(MediaInfo{});
}

TEST(ProbeReader, DurationFromStringOrNumber) {
    for (const char* duration : {R"("5400.120000")", "5400.12"}) {
        const auto info = parse_probe_report(std::string(R"({"format":{"duration":)") + duration + "}}", "x");
        ASSERT_TRUE(info) << duration;
        EXPECT_DOUBLE_EQ(info->duration, 5400.12) << duration;
    }
}

TEST(ProbeReader, UnknownNamesAreAbsentAndMissingCodecIsUnknown) {
    const auto info = with_streams(
        R"({"index":0,"codec_type":"video","profile":"unknown","color_range":"unknown","width":"640"},
           {"index":1,"codec_type":"audio"},
           {"index":2,"codec_type":"subtitle","codec_name":"unknown"})");
    ASSERT_TRUE(info.video);
    EXPECT_EQ(info.video->profile, std::nullopt);
    EXPECT_EQ(info.video->colorRange, std::nullopt);
    EXPECT_EQ(info.video->codec, "unknown");
    EXPECT_EQ(info.video->width, 640) << "integer given as a string";
    EXPECT_EQ(info.video->height, 0);
    ASSERT_EQ(info.audio.size(), 1u);
    EXPECT_EQ(info.audio[0].codec, "unknown");
    EXPECT_EQ(info.audio[0].sampleRate, 48000);
    EXPECT_EQ(info.audio[0].channels, 2);
    EXPECT_EQ(info.audio[0].channelLayout, std::nullopt);
    ASSERT_EQ(info.subtitles.size(), 1u);
    EXPECT_EQ(info.subtitles[0].codec, "unknown");
    EXPECT_FALSE(info.subtitles[0].text);
}

struct RateCase {
    const char* members;
    std::int64_t num, den;
};

class FrameRate : public ::testing::TestWithParam<RateCase> {};

TEST_P(FrameRate, AverageThenNominalThenTwentyFour) {
    const auto info = with_streams(std::string(R"({"codec_type":"video",)") + GetParam().members + "}");
    ASSERT_TRUE(info.video);
    EXPECT_EQ(info.video->fpsNum, GetParam().num) << GetParam().members;
    EXPECT_EQ(info.video->fpsDen, GetParam().den) << GetParam().members;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FrameRate,
    ::testing::Values(RateCase{R"("avg_frame_rate":"0/0","r_frame_rate":"25/1")", 25, 1},
                      RateCase{R"("avg_frame_rate":"50/2","r_frame_rate":"25/1")", 50, 2},
                      RateCase{R"("avg_frame_rate":"0/0","r_frame_rate":"0/0")", 24, 1},
                      RateCase{R"("avg_frame_rate":"x","r_frame_rate":"0/1")", 0, 1},
                      RateCase{R"("avg_frame_rate":"0/1","r_frame_rate":"30/1")", 30, 1},
                      RateCase{R"("avg_frame_rate":"-5/1","r_frame_rate":"30000/1001")", 30000, 1001},
                      RateCase{R"("avg_frame_rate":25)", 24, 1}, RateCase{R"("index":0)", 24, 1}));

TEST(ProbeReader, CoverPictureIsSkippedAndFirstRealVideoWins) {
    const auto info = with_streams(
        R"({"index":0,"codec_type":"video","codec_name":"png","disposition":{"attached_pic":1}},
           {"index":1,"codec_type":"video","codec_name":"hevc"},
           {"index":2,"codec_type":"video","codec_name":"h264"})");
    ASSERT_TRUE(info.video);
    EXPECT_EQ(info.video->index, 1u);
    EXPECT_EQ(info.video->codec, "hevc");
}

TEST(ProbeReader, OnlyCoverPictureMeansNoVideo) {
    const auto info = with_streams(
        R"({"index":0,"codec_type":"audio","codec_name":"mp3"},
           {"index":1,"codec_type":"video","codec_name":"mjpeg","disposition":{"attached_pic":1}})");
    EXPECT_FALSE(info.video);
    EXPECT_EQ(info.audio.size(), 1u);
}

TEST(ProbeReader, FrameCountFromMemberThenTag) {
    struct Case {
        const char* members;
        std::optional<std::int64_t> expected;
    };
    for (const Case& c : {Case{R"("nb_frames":"250","tags":{"NUMBER_OF_FRAMES":"7"})", 250},
                          Case{R"("tags":{"NUMBER_OF_FRAMES":"129467"})", 129467},
                          Case{R"("tags":{"number_of_frames":"12"})", std::nullopt},  // the key is upper case
                          Case{R"("tags":{"NUMBER_OF_FRAMES":"12.5"})", std::nullopt},
                          Case{R"("nb_frames":"N/A","tags":{"NUMBER_OF_FRAMES":"99"})", 99},
                          Case{R"("tags":{})", std::nullopt}}) {
        const auto info = with_streams(std::string(R"({"codec_type":"video",)") + c.members + "}");
        ASSERT_TRUE(info.video);
        EXPECT_EQ(info.video->nbFrames, c.expected) << c.members;
    }
}

TEST(ProbeReader, TextSubtitleCodecsAreComparedExactly) {
    struct Case {
        const char* codec;
        bool text;
    };
    for (const Case& c : {Case{"srt", true}, Case{"ass", true}, Case{"ssa", true}, Case{"subrip", true},
                          Case{"webvtt", true}, Case{"text", true}, Case{"mov_text", true}, Case{"SRT", false},
                          Case{"hdmv_pgs_subtitle", false}, Case{"dvd_subtitle", false}, Case{"dvb_subtitle", false}}) {
        const auto info = with_streams(std::string(R"({"codec_type":"subtitle","codec_name":")") + c.codec + "\"}");
        ASSERT_EQ(info.subtitles.size(), 1u);
        EXPECT_EQ(info.subtitles[0].text, c.text) << c.codec;
    }
}

TEST(ProbeReader, StreamsWithoutKnownTypeAreIgnored) {
    const auto info = with_streams(
        R"({"index":0,"codec_name":"bin_data","codec_type":"data"}, {"index":1}, 42,
           {"index":2,"codec_type":"unknown"},{"index":3,"codec_type":"AUDIO"},
           {"index":4,"codec_type":"audio","codec_name":"opus"})");
    EXPECT_FALSE(info.video);
    ASSERT_EQ(info.audio.size(), 1u);
    EXPECT_EQ(info.audio[0].index, 4u);
    EXPECT_TRUE(info.subtitles.empty());
}

TEST(ProbeReader, IrregularValuesFallBackToDefaults) {
    const auto info = with_streams(R"({"index":-1,"codec_type":"audio","codec_name":7,"sample_rate":"48k",
                                       "channels":2.5,"bit_rate":"N/A","tags":{"language":["eng"]}})",
                                   R"(,"chapters":[{"start_time":"N/A","end_time":12,"tags":{"title":5}}, "x"])");
    ASSERT_EQ(info.audio.size(), 1u);
    EXPECT_EQ(info.audio[0].index, 0u);
    EXPECT_EQ(info.audio[0].codec, "unknown");
    EXPECT_EQ(info.audio[0].sampleRate, 48000);
    EXPECT_EQ(info.audio[0].channels, 2);
    EXPECT_EQ(info.audio[0].bitRate, std::nullopt);
    EXPECT_EQ(info.audio[0].language, std::nullopt);
    ASSERT_EQ(info.chapters.size(), 2u) << "one chapter per element, readable or not";
    EXPECT_DOUBLE_EQ(info.chapters[0].start, 0.0);
    EXPECT_DOUBLE_EQ(info.chapters[0].end, 12.0);
    EXPECT_EQ(info.chapters[0].title, "");
    EXPECT_DOUBLE_EQ(info.chapters[1].end, 0.0);
}

TEST(ProbeReader, FormatMembersAndFileName) {
    const auto info = parse_probe_report(
        R"({"format":{"format_name":"unknown","duration":"1","size":"-5","tags":{"TITLE":"Upper"}}})",
        "/a/b/c d.mp4");
    ASSERT_TRUE(info);
    EXPECT_EQ(info->container, "");
    EXPECT_EQ(info->size, 0u);
    EXPECT_EQ(info->title, "Upper");
    EXPECT_EQ(info->fileName, "c d.mp4");
    EXPECT_EQ(info->path, "/a/b/c d.mp4");
    EXPECT_FALSE(info->video);
    EXPECT_TRUE(info->audio.empty());
    EXPECT_TRUE(info->chapters.empty());

    const auto folder = parse_probe_report(R"({"format":{"duration":1}})", "/a/b/");
    ASSERT_TRUE(folder);
    EXPECT_EQ(folder->fileName, "");
}

TEST(ProbeReader, MissingDurationFails) {
    const std::string message = "Could not determine the duration of this file.";
    for (const char* report : {R"([{"format":{"duration":"10"}}])", R"({"streams":[]})", R"({"format":{}})",
                               R"({"format":{"duration":"N/A"}})", R"({"format":{"duration":"0.000000"}})",
                               R"({"format":{"duration":-3}})", R"({"format":{"duration":"nan"}})",
                               R"({"format":[]})", "null", "17"}) {
        const auto info = parse_probe_report(report, "m.mkv");
        ASSERT_FALSE(info) << report;
        EXPECT_EQ(info.error(), message) << report;
    }
}

TEST(ProbeReader, NonJsonOutputFailsWithParserDescription) {
    const std::string prefix = "ffprobe output could not be parsed: ";
    for (const char* output : {"", "m.mkv: Invalid data found when processing input", "{\"format\":", "{} {}"}) {
        const auto info = parse_probe_report(output, "m.mkv");
        ASSERT_FALSE(info) << output;
        EXPECT_EQ(info.error().rfind(prefix, 0), 0u) << info.error();
        EXPECT_GT(info.error().size(), prefix.size()) << "the parser's description follows";
    }
}

TEST(ProbeReader, ArgumentsEndWithThePath) {
    EXPECT_EQ(probe_arguments("/m/a b.mkv"),
              (std::vector<std::string>{"-v", "error", "-print_format", "json", "-show_format", "-show_streams",
                                        "-show_chapters", "/m/a b.mkv"}));
}

TEST(ProbeReader, WhatTheEditedFileCarriesOn) {
    // A phone's MP4: the picture turned by its display matrix, track names as
    // handler names (the generic ones are no names), a creation time, a second
    // real picture after the cover.
    constexpr const char* report = R"json({
        "format": {"duration": "12.5", "start_time": "1.400000", "tags": {"creation_time": "2021-06-01T10:20:30.000000Z"}},
        "streams": [
            {"index": 0, "codec_type": "video", "codec_name": "h264",
             "side_data_list": [{"side_data_type": "Display Matrix", "rotation": -90}],
             "tags": {"language": "eng", "handler_name": "VideoHandler"}},
            {"index": 1, "codec_type": "audio", "codec_name": "aac", "sample_fmt": "fltp",
             "disposition": {"default": 1, "forced": 1}, "tags": {"handler_name": "Commentary"}},
            {"index": 2, "codec_type": "video", "codec_name": "mjpeg", "disposition": {"attached_pic": 1}},
            {"index": 3, "codec_type": "video", "codec_name": "h264"}
        ]})json";
    const auto info = parse_probe_report(report, "phone.mp4");
    ASSERT_TRUE(info.has_value()) << info.error();
    EXPECT_EQ(info->video->rotation, -90);
    EXPECT_EQ(info->video->language, "eng");
    EXPECT_EQ(info->video->title, std::nullopt);
    EXPECT_EQ(info->audio[0].title, "Commentary");
    EXPECT_TRUE(info->audio[0].forced);
    EXPECT_EQ(info->audio[0].sampleFormat, "fltp");
    EXPECT_EQ(info->creationTime, "2021-06-01T10:20:30.000000Z");
    EXPECT_EQ(info->startTime, "1.400000");
    EXPECT_EQ(info->otherVideo, std::vector<std::uint64_t>{3});
}

}  // namespace
}  // namespace reel
