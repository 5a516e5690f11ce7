#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "command_line.h"
#include "support/temp_dir.h"
#include "util/text.h"

namespace reel {
namespace {

using Args = std::vector<std::string>;

struct Parsed {
    Result<CommandLine> result;
    std::vector<std::string> warnings;
};

Parsed parse(const Args& args) {
    Parsed parsed{fail(""), {}};
    parsed.result = parse_command_line(args, [&](const std::string& m) { parsed.warnings.push_back(m); });
    return parsed;
}

CommandLine parse_ok(const Args& args) {
    auto parsed = parse(args);
    EXPECT_TRUE(parsed.result.has_value()) << parsed.result.error();
    return parsed.result.value_or(CommandLine{});
}

std::string usage_without_last_line_end() {
    return usage_text().substr(0, usage_text().size() - 1);
}

TEST(Usage, LinesByteForByte) {
    const std::vector<std::string> lines = {
        "reelmender-cli MOVIE [--edits list.csv] [--remove A-B] [--mute A-B] [--card A-B TEXT] [--text A-B TEXT]",
        "                     [--card-seconds N | --match] [--exact] [--out FILE] [--mp4] [--keep-temp] [--probe] [--quiet]",
        "reelmender-cli --serve [--port N] [--root DIR]...",
        "",
        "  --edits FILE      CSV edit list (start,end,action,text,card_seconds,enabled)",
        "  --mute-words FILE mute the subtitle cues that hold a word of the list; mask the words",
        "  --words-track N   subtitle track to find the words in, from 1 (default: the default text one)",
        "  --remove A-B      cut the range out",
        "  --mute A-B        silence the range",
        "  --card A-B TEXT   replace the range with a title card (length: --card-seconds, default 10, or --match)",
        "  --text A-B TEXT   keep the audio, replace the picture with a title card",
        "  --exact           cut on the exact frames (encodes up to a keyframe interval per cut again)",
        "  --out FILE        output path (default: next to the movie, ' (edited)' suffix)",
        "  --mp4             write MP4 instead of MKV",
        "  --probe           print stream information and exit",
        "  --frame T FILE    save the frame at time T as a JPEG (preview helper)",
        "  --clip A-B FILE   save a small H.264/AAC proxy of the range as MP4 (preview helper)",
        "  --serve           serve the web front end on 127.0.0.1 until interrupted",
        "  --port N          port of --serve (default 8765; 0 picks a free one)",
        "  --root DIR        folder the page may open and write in (repeatable; default: the current one)",
        "Times: H:MM:SS.mmm, MM:SS or seconds.",
    };
    std::string expected;
    for (const auto& line : lines) expected += line + "\n";
    EXPECT_EQ(usage_text(), expected);

    // The layout rules stated independently of the literal above.
    const auto actual = split(usage_text(), '\n');
    ASSERT_EQ(actual.size(), 22u);  // 21 lines and the empty rest after the last "\n"
    EXPECT_EQ(actual[21], "");
    EXPECT_EQ(actual[1].find_first_not_of(' '), 21u);
    for (int i = 4; i <= 19; ++i) {
        EXPECT_EQ(actual[i].substr(0, 4), "  --") << i;
        EXPECT_EQ(actual[i][19], ' ') << i;
        EXPECT_NE(actual[i][20], ' ') << i;  // description starts in column 21
    }
}

TEST(WantsHelp, NoArgumentsOrHelpAnywhere) {
    struct Case { Args args; bool help; };
    const Case cases[] = {
        {{}, true},
        {{"-h"}, true},
        {{"--help"}, true},
        {{"movie.mkv", "--remove", "1-2", "-h"}, true},
        {{"movie.mkv", "--out", "--help"}, true},  // even in the place of a value
        {{"movie.mkv", "--card", "1-2", "-h"}, true},
        {{"movie.mkv", "--remove", "1-2"}, false},
        {{"-H"}, false},
        {{"--HELP"}, false},
        {{"-help"}, false},
        {{"--help=1"}, false},
        {{"movie.mkv", " -h"}, false},
    };
    for (const auto& c : cases) EXPECT_EQ(wants_help(c.args), c.help) << testing::PrintToString(c.args);
}

TEST(ParseCommandLine, EveryFailureMessage) {
    const std::string usage = usage_without_last_line_end();
    struct Case { Args args; std::string message; };
    const Case cases[] = {
        {{"movie.mkv", "--remove"}, "--remove needs a value"},
        {{"movie.mkv", "--mute"}, "--mute needs a value"},
        {{"movie.mkv", "--card"}, "--card needs a value"},
        {{"movie.mkv", "--card", "1:00-1:10"}, "--card needs a value"},
        {{"movie.mkv", "--text", "1-2"}, "--text needs a value"},
        {{"movie.mkv", "--card", "bad"}, "--card needs a value"},  // both values are demanded first
        {{"movie.mkv", "--frame", "5"}, "--frame needs a value"},
        {{"movie.mkv", "--clip", "1-2"}, "--clip needs a value"},
        {{"movie.mkv", "--edits"}, "--edits needs a value"},
        {{"movie.mkv", "--out"}, "--out needs a value"},
        {{"movie.mkv", "--card-seconds"}, "--card-seconds needs a value"},
        {{"movie.mkv", "--card-seconds", "ten", "--card", "1-2", "Hi"}, "--card-seconds needs a number"},
        {{"movie.mkv", "--card-seconds", "1:30"}, "--card-seconds needs a number"},
        {{"movie.mkv", "--card-seconds", " 4"}, "--card-seconds needs a number"},
        {{"movie.mkv", "--card-seconds", ""}, "--card-seconds needs a number"},
        {{"movie.mkv", "--card-seconds", "inf"}, "--card-seconds needs a number"},
        {{"movie.mkv", "--card-seconds", "NaN"}, "--card-seconds needs a number"},
        {{"movie.mkv", "--card-seconds", "1e999"}, "--card-seconds needs a number"},
        {{"movie.mkv", "--remove", "10"}, "range '10' must look like START-END"},
        {{"movie.mkv", "--remove", "10-5"}, "range '10-5': end must be after start"},
        {{"movie.mkv", "--mute", "a-b"}, "bad time 'a'"},
        {{"movie.mkv", "--card", "1:00-x", "T"}, "bad time 'x'"},
        {{"movie.mkv", "--text", "-5-10", "T"}, "bad time ''"},
        {{"movie.mkv", "--remove", "nan-inf"}, "bad time 'nan'"},
        {{"movie.mkv", "--clip", "5-5", "c.mp4"}, "range '5-5': end must be after start"},
        {{"movie.mkv", "--frame", "x", "f.jpg"}, "bad time 'x'"},
        {{"movie.mkv", "--frame", " 1:: ", "f.jpg"}, "bad time ' 1:: '"},
        {{"movie.mkv", "--frame", "inf", "f.jpg"}, "bad time 'inf'"},
        {{"movie.mkv", "--mute-words"}, "--mute-words needs a value"},
        {{"movie.mkv", "--mute-words", "w.txt", "--words-track", "0"},
         "--words-track needs a subtitle track number: 1 for the first"},
        {{"movie.mkv", "--mute-words", "w.txt", "--words-track", "2.5"},
         "--words-track needs a subtitle track number: 1 for the first"},
        {{"movie.mkv", "--words-track", "2"}, "--words-track works only with --mute-words"},
        {{"--serve", "--mute-words", "w.txt"}, "--serve takes no movie and no edits: open them in the page"},
        {{"movie.mkv", "--verbose"}, "unknown option --verbose\n" + usage},
        {{"movie.mkv", "--"}, "unknown option --\n" + usage},
        {{"movie.mkv", "--Remove", "1-2"}, "unknown option --Remove\n" + usage},
        {{"movie.mkv", "--out=x.mkv"}, "unknown option --out=x.mkv\n" + usage},
        {{"--remove", "1-2"}, "no movie given\n" + usage},
        {{"--probe"}, "no movie given\n" + usage},
        // The first problem wins; nothing after it is looked at.
        {{"movie.mkv", "--remove", "10-5", "--verbose"}, "range '10-5': end must be after start"},
        {{"--verbose", "--remove", "10-5"}, "unknown option --verbose\n" + usage},
        {{"--remove", "x-1", "--card-seconds", "ten"}, "bad time 'x'"},
    };
    for (const auto& c : cases) {
        const auto parsed = parse(c.args);
        ASSERT_FALSE(parsed.result.has_value()) << testing::PrintToString(c.args);
        EXPECT_EQ(parsed.result.error(), c.message) << testing::PrintToString(c.args);
    }
}

TEST(ParseCommandLine, MessagesWithUsageEndInItsLastLine) {
    const auto parsed = parse({"movie.mkv", "--verbose"});
    ASSERT_FALSE(parsed.result.has_value());
    EXPECT_TRUE(parsed.result.error().ends_with("Times: H:MM:SS.mmm, MM:SS or seconds."));
    EXPECT_EQ(message_with_usage("no edits given"), "no edits given\n" + usage_without_last_line_end());
}

TEST(ParseCommandLine, Defaults) {
    const CommandLine cl = parse_ok({"movie.mkv"});
    EXPECT_EQ(cl.movie, "movie.mkv");
    EXPECT_TRUE(cl.edits.empty());
    EXPECT_FALSE(cl.out);
    EXPECT_FALSE(cl.container != matroska_container() || cl.quiet || cl.keepTemp || cl.probe || cl.match || cl.exact);
    EXPECT_EQ(cl.cardSeconds, 10.0);
    EXPECT_FALSE(cl.frame);
    EXPECT_FALSE(cl.clip);
    EXPECT_EQ(cl.optionEditCount, 0u);
}

TEST(ParseCommandLine, OneMovieAndOneDashOnlyForFiles) {
    EXPECT_EQ(parse_ok({"  spaced name .mkv "}).movie, "  spaced name .mkv ");
    EXPECT_EQ(parse_ok({""}).movie, "");
    EXPECT_EQ(parse({"a.mkv", "b.mkv", "--remove", "1-2"}).result.error(),
              "more than one movie given: 'a.mkv' and 'b.mkv'");
    // A name with one dash is the movie only when such a file exists.
    test::TempDir dir;
    const std::string dashed = dir.write("-x.mkv", "").string();
    EXPECT_EQ(parse_ok({dashed, "--remove", "1-2"}).movie, dashed);
    const std::string usage = usage_without_last_line_end();
    EXPECT_EQ(parse({"movie.mkv", "-x", "--remove", "1-2"}).result.error(), "unknown option -x\n" + usage);
    EXPECT_EQ(parse({"-"}).result.error(), "unknown option -\n" + usage);
}

TEST(ParseCommandLine, FlagsAndValues) {
    const CommandLine cl = parse_ok({"--mp4", "--quiet", "--keep-temp", "--probe", "--match", "--exact", "--out", "first.mkv",
                                     "--out", "-dash.mkv", "m.mkv", "--card-seconds", "2.5", "--card-seconds", "+4"});
    EXPECT_TRUE(cl.container == mp4_container() && cl.quiet && cl.keepTemp && cl.probe && cl.match && cl.exact);
    EXPECT_EQ(cl.out, "-dash.mkv");  // the last wins, a leading "-" is still a value
    EXPECT_EQ(cl.cardSeconds, 4.0);
    EXPECT_EQ(cl.movie, "m.mkv");

    const CommandLine words = parse_ok({"m.mkv", "--words-track", "3", "--mute-words", "-words.txt"});
    EXPECT_EQ(words.muteWords, "-words.txt");
    EXPECT_EQ(words.wordsTrack, 3u);
    EXPECT_TRUE(words.edits.empty());
}

TEST(ParseCommandLine, FrameAndClip) {
    const CommandLine cl = parse_ok({"m.mkv", "--frame", "1:30", "a.jpg", "--frame", "-3", "--b.jpg", "--clip",
                                     "1:00-1:10", "c.mp4", "--clip", " 2 - 2.5 ", "d.mp4"});
    ASSERT_TRUE(cl.frame);
    EXPECT_EQ(cl.frame->time, -3.0);
    EXPECT_EQ(cl.frame->file, "--b.jpg");
    ASSERT_TRUE(cl.clip);
    EXPECT_EQ(cl.clip->start, 2.0);
    EXPECT_EQ(cl.clip->length, 0.5);
    EXPECT_EQ(cl.clip->file, "d.mp4");
    EXPECT_TRUE(cl.edits.empty());
    EXPECT_EQ(cl.optionEditCount, 0u);
}

TEST(ParseCommandLine, ServeTakesPortAndRootsButNoMovie) {
    const CommandLine cl = parse_ok({"--root", "a", "--serve", "--port", "0", "--root", "-b", "--port", "9000"});
    EXPECT_TRUE(cl.serve);
    EXPECT_EQ(cl.port, 9000);  // the last wins
    EXPECT_EQ(cl.roots, (std::vector<std::string>{"a", "-b"}));
    EXPECT_FALSE(parse_ok({"--serve"}).port);

    struct Case { Args args; std::string message; };
    const Case cases[] = {
        {{"--serve", "--port", "65536"}, "--port needs a number from 0 to 65535"},
        {{"--serve", "--port", "-1"}, "--port needs a number from 0 to 65535"},
        {{"--serve", "--port", "80a"}, "--port needs a number from 0 to 65535"},
        {{"--serve", "--root"}, "--root needs a value"},
        {{"--serve", "movie.mkv"}, "--serve takes no movie and no edits: open them in the page"},
        {{"--serve", "--remove", "1-2"}, "--serve takes no movie and no edits: open them in the page"},
        {{"movie.mkv", "--remove", "1-2", "--port", "9000"}, "--port works only with --serve"},
        {{"movie.mkv", "--remove", "1-2", "--root", "."}, "--root works only with --serve"},
    };
    for (const auto& c : cases) {
        const auto parsed = parse(c.args);
        ASSERT_FALSE(parsed.result.has_value()) << testing::PrintToString(c.args);
        EXPECT_EQ(parsed.result.error(), c.message) << testing::PrintToString(c.args);
    }
}

TEST(ParseCommandLine, OptionEditsInOrderWithIds) {
    const CommandLine cl = parse_ok({"m.mkv", "--remove", "0:10-0:20", "--mute", "1-2", "--card", "3-4", "",
                                     "--text", "5-6", "-hello-"});
    ASSERT_EQ(cl.edits.size(), 4u);
    EXPECT_EQ(cl.optionEditCount, 4u);
    struct Want { std::string id; EditAction action; double start, end; std::string text; };
    const Want want[] = {
        {"arg1", EditAction::Remove, 10, 20, ""},
        {"arg2", EditAction::Mute, 1, 2, ""},
        {"arg3", EditAction::Replace, 3, 4, ""},
        {"arg4", EditAction::TextOverVideo, 5, 6, "-hello-"},
    };
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(cl.edits[i].id, want[i].id);
        EXPECT_EQ(cl.edits[i].action, want[i].action);
        EXPECT_EQ(cl.edits[i].start, want[i].start);
        EXPECT_EQ(cl.edits[i].end, want[i].end);
        EXPECT_EQ(cl.edits[i].text, want[i].text);
        EXPECT_TRUE(cl.edits[i].enabled);
    }
}

TEST(ParseCommandLine, FinalCardSettingsReachEveryCardEdit) {
    const CommandLine cards = parse_ok({"--card", "1-2", "Hello", "--card-seconds", "4", "movie.mkv"});
    ASSERT_EQ(cards.edits.size(), 1u);
    EXPECT_EQ(cards.edits[0].cardSeconds, 4.0);
    EXPECT_FALSE(cards.edits[0].match);

    const CommandLine texts = parse_ok({"--text", "1-2", "Hello", "--card-seconds", "4", "movie.mkv"});
    EXPECT_EQ(texts.edits[0].cardSeconds, 10.0);

    const CommandLine mixed = parse_ok({"m.mkv", "--card-seconds", "3", "--text", "1-2", "A", "--card", "3-4", "B",
                                        "--card-seconds", "7", "--match", "--text", "5-6", "C", "--card", "7-8", "D"});
    ASSERT_EQ(mixed.edits.size(), 4u);
    EXPECT_EQ(mixed.edits[0].cardSeconds, 3.0);  // text edits keep the values current when read
    EXPECT_FALSE(mixed.edits[0].match);
    EXPECT_EQ(mixed.edits[1].cardSeconds, 7.0);
    EXPECT_TRUE(mixed.edits[1].match);
    EXPECT_EQ(mixed.edits[2].cardSeconds, 7.0);
    EXPECT_TRUE(mixed.edits[2].match);
    EXPECT_EQ(mixed.edits[3].cardSeconds, 7.0);
    EXPECT_TRUE(mixed.edits[3].match);
}

TEST(ParseCommandLine, EditListFilesSitBetweenOptionEdits) {
    test::TempDir dir;
    const std::string list =
        dir.write("list.csv", "start,end,action,text,card_seconds\n2:00,2:10,card,From file\n1:30,1:40,mute\nbad\n")
            .string();
    const auto parsed = parse({"m.mkv", "--card-seconds", "6", "--remove", "0:10-0:20", "--edits", list,
                               "--card-seconds", "9", "--remove", "1:00-1:05", "--card", "5-6", "X"});
    ASSERT_TRUE(parsed.result.has_value()) << parsed.result.error();
    const CommandLine& cl = *parsed.result;
    std::vector<std::string> ids;
    for (const Edit& e : cl.edits) ids.push_back(e.id);
    EXPECT_EQ(ids, (std::vector<std::string>{"arg1", "csv3", "csv2", "arg2", "arg3"}));
    EXPECT_EQ(parsed.warnings, std::vector<std::string>{"Line 4: could not read start/end/action."});
    // The file's card gets the card length current when the file was read, and
    // is not touched by the final value; the option card is.
    EXPECT_EQ(cl.edits[2].cardSeconds, 6.0);
    EXPECT_EQ(cl.edits[4].cardSeconds, 9.0);
}

TEST(ParseCommandLine, EditListWarningsArriveBeforeALaterFailure) {
    test::TempDir dir;
    const std::string list = dir.write("list.csv", "x,y,z\n").string();
    const auto parsed = parse({"m.mkv", "--quiet", "--edits", list, "--verbose"});
    EXPECT_FALSE(parsed.result.has_value());
    EXPECT_EQ(parsed.warnings, std::vector<std::string>{"Line 1: could not read start/end/action."});
}

TEST(ParseCommandLine, EditListFileFailures) {
    test::TempDir dir;
    const std::string missing = (dir / "nope.csv").string();
    auto parsed = parse({"m.mkv", "--edits", missing});
    ASSERT_FALSE(parsed.result.has_value());
    EXPECT_EQ(parsed.result.error(), missing + ": No such file or directory");

    const std::string latin1 = dir.write("latin1.csv", "1,2,card,Caf\xE9\n").string();
    parsed = parse({"m.mkv", "--edits", latin1});
    ASSERT_FALSE(parsed.result.has_value());
    EXPECT_EQ(parsed.result.error(), latin1 + ": stream did not contain valid UTF-8");
}

TEST(OutputPath, NextToTheMovieUnlessGiven) {
    struct Case { std::string movie; bool mp4; std::string expected; };
    const Case cases[] = {
        {"/films/Movie.2019.mkv", false, "/films/Movie.2019 (edited).mkv"},
        {"/films/Movie.2019.mkv", true, "/films/Movie.2019 (edited).mp4"},
        {"movie.avi", false, "movie (edited).mkv"},
        {"dir/movie", false, "dir/movie (edited).mkv"},
        {"dir/.hidden", false, "dir/.hidden (edited).mkv"},
        {"dir/.hidden.mp4", true, "dir/.hidden (edited).mp4"},
        {"dir/", false, "dir/output (edited).mkv"},
        {"", false, "output (edited).mkv"},
        {"a b/c d.e f.ts", false, "a b/c d.e f (edited).mkv"},
    };
    for (const auto& c : cases) EXPECT_EQ(default_output_path(c.movie, c.mp4 ? mp4_container() : matroska_container()).string(), c.expected) << c.movie;

    CommandLine cl = parse_ok({"movie.mkv", "--remove", "1-2", "--out", "x.mkv", "--mp4"});
    EXPECT_EQ(output_path(cl).string(), "x.mkv");  // --mp4 does not touch a given path
    cl.out.reset();
    EXPECT_EQ(output_path(cl).string(), "movie (edited).mp4");
}

}  // namespace
}  // namespace reel
