// "--frame" and "--clip" through the built program, and the preview helpers
// called directly, checked with ffprobe and ffmpeg.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include <nlohmann/json.hpp>

#include "preview/preview.h"
#include "support/media.h"
#include "support/temp_dir.h"
#include "util/base64.h"

namespace reel {
namespace {

using nlohmann::json;
using test::MovieSpec;

ToolSet tools() {
    auto found = test::test_tools();
    EXPECT_TRUE(found) << found.error();
    return found.value_or(ToolSet{});
}

MovieSpec frame_source(int width, int height) {
    MovieSpec spec;
    spec.duration = 8;
    spec.width = width;
    spec.height = height;
    spec.audio = {{}};
    return spec;
}

TEST(FrameCli, WritesA1280PixelJpeg) {
    struct Case {
        int width, height;
        int expected_height;  // the aspect ratio is kept, rounded to even
    };
    for (const Case& c : {Case{640, 360, 720}, Case{1920, 800, 534}}) {
        SCOPED_TRACE(c.width);
        const auto movie = test::test_movie(frame_source(c.width, c.height));
        ASSERT_TRUE(movie) << movie.error();
        test::TempDir dir;
        const auto jpg = dir / "out.jpg";
        const auto run = test::run_cli({*movie, "--frame", "5", jpg.string()});
        ASSERT_TRUE(run) << run.error();
        ASSERT_EQ(run->exit_code, 0) << run->err;
        EXPECT_EQ(run->out, "wrote " + jpg.string() + "\n");
        EXPECT_EQ(run->err, "");
        const std::string bytes = test::slurp(jpg);
        ASSERT_GE(bytes.size(), 4u);
        EXPECT_EQ(bytes.substr(0, 2), "\xFF\xD8") << "JPEG start-of-image marker";
        const json report = test::ffprobe_report(jpg);
        ASSERT_EQ(report["streams"].size(), 1u);
        EXPECT_EQ(report["streams"][0]["codec_name"], "mjpeg");
        EXPECT_EQ(report["streams"][0]["width"], 1280);
        EXPECT_EQ(report["streams"][0]["height"], c.expected_height);
    }
}

TEST(PreviewCli, PicturesComeInTheShapeTheyAreShown) {
    // A 16:9 broadcast stored 720x576, and a phone's portrait clip stored on its side.
    MovieSpec broadcast = frame_source(720, 576);
    broadcast.sample_aspect = "64:45";
    MovieSpec phone = frame_source(320, 180);
    phone.container = "mp4";
    phone.rotation = 90;
    struct Case {
        MovieSpec spec;
        int frame_height;  // of a 1280-wide frame
        int clip_width;    // of a 360-high clip
    };
    for (const Case& c : {Case{broadcast, 720, 640}, Case{phone, 2276, 202}}) {
        const auto movie = test::test_movie(c.spec);
        ASSERT_TRUE(movie) << movie.error();
        test::TempDir dir;
        const auto jpg = dir / "f.jpg";
        const auto mp4 = dir / "c.mp4";
        for (const auto& args : {std::vector<std::string>{*movie, "--frame", "2", jpg.string()},
                                 std::vector<std::string>{*movie, "--clip", "1-3", mp4.string()}}) {
            const auto run = test::run_cli(args);
            ASSERT_TRUE(run && run->exit_code == 0) << (run ? run->err : run.error());
        }
        const json frame = test::ffprobe_report(jpg)["streams"][0];
        EXPECT_EQ(frame["width"], 1280);
        EXPECT_EQ(frame["height"], c.frame_height);
        const json clip = test::ffprobe_report(mp4)["streams"][0];
        EXPECT_EQ(clip["width"], c.clip_width);
        EXPECT_EQ(clip["height"], 360);
    }
}

TEST(FrameCli, ReplacesAnExistingFile) {
    const auto movie = test::test_movie(frame_source(640, 360));
    ASSERT_TRUE(movie) << movie.error();
    test::TempDir dir;
    const auto jpg = dir.write("out.jpg", std::string(100000, 'x'));
    const auto run = test::run_cli({*movie, "--frame", "0:02.5", jpg.string()});
    ASSERT_TRUE(run && run->exit_code == 0) << (run ? run->err : run.error());
    const std::string bytes = test::slurp(jpg);
    EXPECT_EQ(bytes.substr(0, 2), "\xFF\xD8");
    EXPECT_EQ(bytes.find("xxxxxxxx"), std::string::npos) << "old content left behind";
}

TEST(FrameCli, TimePastTheEndProducesNoFrame) {
    const auto movie = test::test_movie(frame_source(640, 360));
    ASSERT_TRUE(movie) << movie.error();
    test::TempDir dir;
    const auto jpg = dir / "late.jpg";
    const auto run = test::run_cli({*movie, "--frame", "1:00", jpg.string()});
    ASSERT_TRUE(run) << run.error();
    EXPECT_EQ(run->exit_code, 1);
    EXPECT_EQ(run->out, "");
    EXPECT_EQ(run->err, "error: ffmpeg produced no frame at that position\n");
    EXPECT_FALSE(std::filesystem::exists(jpg));
}

TEST(FrameCli, UnwritableTargetGivesTheSystemsMessage) {
    const auto movie = test::test_movie(frame_source(640, 360));
    ASSERT_TRUE(movie) << movie.error();
    const auto run = test::run_cli({*movie, "--frame", "1", "/nonexistent-folder/out.jpg"});
    ASSERT_TRUE(run) << run.error();
    EXPECT_EQ(run->exit_code, 1);
    EXPECT_EQ(run->err, "error: No such file or directory\n");
}

TEST(GrabFrame, FastSeekAndSmallWidth) {
    const auto movie = test::test_movie(frame_source(640, 360));
    ASSERT_TRUE(movie) << movie.error();
    for (bool exact : {true, false}) {
        const auto encoded = grab_frame(tools(), *movie, 3.3, 10, exact);
        ASSERT_TRUE(encoded) << encoded.error();
        const auto bytes = base64_decode(*encoded);
        ASSERT_TRUE(bytes);
        test::TempDir dir;
        const auto jpg = dir.write("f.jpg", *bytes);
        const json report = test::ffprobe_report(jpg);
        EXPECT_EQ(report["streams"][0]["width"], 64) << "width 10 is raised to 64";
        EXPECT_EQ(report["streams"][0]["height"], 36);
    }
    const auto missing = grab_frame(tools(), "/nonexistent/movie.mkv", 1, 1280, true);
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().rfind(tools().ffmpeg + " failed:\n", 0), 0u) << missing.error();
}

// Times of the frames whose average brightness is that of white.
std::vector<double> white_frame_times(const std::filesystem::path& file) {
    const auto run = test::run_program(tools().ffprobe, {"-v", "error", "-f", "lavfi", "-i",
                                                         "movie=" + file.string() + ",signalstats", "-show_entries",
                                                         "frame=pts_time:frame_tags=lavfi.signalstats.YAVG", "-of",
                                                         "csv=p=0"});
    EXPECT_TRUE(run && run->exit_code == 0) << (run ? run->err : run.error());
    std::vector<double> times;
    std::istringstream lines(run ? run->out : "");
    for (std::string line; std::getline(lines, line);) {
        const auto comma = line.find(',');
        if (comma != std::string::npos && std::stod(line.substr(comma + 1)) > 200)
            times.push_back(std::stod(line.substr(0, comma)));
    }
    return times;
}

// 75 s so that the range 1:00-1:10 lies inside, with flashes to recognise the
// range by; the second audio track is the default one and 5.1, so the proxy's
// stereo comes from the down-mix.
MovieSpec clip_source() {
    MovieSpec spec;
    spec.flashes = {60, 65};
    spec.duration = 75;
    spec.width = 854;
    spec.height = 480;
    spec.audio = {{.codec = "aac", .channels = 1, .layout = "mono", .language = "eng"},
                  {.codec = "ac3", .channels = 6, .layout = "5.1(side)", .language = "ger", .is_default = true}};
    spec.subtitles = {{.language = "eng"}};
    return spec;
}

TEST(ClipCli, WritesAFragmentedProxyOfTheRange) {
    const auto movie = test::test_movie(clip_source());
    ASSERT_TRUE(movie) << movie.error();
    test::TempDir dir;
    const auto mp4 = dir / "out.mp4";
    const auto run = test::run_cli({*movie, "--clip", "1:00-1:10", mp4.string()});
    ASSERT_TRUE(run) << run.error();
    ASSERT_EQ(run->exit_code, 0) << run->err;
    EXPECT_EQ(run->out, "wrote " + mp4.string() + "\n");

    const json report = test::ffprobe_report(mp4);
    EXPECT_NE(report["format"]["format_name"].get<std::string>().find("mp4"), std::string::npos);
    EXPECT_NEAR(std::stod(report["format"]["duration"].get<std::string>()), 10.0, 0.3);
    const json& streams = report["streams"];
    ASSERT_EQ(streams.size(), 2u) << "video and one audio track; subtitles dropped";
    EXPECT_EQ(streams[0]["codec_name"], "h264");
    EXPECT_EQ(streams[0]["height"], 360);
    EXPECT_EQ(streams[0]["width"], 640);
    EXPECT_EQ(streams[1]["codec_name"], "aac");
    EXPECT_EQ(streams[1]["channels"], 2);

    // Fragmented: a movie box without samples, then movie fragments.
    const std::string bytes = test::slurp(mp4);
    EXPECT_NE(bytes.find("mvex"), std::string::npos);
    EXPECT_NE(bytes.find("moof"), std::string::npos);

    // The proxy decodes cleanly from start to end.
    const auto decoded = test::run_program(tools().ffmpeg, {"-v", "error", "-i", mp4.string(), "-f", "null", "-"});
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->exit_code, 0);
    EXPECT_EQ(decoded->err, "");

    // It shows the requested range: the source flashes at 1:00 and 1:05. (The
    // container delays all streams by the AAC priming, about 21 ms, and ffmpeg
    // may repeat the first picture, hence the small windows.)
    const auto flashes = white_frame_times(mp4);
    ASSERT_FALSE(flashes.empty());
    EXPECT_LT(flashes.front(), 0.1);
    EXPECT_GT(flashes.back(), 5.0);
    EXPECT_LT(flashes.back(), 5.1);
    for (double t : flashes) EXPECT_TRUE(t < 0.1 || (t > 5.0 && t < 5.1)) << t;
}

TEST(ClipCli, WithoutAudioAndWithShortLength) {
    MovieSpec spec;
    spec.duration = 6;
    spec.width = 320;
    spec.height = 240;
    const auto movie = test::test_movie(spec);
    ASSERT_TRUE(movie) << movie.error();
    const auto encoded = make_proxy_clip(tools(), *movie, 2, 0.1, 100);
    ASSERT_TRUE(encoded) << encoded.error();
    const auto bytes = base64_decode(*encoded);
    ASSERT_TRUE(bytes);
    test::TempDir dir;
    const json report = test::ffprobe_report(dir.write("c.mp4", *bytes));
    ASSERT_EQ(report["streams"].size(), 1u);
    EXPECT_EQ(report["streams"][0]["height"], 144) << "height 100 is raised to 144";
    EXPECT_NEAR(std::stod(report["format"]["duration"].get<std::string>()), 0.5, 0.1) << "length raised to 0.5 s";
}

TEST(ClipCli, ProbeFailureIsReturnedAsItIs) {
    test::TempDir dir;
    const auto text = dir.write("x.mkv", "not a movie");
    const auto clip = make_proxy_clip(tools(), text.string(), 0, 5, 360);
    ASSERT_FALSE(clip);
    EXPECT_EQ(clip.error().rfind("ffprobe exited with exit code: 1:\n", 0), 0u) << clip.error();
}

}  // namespace
}  // namespace reel
