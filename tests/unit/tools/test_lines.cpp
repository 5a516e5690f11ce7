// The pure half of tool runs: command-line rendering, progress lines, output
// splitting and failure tails.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/lines.h"
#include "tools/process.h"
#include "tools/run.h"

namespace reel {
namespace {

// A context whose log and a progress callback record what the handlers send.
struct Recorder {
    RunContext ctx;
    std::vector<double> fractions;
    std::vector<std::string> logged;
    ToolProgress progress = [this](double fraction) { fractions.push_back(fraction); };
    Recorder() {
        ctx.sink.progress = [](const ProgressEvent&) { ADD_FAILURE() << "tool runs report to their callback only"; };
        ctx.sink.log = [this](const std::string& line) { logged.push_back(line); };
    }
};

TEST(FfmpegPrefix, ProgressRunsReadTheirProgressFromStandardOutput) {
    using Args = std::vector<std::string>;
    EXPECT_EQ(ffmpeg_prefix(FfmpegRun::Progress),
              (Args{"-hide_banner", "-loglevel", "error", "-y", "-progress", "pipe:1", "-nostats"}));
    EXPECT_EQ(ffmpeg_prefix(FfmpegRun::Writing), (Args{"-hide_banner", "-loglevel", "error", "-y"}));
    EXPECT_EQ(ffmpeg_prefix(FfmpegRun::Captured), (Args{"-hide_banner", "-loglevel", "error"}));
}

TEST(FormatCommandLine, QuotesBlanksAndWindowsPathsOnly) {
    EXPECT_EQ(format_command_line({"-i", "my movie.mkv", "-progress", "pipe:1", "C:\\work\\a.mkv", "C:/x", "a\\b"}),
              "-i \"my movie.mkv\" -progress pipe:1 \"C:\\work\\a.mkv\" C:/x a\\b");
    EXPECT_EQ(format_command_line({}), "");
    EXPECT_EQ(format_command_line({""}), "");
    EXPECT_EQ(format_command_line({"a\"b c"}), "\"a\"b c\"");
}

TEST(AcceptedExitCodes, OnlyMkvmergeWarningsCount) {
    EXPECT_TRUE(accepted_exit_codes(ToolKind::Ffmpeg).empty());
    EXPECT_EQ(accepted_exit_codes(ToolKind::Mkvmerge), std::vector<std::int64_t>{1});
}

TEST(FfmpegLine, FramesAgainstExpectedCount) {
    struct Case {
        std::string line;
        std::optional<std::int64_t> expected;
        std::optional<double> fraction;
    };
    const Case cases[] = {
        {"frame=250", 1000, 0.25},
        {"frame=1200", 1000, 1.2},  // beyond the run's end, not clamped
        {"frame=  17 ", 1000, 0.017},
        {"frame=+17", 1000, 0.017},
        {"frame=-5", 1000, -0.005},
        {"frame=", 1000, std::nullopt},
        {"frame=+", 1000, std::nullopt},
        {"frame=12a", 1000, std::nullopt},
        {"frame=N/A", 1000, std::nullopt},
        {"frame=99999999999999999999", 1000, std::nullopt},
        {"frame=250", std::nullopt, std::nullopt},
        {"frame=250", 0, std::nullopt},
        {"frame=250", -3, std::nullopt},
    };
    for (const auto& c : cases) {
        Recorder rec;
        handle_ffmpeg_line(rec.ctx, c.line, c.expected, rec.progress);
        EXPECT_TRUE(rec.logged.empty()) << c.line;
        if (c.fraction) {
            ASSERT_EQ(rec.fractions.size(), 1u) << c.line;
            EXPECT_DOUBLE_EQ(rec.fractions[0], *c.fraction) << c.line;
        } else {
            EXPECT_TRUE(rec.fractions.empty()) << c.line;
        }
    }
}

TEST(FfmpegLine, ProgressKeysIgnoredOtherLinesLogged) {
    Recorder rec;
    for (const char* line : {"out_time_ms=1000", "out_time=00:00:01.000", "bitrate=  5.0kbits/s", "total_size=48",
                             "speed=2.5x", "fps=25.0", "stream_0_0_q=-1.0", "dup_frames=0", "drop_frames=0",
                             "progress=continue"})
        handle_ffmpeg_line(rec.ctx, line, 100, rec.progress);
    EXPECT_TRUE(rec.logged.empty());
    handle_ffmpeg_line(rec.ctx, "Error while decoding stream #0:0", 100, rec.progress);
    handle_ffmpeg_line(rec.ctx, "  frame=3", 100, rec.progress);  // not at the start: an ordinary line
    EXPECT_EQ(rec.logged, (std::vector<std::string>{"Error while decoding stream #0:0", "  frame=3"}));
    EXPECT_TRUE(rec.fractions.empty());
}

TEST(MkvmergeLine, ProgressAsAFraction) {
    struct Case {
        std::string line;
        std::optional<double> fraction;
    };
    const Case cases[] = {
        {"Progress: 37%", 0.37},
        {"Progress: 37%%", 0.37},
        {"Progress:  37 %", 0.37},
        {"Progress: 12.5%", 0.125},
        {"Progress: 100%", 1.0},
        {"Progress: ", std::nullopt},
        {"Progress: abc%", std::nullopt},
        {"Progress: 3x%", std::nullopt},
        {"Progress: inf%", std::nullopt},
        {"Progress:37%", std::nullopt},
        {"progress: 37%", std::nullopt},
    };
    for (const auto& c : cases) {
        Recorder rec;
        handle_mkvmerge_line(rec.ctx, c.line, rec.progress);
        if (c.fraction) {
            ASSERT_EQ(rec.fractions.size(), 1u) << c.line;
            EXPECT_DOUBLE_EQ(rec.fractions[0], *c.fraction) << c.line;
        } else {
            EXPECT_TRUE(rec.fractions.empty()) << c.line;
        }
        EXPECT_TRUE(rec.logged.empty()) << c.line;
    }
}

TEST(MkvmergeLine, LogsOnlyWarningsAndErrors) {
    Recorder rec;
    for (const char* line :
         {"Warning: 'a.mkv' track 0: The codec's private data does not match. Both have the same length",
          "Warning: something else", "Error: cannot open", "The file 'x-001.mkv' has been opened for writing.",
          "warning: lower case is not a warning", "Multiplexing took 0 seconds."})
        handle_mkvmerge_line(rec.ctx, line, rec.progress);
    EXPECT_EQ(rec.logged, (std::vector<std::string>{"Warning: something else", "Error: cannot open"}));
}

TEST(RunContextSink, MissingCallbacksAreSkipped) {
    RunContext ctx;
    ctx.emit(ProgressEvent{"x", "", 1});
    ctx.log("nobody listens");
    handle_ffmpeg_line(ctx, "frame=1", 10, {});
    handle_mkvmerge_line(ctx, "Progress: 5%", {});
    handle_mkvmerge_line(ctx, "Error", {});
    SUCCEED();
}

TEST(CaptureTail, LastLinesInOrder) {
    struct Case {
        std::string text;
        std::size_t count;
        std::string tail;
    };
    const Case cases[] = {
        {"", 12, ""},
        {"one\n", 12, "one"},
        {"one\r\ntwo\r\n", 12, "one\ntwo"},
        {"one\n\ntwo", 12, "one\n\ntwo"},  // blank lines count here
        {"a\nb\nc\nd\n", 2, "c\nd"},
        {"a\rb\n", 12, "a\rb"},  // a lone "\r" is not a line end in a captured run
        {"bad \xff byte\n", 12, "bad \xEF\xBF\xBD byte"},
        {"\n\n", 12, "\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(capture_tail(c.text, c.count), c.tail) << c.text;
}

std::vector<std::string> split_in_chunks(const std::vector<std::string>& chunks) {
    std::vector<std::string> lines;
    LineSplitter splitter;
    const LineHandler collect = [&](std::string_view line) { lines.emplace_back(line); };
    for (const auto& chunk : chunks) splitter.feed(chunk, collect);
    splitter.finish(collect);
    return lines;
}

TEST(LineSplitter, AllLineEndsAcrossChunkBorders) {
    using Lines = std::vector<std::string>;
    EXPECT_EQ(split_in_chunks({"a\nb\r\nc"}), (Lines{"a", "b", "c"}));
    // mkvmerge's progress updates end in a lone "\r" on a pipe.
    EXPECT_EQ(split_in_chunks({"Progress: 37%\rThe cue entries (the index) are being written...\n"}),
              (Lines{"Progress: 37%", "The cue entries (the index) are being written..."}));
    EXPECT_EQ(split_in_chunks({"a\r", "\nb"}), (Lines{"a", "b"}));
    EXPECT_EQ(split_in_chunks({"a\r", "", "\nb\r"}), (Lines{"a", "b"}));
    EXPECT_EQ(split_in_chunks({"a\r", "b"}), (Lines{"a", "b"}));
    EXPECT_EQ(split_in_chunks({"a\r\r\n"}), (Lines{"a", ""}));
    EXPECT_EQ(split_in_chunks({"\n\n"}), (Lines{"", ""}));
    EXPECT_EQ(split_in_chunks({"fra", "me=1", "2\nfr", "ame=13"}), (Lines{"frame=12", "frame=13"}));
    EXPECT_EQ(split_in_chunks({}), Lines{});
}

TEST(StderrLines, TrimmedNonEmptyWithCarriageReturnsAsEnds) {
    std::vector<std::string> lines;
    for_each_stderr_line("  first  \r\n\n\t\nsecond\rthird\xff\n   ", [&](std::string_view l) { lines.emplace_back(l); });
    EXPECT_EQ(lines, (std::vector<std::string>{"first", "second", "third\xEF\xBF\xBD"}));
}

TEST(ExitStatusText, CodesExceptionsAndSignals) {
    EXPECT_EQ(exit_status_text({false, 0, 0}), "exit code: 0");
    EXPECT_EQ(exit_status_text({false, 2, 0}), "exit code: 2");
    EXPECT_EQ(exit_status_text({false, 0x7fffffff, 0}), "exit code: 2147483647");
    EXPECT_EQ(exit_status_text({false, 0xC0000005, 0}), "exit code: 0xc0000005");
    EXPECT_EQ(exit_status_text({false, static_cast<std::int32_t>(0xC0000005), 0}), "exit code: 0xc0000005");
    EXPECT_EQ(exit_status_text({false, 0x1C0000005, 0}), "exit code: 7516192773");
    // SIGTERM is 15 on every platform; SIGKILL is checked with a real child.
    EXPECT_EQ(exit_status_text({true, 0, 15}), "signal: 15 (SIGTERM)");
}

}  // namespace
}  // namespace reel
