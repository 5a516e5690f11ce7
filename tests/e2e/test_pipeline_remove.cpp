// Remove edits on an H.264/AAC Matroska movie with a keyframe every 2 s: the
// kept video is copied bit for bit, the sound stays in sync at every cut.
#include <algorithm>
#include <cmath>

#include <gtest/gtest.h>

#include "support/temp_dir.h"
#include "probe/probe.h"
#include "test_pipeline_support.h"
#include "util/files.h"

namespace reel {
namespace {

using e2e::edit;
using e2e::inside;

TEST(PipelineRemove, KeepsEveryOtherFrameBitIdenticalAndReportsSnappedTimes) {
    const auto spec = e2e::small_movie(30);
    const auto source = e2e::movie(spec);
    test::TempDir dir;
    const auto output = dir / "out.mkv";
    // Given out of order: the report lists remove edits by start.
    auto run = e2e::run_edits(source, output,
                              {edit("arg1", EditAction::Remove, 15.1, 19.2), edit("arg2", EditAction::Remove, 4.3, 8.9)});
    ASSERT_TRUE(run.report.has_value()) << run.report.error();
    const RunReport& report = *run.report;

    const auto source_frames = e2e::frame_hashes(source, "0:v:0");
    const auto times = e2e::video_frame_times(source);
    ASSERT_EQ(source_frames.size(), 750u);
    ASSERT_EQ(times.size(), 750u);
    // Keyframes are frames 0, 50, 100, ...: 4.3 snaps to 4, 8.9 to 8, 15.1 to 16, 19.2 to 20.
    const double t0 = times[0];
    ASSERT_EQ(report.applied.size(), 2u);
    const AppliedEdit& first = report.applied[0];
    const AppliedEdit& second = report.applied[1];
    EXPECT_EQ(first.id, "arg2");
    EXPECT_EQ(first.action, EditAction::Remove);
    EXPECT_DOUBLE_EQ(first.requestedStart, 4.3);
    EXPECT_DOUBLE_EQ(first.requestedEnd, 8.9);
    EXPECT_NEAR(first.actualStart, t0 + 4, 1e-6);
    EXPECT_NEAR(first.actualEnd, t0 + 8, 1e-6);
    EXPECT_FALSE(first.cardSeconds.has_value());
    EXPECT_EQ(second.id, "arg1");
    EXPECT_DOUBLE_EQ(second.requestedStart, 15.1);
    EXPECT_DOUBLE_EQ(second.requestedEnd, 19.2);
    EXPECT_NEAR(second.actualStart, t0 + 16, 1e-6);
    EXPECT_NEAR(second.actualEnd, t0 + 20, 1e-6);
    EXPECT_DOUBLE_EQ(report.secondsEncoded, 0);
    EXPECT_TRUE(report.warnings.empty());

    const double removed = (first.actualEnd - first.actualStart) + (second.actualEnd - second.actualStart);
    EXPECT_NEAR(report.duration, report.originalDuration - removed, 1.0 / 25);
    // The length is read from the file's header: it must be the one ffprobe sees.
    const auto written = probe_media(e2e::tools(), path_text(output));
    ASSERT_TRUE(written.has_value()) << written.error();
    EXPECT_NEAR(report.duration, written->duration, 1e-6);

    std::vector<std::string> kept;
    for (std::size_t n = 0; n < source_frames.size(); ++n) {
        if (!inside(times[n], first.actualStart, first.actualEnd) &&
            !inside(times[n], second.actualStart, second.actualEnd)) {
            kept.push_back(source_frames[n].md5);
        }
    }
    ASSERT_EQ(kept.size(), 550u);
    EXPECT_EQ(e2e::hashes_only(e2e::frame_hashes(path_text(output), "0:v:0")), kept);
    EXPECT_EQ(e2e::decode_errors(path_text(output)), "");
    EXPECT_TRUE(e2e::work_folders(dir.path()).empty());
    // Removes alone are cut by the final mux as it writes the file: one
    // mkvmerge run reads the movie, nothing splits it into pieces first, the
    // pictures before the cuts are read from the file without a listing, and
    // the kept sound is copied without ffmpeg's cut.
    const auto runs = [&run](std::string_view command) {
        return std::ranges::count_if(run.log, [command](const std::string& line) { return line.find(command) != std::string::npos; });
    };
    EXPECT_EQ(runs("mkvmerge -o"), 1);
    EXPECT_EQ(runs("split before the mux"), 0);
    EXPECT_EQ(runs("-read_intervals"), 0);
    EXPECT_EQ(runs("-f segment"), 0);
}

// Every flash (one white frame) is paired with a beep starting at the same instant.
void expect_in_sync(const std::string& file, std::size_t expected_pairs) {
    const auto flashes = e2e::bright_frames(file);
    const auto onsets = e2e::sound_onsets(file);
    const auto times = e2e::video_frame_times(file);
    ASSERT_EQ(flashes.size(), expected_pairs) << file;
    ASSERT_EQ(onsets.size(), expected_pairs) << file;
    for (std::size_t i = 0; i < flashes.size(); ++i) {
        ASSERT_LT(flashes[i], static_cast<std::int64_t>(times.size()));
        const double flash = times[static_cast<std::size_t>(flashes[i])];
        EXPECT_LT(std::fabs(flash - onsets[i]), 1.0 / 25) << "flash " << i << " at " << flash << ", beep at "
                                                           << onsets[i];
    }
}

TEST(PipelineRemove, SoundStaysInSyncAtEveryCut) {
    auto spec = e2e::small_movie(30);
    spec.flashes = {2.5, 6.1, 9.3, 13.7, 17.5, 22.1, 27.3};
    const auto source = e2e::movie(spec);
    expect_in_sync(source, 7);

    test::TempDir dir;
    const auto output = dir / "out.mkv";
    auto run = e2e::run_edits(source, output,
                              {edit("arg1", EditAction::Remove, 4.3, 8.9), edit("arg2", EditAction::Remove, 15.1, 19.2)});
    ASSERT_TRUE(run.report.has_value()) << run.report.error();
    // The flashes at 6.1 and 17.5 were cut out with their beeps.
    expect_in_sync(path_text(output), 5);
}

// A file joined from recordings: each part's picture starts after the sound's
// encoder delay, which leaves a gap of some 30 ms in the picture's times at
// every join. A cut on the keyframe after such a gap is not left to the mux,
// which would glue each track on by its own reckoning: the picture is split
// first, and each piece goes where its first picture belongs, not 30 ms
// earlier for every gap cut so far. Cards and exact stretches next to a gap
// take their places the same way.
TEST(PipelineRemove, AGapInThePictureBeforeACutKeepsTheSoundInSync) {
    auto spec = e2e::small_movie(10);
    spec.flashes = {2.5, 7.5};
    const auto clip = e2e::movie(spec);
    test::TempDir dir;
    const auto joined = path_text(dir / "joined.mkv");
    const auto merged = test::run_program(*e2e::tools().mkvmerge, {"-q", "-o", joined, clip, "+", clip, "+", clip});
    ASSERT_TRUE(merged && merged->exit_code <= 1);
    struct Case {
        const char* name;
        std::vector<Edit> edits;
        bool exact;
        std::size_t pairs;
    };
    const Case cases[] = {
        // Each removal ends on the first keyframe of the next recording.
        {"remove", {edit("a", EditAction::Remove, 5.5, 10.01), edit("b", EditAction::Remove, 15.5, 20.04)}, false, 4},
        {"card", {edit("c", EditAction::Replace, 5.5, 10.01, "Card", 3), edit("r", EditAction::Remove, 15.5, 20.04)},
         false, 4},
        {"exact", {edit("a", EditAction::Remove, 9.3, 10.3), edit("c", EditAction::Replace, 19.1, 20.6, "Card", 3)}, true,
         6},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto output = dir / (std::string(c.name) + ".mkv");
        auto run = e2e::run_edits(joined, output, c.edits, "mkv", false, c.exact);
        ASSERT_TRUE(run.report.has_value()) << run.report.error();
        if (std::string_view(c.name) == "remove") {
            const auto said = [&run](std::string_view text) {
                return std::ranges::count_if(run.log, [text](const std::string& line) { return line.find(text) != std::string::npos; });
            };
            // Split by the run itself, from the gap's own file.
            EXPECT_EQ(said("the picture is split before the mux"), 1);
            EXPECT_EQ(said("mkvmerge splits the picture"), 0);
        }
        expect_in_sync(path_text(output), c.pairs);
    }
}

}  // namespace
}  // namespace reel
