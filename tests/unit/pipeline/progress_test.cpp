#include "pipeline/progress.h"

#include <cmath>
#include <fstream>

#include <gtest/gtest.h>

#include "pipeline/pipeline.h"
#include "support/temp_dir.h"

namespace reel {
namespace {

struct Recorder {
    std::vector<ProgressEvent> events;
    RunContext ctx;
    Recorder() {
        ctx.sink.progress = [this](const ProgressEvent& e) { events.push_back(e); };
    }
};

TEST(BeginStage, AnnouncesTheStageAtItsBase) {
    Recorder r;
    begin_stage(r.ctx, stages::split);
    ASSERT_EQ(r.events.size(), 1u);
    EXPECT_EQ(r.events[0].stage, "split");
    EXPECT_EQ(r.events[0].message, "Splitting the movie at the cut points (stream copy)");
    EXPECT_DOUBLE_EQ(r.events[0].percent, 40.0);
    EXPECT_EQ(r.ctx.stage, "split");
    EXPECT_DOUBLE_EQ(r.ctx.base, 0.40);
    EXPECT_DOUBLE_EQ(r.ctx.span, 0.25);
}

TEST(ReportStageProgress, ClampsTheFraction) {
    Recorder r;
    begin_stage(r.ctx, stages::cards);
    report_stage_progress(r.ctx, 0.5, "Rendering title cards");
    report_stage_progress(r.ctx, 7, "Rendering title cards");
    ASSERT_EQ(r.events.size(), 3u);
    EXPECT_EQ(r.events[1].stage, "cards");
    EXPECT_NEAR(r.events[1].percent, 71.0, 1e-9);
    EXPECT_NEAR(r.events[2].percent, 77.0, 1e-9);
}

TEST(ProgressGuard, ToolEventsStayInTheirSliceAndNothingStepsBack) {
    ProgressGuard guard;
    EXPECT_DOUBLE_EQ(guard.admit(13, true, 0), 13);
    EXPECT_DOUBLE_EQ(guard.admit(20, false, 21.4), 20);
    EXPECT_DOUBLE_EQ(guard.admit(30, false, 21.4), 21.4);  // overshooting frame count
    EXPECT_DOUBLE_EQ(guard.admit(13, false, 25), 21.4);    // a second run restarting at the base
    EXPECT_DOUBLE_EQ(guard.admit(NAN, false, 25), 21.4);
    EXPECT_DOUBLE_EQ(guard.admit(25, true, 0), 25);        // announcements are not cut to a slice
    EXPECT_DOUBLE_EQ(guard.admit(24.9, true, 0), 25);
}

TEST(GuardedProgress, SlicesAndTheGuardShapeWhatTheFrontEndSees) {
    Recorder r;
    {
        GuardedProgress guarded(r.ctx);
        begin_stage(r.ctx, stages::mute);  // 13 .. 25
        {
            StageSlice slice(r.ctx, 0, 0.7);
            EXPECT_NEAR(r.ctx.base, 0.13, 1e-12);
            EXPECT_NEAR(r.ctx.span, 0.084, 1e-12);
            r.ctx.emit(ProgressEvent{"mute", "", 30.0});  // past the split's slice
        }
        EXPECT_DOUBLE_EQ(r.ctx.base, 0.13);
        EXPECT_DOUBLE_EQ(r.ctx.span, 0.12);
        {
            StageSlice slice(r.ctx, 0.7, 1.0);
            r.ctx.emit(ProgressEvent{"mute", "", (r.ctx.base + r.ctx.span * 0.5) * 100});
        }
        begin_stage(r.ctx, stages::overlay);
    }
    ASSERT_EQ(r.events.size(), 4u);
    EXPECT_NEAR(r.events[1].percent, 21.4, 1e-9);
    EXPECT_NEAR(r.events[2].percent, 23.2, 1e-9);
    EXPECT_NEAR(r.events[3].percent, 25.0, 1e-9);
    // The guard is gone with its scope: events pass unchanged again.
    r.ctx.emit(ProgressEvent{"x", "", 1.0});
    EXPECT_DOUBLE_EQ(r.events.back().percent, 1.0);
}

TEST(OutputOverwritesMovie, CatchesOtherSpellingsAndLinks) {
    test::TempDir dir;
    const auto movie = dir.write("films/movie.mkv", "x");
    EXPECT_TRUE(output_overwrites_movie(movie, movie));
    EXPECT_TRUE(output_overwrites_movie(dir.path() / "films/../films/./movie.mkv", movie));
    std::filesystem::create_symlink(movie, dir / "link.mkv");
    EXPECT_TRUE(output_overwrites_movie(dir / "link.mkv", movie));
    std::filesystem::create_directory_symlink(dir / "films", dir / "alias");
    EXPECT_TRUE(output_overwrites_movie(dir / "alias/movie.mkv", movie));
    EXPECT_FALSE(output_overwrites_movie(dir / "films/movie (edited).mkv", movie));
    const auto copy = dir.write("films/copy.mkv", "x");
    EXPECT_FALSE(output_overwrites_movie(copy, movie));
    // The movie named relative to the current folder.
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir / "films");
    const bool relative = output_overwrites_movie("movie.mkv", movie);
    std::filesystem::current_path(cwd);
    EXPECT_TRUE(relative);
}

}  // namespace
}  // namespace reel

namespace reel {
namespace {

TEST(PlaceOutput, ReplacesAnOldFileOnlyWithTheFinishedOne) {
    test::TempDir dir;
    const auto work = dir / ".reelmender-work-1";
    std::filesystem::create_directories(work);
    const auto output = dir.write("movie (edited).mkv", "old");
    EXPECT_EQ(finished_file_name("mkv"), "final.mkv");
    EXPECT_EQ(finished_file_name("mp4"), "final.mp4");

    // No finished file (a failed run): the old output stays as it was.
    EXPECT_EQ(place_output(work / "final.mkv", output).error(), "cannot write the output: No such file or directory");
    EXPECT_EQ(test::slurp(output), "old");

    const auto finished = work / "final.mkv";
    std::ofstream(finished) << "new";
    ASSERT_TRUE(place_output(finished, output).has_value());
    EXPECT_EQ(test::slurp(output), "new");
    EXPECT_FALSE(std::filesystem::exists(finished));
}

}  // namespace
}  // namespace reel
