#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "edits/edit_list.h"
#include "edits/edl.h"
#include "page_data.h"

namespace reel {
namespace {

using nlohmann::json;
using Messages = std::vector<std::string>;

Edit make_edit(EditAction action, double start, double end, std::string text = "", bool enabled = true) {
    Edit edit;
    edit.action = action;
    edit.start = start;
    edit.end = end;
    edit.text = std::move(text);
    edit.enabled = enabled;
    return edit;
}

void expect_same_edits(const std::vector<Edit>& read, const std::vector<Edit>& written) {
    ASSERT_EQ(read.size(), written.size());
    for (std::size_t i = 0; i < read.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(read[i].action, written[i].action);
        EXPECT_EQ(read[i].start, written[i].start);
        EXPECT_EQ(read[i].end, written[i].end);
        EXPECT_EQ(read[i].text, written[i].text);
        EXPECT_EQ(read[i].cardSeconds, written[i].cardSeconds);
        EXPECT_EQ(read[i].match, written[i].match);
        EXPECT_EQ(read[i].enabled, written[i].enabled);
    }
}

TEST(PageData, EditsTravelAsJsonAndComeBackAsTableRows) {
    Edit card = make_edit(EditAction::Replace, 60.5, 70, "Later, \"that\" day");
    card.cardSeconds = 4;
    const std::vector<Edit> sent = {make_edit(EditAction::Remove, 1, 2), card,
                                    make_edit(EditAction::TextOverVideo, 3, 4, "Hi", false),
                                    make_edit(EditAction::Mute, 0.001, 1e5)};
    json rows = json::array();
    for (const Edit& edit : sent) rows.push_back(edit_to_json(edit));
    EXPECT_EQ(rows[1]["action"], "replace");
    EXPECT_EQ(rows[2]["action"], "textOverVideo");

    const auto back = edits_from_json(rows);
    ASSERT_TRUE(back) << back.error();
    expect_same_edits(*back, sent);
    EXPECT_EQ((*back)[0].id, "row1");
    EXPECT_EQ((*back)[3].id, "row4");

    // Only start, end and action are needed.
    const auto minimal = edits_from_json(json::parse(R"([{"action":"mute","start":1,"end":2}])"));
    ASSERT_TRUE(minimal) << minimal.error();
    EXPECT_TRUE((*minimal)[0].enabled);
    EXPECT_EQ((*minimal)[0].cardSeconds, 10);
}

TEST(PageData, UnreadableRowsAreNamed) {
    struct Case { std::string rows, message; };
    const Case cases[] = {
        {R"({"action":"remove"})", "the edits must be a list"},
        {R"([1])", "row 1: not an object"},
        {R"([{"action":"mute","start":1,"end":2},{"start":1,"end":2}])", "row 2: no action"},
        {R"([{"action":"cut","start":1,"end":2}])", "row 1: unknown action 'cut'"},
        {R"([{"action":"remove","start":"1","end":2}])", "row 1: no start time"},
        {R"([{"action":"remove","start":1}])", "row 1: no end time"},
        {R"([{"action":"remove","start":2,"end":2}])", "row 1: end must be after start"},
        {R"([{"action":"replace","start":1,"end":2,"text":5}])", "row 1: the text must be text"},
        {R"([{"action":"replace","start":1,"end":2,"cardSeconds":0.1}])",
         "row 1: the card length must be between 0.5 and 3600 seconds"},
        {R"([{"action":"remove","start":1,"end":2,"enabled":"yes"}])", "row 1: enabled must be true or false"},
    };
    for (const Case& c : cases) {
        const auto edits = edits_from_json(json::parse(c.rows));
        ASSERT_FALSE(edits) << c.rows;
        EXPECT_EQ(edits.error(), c.message) << c.rows;
    }
}

TEST(PageData, CsvExportReadsBackUnchanged) {
    Edit matched = make_edit(EditAction::Replace, 5, 6.25, "Line one\nline two; \"quoted\", too");
    matched.match = true;
    Edit card = make_edit(EditAction::Replace, 7, 8, "Card");
    card.cardSeconds = 2.5;
    const std::vector<Edit> edits = {make_edit(EditAction::Remove, 0.1, 1.2), matched, card,
                                     make_edit(EditAction::Mute, 9, 10, "", false),
                                     make_edit(EditAction::TextOverVideo, 3723.5, 3725, "text,with,commas")};
    const std::string csv = edit_list_csv(edits);
    const auto read = parse_edit_list(csv, 10);
    EXPECT_EQ(read.messages, Messages{});
    std::vector<Edit> expected = edits;
    expected[1].text = "Line one line two; \"quoted\", too";  // a row is one line
    expect_same_edits(read.edits, expected);
}

TEST(PageData, EdlExportKeepsWhatAnEdlCanSay) {
    const std::vector<Edit> edits = {make_edit(EditAction::Remove, 1.5, 2), make_edit(EditAction::Replace, 3, 4, "C"),
                                     make_edit(EditAction::Mute, 5, 6.125), make_edit(EditAction::Remove, 7, 8, "", false),
                                     make_edit(EditAction::TextOverVideo, 9, 10, "T")};
    const EdlText edl = edit_list_edl(edits);
    EXPECT_EQ(edl.text, "1.5 2 0\n5 6.125 1\n");
    EXPECT_EQ(edl.messages, (Messages{"row 2: an EDL has no replace edits; left out", "row 4: is switched off and left out",
                                      "row 5: an EDL has no textOverVideo edits; left out"}));
    ASSERT_TRUE(looks_like_edl(edl.text));
    expect_same_edits(parse_edl(edl.text, 10).edits, {edits[0], edits[2]});
}

TEST(PageData, ImportTellsEdlFromCsvAndCountsFrames) {
    // By name, by content, and CSV otherwise.
    const auto by_name = import_edit_list("cuts.EDL", "#50 #100 1\n", 25);
    EXPECT_EQ(by_name.messages, Messages{});
    expect_same_edits(by_name.edits, {make_edit(EditAction::Mute, 2, 4)});
    const auto by_content = import_edit_list("cuts.txt", "10 12.5 0\n", 25);
    expect_same_edits(by_content.edits, {make_edit(EditAction::Remove, 10, 12.5)});
    const auto csv = import_edit_list("cuts.csv", "start;end;action\n1;2;mute\n", 25);
    expect_same_edits(csv.edits, {make_edit(EditAction::Mute, 1, 2)});

    // Without a frame rate a frame number cannot become a time.
    const auto no_rate = import_edit_list("cuts.edl", "#50 #100 1\n1 2 0\n", 0);
    expect_same_edits(no_rate.edits, {make_edit(EditAction::Remove, 1, 2)});
    EXPECT_EQ(no_rate.messages, Messages{"Edit edl1 counts frames, but the movie's frame rate is unknown."});
}

TEST(PageData, CutPicturesFollowTheShorterTimeline) {
    auto applied = [](std::string id, EditAction action, double start, double end, std::optional<double> card) {
        AppliedEdit a;
        a.id = std::move(id);
        a.action = action;
        a.actualStart = start;
        a.actualEnd = end;
        a.cardSeconds = card;
        return a;
    };
    RunReport report;
    // The report lists cards before removes; pictures go in source order.
    report.applied = {applied("row3", EditAction::Mute, 1, 2, std::nullopt),
                      applied("row2", EditAction::Replace, 20, 30, 4.0),
                      applied("row1", EditAction::Remove, 5, 8, std::nullopt),
                      applied("row4", EditAction::TextOverVideo, 40, 41, std::nullopt),
                      applied("row5", EditAction::Remove, 50, 52, std::nullopt)};
    const auto pictures = cut_pictures(report, 0.04);
    ASSERT_EQ(pictures.size(), 3u);
    struct Expected { std::string id, kind; double source, output; };
    const Expected expected[] = {
        {"row1", "remove", 4.96, 5},                 // nothing cut before it
        {"row2", "replace", 19.96, 17 + 2},          // 3 s removed before it; the card's middle
        {"row5", "remove", 49.96, 50 - 3 - 10 + 4},  // and the 10 s that became a 4 s card
    };
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(pictures[i].id, expected[i].id);
        EXPECT_EQ(pictures[i].kind, expected[i].kind);
        EXPECT_DOUBLE_EQ(pictures[i].source, expected[i].source);
        EXPECT_DOUBLE_EQ(pictures[i].output, expected[i].output);
    }
    // A cut at the very start has no frame before it: the first frame stands in.
    report.applied = {applied("row1", EditAction::Remove, 0, 2, std::nullopt)};
    EXPECT_EQ(cut_pictures(report, 0.04).front().source, 0);
}

}  // namespace
}  // namespace reel
