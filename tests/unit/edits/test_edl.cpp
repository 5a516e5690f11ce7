#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "edits/edl.h"
#include "pipeline/plan.h"
#include "support/temp_dir.h"

namespace reel {
namespace {

using Messages = std::vector<std::string>;

TEST(Edl, EditsAsTheSameCsvWouldOnceFramesAreResolved) {
    // Every action and both time forms; at 25 fps frame 500 is 20 s, 800 is 32 s.
    const std::string edl =
        "5.5\t7.25\t0\n"
        "0:00:10.000  0:00:12.5 1\r\n"
        "#500 #625 3\n"
        "\n"
        "30 #800 1\n"
        "40.0 40.0 2\n"
        "0:00:50 55 3\n";
    // The scene marker's line becomes a bad CSV row, so that line numbers stay aligned.
    const std::string csv = "5.5,7.25,remove\n10,12.5,mute\n20,25,cut\n30,32,mute\n40,40,cut\n50,55,remove\n";
    const auto from_edl = parse_edl(edl, 6);
    const auto from_csv = parse_edit_list(csv, 6);
    EXPECT_EQ(from_edl.messages, Messages{"Line 5: scene marker skipped."});
    EXPECT_EQ(from_csv.messages, Messages{"Line 5: end must be after start."});
    const auto edl_edits = validate_edits(from_edl.edits, 60, 25);
    const auto csv_edits = validate_edits(from_csv.edits, 60, 25);
    ASSERT_TRUE(edl_edits.has_value()) << edl_edits.error();
    ASSERT_TRUE(csv_edits.has_value()) << csv_edits.error();
    ASSERT_EQ(edl_edits->size(), 5u);
    ASSERT_EQ(csv_edits->size(), 5u);
    for (std::size_t i = 0; i < edl_edits->size(); ++i) {
        const Edit& a = (*edl_edits)[i];
        const Edit& b = (*csv_edits)[i];
        SCOPED_TRACE(a.id);
        EXPECT_EQ(a.id, "edl" + b.id.substr(3));
        EXPECT_EQ(a.start, b.start);
        EXPECT_EQ(a.end, b.end);
        EXPECT_EQ(a.action, b.action);
        EXPECT_EQ(a.cardSeconds, b.cardSeconds);
        EXPECT_EQ(a.text, b.text);
        EXPECT_EQ(a.enabled, b.enabled);
        EXPECT_FALSE(a.startFrame || a.endFrame);
    }
}

TEST(Edl, BadLinesCostOnlyThemselves) {
    struct Case { std::string line, message; };
    const std::string unreadable = "Line 1: could not read start/end/action.";
    const Case cases[] = {
        {"1 2", unreadable},         {"1 2 0 x", unreadable},    {"1,2,0", unreadable},
        {"a 2 0", unreadable},       {"1 2 4", unreadable},      {"1 2 -1", unreadable},
        {"1 2 mute", unreadable},    {"#1.5 #3 0", unreadable},  {"#-1 #3 0", unreadable},
        {"# 5 0", unreadable},       {"nan 2 0", unreadable},    {"1 1e400 0", unreadable},
        {"#99999999999999999999 #1 0", unreadable},
        {"2 1 0", "Line 1: end must be after start."},
        {"#30 #30 1", "Line 1: end must be after start."},
        {"5 5 2", "Line 1: scene marker skipped."},
    };
    for (const auto& c : cases) {
        const auto r = parse_edl(c.line + "\n1 2 1\n", 10);
        EXPECT_EQ(r.messages, Messages{c.message}) << c.line;
        ASSERT_EQ(r.edits.size(), 1u) << c.line;
        EXPECT_EQ(r.edits[0].id, "edl2");
    }
    EXPECT_EQ(parse_edl(" \n\t\n", 10).messages, Messages{"The file is empty."});
}

TEST(Edl, FramesNeedAFrameRate) {
    const auto r = parse_edl("#240 12 1\n", 10);
    ASSERT_EQ(r.edits.size(), 1u);
    const auto ntsc = resolve_frames(r.edits[0], 24000.0 / 1001.0);
    ASSERT_TRUE(ntsc.has_value());
    EXPECT_DOUBLE_EQ(ntsc->start, 10.01);
    EXPECT_EQ(ntsc->end, 12);
    for (const double fps : {0.0, -25.0, std::nan(""), HUGE_VAL}) {
        const auto v = validate_edits(r.edits, 60, fps);
        ASSERT_FALSE(v.has_value()) << fps;
        EXPECT_EQ(v.error(), "Edit edl1 counts frames, but the movie's frame rate is unknown.");
    }
    // A mixed range whose end lies before its start is caught in validation.
    const auto reversed = validate_edits(parse_edl("#500 10 0\n", 10).edits, 60, 25);
    ASSERT_FALSE(reversed.has_value());
    EXPECT_EQ(reversed.error(), "Edit edl1 has an invalid range (20.000 to 10.000); the movie is 60.00 s long.");
}

TEST(Edl, RecognisedByExtensionOrFirstLine) {
    struct Case { std::string text; bool edl; };
    const Case cases[] = {
        {"5 10 0\n", true},           {"\xEF\xBB\xBF\n \n 5\t10\t3\nrubbish", true},
        {"#5 #10 1", true},           {"1:00 1:30 2", true},
        {"5,10,0", false},            {"1 2 mute", false},
        {"start,end,action\n1 2 0", false},  {"", false},
    };
    for (const auto& c : cases) EXPECT_EQ(looks_like_edl(c.text), c.edl) << c.text;

    test::TempDir dir;
    struct File { std::string name, text, first_id; };
    const File files[] = {
        {"cuts.EDL", "1 2 0\n", "edl1"},
        {"cuts.txt", "1 2 0\n", "edl1"},
        {"cuts.csv", "1,2,cut\n", "csv1"},
        {"cuts.edl", "1 2 0\n3,4,cut\n", "edl1"},  // the extension decides: the CSV row is a bad line
    };
    for (const auto& f : files) {
        const auto r = read_edit_list(dir.write(f.name, f.text).string(), 10);
        ASSERT_TRUE(r.has_value()) << f.name;
        ASSERT_FALSE(r->edits.empty()) << f.name;
        EXPECT_EQ(r->edits[0].id, f.first_id) << f.name;
        EXPECT_EQ(r->messages.size(), f.name == "cuts.edl" ? 1u : 0u) << f.name;
    }
}

}  // namespace
}  // namespace reel
