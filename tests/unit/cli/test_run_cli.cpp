#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "app.h"
#include "command_line.h"
#include "jobs.h"
#include "support/fake_tool.h"
#include "support/temp_dir.h"
#include "util/base64.h"

namespace reel {
namespace {

using Args = std::vector<std::string>;

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

Outcome run(const Args& args) {
    std::ostringstream out, err;
    Outcome o;
    o.status = run_cli(args, out, err);
    o.out = out.str();
    o.err = err.str();
    return o;
}

TEST(RunCli, HelpPrintsUsageOnlyAndSucceeds) {
    for (const Args& args : {Args{}, Args{"-h"}, Args{"--help"}, Args{"movie.mkv", "--remove", "1-2", "-h"},
                             Args{"--verbose", "--help"}, Args{"--edits", "-h"}, Args{"--remove", "10-5", "-h"}}) {
        const Outcome o = run(args);
        EXPECT_EQ(o.status, 0) << testing::PrintToString(args);
        EXPECT_EQ(o.out, usage_text()) << testing::PrintToString(args);
        EXPECT_EQ(o.err, "") << testing::PrintToString(args);
    }
}

TEST(RunCli, ParseFailuresGoToStandardErrorWithStatusOne) {
    struct Case { Args args; std::string err; };
    const Case cases[] = {
        {{"movie.mkv", "--remove"}, "error: --remove needs a value\n"},
        {{"movie.mkv", "--card", "1:00-1:10"}, "error: --card needs a value\n"},
        {{"movie.mkv", "--card-seconds", "ten", "--card", "1-2", "Hi"}, "error: --card-seconds needs a number\n"},
        {{"movie.mkv", "--remove", "10-5"}, "error: range '10-5': end must be after start\n"},
        {{"movie.mkv", "--frame", "x", "f.jpg"}, "error: bad time 'x'\n"},
        {{"movie.mkv", "--verbose"}, "error: unknown option --verbose\n" + usage_text()},
        {{"--remove", "1-2"}, "error: no movie given\n" + usage_text()},
    };
    for (const auto& c : cases) {
        const Outcome o = run(c.args);
        EXPECT_EQ(o.status, 1) << testing::PrintToString(c.args);
        EXPECT_EQ(o.out, "") << testing::PrintToString(c.args);
        EXPECT_EQ(o.err, c.err) << testing::PrintToString(c.args);
    }
}

TEST(RunCli, EditListWarningsAreShownEvenWhenQuiet) {
    test::TempDir dir;
    const std::string list = dir.write("list.csv", "0:10,0:05,remove\n\nblur\n").string();
    const Outcome o = run({"--quiet", "--edits", list, "--bogus"});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err,
              "warning: Line 1: end must be after start.\n"
              "warning: Line 2: could not read start/end/action.\n"
              "error: unknown option --bogus\n" +
                  usage_text());
}

TEST(RunCli, EditListFileThatCannotBeRead) {
    test::TempDir dir;
    const std::string missing = (dir / "missing.csv").string();
    const Outcome o = run({"m.mkv", "--edits", missing});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "error: " + missing + ": No such file or directory\n");
}

TEST(RunCli, NoEditsIsReportedAfterTheToolsWereFound) {
    // The installed ffmpeg and ffprobe are found; the edit run then has nothing to do.
    const Outcome o = run({"movie.mkv"});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err, "error: no edits given\n" + usage_text());
}

TEST(Jobs, EditRunWithoutEditsStopsBeforeAnythingElse) {
    CommandLine cl;
    cl.movie = "movie.mkv";
    std::ostringstream out, err;
    EXPECT_EQ(run_edit_job(cl, ToolSet{"/nonexistent/ffmpeg", "/nonexistent/ffprobe", std::nullopt, std::nullopt, std::nullopt}, out, err), 1);
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(err.str(), "error: no edits given\n" + usage_text());
}

TEST(Jobs, PipelineOptionsFromTheCommandLine) {
    test::TempDir dir;
    const std::string list = dir.write("l.csv", "1,2,mute,,,off\n").string();
    auto parsed = parse_command_line({"/films/Movie.2019.mkv", "--remove", "5-6", "--edits", list, "--mp4",
                                      "--keep-temp", "--exact"},
                                     [](const std::string&) {});
    ASSERT_TRUE(parsed.has_value()) << parsed.error();
    const PipelineOptions options = pipeline_options(*parsed);
    EXPECT_EQ(options.movie.string(), "/films/Movie.2019.mkv");
    EXPECT_EQ(options.output.string(), "/films/Movie.2019 (edited).mp4");
    EXPECT_EQ(options.container.name, "mp4");
    EXPECT_TRUE(options.keepTemp);
    EXPECT_TRUE(options.exact);
    ASSERT_EQ(options.edits.size(), 2u);  // the disabled edit goes along
    EXPECT_FALSE(options.edits[1].enabled);
    EXPECT_EQ(options.cardStyle.fontFile, "");
    EXPECT_EQ(options.cardStyle.textColor, "white");
    EXPECT_EQ(options.cardStyle.backgroundColor, "black");
    EXPECT_EQ(options.cardStyle.preset, "fast");
    EXPECT_EQ(options.cardStyle.fontScale, 0.055);
    EXPECT_EQ(options.cardStyle.fadeSeconds, 0.75);

    parsed->container = matroska_container();
    parsed->out = "given.mp4";
    const PipelineOptions mkv = pipeline_options(*parsed);
    EXPECT_EQ(mkv.container.name, "mkv");
    EXPECT_EQ(mkv.output.string(), "given.mp4");
}

TEST(Jobs, PreviewBytesAreDecodedIntoTheFile) {
    test::TempDir dir;
    const std::string bytes("\xFF\xD8\x00\x01jpeg\xFF\xD9", 10);
    const std::string file = (dir / "frame.jpg").string();
    std::ostringstream out, err;
    EXPECT_EQ(write_preview(base64_encode(bytes), file, out, err), 0);
    EXPECT_EQ(out.str(), "wrote " + file + "\n");
    EXPECT_EQ(err.str(), "");
    EXPECT_EQ(test::slurp(file), bytes);

    std::ostringstream out2, err2;
    EXPECT_EQ(write_preview(base64_encode("x"), (dir / "no" / "such" / "f.jpg").string(), out2, err2), 1);
    EXPECT_EQ(out2.str(), "");
    EXPECT_EQ(err2.str(), "error: No such file or directory\n");

    std::ostringstream out3, err3;
    EXPECT_EQ(write_preview("not base64!", (dir / "x.jpg").string(), out3, err3), 1);
    EXPECT_EQ(out3.str(), "");
    EXPECT_TRUE(err3.str().starts_with("error: "));
}

TEST(Jobs, DispatchRunsOnlyTheFirstMatchingJob) {
    // Failing fake tools that note their own name: whichever ran shows which job
    // was chosen, and a failure must stop there.
    test::TempDir dir;
    const std::string log = (dir / "ran.log").string();
    const auto tool = [&](const std::string& name) {
        return test::write_fake_tool(dir.path(), name,
                                     "echo " + name + " >> " + test::shell_quote(log) + "\necho broken >&2\nexit 1")
            .string();
    };
    const ToolSet tools{tool("ffmpeg"), tool("ffprobe"), std::nullopt, std::nullopt, std::nullopt};

    struct Case { Args args; std::string ran; };
    const Case cases[] = {
        {{"m.mkv", "--probe", "--frame", "5", "f.jpg", "--remove", "1-2"}, "ffprobe\n"},
        {{"m.mkv", "--clip", "1-2", "c.mp4", "--frame", "5", "f.jpg"}, "ffmpeg\n"},  // the frame grab runs ffmpeg alone
        {{"m.mkv", "--clip", "1-2", "c.mp4", "--remove", "1-2"}, "ffprobe\n"},     // the clip reads the movie first
    };
    for (const auto& c : cases) {
        std::filesystem::remove(log);
        const auto cl = parse_command_line(c.args, [](const std::string&) {});
        ASSERT_TRUE(cl.has_value());
        std::ostringstream out, err;
        EXPECT_EQ(run_job(*cl, tools, out, err), 1) << testing::PrintToString(c.args);
        EXPECT_EQ(out.str(), "") << testing::PrintToString(c.args);
        EXPECT_TRUE(err.str().starts_with("error: ")) << err.str();
        EXPECT_EQ(test::slurp(log), c.ran) << testing::PrintToString(c.args);
        EXPECT_FALSE(std::filesystem::exists(dir / "f.jpg"));
        EXPECT_FALSE(std::filesystem::exists(dir / "c.mp4"));
    }
}

TEST(RunCli, NonFiniteTimesAreRefusedEverywhere) {
    const std::vector<std::pair<Args, std::string>> cases = {
        {{"m.mkv", "--remove", "nan-1"}, "bad time 'nan'"},
        {{"m.mkv", "--mute", "0-inf"}, "bad time 'inf'"},
        {{"m.mkv", "--card", "0-Infinity", "T"}, "bad time 'Infinity'"},
        {{"m.mkv", "--text", "1:nan-2", "T"}, "bad time '1:nan'"},
        {{"m.mkv", "--clip", "0-1e999", "c.mp4"}, "bad time '1e999'"},
        {{"m.mkv", "--frame", "-inf", "f.jpg"}, "bad time '-inf'"},
        {{"m.mkv", "--frame", "NaN", "f.jpg"}, "bad time 'NaN'"},
    };
    for (const auto& [args, message] : cases) {
        const Outcome o = run(args);
        EXPECT_EQ(o.status, 1);
        EXPECT_EQ(o.err, "error: " + message + "\n");
    }
}

// The built program itself, with its real standard streams and exit status.
Outcome run_binary(const std::string& arguments) {
    test::TempDir dir;
    const auto out = dir / "out";
    const auto err = dir / "err";
    const std::string command = test::shell_quote(REELMENDER_CLI_PATH) + " " + arguments + " >" +
                                test::shell_quote(out.string()) + " 2>" + test::shell_quote(err.string());
    const int raw = std::system(command.c_str());
    Outcome o;
    o.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    o.out = test::slurp(out);
    o.err = test::slurp(err);
    return o;
}

TEST(Binary, NoArgumentsPrintsTheUsage) {
    const Outcome o = run_binary("");
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out, usage_text());
    EXPECT_EQ(o.err, "");
}

TEST(Binary, ErrorsLeaveStandardOutputEmpty) {
    const Outcome o = run_binary("movie.mkv --remove 10");
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err, "error: range '10' must look like START-END\n");

    const Outcome help = run_binary("movie.mkv --out -h");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out, usage_text());
}

}  // namespace
}  // namespace reel
