// Tool runs against the installed ffmpeg, ffprobe and mkvmerge: discovery on
// this machine, live progress from both tools, and their real failures.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/temp_dir.h"
#include "tools/run.h"
#include "util/text.h"

namespace reel {
namespace {

namespace fs = std::filesystem;

struct RealTools : ::testing::Test {
    test::TempDir dir;
    RunContext ctx;
    std::vector<double> percents;  // of each tool run
    std::vector<std::string> logged;
    ToolProgress progress = [this](double fraction) { percents.push_back(fraction * 100.0); };

    void SetUp() override {
        auto tools = locate_tools(ToolLocations{});
        ASSERT_TRUE(tools.has_value()) << tools.error();
        ASSERT_TRUE(tools->mkvmerge.has_value());
        ctx.tools = *tools;
        ctx.sink.log = [this](const std::string& line) { logged.push_back(line); };
    }

    // 20 s of 1280x720 testsrc2 in lossless H.264 (about 35 MB) with a sine
    // tone in AAC, a keyframe every 2 s.
    std::string make_movie() {
        const auto movie = (dir / "movie.mkv").string();
        const auto made = run_ffmpeg(
            ctx,
            {"-hide_banner", "-loglevel", "error", "-y", "-progress", "pipe:1", "-nostats", "-f", "lavfi", "-i",
             "testsrc2=size=1280x720:rate=25:duration=20", "-f", "lavfi", "-i", "sine=frequency=440:duration=20",
             "-c:v", "libx264", "-preset", "ultrafast", "-qp", "0", "-g", "50", "-keyint_min", "50", "-sc_threshold",
             "0", "-pix_fmt", "yuv420p", "-c:a", "aac", "-shortest", movie},
            500, progress);
        EXPECT_TRUE(made.has_value()) << made.error();
        return movie;
    }
};

bool strictly_increasing(const std::vector<double>& values) {
    for (std::size_t i = 1; i < values.size(); ++i)
        if (!(values[i] > values[i - 1])) return false;
    return true;
}

TEST_F(RealTools, LocatedToolsAreRunnable) {
    for (const auto& path : {ctx.tools.ffmpeg, ctx.tools.ffprobe, *ctx.tools.mkvmerge}) {
        EXPECT_TRUE(runnable_file(path)) << path;
        EXPECT_TRUE(fs::path(path).is_absolute()) << path;
    }
    const auto version = run_capture(*ctx.tools.mkvmerge, {"--version"});
    ASSERT_TRUE(version.has_value()) << version.error();
    EXPECT_TRUE(starts_with(*version, "mkvmerge v")) << *version;
}

TEST_F(RealTools, FfmpegThenMkvmergeReportProgress) {
    const auto movie = make_movie();
    ASSERT_FALSE(HasFailure());
    // ffmpeg's frame counter against the 500 frames: several steps ending at 100.
    EXPECT_GE(percents.size(), 2u);
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
    ASSERT_FALSE(percents.empty());
    EXPECT_DOUBLE_EQ(percents.back(), 100.0);
    ASSERT_FALSE(logged.empty());
    EXPECT_TRUE(starts_with(logged[0], "> ffmpeg -hide_banner -loglevel error -y -progress pipe:1 -nostats"));

    // mkvmerge prints its progress at most about twice a second, and on a pipe
    // ends all but the last update with "\r". Compressing the video track keeps
    // it busy for a few seconds, so that several updates come out.
    percents.clear();
    logged.clear();
    const auto parts = (dir / "part.mkv").string();
    const auto split = run_mkvmerge(
        ctx, {"-o", parts, "--compression", "0:zlib", "--split", "parts:00:00:00-00:00:06,00:00:10-00:00:20", movie},
        progress);
    ASSERT_TRUE(split.has_value()) << split.error();
    EXPECT_GE(percents.size(), 3u);
    EXPECT_TRUE(strictly_increasing(percents));
    ASSERT_FALSE(percents.empty());
    EXPECT_GE(percents.front(), 0.0);
    EXPECT_DOUBLE_EQ(percents.back(), 100.0);
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_TRUE(starts_with(logged[0], "> mkvmerge -o " + parts + " --compression 0:zlib --split parts:"));

    // The pieces are cut at the keyframes of 0 s, 6 s, 10 s and 20 s.
    for (const auto& [name, seconds] : {std::pair{"part-001.mkv", 6.0}, std::pair{"part-002.mkv", 10.0}}) {
        const auto duration = run_capture(ctx.tools.ffprobe, {"-v", "error", "-show_entries", "format=duration",
                                                              "-of", "csv=p=0", (dir / name).string()});
        ASSERT_TRUE(duration.has_value()) << duration.error();
        EXPECT_NEAR(std::stod(*duration), seconds, 0.1) << name;
    }
}

TEST_F(RealTools, RealFailuresCarryTheToolsWords) {
    const auto missing = (dir / "missing.mkv").string();
    const auto probed = run_capture(ctx.tools.ffprobe, {"-v", "error", missing});
    ASSERT_FALSE(probed.has_value());
    EXPECT_TRUE(starts_with(probed.error(), "ffprobe exited with exit code: 1:\n")) << probed.error();
    EXPECT_TRUE(contains(probed.error(), "No such file or directory")) << probed.error();

    const auto converted = run_ffmpeg(ctx, {"-hide_banner", "-loglevel", "error", "-i", missing, "out.mkv"}, 10);
    ASSERT_FALSE(converted.has_value());
    EXPECT_TRUE(starts_with(converted.error(), "ffmpeg exited with exit code: 1\n")) << converted.error();
    EXPECT_TRUE(contains(converted.error(), "No such file or directory")) << converted.error();
    // The error line also went to the log, after the command line.
    ASSERT_EQ(logged.size(), 2u);
    EXPECT_TRUE(contains(logged[1], "No such file or directory"));

    const auto merged = run_mkvmerge(ctx, {"-o", (dir / "x.mkv").string(), missing});
    ASSERT_FALSE(merged.has_value());
    EXPECT_TRUE(starts_with(merged.error(), "mkvmerge exited with exit code: 2\n")) << merged.error();
    // mkvmerge writes its errors to standard output; the line handler logs them.
    EXPECT_TRUE(starts_with(logged.back(), "Error: ")) << logged.back();
}

}  // namespace
}  // namespace reel
