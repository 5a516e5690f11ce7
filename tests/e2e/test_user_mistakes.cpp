// What a new user gets wrong and what happens when things fail, through the
// real program: its exit status and its exact words.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "command_line.h"
#include "support/fake_tool.h"
#include "support/temp_dir.h"
#include "test_pipeline_support.h"
#include "tools/process.h"
#include "util/files.h"
#include "util/text.h"

namespace reel {
namespace {

namespace fs = std::filesystem;

struct MistakeCase {
    const char* name;
    std::vector<std::string> args;  // after the movie; --out <dir>/out.mkv follows
    int exit_code;
    // Exit 1: the text after "error: ". Exit 0: a whole line of standard error;
    // a "warning: " line must also be in the report's warnings. "{movie}",
    // "{out}" and "{list}" stand for those paths.
    std::string message;
    std::string edit_list = "";  // written to list.csv, which "list.csv" in `args` names
    bool output_exists = false;
    std::string fake_mkvmerge = "";  // script body of an mkvmerge found first on PATH
};

class UserMistakes : public ::testing::TestWithParam<MistakeCase> {};

TEST_P(UserMistakes, AreAnsweredInPlainWords) {
    const auto& c = GetParam();
    const auto source = e2e::movie(e2e::small_movie(10));
    test::TempDir dir;
    const auto output = dir / "out.mkv";
    if (c.output_exists) dir.write("out.mkv", "older");
    std::vector<std::string> args{source};
    for (const auto& a : c.args) args.push_back(a == "list.csv" ? path_text(dir.write(a, c.edit_list)) : a);
    args.insert(args.end(), {"--out", path_text(output)});
    const auto message = replace_all(replace_all(replace_all(c.message, "{movie}", source), "{out}", path_text(output)),
                                     "{list}", path_text(dir / "list.csv"));

    const std::string path = get_env("PATH").value_or("");
    if (!c.fake_mkvmerge.empty()) {
        test::write_fake_tool(dir / "bin", "mkvmerge", c.fake_mkvmerge);
        ::setenv("PATH", (path_text(dir / "bin") + ":" + path).c_str(), 1);
    }
    auto run = test::run_cli(args);
    ::setenv("PATH", path.c_str(), 1);
    ASSERT_TRUE(run.has_value()) << run.error();
    ASSERT_EQ(run->exit_code, c.exit_code) << run->err;
    if (c.exit_code == 1) {
        EXPECT_TRUE(run->err.ends_with("error: " + message + "\n")) << run->err;
        return;
    }
    // Standard error is a pipe here: plain lines, no carriage-return updates.
    EXPECT_EQ(run->err.find('\r'), std::string::npos) << run->err;
    EXPECT_TRUE(contains("\n" + run->err, "\n" + message + "\n")) << run->err;
    const auto warnings = nlohmann::json::parse(run->out)["warnings"].get<std::vector<std::string>>();
    if (message.starts_with("warning: ")) {
        EXPECT_NE(std::ranges::find(warnings, message.substr(9)), warnings.end()) << run->out;
    }
}

const std::string past_the_end = "has an invalid range (90.000 to 95.000); the movie is 10.02 s long.";

INSTANTIATE_TEST_SUITE_P(
    Cases, UserMistakes,
    ::testing::Values(
        MistakeCase{"RangePastTheEnd", {"--remove", "90-95"}, 1, "Edit arg1 " + past_the_end},
        MistakeCase{"CardTextWithoutQuotes", {"--card", "2-4", "Twenty", "minutes", "later"}, 1,
                    "card text with spaces needs quotes ('minutes' is no file): --card 2-4 \"Twenty minutes later\""},
        MistakeCase{"TwoMovies", {"other.mkv", "--remove", "2-4"}, 1,
                    "more than one movie given: '{movie}' and 'other.mkv'"},
        MistakeCase{"OneDash", {"-remove", "5-9"}, 1,
                    message_with_usage("unknown option -remove (did you mean --remove?)")},
        MistakeCase{"FourTimeParts", {"--remove", "1:2:3:4-1:2:3:5"}, 1,
                    "bad time '1:2:3:4': a time has at most three parts (H:MM:SS)"},
        MistakeCase{"NegativeCardSeconds", {"--card", "2-4", "Hi", "--card-seconds", "-3"}, 1,
                    "--card-seconds must be between 0.5 and 3600 seconds, not '-3'"},
        MistakeCase{"ZeroCardSeconds", {"--card-seconds", "0", "--card", "2-4", "Hi"}, 1,
                    "--card-seconds must be between 0.5 and 3600 seconds, not '0'"},
        MistakeCase{"DayLongCard", {"--card", "2-4", "Hi", "--card-seconds", "100000"}, 1,
                    "--card-seconds must be between 0.5 and 3600 seconds, not '100000'"},
        MistakeCase{"EditListCardLengthFallsBack", {"--card-seconds", "1", "--edits", "list.csv"}, 0,
                    "warning: Line 2: card length '100000' is not between 0.5 and 3600 seconds; the default 1 s is "
                    "used.",
                    "start,end,action,text,card_seconds\n2,4,card,Hi,100000\n"},
        MistakeCase{"SemicolonList", {"--edits", "list.csv"}, 1,
                    "Edit csv2 has an invalid range (90.500 to 95.000); the movie is 10.02 s long.",
                    "start;end;action\n1:30,5;1:35;remove\n"},
        MistakeCase{"SynonymHeader", {"--edits", "list.csv"}, 1, "Edit csv2 " + past_the_end,
                    "type,from,to\nremove,90,95\n"},
        MistakeCase{"TabList", {"--edits", "list.csv"}, 1, "Edit csv2 " + past_the_end,
                    "from\tto\ttype\n90\t95\tcut\n"},
        MistakeCase{"EditListWarningInTheReport", {"--edits", "list.csv"}, 0,
                    "warning: Line 3: could not read start/end/action.", "start,end,action\n2,4,remove\nblur\n"},
        MistakeCase{"MkvmergeErrorOnStandardOutput", {"--remove", "2-4"}, 1,
                    "mkvmerge exited with exit code: 2\nError: The file 'seg.mkv' could not be opened for writing.",
                    "", false,
                    "echo \"mkvmerge v74.0.0 ('You Oughta Know') 64-bit\"\n"
                    "echo \"Error: The file 'seg.mkv' could not be opened for writing.\"\nexit 2"},
        MistakeCase{"OutputExists", {"--remove", "2-4"}, 0,
                    "warning: '{out}' already exists and will be replaced when the run succeeds", "", true},
        MistakeCase{"Mp4UnderAnMkvName", {"--remove", "2-4", "--mp4"}, 1,
                    "--mp4 writes MP4 data, but the output '{out}' ends in .mkv"},
        MistakeCase{"WordsWithoutTextSubtitles", {"--mute-words", "list.csv"}, 1,
                    "The movie has no text subtitles to find the listed words in.", "darn\n"},
        MistakeCase{"EmptyWordList", {"--mute-words", "list.csv"}, 1, "{list}: the file lists no words to mute.",
                    "# only a comment\n\n"},
        MistakeCase{"ProgressWithoutATerminal", {"--remove", "2-4"}, 0,
                    " 10.0%  Finding keyframes near the cut points"}),
    [](const auto& info) { return std::string(info.param.name); });

// Polls until `done` holds, for at most `seconds`; the machine is shared, so
// the bound is generous and nothing is asserted on the time it took.
bool eventually(const std::function<bool()>& done, int seconds) {
    for (int i = 0; i < seconds * 20; ++i) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return done();
}

// The ffmpeg that renders the title card into the work folder under `dir`.
std::vector<std::string> card_renderers_in(const fs::path& dir) {
    std::vector<std::string> found;
    for (const auto& process : e2e::processes_mentioning(path_text(dir)))
        if (contains(process, "ffmpeg") && contains(process, "card-0.mkv")) found.push_back(process);
    return found;
}

TEST(KilledOutright, TheToolDiesWithTheProgramAndTheNextRunClearsUp) {
    const auto source = e2e::movie(e2e::small_movie(10));
    test::TempDir dir;
    // An hour-long card: ffmpeg would encode on long after the program is gone.
    auto child = start_child(REELMENDER_CLI_PATH, {source, "--card", "2-4", "Intermission", "--card-seconds", "3600",
                                                   "--out", path_text(dir / "out.mkv")});
    ASSERT_TRUE(child.has_value()) << child.error();
    ASSERT_TRUE(eventually([&] { return !card_renderers_in(dir.path()).empty(); }, 120)) << "the card never started";

    ::kill(static_cast<pid_t>((*child)->pid()), SIGKILL);
    ASSERT_TRUE((*child)->wait().has_value());
    const auto survivors = [&] { return card_renderers_in(dir.path()); };
    EXPECT_TRUE(eventually([&] { return survivors().empty(); }, 10)) << testing::PrintToString(survivors());
    for (const auto& process : survivors()) kill_process(std::stoul(process));  // no hour of encoding after a failure
    ASSERT_EQ(e2e::work_folders(dir.path()).size(), 1u);  // nobody was left to remove it

    // A link planted with a dead run's name leads elsewhere and stays untouched.
    const auto planted = dir / fmt::format(".reelmender-work-{}-planted", (*child)->pid());
    dir.write("theirs/precious", "x");
    fs::create_directory_symlink(dir / "theirs", planted);

    auto next = test::run_cli({source, "--remove", "2-4", "--out", path_text(dir / "next.mkv"), "--quiet"});
    ASSERT_TRUE(next.has_value()) << next.error();
    EXPECT_EQ(next->exit_code, 0) << next->err;
    EXPECT_EQ(e2e::work_folders(dir.path()), std::vector<fs::path>{planted});
    EXPECT_EQ(test::slurp(dir / "theirs/precious"), "x");
}

}  // namespace
}  // namespace reel
