// The four ways of running a tool, against fake tools: progress, verdicts,
// failure texts, cancellation and the pipes under load.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "support/fake_tool.h"
#include "support/temp_dir.h"
#include "tools/process.h"
#include "tools/run.h"

namespace reel {
namespace {

namespace fs = std::filesystem;

void expect_fractions(const std::vector<double>& actual, const std::vector<double>& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < actual.size(); ++i) EXPECT_DOUBLE_EQ(actual[i], expected[i]) << i;
}

struct ToolRuns : ::testing::Test {
    test::TempDir dir;
    RunContext ctx;
    std::vector<double> fractions;
    std::vector<std::string> logged;
    ToolProgress progress = [this](double fraction) { fractions.push_back(fraction); };

    ToolRuns() {
        ctx.sink.progress = [](const ProgressEvent&) { ADD_FAILURE() << "tool runs report to their callback only"; };
        ctx.sink.log = [this](const std::string& line) { logged.push_back(line); };
    }

    void fake_ffmpeg(std::string_view out, std::string_view err, int code) {
        ctx.tools.ffmpeg = test::write_fake_tool(dir.path(), "ffmpeg", out, err, code).string();
    }
    void fake_mkvmerge(std::string_view out, std::string_view err, int code) {
        ctx.tools.mkvmerge = test::write_fake_tool(dir.path(), "mkvmerge", out, err, code).string();
    }
    std::string fake(const std::string& name, std::string_view body) {
        return test::write_fake_tool(dir.path(), name, body).string();
    }
};

TEST_F(ToolRuns, FfmpegProgressAndLog) {
    fake_ffmpeg("frame=250\nfps=25.0\nspeed=1x\nframe=oops\nframe=500\r\nprogress=end\n", "", 0);
    ASSERT_TRUE(run_ffmpeg(ctx, {"-progress", "pipe:1", "-i", "a b.mkv"}, 1000, progress).has_value());
    expect_fractions(fractions, {0.25, 0.5});
    EXPECT_EQ(logged, (std::vector<std::string>{"> ffmpeg -progress pipe:1 -i \"a b.mkv\""}));
    EXPECT_EQ(ctx.current_child->load(), 0u);
}

TEST_F(ToolRuns, MkvmergeProgressEndsInCarriageReturns) {
    // mkvmerge on a pipe ends its progress updates with "\r" only.
    fake_mkvmerge("Progress: 0%\rProgress: 37%\rThe cue entries (the index) are being written...\n"
                  "Warning: odd timestamps\nProgress: 100%\r\n",
                  "", 0);
    ASSERT_TRUE(run_mkvmerge(ctx, {"-o", "out.mkv", "in.mkv"}, progress).has_value());
    expect_fractions(fractions, {0.0, 0.37, 1.0});
    EXPECT_EQ(logged, (std::vector<std::string>{"> mkvmerge -o out.mkv in.mkv", "Warning: odd timestamps"}));
}

TEST_F(ToolRuns, ExitCodeVerdicts) {
    fake_mkvmerge("", "Warning: something\n", 1);
    EXPECT_TRUE(run_mkvmerge(ctx, {}, progress).has_value());
    EXPECT_EQ(logged.back(), "Warning: something");

    fake_mkvmerge("", "Error: no free space\n", 2);
    EXPECT_EQ(run_mkvmerge(ctx, {}, progress).error(), "mkvmerge exited with exit code: 2\nError: no free space");

    fake_ffmpeg("", "", 1);
    EXPECT_EQ(run_ffmpeg(ctx, {}, std::nullopt, progress).error(), "ffmpeg exited with exit code: 1\n");
}

TEST_F(ToolRuns, ErrorLinesOnStandardOutputEndTheFailure) {
    // mkvmerge writes its errors on standard output, not on standard error.
    fake_mkvmerge("mkvmerge v74\nProgress: 10%\rError: 'a.mkv' could not be opened.\n", "", 2);
    EXPECT_EQ(run_mkvmerge(ctx, {}, progress).error(),
              "mkvmerge exited with exit code: 2\nError: 'a.mkv' could not be opened.");
    const auto identify = test::write_fake_tool(dir.path(), "identify", "{\n  \"errors\": [\"x\"]\n}\n", " \n", 2);
    EXPECT_EQ(run_capture(identify.string(), {}).error(),
              "identify exited with exit code: 2:\n{\n  \"errors\": [\"x\"]\n}");
}

TEST_F(ToolRuns, ProgressFailureTailHoldsLastFifteenNonBlankLines) {
    std::string err;
    for (int i = 1; i <= 20; ++i) err += "  line " + std::to_string(i) + "\r\n\n \t\n";
    fake_ffmpeg("", err, 1);
    const auto result = run_ffmpeg(ctx, {"-i", "x"}, 10, progress);
    std::string tail;
    for (int i = 6; i <= 20; ++i) tail += "\nline " + std::to_string(i);
    EXPECT_EQ(result.error(), "ffmpeg exited with exit code: 1" + tail);
    // Error lines reach the log after the command line, all of them, in order.
    ASSERT_EQ(logged.size(), 21u);
    EXPECT_EQ(logged[1], "line 1");
    EXPECT_EQ(logged[20], "line 20");
}

TEST_F(ToolRuns, CaptureFailureTails) {
    std::string err;
    for (int i = 1; i <= 14; ++i) err += "e" + std::to_string(i) + (i == 10 ? "\n\n" : "\r\n");
    const auto probe = test::write_fake_tool(dir.path(), "ffprobe", "ignored", err, 1).string();
    std::string tail = "e4\ne5\ne6\ne7\ne8\ne9\ne10\n\ne11\ne12\ne13\ne14";  // blank lines count here
    EXPECT_EQ(run_capture(probe, {}).error(), "ffprobe exited with exit code: 1:\n" + tail);
    EXPECT_EQ(run_capture_bytes(probe, {}).error(), probe + " failed:\n" + tail);

    const auto silent = test::write_fake_tool(dir.path(), "silent", "", "", 1).string();
    EXPECT_EQ(run_capture(silent, {}).error(), "silent exited with exit code: 1:\n");
    EXPECT_EQ(run_capture_bytes(silent, {}).error(), silent + " failed:\n");
}

TEST_F(ToolRuns, CaptureOutputs) {
    const auto tool = test::write_fake_tool(dir.path(), "tool", std::string_view("ok \xff\0end\n", 9), "noise", 0).string();
    EXPECT_EQ(run_capture(tool, {}).value(), "ok \xEF\xBF\xBD" + std::string(1, '\0') + "end\n");
    EXPECT_EQ(run_capture_bytes(tool, {}).value(), std::string("ok \xff\0end\n", 9));
}

TEST_F(ToolRuns, ChildKilledBySignal) {
    const auto tool = fake("ffprobe", "echo 'about to die' >&2\nkill -KILL $$");
    EXPECT_EQ(run_capture(tool, {}).error(), "ffprobe exited with signal: 9 (SIGKILL):\nabout to die");
    ctx.tools.ffmpeg = tool;
    EXPECT_EQ(run_ffmpeg(ctx, {}, 10, progress).error(), "ffprobe exited with signal: 9 (SIGKILL)\nabout to die");
    ctx.tools.mkvmerge = tool;
    EXPECT_EQ(run_mkvmerge(ctx, {}, progress).error(), "ffprobe exited with signal: 9 (SIGKILL)\nabout to die");
}

TEST_F(ToolRuns, ProgramThatCannotStart) {
    const std::string missing = (dir / "missing").string();
    const std::string plain = dir.write("plain", "#!/bin/sh\n").string();
    EXPECT_EQ(run_capture(missing, {}).error(), "could not start " + missing + ": No such file or directory");
    EXPECT_EQ(run_capture_bytes(plain, {}).error(), "could not start " + plain + ": Permission denied");
    ctx.tools.ffmpeg = missing;
    EXPECT_EQ(run_ffmpeg(ctx, {"-y"}, 10, progress).error(), "could not start " + missing + ": No such file or directory");
    ctx.tools.mkvmerge = plain;
    EXPECT_EQ(run_mkvmerge(ctx, {"-o"}, progress).error(), "could not start " + plain + ": Permission denied");
    EXPECT_EQ(logged, (std::vector<std::string>{"> ffmpeg -y", "> mkvmerge -o"}));
    EXPECT_EQ(ctx.current_child->load(), 0u);
}

TEST_F(ToolRuns, MissingMkvmerge) {
    ctx.tools.mkvmerge.reset();
    EXPECT_EQ(run_mkvmerge(ctx, {"-o", "x"}, progress).error(),
              "mkvmerge (part of MKVToolNix) was not found. Install MKVToolNix or set its location in Settings.");
    EXPECT_TRUE(logged.empty());
}

TEST_F(ToolRuns, CancelledBeforeTheStart) {
    const auto marker = dir / "started";
    const auto body = "touch " + test::shell_quote(marker.string());
    ctx.tools.ffmpeg = fake("ffmpeg", body);
    ctx.tools.mkvmerge = fake("mkvmerge", body);
    ctx.cancelled->store(true);
    EXPECT_EQ(run_ffmpeg(ctx, {"-i", "x"}, 10, progress).error(), "Cancelled");
    EXPECT_EQ(run_mkvmerge(ctx, {"-o", "x"}, progress).error(), "Cancelled");
    ctx.tools.mkvmerge.reset();
    EXPECT_EQ(run_mkvmerge(ctx, {"-o", "x"}, progress).error(), "Cancelled");
    EXPECT_FALSE(fs::exists(marker));
    EXPECT_TRUE(logged.empty());
    EXPECT_TRUE(fractions.empty());
}

TEST_F(ToolRuns, CancelledWhileRunning) {
    // Another party sets the flag while the child runs (here: on its first
    // progress line). The run completes, then reports the cancellation.
    const auto marker = dir / "finished";
    const auto body = "echo frame=1\necho 'Progress: 5%'\ntouch " + test::shell_quote(marker.string()) + "\nexit 1";
    ctx.tools.ffmpeg = fake("ffmpeg", body);
    ctx.tools.mkvmerge = fake("mkvmerge", body);
    progress = [this](double) { ctx.cancelled->store(true); };

    EXPECT_EQ(run_mkvmerge(ctx, {}, progress).error(), "Cancelled");  // exit 1 is a success for mkvmerge
    EXPECT_TRUE(fs::exists(marker));
    EXPECT_EQ(ctx.current_child->load(), 0u);

    // A run that fails once the flag is set reports the cancellation: the
    // failure is most likely the child being stopped because of it.
    ctx.cancelled->store(false);
    EXPECT_EQ(run_ffmpeg(ctx, {}, 10, progress).error(), "Cancelled");
    EXPECT_TRUE(ctx.cancelled->load());
}

TEST_F(ToolRuns, ChildStoppedThroughTheSlotGivesCancelled) {
    // The way an interrupt ends a run: set the flag, kill the child the slot names.
    ctx.tools.ffmpeg = fake("ffmpeg", "echo frame=1\nsleep 30");
    progress = [this](double) {
        ctx.cancelled->store(true);
        kill_process(ctx.current_child->load());
    };
    EXPECT_EQ(run_ffmpeg(ctx, {}, 10, progress).error(), "Cancelled");
    EXPECT_EQ(ctx.current_child->load(), 0u);
}

TEST_F(ToolRuns, WorkBesideTheRunStopsWithItAndLogsIntoItsLog) {
    // A tool that would outlast the test by far unless it is stopped; it
    // names itself once it runs.
    const auto pid_file = dir / "pid";
    ctx.tools.ffmpeg = fake("ffmpeg", "echo $$ > " + test::shell_quote(pid_file.string()) + "\nexec sleep 30");
    // What the tool run itself answered: stopped, not ended by itself.
    std::optional<std::string> answered;
    const auto work = [&answered](RunContext& own) {
        auto r = run_ffmpeg(own, {"-i", "beside"}, std::nullopt);
        answered = r ? "ran to its end" : r.error();
        return r;
    };
    const auto started_tool = [&] {
        for (int i = 0; i < 1000 && test::slurp(pid_file).empty(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const auto pid = static_cast<std::uint32_t>(std::stoul(test::slurp(pid_file)));
        fs::remove(pid_file);
        return pid;
    };
    {
        BackgroundRun beside(ctx, work);
        const auto pid = started_tool();
        ctx.cancelled->store(true);
        EXPECT_EQ(beside.collect().error(), "Cancelled");
        EXPECT_FALSE(process_running(pid));
        EXPECT_EQ(answered, "Cancelled");
        EXPECT_EQ(ctx.current_child->load(), 0u) << "the run's own slot is not the work's";
    }
    ctx.cancelled->store(false);
    answered.reset();
    std::uint32_t left_pid = 0;
    {
        BackgroundRun left(ctx, work);  // not collected: a failed stage leaves it
        left_pid = started_tool();
    }
    EXPECT_FALSE(process_running(left_pid));
    EXPECT_EQ(answered, "Cancelled");
    EXPECT_EQ(std::ranges::count(logged, std::string("> ffmpeg -i beside")), 2);

    ctx.tools.ffmpeg = fake("ffmpeg", "echo 'broken pipe' >&2\nexit 3");
    BackgroundRun failing(ctx, work);
    const auto verdict = failing.collect();
    ASSERT_FALSE(verdict);
    EXPECT_TRUE(verdict.error().starts_with("ffmpeg exited with exit code: 3")) << verdict.error();
}

TEST_F(ToolRuns, CurrentChildSlotNamesTheRunningChild) {
    ctx.tools.ffmpeg = fake("ffmpeg", "echo \"pid $$\"");
    std::string seen;
    ctx.sink.log = [&](const std::string& line) {
        if (line.starts_with("pid ")) seen = line + " slot " + std::to_string(ctx.current_child->load());
    };
    ASSERT_TRUE(run_ffmpeg(ctx, {}, std::nullopt, progress).has_value());
    ASSERT_FALSE(seen.empty());
    const auto pid = seen.substr(4, seen.find(' ', 4) - 4);
    EXPECT_EQ(seen, "pid " + pid + " slot " + pid);
    EXPECT_EQ(ctx.current_child->load(), 0u);
}

TEST_F(ToolRuns, LineThatIsNotUtf8EndsTheLineHandling) {
    // After the bad line the tool still writes far more than a pipe holds.
    ctx.tools.ffmpeg = fake("ffmpeg", test::shell_print("frame=100\n\xff\xfe bad\nframe=200\n") +
                                          "\nyes frame=300 | head -c 2000000\necho 'late error' >&2");
    ASSERT_TRUE(run_ffmpeg(ctx, {}, 1000, progress).has_value());
    expect_fractions(fractions, {0.1});
    // Standard error is still handled once the child has ended.
    EXPECT_EQ(logged, (std::vector<std::string>{"> ffmpeg ", "late error"}));
}

// 20 MB on each pipe at the same time: a runner that read one pipe to its end
// before the other would leave the child blocked for ever.
struct Flood : ToolRuns {
    static constexpr std::size_t size = 20'000'000;
    std::size_t progress_events = 0;
    std::size_t log_lines = 0;

    std::string flood(const std::string& name, const std::string& stdout_line) {
        return fake(name, "(yes \"$(printf '%0999d' 0)\" | head -c " + std::to_string(size) + " >&2) &\nyes " +
                              test::shell_quote(stdout_line) + " | head -c " + std::to_string(size) + "\nwait");
    }
    void count() {
        progress = [this](double) { ++progress_events; };
        ctx.sink.log = [this](const std::string&) { ++log_lines; };
    }
};

TEST_F(Flood, CaptureRuns) {
    const auto tool = flood("ffprobe", "0123456789abcdef");
    const auto text = run_capture(tool, {});
    ASSERT_TRUE(text.has_value()) << text.error();
    EXPECT_EQ(text->size(), size);
    const auto bytes = run_capture_bytes(tool, {});
    ASSERT_TRUE(bytes.has_value()) << bytes.error();
    EXPECT_EQ(bytes->size(), size);
}

TEST_F(Flood, FfmpegRun) {
    // 101 bytes per line; the cut-off last line has no number and is ignored.
    ctx.tools.ffmpeg = flood("ffmpeg", "frame=" + std::string(93, ' ') + "1");
    count();
    ASSERT_TRUE(run_ffmpeg(ctx, {}, 10, progress).has_value());
    EXPECT_EQ(progress_events, size / 101);
    EXPECT_EQ(log_lines, 1 + size / 1000);  // the command line and every error line
}

TEST_F(Flood, MkvmergeRun) {
    ctx.tools.mkvmerge = flood("mkvmerge", "Progress: " + std::string(88, ' ') + "9%");
    count();
    ASSERT_TRUE(run_mkvmerge(ctx, {}, progress).has_value());
    EXPECT_EQ(progress_events, size / 101);
    EXPECT_EQ(log_lines, 1u);
}

}  // namespace
}  // namespace reel
