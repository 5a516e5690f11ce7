// Interrupted runs, files that must be complete or absent, and option-shaped
// file names, with the real tools.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/media.h"
#include "support/temp_dir.h"
#include "test_pipeline_support.h"
#include "tools/process.h"
#include "util/files.h"

namespace reel {
namespace {

namespace fs = std::filesystem;

std::string movie_for_robustness() {
    test::MovieSpec spec;
    spec.duration = 20;
    spec.audio = {{.language = "eng", .is_default = true}};
    spec.subtitles = {{.format = test::SubtitleFormat::Srt, .language = "eng"}};
    spec.chapters = {{0, "Start"}, {10, "Later"}};
    auto movie = test::test_movie(spec);
    EXPECT_TRUE(movie.has_value()) << movie.error();
    return movie.value_or("");
}

std::vector<fs::path> work_folders(const fs::path& folder) {
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().filename().string().starts_with(".reelmender-work-")) found.push_back(entry.path());
    return found;
}

struct Interrupted {
    std::int64_t exit_code = -2;
    std::string err;
};

// Starts an edit run, waits until its progress line shows `stage_label`, sends
// `signals` interrupts, and collects the end of the run.
Interrupted interrupt_run(const std::vector<std::string>& args, const std::string& stage_label, int signals) {
    Interrupted result;
    auto child = start_child(REELMENDER_CLI_PATH, args);
    EXPECT_TRUE(child.has_value()) << child.error();
    if (!child) return result;
    bool sent = false;
    for (;;) {
        auto more = (*child)->pump([](std::string_view) {}, [&](std::string_view bytes) { result.err.append(bytes); });
        if (!more || !*more) break;
        if (!sent && result.err.find(stage_label) != std::string::npos) {
            for (int i = 0; i < signals; ++i) ::kill(static_cast<pid_t>((*child)->pid()), SIGINT);
            sent = true;
        }
    }
    EXPECT_TRUE(sent) << "the run never reached " << stage_label << "\n" << result.err;
    auto status = (*child)->wait();
    EXPECT_TRUE(status.has_value());
    if (status) result.exit_code = status->signaled ? -1 : status->code;
    return result;
}

TEST(InterruptedRun, CancelsTheLongestStageAndLeavesNothingBehind) {
    const std::string movie = movie_for_robustness();
    test::TempDir dir;
    const auto output = dir / "out.mkv";
    std::ofstream(output) << "an older edit the user still has";

    // A long title card makes "cards" the longest stage by far.
    const auto run = interrupt_run({movie, "--card", "4-8", "Intermission", "--card-seconds", "600", "--out",
                                    path_text(output)},
                                   "Rendering title cards", 1);
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_TRUE(run.err.ends_with("error: Cancelled\n")) << run.err;
    EXPECT_TRUE(work_folders(dir.path()).empty());
    EXPECT_EQ(test::slurp(output), "an older edit the user still has");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
    EXPECT_TRUE(e2e::processes_mentioning(dir.path().string()).empty());
}

TEST(InterruptedRun, ASecondInterruptEndsTheProgramAndItsChildAtOnce) {
    const std::string movie = movie_for_robustness();
    test::TempDir dir;
    const auto output = dir / "out.mkv";
    const auto run = interrupt_run({movie, "--card", "4-8", "Intermission", "--card-seconds", "600", "--out",
                                    path_text(output)},
                                   "Rendering title cards", 2);
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_FALSE(fs::exists(output));
    EXPECT_TRUE(e2e::processes_mentioning(dir.path().string()).empty());
}

TEST(CompleteOrAbsent, AFailedRunKeepsTheFileThatStoodThere) {
    // ffmpeg refuses PCM sound in MP4 at the very last stage, after mkvmerge
    // wrote the whole edited movie: the latest failure a run can meet.
    test::MovieSpec spec;
    spec.duration = 12;
    spec.audio = {{.codec = "pcm_s16le"}};
    auto movie = test::test_movie(spec);
    ASSERT_TRUE(movie.has_value()) << movie.error();
    test::TempDir dir;
    const auto output = dir / "out.mp4";
    std::ofstream(output) << "previous";

    auto run = test::run_cli({*movie, "--remove", "4-6", "--mp4", "--out", path_text(output), "--quiet"});
    ASSERT_TRUE(run.has_value()) << run.error();
    ASSERT_EQ(run->exit_code, 1) << run->out;
    const std::string warning =
        "warning: '" + path_text(output) + "' already exists and will be replaced when the run succeeds\n";
    EXPECT_TRUE(run->err.starts_with(warning + "error: ffmpeg exited with")) << run->err;
    EXPECT_EQ(test::slurp(output), "previous");
    EXPECT_TRUE(work_folders(dir.path()).empty());
}

TEST(OptionShapedNames, AMovieAndAnOutputThatBeginWithADash) {
    const std::string movie = movie_for_robustness();
    test::TempDir dir;
    fs::copy_file(movie, dir / "-x.mkv");
    const auto cwd = fs::current_path();
    fs::current_path(dir.path());
    auto run = test::run_cli({"-x.mkv", "--remove", "4-8", "--out", "-o.mkv", "--quiet"});
    auto probe = test::run_cli({"-x.mkv", "--probe"});
    auto frame = test::run_cli({"-x.mkv", "--frame", "2", "-f.jpg"});
    // An output folder named like an option puts the work folder there too.
    auto nested = test::run_cli({"-x.mkv", "--remove", "4-8", "--card", "10-12", "Hi", "--out", "-d/o.mkv", "--quiet"});
    fs::current_path(cwd);

    ASSERT_TRUE(run.has_value()) << run.error();
    EXPECT_EQ(run->exit_code, 0) << run->err;
    EXPECT_NE(run->out.find("\"output\": \"-o.mkv\""), std::string::npos) << run->out;
    EXPECT_NE(run->out.find("\"duration\": 16."), std::string::npos) << run->out;
    EXPECT_TRUE(fs::exists(dir / "-o.mkv"));
    ASSERT_TRUE(probe.has_value());
    EXPECT_EQ(probe->exit_code, 0) << probe->err;
    EXPECT_NE(probe->out.find("\"path\": \"-x.mkv\""), std::string::npos) << probe->out;
    ASSERT_TRUE(frame.has_value());
    EXPECT_EQ(frame->exit_code, 0) << frame->err;
    EXPECT_EQ(frame->out, "wrote -f.jpg\n");
    EXPECT_GT(fs::file_size(dir / "-f.jpg"), 1000u);
    ASSERT_TRUE(nested.has_value());
    EXPECT_EQ(nested->exit_code, 0) << nested->err;
    EXPECT_TRUE(fs::exists(dir / "-d" / "o.mkv"));
    EXPECT_TRUE(work_folders(dir / "-d").empty());
}

TEST(OptionShapedNames, AFolderWithAPercentSign) {
    // ffmpeg's segment muxer reads a '%' in a file name as a number's place.
    const std::string movie = movie_for_robustness();
    test::TempDir dir;
    fs::create_directories(dir / "100% cut");
    const auto output = dir / "100% cut" / "o.mkv";
    for (const bool exact : {false, true}) {
        std::vector<std::string> args{movie, "--remove", "4.3-8", "--mute", "1-2", "--out", path_text(output), "--quiet"};
        if (exact) args.push_back("--exact");
        auto run = test::run_cli(args);
        ASSERT_TRUE(run.has_value()) << run.error();
        EXPECT_EQ(run->exit_code, 0) << run->err;
    }
    EXPECT_TRUE(fs::exists(output));
}

}  // namespace
}  // namespace reel
