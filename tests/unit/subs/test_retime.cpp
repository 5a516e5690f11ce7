#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <vector>

#include "subs/subtitles.h"
#include "support/temp_dir.h"

namespace reel {
namespace {

TimelineSegment kept(double start, double end) { return {false, start, end, end - start}; }
TimelineSegment card(double length) { return {true, 0, 0, length}; }

// 60-70 s removed from a 200 s movie.
const Timeline gap = Timeline::from_segments({kept(0, 60), kept(70, 200)});
// 0-60 s removed.
const Timeline head_cut = Timeline::from_segments({kept(60, 200)});
// 10-20 s replaced by a 5 s card.
const Timeline with_card = Timeline::from_segments({kept(0, 10), card(5), kept(20, 200)});

TEST(FormatTimes, SrtAndAss) {
    struct Case {
        double t;
        std::string srt, ass;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Case cases[] = {
        {3723.4567, "01:02:03,457", "1:02:03.46"},
        {3723.456, "01:02:03,456", "1:02:03.46"},
        {0, "00:00:00,000", "0:00:00.00"},
        {-5, "00:00:00,000", "0:00:00.00"},
        {nan, "00:00:00,000", "0:00:00.00"},
        {0.125, "00:00:00,125", "0:00:00.13"},  // halves away from zero
        {0.0625, "00:00:00,063", "0:00:00.06"},
        {59.9999, "00:01:00,000", "0:01:00.00"},
        {360000, "100:00:00,000", "100:00:00.00"},
        {36000, "10:00:00,000", "10:00:00.00"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(format_srt_time(c.t), c.srt) << c.t;
        EXPECT_EQ(format_ass_time(c.t), c.ass) << c.t;
    }
    // Absurd times stay defined.
    EXPECT_FALSE(format_srt_time(1e300).empty());
    EXPECT_FALSE(format_ass_time(std::numeric_limits<double>::infinity()).empty());
}

TEST(RetimeSrt, WorkedExample) {
    EXPECT_EQ(retime_srt("7\n00:01:10,000 --> 00:01:12,500\nHello", head_cut), "1\n00:00:10,000 --> 00:00:12,500\nHello\n\n");
}

TEST(RetimeSrt, PlacedForTheCutTheMuxMakes) {
    // 60-70 s removed, cut by the mux: from 60 s on, the source is 10 s later.
    const LinkedCut linked{{0, 60}, {0, 10}};
    // A line across the cut keeps its edited length from where it starts; one
    // after it comes back to its source time.
    EXPECT_EQ(retime_srt("1\n00:00:59,000 --> 00:01:12,000\nA\n\n2\n00:01:20,000 --> 00:01:21,000\nB", gap, &linked),
              "1\n00:00:59,000 --> 00:01:02,000\nA\n\n2\n00:01:20,000 --> 00:01:21,000\nB\n\n");
    EXPECT_EQ(retime_ass("Dialogue: 0,0:01:10.00,0:01:11.00,Default,,0,0,0,,C", gap, &linked),
              "Dialogue: 0,0:01:10.00,0:01:11.00,Default,,0,0,0,,C\n");
}

TEST(RetimeSrt, CuesAgainstARemovedRange) {
    struct Case {
        std::string timing;
        std::string expected;  // the new timing line, or "" when dropped
    };
    const Case cases[] = {
        {"00:00:58,000 --> 00:01:03,000", "00:00:58,000 --> 00:01:00,000"},  // cut at the piece's end
        {"00:01:02,000 --> 00:01:05,000", ""},                               // all in removed material
        // What continues into kept material starts at the cut.
        {"00:01:05,000 --> 00:01:12,000", "00:01:00,000 --> 00:01:02,000"},
        {"00:01:00,000 --> 00:01:12,000", "00:01:00,000 --> 00:01:02,000"},
        // Across the removal the two parts meet again: one cue.
        {"00:00:58,000 --> 00:01:12,000", "00:00:58,000 --> 00:01:02,000"},
        // A flash of a line left by the cut is dropped; a line that short to
        // begin with is not.
        {"00:00:59,900 --> 00:01:05,000", ""},
        {"00:00:30,000 --> 00:00:30,200", "00:00:30,000 --> 00:00:30,200"},
        {"00:01:10,000 --> 00:01:12,000", "00:01:00,000 --> 00:01:02,000"},  // start of the next piece
        {"00:00:05,000 --> 00:00:05,000", ""},                               // zero length
        {"00:00:06,000 --> 00:00:05,000", ""},                               // reversed
        {"00:00:01.5 --> 00:00:02.25", "00:00:01,500 --> 00:00:02,250"},      // "." read, "," written
        {"00:00:01,000 --> 00:00:02,000 X1:10 X2:20", "00:00:01,000 --> 00:00:02,000 X1:10 X2:20"},
        {"00:00:01,000 -->   00:00:02,000 \t X1:10  ", "00:00:01,000 --> 00:00:02,000 \t X1:10"},
        {"00:00:01,000-->00:00:02,000", "00:00:01,000 --> 00:00:02,000"},
        {"00:00:01,0004 --> 00:00:02,0006", "00:00:01,000 --> 00:00:02,001"},
        {"xx --> 00:00:02,000", ""},  // unreadable
        {"00:00:01,000 --> ", ""},
        {"00:03:30,000 --> 00:03:40,000", ""},  // after the end of the movie
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.timing);
        const std::string expected = c.expected.empty() ? "" : "1\n" + c.expected + "\nText\n\n";
        EXPECT_EQ(retime_srt("1\n" + c.timing + "\nText\n", gap), expected);
    }
}

TEST(RetimeSrt, CardsShiftLaterCues) {
    EXPECT_EQ(retime_srt("1\n00:00:25,000 --> 00:00:26,000\nA\n\n2\n00:00:12,000 --> 00:00:13,000\nB\n", with_card),
              "1\n00:00:20,000 --> 00:00:21,000\nA\n\n");
}

TEST(RetimeSrt, BlocksLinesAndNumbering) {
    const std::string input =
        "1\n00:00:01,000 --> 00:00:02,000\nfirst line\nsecond line\n\n"
        "2\n00:01:05,000 --> 00:01:06,000\ndropped\n\n"
        "no timing here\n\n"
        "9\n00:01:20,000 --> 00:01:21,000\nlast\n";
    EXPECT_EQ(retime_srt(input, gap),
              "1\n00:00:01,000 --> 00:00:02,000\nfirst line\nsecond line\n\n"
              "2\n00:01:10,000 --> 00:01:11,000\nlast\n\n");
}

TEST(RetimeSrt, LineEndsAreUnified) {
    const std::string lf = "1\n00:00:01,000 --> 00:00:02,000\nA\nB\n\n2\n00:00:03,000 --> 00:00:04,000\nC\n";
    const std::string expected = retime_srt(lf, gap);
    EXPECT_EQ(expected, "1\n00:00:01,000 --> 00:00:02,000\nA\nB\n\n2\n00:00:03,000 --> 00:00:04,000\nC\n\n");
    std::string crlf, cr;
    for (char ch : lf) {
        crlf += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
        cr += ch == '\n' ? '\r' : ch;
    }
    EXPECT_EQ(retime_srt(crlf, gap), expected);
    EXPECT_EQ(retime_srt(cr, gap), expected);
}

TEST(RetimeSrt, ExtraBlankLinesAndByteOrderMark) {
    // Three line breaks: the next block starts with "\n"; its lines before the timing line are not written.
    for (const std::string breaks : {"\n\n\n", "\n\n\n\n", "\n\n\n\n\n"}) {
        EXPECT_EQ(retime_srt("1\n00:00:01,000 --> 00:00:02,000\nA" + breaks + "2\n00:00:03,000 --> 00:00:04,000\nB", gap),
                  "1\n00:00:01,000 --> 00:00:02,000\nA\n\n2\n00:00:03,000 --> 00:00:04,000\nB\n\n");
    }
    EXPECT_EQ(retime_srt("\xEF\xBB\xBF" "1\n00:00:01,000 --> 00:00:02,000\nA\n", gap),
              "1\n00:00:01,000 --> 00:00:02,000\nA\n\n");
    // A cue with no text lines still ends with an empty line.
    EXPECT_EQ(retime_srt("00:00:01,000 --> 00:00:02,000", gap), "1\n00:00:01,000 --> 00:00:02,000\n\n");
}

TEST(RetimeSrt, EmptyResults) {
    EXPECT_EQ(retime_srt("", gap), "");
    EXPECT_EQ(retime_srt("1\n00:01:01,000 --> 00:01:02,000\nGone\n", gap), "");
    // Rounded to milliseconds before the first cut.
    EXPECT_EQ(retime_srt("1\n0:0:1.23456 --> 0:0:2\nA", gap), "1\n00:00:01,235 --> 00:00:02,000\nA\n\n");
}

TEST(RetimeAss, WorkedExampleAndFields) {
    EXPECT_EQ(retime_ass("Dialogue: 0,0:01:10.00,0:01:12.50,Default,,0,0,0,,Hello, world", head_cut),
              "Dialogue: 0,0:00:10.00,0:00:12.50,Default,,0,0,0,,Hello, world\n");
    // The text field keeps further commas; other fields stay byte for byte.
    EXPECT_EQ(retime_ass("Dialogue:0 , 0:00:01.004 ,0:00:02.996,  Style,a,b,c,d,e,text, with, commas", gap),
              "Dialogue:0 ,0:00:01.00,0:00:03.00,  Style,a,b,c,d,e,text, with, commas\n");
}

TEST(RetimeAss, LinesKeptDroppedAndCopied) {
    const std::string input =
        "\xEF\xBB\xBF[Script Info]\r\n"
        "Title: x\r\n"
        "\r\n"
        "[Events]\r\n"
        "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\r\n"
        "Comment: 0,0:01:05.00,0:01:06.00,Default,,0,0,0,,kept as it is\r\n"
        "Dialogue: 0,0:00:58.00,0:01:03.00,Default,,0,0,0,,straddles\r\n"
        "Dialogue: 0,0:01:05.00,0:01:06.00,Default,,0,0,0,,removed\r\n"
        "Dialogue: 0,0:01:15.00,0:01:16.00,Default,,0,0,0,,moved\r\n"
        "Dialogue: 0,soon,0:01:16.00,Default,,0,0,0,,unreadable\r\n"
        "Dialogue: only,two\r\n"
        "Dialogue:\r\n"
        "dialogue: 0,0:01:05.00,0:01:06.00,lower case is no event\r\n"
        "lone\rCR stays";
    EXPECT_EQ(retime_ass(input, gap),
              "\xEF\xBB\xBF[Script Info]\n"
              "Title: x\n"
              "\n"
              "[Events]\n"
              "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n"
              "Comment: 0,0:01:05.00,0:01:06.00,Default,,0,0,0,,kept as it is\n"
              "Dialogue: 0,0:00:58.00,0:01:00.00,Default,,0,0,0,,straddles\n"
              "Dialogue: 0,0:01:05.00,0:01:06.00,Default,,0,0,0,,moved\n"
              "Dialogue: 0,soon,0:01:16.00,Default,,0,0,0,,unreadable\n"
              "Dialogue: only,two\n"
              "Dialogue:\n"
              "dialogue: 0,0:01:05.00,0:01:06.00,lower case is no event\n"
              "lone\rCR stays\n");
}

TEST(RetimeAss, EverythingRemovedLeavesTheHeader) {
    EXPECT_EQ(retime_ass("[Script Info]\n\n[Events]\nDialogue: 0,0:01:01.00,0:01:02.00,D,,0,0,0,,x\n", gap),
              "[Script Info]\n\n[Events]\n");
    EXPECT_EQ(retime_ass("", gap), "");
}

TEST(RetimeSubtitles, PictureTracksLeftOutOrDroppedWithAWarning) {
    test::TempDir dir;
    ToolSet tools;
    tools.ffmpeg = (dir / "no-such-ffmpeg").string();
    tools.mkvmerge = (dir / "no-such-folder" / "mkvmerge").string();
    MediaInfo info;
    info.subtitles.resize(3);
    info.subtitles[0].codec = "dvd_subtitle";
    info.subtitles[1].codec = "hdmv_pgs_subtitle";
    info.subtitles[1].language = "eng";
    info.subtitles[2].codec = "dvb_subtitle";
    const std::string dvb = "Subtitle track 3 (und) is image based (dvb_subtitle) and was dropped because the timeline changed.";
    std::vector<std::string> warnings;
    EXPECT_TRUE(retime_subtitles(tools, info, "movie.mkv", gap, dir.path(), false, warnings).value().empty());
    EXPECT_EQ(warnings, (std::vector<std::string>{
                            "Subtitle track 1 (und) is image based (dvd_subtitle) and was left out because MP4 cannot hold it.",
                            "Subtitle track 2 (eng) is image based (hdmv_pgs_subtitle) and was left out because MP4 cannot hold it.",
                            dvb}));
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));  // nothing ran

    warnings.clear();
    EXPECT_TRUE(retime_subtitles(tools, info, "movie.mkv", gap, dir.path(), true, warnings).value().empty());
    ASSERT_EQ(warnings.size(), 3u);
    EXPECT_EQ(warnings[0], "Subtitle track 1 could not be extracted and was dropped: mkvextract was not found beside mkvmerge");
    EXPECT_TRUE(warnings[1].starts_with("Subtitle track 2 could not be extracted and was dropped: could not start "))
        << warnings[1];
    EXPECT_EQ(warnings[2], dvb);
}

TEST(RetimeSubtitles, ExtractionFailureIsAWarning) {
    test::TempDir dir;
    ToolSet tools;
    tools.ffmpeg = (dir / "no-such-ffmpeg").string();
    MediaInfo info;
    SubtitleStreamInfo srt;
    srt.codec = "subrip";
    srt.text = true;
    info.subtitles = {srt};
    std::vector<std::string> warnings{"earlier"};
    const auto args = retime_subtitles(tools, info, "movie.mkv", gap, dir.path(), true, warnings);
    ASSERT_TRUE(args.has_value()) << args.error();
    EXPECT_TRUE(args->empty());
    ASSERT_EQ(warnings.size(), 2u);
    EXPECT_EQ(warnings[0], "earlier");
    EXPECT_TRUE(warnings[1].starts_with("Subtitle track 1 could not be extracted and was dropped: could not start "))
        << warnings[1];
}

}  // namespace
}  // namespace reel

namespace reel {
namespace {

SubtitleStreamInfo sub_track(const char* codec, bool text, bool is_default = false) {
    SubtitleStreamInfo track;
    track.codec = codec;
    track.text = text;
    track.isDefault = is_default;
    return track;
}

TEST(WordsTrack, AskedElseDefaultTextElseFirstText) {
    const auto pgs = sub_track("hdmv_pgs_subtitle", false, true);
    const auto srt = sub_track("subrip", true);
    const auto ass = sub_track("ass", true, true);
    const auto tx3g = sub_track("mov_text", true);
    const auto unreadable = sub_track("eia_608", true, true);
    struct Case {
        std::vector<SubtitleStreamInfo> tracks;
        std::optional<std::size_t> asked;
        Result<std::size_t> chosen;
    };
    const Case cases[] = {
        {{pgs, srt, ass}, std::nullopt, 2},
        {{pgs, unreadable, tx3g, srt}, std::nullopt, 2},
        {{pgs, srt, ass}, 2, 1},
        {{pgs, unreadable}, std::nullopt, fail("The movie has no text subtitles to find the listed words in.")},
        {{pgs, srt}, 3, fail("--words-track 3: the movie has 2 subtitle tracks.")},
        {{pgs, srt}, 1,
         fail("--words-track 1: subtitle track 1 (hdmv_pgs_subtitle) holds no text to find the words in.")},
    };
    for (const auto& c : cases) EXPECT_EQ(words_track(c.tracks, c.asked), c.chosen);
}

}  // namespace
}  // namespace reel
