#include <gtest/gtest.h>

#include "subs/chapters.h"
#include "support/temp_dir.h"
#include "util/files.h"

namespace reel {
namespace {

const std::string header =
    "<?xml version=\"1.0\"?>\n<!DOCTYPE Chapters SYSTEM \"matroskachapters.dtd\">\n<Chapters><EditionEntry>\n";
const std::string footer = "</EditionEntry></Chapters>\n";

std::string atom(const std::string& time, const std::string& title) {
    return "<ChapterAtom><ChapterTimeStart>" + time + "</ChapterTimeStart><ChapterDisplay><ChapterString>" + title +
           "</ChapterString><ChapterLanguage>eng</ChapterLanguage></ChapterDisplay></ChapterAtom>\n";
}

ChapterInfo chapter(double start, const std::string& title) { return ChapterInfo{start, start + 1, title}; }

TimelineSegment kept(double start, double end) { return {false, start, end, end - start}; }

const Timeline head_cut = Timeline::from_segments({kept(60, 200)});
// 0-10 kept, 10-20 replaced by a 5 s card, 20-30 kept, 30-40 removed, 40-50 kept.
const Timeline mixed = Timeline::from_segments({kept(0, 10), {true, 0, 0, 5}, kept(20, 30), kept(40, 50)});

TEST(Chapters, HeaderIsNinetySevenBytes) { EXPECT_EQ(header.size(), 97u); }

TEST(Chapters, FormatTime) {
    EXPECT_EQ(format_chapter_time(3723.4567), "01:02:03.457");
    EXPECT_EQ(format_chapter_time(0), "00:00:00.000");
    EXPECT_EQ(format_chapter_time(-3), "00:00:00.000");
    EXPECT_EQ(format_chapter_time(0.0625), "00:00:00.063");
    EXPECT_EQ(format_chapter_time(360001), "100:00:01.000");
}

TEST(Chapters, Escaping) {
    struct Case {
        std::string title, expected;
    };
    const Case cases[] = {
        {"Q&A <live>", "Q&amp;A &lt;live&gt;"},
        {"\"quoted\" it's", "&quot;quoted&quot; it's"},
        {"&amp;", "&amp;amp;"},
        {"&lt;>", "&amp;lt;&gt;"},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(escape_chapter_title(c.title), c.expected) << c.title;
}

TEST(Chapters, WorkedExample) {
    EXPECT_EQ(chapters_xml({chapter(70, "Q&A <live>"), chapter(30, "gone")}, head_cut),
              header + atom("00:00:10.000", "Q&amp;A &lt;live&gt;") + footer);
}

TEST(Chapters, KeptDroppedAndOrdered) {
    const std::vector<ChapterInfo> chapters{
        chapter(45, "late first"),  // input order is kept, not sorted
        chapter(0, "start"),
        chapter(10, "at the card"),   // the end of a kept piece, then a card
        chapter(15, "inside card"),
        chapter(20, "after card"),
        chapter(30, "end of piece"),  // the next piece starts at 40: dropped
        chapter(35, "removed"),
        chapter(50, "past the end"),
        chapter(9.9996, "a blink before the card"),
        chapter(29.5, ""),               // runs into removed material: kept where it starts
        chapter(39.5, "opening removed"),  // begins at the cut
    };
    EXPECT_EQ(chapters_xml(chapters, mixed),
              header + atom("00:00:30.000", "late first") + atom("00:00:00.000", "start") +
                  atom("00:00:15.000", "after card") + atom("00:00:24.500", "") +
                  atom("00:00:25.000", "opening removed") + footer);
}

TEST(Chapters, NothingKeptGivesNothing) {
    EXPECT_EQ(chapters_xml({}, head_cut), std::nullopt);
    EXPECT_EQ(chapters_xml({chapter(5, "a"), chapter(58.5, "b")}, head_cut), std::nullopt);
    // Only as many segments as there are offsets are looked at.
    Timeline short_offsets = head_cut;
    short_offsets.offsets.clear();
    EXPECT_EQ(chapters_xml({chapter(70, "a")}, short_offsets), std::nullopt);
}

TEST(BuildChapters, WritesTheFileOrNothing) {
    test::TempDir dir;
    const auto none = build_chapters({chapter(5, "a")}, head_cut, dir.path());
    ASSERT_TRUE(none.has_value()) << none.error();
    EXPECT_TRUE(none->empty());
    EXPECT_FALSE(std::filesystem::exists(dir / "chapters.xml"));

    dir.write("chapters.xml", "old content that is longer than the new one......................................"
                              "....................................................................................."
                              "....................................................................................."
                              ".....................................................................................");
    const auto args = build_chapters({chapter(61.5, "One")}, head_cut, dir.path());
    ASSERT_TRUE(args.has_value()) << args.error();
    EXPECT_EQ(*args, (ChapterArgs{"--chapters", path_text(dir / "chapters.xml")}));
    EXPECT_EQ(test::slurp(dir / "chapters.xml"), header + atom("00:00:01.500", "One") + footer);

    const auto failed = build_chapters({chapter(61.5, "One")}, head_cut, dir / "missing");
    ASSERT_FALSE(failed.has_value());
    EXPECT_EQ(failed.error(), "No such file or directory");
}

}  // namespace
}  // namespace reel
