#include "pipeline/progress.h"

#include <cmath>
#include <fstream>

#include <gtest/gtest.h>

#include "pipeline/container.h"
#include "pipeline/paths.h"
#include "support/temp_dir.h"

namespace reel {
namespace {

struct Recorder {
    std::vector<ProgressEvent> events;
    StageProgress progress{ProgressSink{[this](const ProgressEvent& e) { events.push_back(e); }, {}}};
};

TEST(StageTable, BasesAreTheSpansBeforeInRunOrder) {
    const StageInfo in_order[] = {stages::probe, stages::remux, stages::snap, stages::mute,
                                  stages::overlay, stages::split, stages::cards, stages::join,
                                  stages::subs,  stages::mux,   stages::mp4,  stages::done};
    ASSERT_EQ(std::size(in_order), std::size(stages::kOrder));
    double base = 0;
    for (std::size_t i = 0; i < std::size(in_order); ++i) {
        EXPECT_EQ(in_order[i].key, stages::kOrder[i].key);
        EXPECT_EQ(in_order[i].base, base) << in_order[i].key;
        base += in_order[i].span;
    }
    EXPECT_DOUBLE_EQ(base, 1.0);
    EXPECT_DOUBLE_EQ(stages::split.base, 0.40);
    EXPECT_DOUBLE_EQ(stages::done.base, 1.0);
}

TEST(StageProgress, AnnouncesTheStageAtItsBase) {
    Recorder r;
    r.progress.begin(stages::split);
    ASSERT_EQ(r.events.size(), 1u);
    EXPECT_EQ(r.events[0].stage, "split");
    EXPECT_EQ(r.events[0].message, "Splitting the movie at the cut points (stream copy)");
    EXPECT_DOUBLE_EQ(r.events[0].percent, 40.0);
    EXPECT_EQ(r.progress.stage(), "split");
}

TEST(StageProgress, ClampsTheFraction) {
    Recorder r;
    r.progress.begin(stages::cards);
    r.progress.report(0.5, "Rendering title cards");
    r.progress.report(7, "Rendering title cards");
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

TEST(StageProgress, SlicesAndTheGuardShapeWhatTheFrontEndSees) {
    Recorder r;
    r.progress.begin(stages::mute);  // 13 .. 25
    const auto split = r.progress.slice(0, 0.7);
    split(2.0);  // an overshooting tool run, past the split's slice
    const auto join = r.progress.slice(0.7, 1.0);
    join(0.0);  // a second run starting at its own base, behind the first
    join(0.5);
    r.progress.begin(stages::overlay);
    ASSERT_EQ(r.events.size(), 5u);
    EXPECT_EQ(r.events[1].stage, "mute");
    EXPECT_NEAR(r.events[1].percent, 21.4, 1e-9);
    EXPECT_NEAR(r.events[2].percent, 21.4, 1e-9);
    EXPECT_NEAR(r.events[3].percent, 23.2, 1e-9);
    EXPECT_NEAR(r.events[4].percent, 25.0, 1e-9);
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
    EXPECT_EQ(container_named("mkv")->finishedFile, "final.mkv");
    EXPECT_EQ(container_named("mp4")->finishedFile, "final.mp4");
    EXPECT_FALSE(container_named("avi"));

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
