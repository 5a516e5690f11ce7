// The test-media helper itself: generated movies hold what their MovieSpec says, as
// ffprobe sees it, and the hand-written PGS stream is one the tools accept.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include <nlohmann/json.hpp>

#include "support/media.h"

namespace reel::test {
namespace {

using nlohmann::json;

TEST(MediaHelper, SpecTextNamesEveryField) {
    MovieSpec a;
    MovieSpec b = a;
    EXPECT_EQ(spec_text(a), spec_text(b));
    b.audio.push_back({});
    EXPECT_NE(spec_text(a), spec_text(b));
    MovieSpec c = a;
    c.subtitles.push_back({.cues = {{1, 2, "x"}}});
    MovieSpec d = a;
    d.subtitles.push_back({.cues = {{1, 2, "y"}}});
    EXPECT_NE(spec_text(c), spec_text(d));
    MovieSpec e = a;
    e.title = "";
    EXPECT_NE(spec_text(a), spec_text(e)) << "an empty title is not an absent one";
}

TEST(MediaHelper, StandardCuesAndFlashGrid) {
    const auto cues = standard_cues(6);
    ASSERT_EQ(cues.size(), 3u);
    EXPECT_EQ(cues[0].start, 0.5);
    EXPECT_EQ(cues[2].end, 5.5);
    EXPECT_EQ(cues[1].text, "Line 2");
    EXPECT_EQ(standard_cues(1).size(), 1u);

    MovieSpec spec;
    spec.fps_num = 30000;
    spec.fps_den = 1001;
    spec.flashes = {1.0, 2.5};
    const auto instants = flash_instants(spec);
    ASSERT_EQ(instants.size(), 2u);
    EXPECT_DOUBLE_EQ(instants[0], 30 * 1001 / 30000.0);
    EXPECT_DOUBLE_EQ(instants[1], 75 * 1001 / 30000.0);
    EXPECT_EQ(video_frame_count(spec), 300);
}

TEST(MediaHelper, PgsBytesAreWellFormedSegments) {
    const std::string bytes = pgs_bytes({{1, 2, ""}, {3, 4, ""}}, 640, 360);
    // Walk the segments: each is "PG", two 32-bit times, type, 16-bit size.
    std::vector<int> types;
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        ASSERT_LE(pos + 13, bytes.size());
        ASSERT_EQ(bytes.substr(pos, 2), "PG");
        types.push_back(static_cast<unsigned char>(bytes[pos + 10]));
        const std::size_t size = (static_cast<unsigned char>(bytes[pos + 11]) << 8) |
                                 static_cast<unsigned char>(bytes[pos + 12]);
        pos += 13 + size;
    }
    EXPECT_EQ(pos, bytes.size());
    const std::vector<int> one_cue{0x16, 0x17, 0x14, 0x15, 0x80, 0x16, 0x17, 0x80};
    std::vector<int> expected = one_cue;
    expected.insert(expected.end(), one_cue.begin(), one_cue.end());
    EXPECT_EQ(types, expected);
    // The first presentation time is 1 s in 90 kHz ticks.
    EXPECT_EQ(bytes.substr(2, 4), std::string("\x00\x01\x5f\x90", 4));
}

TEST(MediaHelper, MatroskaWithEveryKindOfTrack) {
    MovieSpec spec;
    spec.duration = 6;
    spec.width = 320;
    spec.height = 180;
    spec.audio = {{.language = "eng", .title = "Main", .is_default = true},
                  {.codec = "ac3", .channels = 6, .layout = "5.1(side)", .language = "ger"}};
    spec.subtitles = {{.format = SubtitleFormat::Srt, .language = "eng"},
                      {.format = SubtitleFormat::Ass, .language = "fre", .forced = true}};
    spec.image_subtitles = {{.language = "jpn", .title = "Pictures"}};
    spec.chapters = {{0, "One"}, {3, "Two"}};
    spec.title = "Helper & Co";
    const auto movie = test_movie(spec);
    ASSERT_TRUE(movie) << movie.error();
    EXPECT_EQ(*test_movie(spec), *movie) << "second request is served from the cache";

    const json report = ffprobe_report(*movie);
    const json& streams = report["streams"];
    ASSERT_EQ(streams.size(), 6u);
    const std::vector<std::string> codecs{"h264", "aac", "ac3", "subrip", "ass", "hdmv_pgs_subtitle"};
    for (std::size_t i = 0; i < codecs.size(); ++i) EXPECT_EQ(streams[i]["codec_name"], codecs[i]) << i;
    EXPECT_EQ(streams[0]["tags"]["NUMBER_OF_FRAMES"], "150");
    EXPECT_EQ(streams[1]["tags"]["language"], "eng");
    EXPECT_EQ(streams[1]["tags"]["title"], "Main");
    EXPECT_EQ(streams[1]["disposition"]["default"], 1);
    EXPECT_EQ(streams[2]["channels"], 6);
    EXPECT_EQ(streams[2]["disposition"]["default"], 0);
    EXPECT_EQ(streams[4]["disposition"]["forced"], 1);
    EXPECT_EQ(streams[5]["tags"]["title"], "Pictures");
    EXPECT_EQ(report["chapters"].size(), 2u);
    EXPECT_EQ(report["format"]["tags"]["title"], "Helper & Co");

    // The PGS track decodes: ffmpeg renders its pictures without complaint.
    auto tools = test_tools();
    auto decoded = run_program(tools->ffmpeg, {"-v", "error", "-i", *movie, "-filter_complex", "[0:v][0:s:2]overlay",
                                               "-f", "null", "-"});
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->exit_code, 0);
    EXPECT_EQ(decoded->err, "");
}

TEST(MediaHelper, Mp4WithSubtitlesAndChapters) {
    MovieSpec spec;
    spec.duration = 4;
    spec.width = 320;
    spec.height = 240;
    spec.container = "mp4";
    spec.audio = {{.language = "spa", .is_default = true}};
    spec.subtitles = {{.language = "eng"}};
    spec.chapters = {{0, "A"}, {2, "B"}};
    const auto movie = test_movie(spec);
    ASSERT_TRUE(movie) << movie.error();
    const json report = ffprobe_report(*movie);
    // ffmpeg adds a QuickTime chapter track, which ffprobe lists as data.
    ASSERT_EQ(report["streams"].size(), 4u);
    EXPECT_EQ(report["streams"][2]["codec_name"], "mov_text");
    EXPECT_EQ(report["streams"][3]["codec_type"], "data");
    EXPECT_EQ(report["streams"][1]["tags"]["language"], "spa");
    ASSERT_EQ(report["chapters"].size(), 2u);
    EXPECT_EQ(report["chapters"][1]["tags"]["title"], "B");
}

// (time, value) of every frame of a lavfi analysis graph run through ffprobe.
std::vector<std::pair<double, double>> frame_values(const std::string& graph, const std::string& tag) {
    auto run = run_program(test_tools()->ffprobe, {"-v", "error", "-f", "lavfi", "-i", graph, "-show_entries",
                                                   "frame=pts_time:frame_tags=" + tag, "-of", "csv=p=0"});
    EXPECT_TRUE(run && run->exit_code == 0) << (run ? run->err : run.error());
    std::vector<std::pair<double, double>> values;
    std::istringstream lines(run ? run->out : "");
    for (std::string line; std::getline(lines, line);) {
        const auto comma = line.find(',');
        if (comma == std::string::npos || line.substr(comma + 1).starts_with("-inf")) continue;
        values.emplace_back(std::stod(line.substr(0, comma)), std::stod(line.substr(comma + 1)));
    }
    return values;
}

TEST(MediaHelper, FlashesAndBeepsCoincide) {
    MovieSpec spec;
    spec.duration = 5;
    spec.width = 160;
    spec.height = 90;
    spec.flashes = {1.0, 3.5};
    spec.audio = {{}};
    const auto movie = test_movie(spec);
    ASSERT_TRUE(movie) << movie.error();

    std::vector<double> white;
    for (auto [t, luma] : frame_values("movie=" + *movie + ",signalstats", "lavfi.signalstats.YAVG"))
        if (luma > 200) white.push_back(t);
    ASSERT_EQ(white.size(), 2u);
    // 5 ms slices of sound: the first loud slice of each beep.
    std::vector<double> onsets;
    double last_loud = -1;
    for (auto [t, rms] : frame_values("amovie=" + *movie + ",asetnsamples=n=240,astats=metadata=1:reset=1",
                                      "lavfi.astats.Overall.RMS_level")) {
        if (rms < -30) continue;
        if (t - last_loud > 0.5) onsets.push_back(t);
        last_loud = t;
    }
    ASSERT_EQ(onsets.size(), 2u);
    const auto instants = flash_instants(spec);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_NEAR(white[i], instants[i], 0.03) << "at most the priming delay later";
        EXPECT_NEAR(onsets[i], white[i], 0.006) << "beep and flash together";
    }
}

TEST(MediaHelper, OtherVideoCodecsAndAudioOnly) {
    for (const char* codec : {"hevc", "mpeg4", "vp9"}) {
        MovieSpec spec;
        spec.duration = 2;
        spec.width = 160;
        spec.height = 120;
        spec.video_codec = codec;
        spec.keyframe_interval = 25;
        const auto movie = test_movie(spec);
        ASSERT_TRUE(movie) << movie.error();
        EXPECT_EQ(ffprobe_report(*movie)["streams"][0]["codec_name"], codec);
    }
    MovieSpec sound;
    sound.video_codec = "";
    sound.duration = 2;
    sound.audio = {{.codec = "opus"}};
    const auto movie = test_movie(sound);
    ASSERT_TRUE(movie) << movie.error();
    const json report = ffprobe_report(*movie);
    ASSERT_EQ(report["streams"].size(), 1u);
    EXPECT_EQ(report["streams"][0]["codec_type"], "audio");
}

}  // namespace
}  // namespace reel::test
