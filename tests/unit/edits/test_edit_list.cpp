#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "edits/edit_list.h"
#include "support/temp_dir.h"

namespace reel {
namespace {

using Fields = std::vector<std::string>;

TEST(ActionName, NamesEveryAction) {
    EXPECT_EQ(action_name(EditAction::Remove), "remove");
    EXPECT_EQ(action_name(EditAction::Replace), "replace");
    EXPECT_EQ(action_name(EditAction::TextOverVideo), "textOverVideo");
    EXPECT_EQ(action_name(EditAction::Mute), "mute");
    EXPECT_EQ(sizeof(EditAction), 1u);
    EXPECT_EQ(static_cast<int>(EditAction::Mute), 3);
}

TEST(SplitCsvLine, QuotesAndCommas) {
    struct Case { std::string line; Fields fields; };
    const Case cases[] = {
        {"", {""}},
        {"a", {"a"}},
        {"a,b,c", {"a", "b", "c"}},
        {",", {"", ""}},
        {"a,", {"a", ""}},
        {" a , b ", {" a ", " b "}},                  // no trimming
        {"\"a,b\",c", {"a,b", "c"}},
        {"\"say \"\"hi\"\"\",x", {"say \"hi\"", "x"}},
        {"ab\"c,d\"e,f", {"abc,de", "f"}},            // a quote mid-field still switches
        {"\"\"", {""}},
        {"\"\"\"\"", {"\""}},
        {"\"open,never closed", {"open,never closed"}},  // an open quote runs to the end
        {"a\"\"b", {"ab"}},                           // outside quotes "" is an empty quoted stretch
        {"\xC3\xA9,\xE2\x82\xAC", {"\xC3\xA9", "\xE2\x82\xAC"}},
        {"x\r", {"x\r"}},
    };
    for (const auto& c : cases) EXPECT_EQ(split_csv_line(c.line), c.fields) << c.line;
}

struct Expected {
    std::string id;
    double start, end;
    EditAction action;
    std::string text = "";
    double cardSeconds = 10;
    bool match = false;
    bool enabled = true;
};

void expect_edits(const std::vector<Edit>& edits, const std::vector<Expected>& expected) {
    ASSERT_EQ(edits.size(), expected.size());
    for (std::size_t i = 0; i < edits.size(); ++i) {
        SCOPED_TRACE(expected[i].id);
        EXPECT_EQ(edits[i].id, expected[i].id);
        EXPECT_EQ(edits[i].start, expected[i].start);
        EXPECT_EQ(edits[i].end, expected[i].end);
        EXPECT_EQ(edits[i].action, expected[i].action);
        EXPECT_EQ(edits[i].text, expected[i].text);
        EXPECT_EQ(edits[i].cardSeconds, expected[i].cardSeconds);
        EXPECT_EQ(edits[i].match, expected[i].match);
        EXPECT_EQ(edits[i].enabled, expected[i].enabled);
    }
}

TEST(ParseEditList, HeaderThenRows) {
    const auto r = parse_edit_list("start,end,action,text\n0:10,0:20,remove\n1:00,1:05,card,Hello\n", 10);
    EXPECT_TRUE(r.messages.empty());
    expect_edits(r.edits, {{"csv2", 10, 20, EditAction::Remove}, {"csv3", 60, 65, EditAction::Replace, "Hello"}});
}

TEST(ParseEditList, RowsWithoutHeaderCountFromOne) {
    const auto r = parse_edit_list("0:10,0:20,remove\r\n1:00,1:05,card,Hello\r\n", 7.5);
    EXPECT_TRUE(r.messages.empty());
    expect_edits(r.edits,
                 {{"csv1", 10, 20, EditAction::Remove, "", 7.5}, {"csv2", 60, 65, EditAction::Replace, "Hello", 7.5}});
}

TEST(ParseEditList, BlankLinesDoNotCount) {
    const auto r = parse_edit_list("\n  \nstart,end,action\n\t\n1,2,mute\n\xC2\xA0\r\n\n3,2,mute\n4,5,blur\n", 10);
    expect_edits(r.edits, {{"csv2", 1, 2, EditAction::Mute}});
    EXPECT_EQ(r.messages, (Fields{"Line 3: end must be after start.", "Line 4: could not read start/end/action."}));
}

TEST(ParseEditList, HeaderSynonymsAndPositions) {
    struct Case { std::string text; Expected edit; };
    const Case cases[] = {
        // Blanks and letter case around the names do not matter.
        {" Action , From , To \ncut,1,2", {"csv2", 1, 2, EditAction::Remove}},
        {"action,begin,finish,message,seconds,active\nmute,1,2,Hi,3,no", {"csv2", 1, 2, EditAction::Mute, "Hi", 3, false, false}},
        {"kind,start,stop,card\nmute,1,2,Hi", {"csv2", 1, 2, EditAction::Mute, "Hi"}},
        {"type,stop,start,card_duration,card,on\nreplace,9,8,4,T,off", {"csv2", 8, 9, EditAction::Replace, "T", 4, false, false}},
        // The leftmost of several synonyms wins.
        // (text keeps its default column 3, which here holds the action word)
        {"start,begin,end,action\n1,7,2,remove", {"csv2", 1, 2, EditAction::Remove, "remove"}},
        {"to,end,start,action\n5,9,1,remove", {"csv2", 1, 5, EditAction::Remove, "remove"}},
        // Unnamed columns keep their default places: here end (1) and text (3).
        {"start,x,action,y,duration\n1,2,card,Words,6", {"csv2", 1, 2, EditAction::Replace, "Words", 6}},
        // Text keeps its default column 3 even when "end" was named there.
        {"enabled,card_seconds,start,end,action\n0,2.5,1,2,card", {"csv2", 1, 2, EditAction::Replace, "2", 2.5, false, false}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const auto r = parse_edit_list(c.text, 10);
        EXPECT_TRUE(r.messages.empty()) << (r.messages.empty() ? "" : r.messages[0]);
        expect_edits(r.edits, {c.edit});
    }
}

TEST(ParseEditList, DefaultPositionsMayCoincideWithNamedOnes) {
    // "end" is not named, so it keeps column 1, which is also where "start" was named.
    const auto r = parse_edit_list("action,start\ncard,1,5,Hi\n", 10);
    EXPECT_TRUE(r.edits.empty());
    EXPECT_EQ(r.messages, Fields{"Line 2: end must be after start."});
}

TEST(ParseEditList, AnyColumnNameMakesAHeader) {
    // Synonyms alone name the columns; a line with a time in it is data, even
    // when it holds a column name such as the action word "card".
    const auto r = parse_edit_list("type,from,to\ncut,1,2\n", 10);
    EXPECT_TRUE(r.messages.empty());
    expect_edits(r.edits, {{"csv2", 1, 2, EditAction::Remove}});
    const auto quoted = parse_edit_list("\"START\",\"END\",\"ACTION\"\n1,2,cut\n", 10);
    expect_edits(quoted.edits, {{"csv2", 1, 2, EditAction::Remove}});

    EXPECT_TRUE(is_header({"from", "to", "type"}));
    EXPECT_TRUE(is_header({"x", "active"}));
    EXPECT_FALSE(is_header({"1", "2", "card"}));
    EXPECT_FALSE(is_header({"start", "0:10"}));
    EXPECT_FALSE(is_header({"blur", "x"}));
}

TEST(ParseEditList, SeparatorFromTheFirstLine) {
    struct Case { std::string line; char separator; };
    const Case cases[] = {
        {"start;end;action", ';'},          {"from\tto\ttype", '\t'},           {"0:10,0:20,card,Hi; there", ','},
        {"0:10,5;0:20,25;card;Hi, x", ';'}, {"1\t2\tmute\tA, B; C", '\t'},     {"a;b;c,d", ';'},  // the most used
        {"\"x;y;z\",w", ','},               {"nothing", ','},
    };
    for (const auto& c : cases) EXPECT_EQ(detect_separator(c.line), c.separator) << c.line;

    const auto r = parse_edit_list("Start;End;Action;Text\n1:30,5;1:40;card;\"Hi; there\"\n", 10);
    expect_edits(r.edits, {{"csv2", 90.5, 100, EditAction::Replace, "Hi; there"}});
}

TEST(ParseEditList, ActionWords) {
    struct Case { std::string word; EditAction action; };
    const Case cases[] = {
        {"remove", EditAction::Remove},  {"Cut", EditAction::Remove},          {" DELETE ", EditAction::Remove},
        {"card", EditAction::Replace},   {"Replace", EditAction::Replace},     {"text", EditAction::TextOverVideo},
        {"TextOverVideo", EditAction::TextOverVideo}, {"Text-Over-Video", EditAction::TextOverVideo},
        {"text-keep-audio", EditAction::TextOverVideo}, {"MUTE", EditAction::Mute}, {"silence", EditAction::Mute},
    };
    for (const auto& c : cases) {
        const auto r = parse_edit_list("1,2," + c.word, 10);
        ASSERT_EQ(r.edits.size(), 1u) << c.word;
        EXPECT_EQ(r.edits[0].action, c.action) << c.word;
    }
    for (const char* word : {"blur", "", "  ", "text over video", "removed", "\"\""}) {
        const auto r = parse_edit_list(std::string("1,2,") + word, 10);
        EXPECT_TRUE(r.edits.empty()) << word;
        EXPECT_EQ(r.messages, Fields{"Line 1: could not read start/end/action."}) << word;
    }
}

TEST(ParseEditList, UnreadableTimesCostOnlyTheirLine) {
    const auto r = parse_edit_list(
        "x,2,cut\n1,,cut\n1\n#comment\n1,2,cut\nnan,2,cut\n1,inf,cut\n-inf,0,cut\n0:10,0:05,remove\n", 10);
    expect_edits(r.edits, {{"csv5", 1, 2, EditAction::Remove}});
    EXPECT_EQ(r.messages, (Fields{
                              "Line 1: could not read start/end/action.",
                              "Line 2: could not read start/end/action.",
                              "Line 3: could not read start/end/action.",
                              "Line 4: could not read start/end/action.",
                              "Line 6: could not read start/end/action.",
                              "Line 7: could not read start/end/action.",
                              "Line 8: could not read start/end/action.",
                              "Line 9: end must be after start.",
                          }));
}

TEST(ParseEditList, TextField) {
    struct Case { std::string line, text; };
    const Case cases[] = {
        {"1,2,card,  Hello World  ", "Hello World"},
        {"1,2,card,-", ""},
        {"1,2,card, - ", ""},
        {"1,2,card,--", "--"},
        {"1,2,card,\"Hello, world\"", "Hello, world"},
        {"1,2,card,\"say \"\"hi\"\"\"", "say \"hi\""},
        {"1,2,card,MiXeD", "MiXeD"},
        {"1,2,card", ""},
    };
    for (const auto& c : cases) {
        const auto r = parse_edit_list(c.line, 10);
        ASSERT_EQ(r.edits.size(), 1u) << c.line;
        EXPECT_EQ(r.edits[0].text, c.text) << c.line;
    }
}

TEST(ParseEditList, CardSecondsAndMatch) {
    struct Case { std::string field; double seconds; bool match; bool refused = false; };
    const Case cases[] = {
        {"same", 6, true},  {"MATCH", 6, true}, {" Original ", 6, true}, {"-", 6, false},  {"", 6, false},
        {"4.5", 4.5, false}, {" 3 ", 3, false}, {"1e1", 10, false},     {"abc", 6, false}, {"1:30", 6, false},
        {"inf", 6, false},  {"NaN", 6, false}, {"1e400", 6, false},     {"0.5", 0.5, false}, {"3600", 3600, false},
        // Outside the sane range: the default, with a word about it.
        {"-2", 6, false, true}, {"0", 6, false, true}, {"0.49", 6, false, true}, {"100000", 6, false, true},
    };
    for (const auto& c : cases) {
        const auto r = parse_edit_list("1,2,card,T," + c.field, 6);
        ASSERT_EQ(r.edits.size(), 1u) << c.field;
        EXPECT_EQ(r.edits[0].cardSeconds, c.seconds) << c.field;
        EXPECT_EQ(r.edits[0].match, c.match) << c.field;
        const Fields refused{"Line 1: card length '" + std::string(c.field) +
                             "' is not between 0.5 and 3600 seconds; the default 6 s is used."};
        EXPECT_EQ(r.messages, c.refused ? refused : Fields{}) << c.field;
    }
}

TEST(ParseEditList, EnabledField) {
    struct Case { std::string field; bool enabled; };
    const Case cases[] = {
        {"0", false}, {"no", false}, {"No", false}, {" OFF ", false}, {"false", false}, {"FALSE", false},
        {"n", true},  {"disabled", true}, {"", true}, {"1", true}, {"yes", true}, {"00", true},
    };
    for (const auto& c : cases) {
        const auto r = parse_edit_list("1,2,mute,,," + c.field, 10);
        ASSERT_EQ(r.edits.size(), 1u) << c.field;
        EXPECT_EQ(r.edits[0].enabled, c.enabled) << c.field;
    }
}

TEST(ParseEditList, StableSortByStart) {
    const auto r = parse_edit_list("1:00,1:10,cut,a\n0:30,0:40,mute,b\n0:30,0:35,card,c\n0:05,0:06,text,d\n", 10);
    ASSERT_EQ(r.edits.size(), 4u);
    EXPECT_EQ(r.edits[0].id, "csv4");
    EXPECT_EQ(r.edits[1].id, "csv2");
    EXPECT_EQ(r.edits[2].id, "csv3");
    EXPECT_EQ(r.edits[3].id, "csv1");

    // Many equal starts keep their file order exactly.
    std::string text;
    for (int i = 0; i < 200; ++i) text += (i % 2 ? "5,6,cut\n" : "1,2,cut\n");
    const auto many = parse_edit_list(text, 10);
    ASSERT_EQ(many.edits.size(), 200u);
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(many.edits[i].id, "csv" + std::to_string(2 * i + 1));
        EXPECT_EQ(many.edits[100 + i].id, "csv" + std::to_string(2 * i + 2));
    }
}

TEST(ParseEditList, EmptyAndHeaderOnlyFiles) {
    EXPECT_EQ(parse_edit_list("", 10).messages, Fields{"The file is empty."});
    EXPECT_EQ(parse_edit_list("\n\n\n", 10).messages, Fields{"The file is empty."});
    EXPECT_EQ(parse_edit_list(" \r\n\t\r\n  ", 10).messages, Fields{"The file is empty."});
    const auto header_only = parse_edit_list("start,end,action\n", 10);
    EXPECT_TRUE(header_only.edits.empty());
    EXPECT_TRUE(header_only.messages.empty());
}

TEST(ParseEditList, ByteOrderMarkIsIgnored) {
    // Spreadsheets write one before UTF-8 text; it must spoil neither a column
    // name nor a first start time.
    const auto r = parse_edit_list("\xEF\xBB\xBFtype;from;to\nmute;1;2\n", 10);
    expect_edits(r.edits, {{"csv2", 1, 2, EditAction::Mute}});
    const auto data = parse_edit_list("\xEF\xBB\xBF" "1,2,mute\n", 10);
    expect_edits(data.edits, {{"csv1", 1, 2, EditAction::Mute}});
}

TEST(ParseEditList, HostileInputNeverBreaks) {
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int round = 0; round < 50; ++round) {
        std::string text;
        for (int i = 0; i < 4000; ++i) text += static_cast<char>(byte(random));
        const auto r = parse_edit_list(text, 10);
        for (const Edit& e : r.edits) EXPECT_LT(e.start, e.end);
    }

    const std::string long_line(1 << 20, 'x');
    const auto r = parse_edit_list("1,2,card," + long_line + "\n" + long_line + "\n", 10);
    ASSERT_EQ(r.edits.size(), 1u);
    EXPECT_EQ(r.edits[0].text.size(), long_line.size());
    EXPECT_EQ(r.messages, Fields{"Line 2: could not read start/end/action."});

    const std::string commas(100000, ',');
    EXPECT_EQ(parse_edit_list(commas, 10).messages, Fields{"Line 1: could not read start/end/action."});
    EXPECT_EQ(split_csv_line(commas).size(), commas.size() + 1);
}

TEST(ReadEditList, ReadsAFile) {
    test::TempDir dir;
    const auto path = dir.write("list.csv", "start,end,action\n0:10,0:20,remove\n");
    const auto r = read_edit_list(path.string(), 10);
    ASSERT_TRUE(r.has_value()) << r.error();
    expect_edits(r->edits, {{"csv2", 10, 20, EditAction::Remove}});
}

TEST(ReadEditList, FileFailures) {
    test::TempDir dir;
    const std::string missing = (dir / "missing.csv").string();
    const auto r = read_edit_list(missing, 10);
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error(), missing + ": No such file or directory");

    const auto folder = read_edit_list(dir.path().string(), 10);
    ASSERT_FALSE(folder.has_value());
    EXPECT_EQ(folder.error(), dir.path().string() + ": Is a directory");

    const std::string bad = dir.write("bad.csv", "1,2,card,caf\xE9\n").string();
    const auto utf = read_edit_list(bad, 10);
    ASSERT_FALSE(utf.has_value());
    EXPECT_EQ(utf.error(), bad + ": stream did not contain valid UTF-8");

    const auto empty = read_edit_list(dir.write("empty.csv", "").string(), 10);
    ASSERT_TRUE(empty.has_value());
    EXPECT_EQ(empty->messages, Fields{"The file is empty."});
}

}  // namespace
}  // namespace reel
