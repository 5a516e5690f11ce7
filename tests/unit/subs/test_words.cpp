#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "subs/words.h"
#include "support/temp_dir.h"

namespace reel {
namespace {

TEST(WordMatch, CaseScriptsWholeWordsPhrasesAndMarkup) {
    struct Case {
        std::string list, cue, masked;  // masked == cue: no match
    };
    const Case cases[] = {
        {"damn", "DAMN it, Damn!", "**** it, ****!"},
        {"irst", "first", "first"},                                        // whole words only
        {"ass", "class, ass.", "class, ***."},
        {"café", "CAFÉ au lait", "**** au lait"},                          // accents: case folded,
        {"cafe", "Café", "Café"},                                          // but never dropped
        {"cafe\xCC\x81", "CAFE\xCC\x81!", "****!"},                        // a combining accent goes with its letter
        {"σκατά", "ΣΚΑΤΆ!", "*****!"},
        {"θεός", "ΘΕΟΣ, θεος, Θεός", "****, ****, ****"},                  // final sigma; Greek capitals drop accents
        {"σκατα", "σκατά", "*****"},
        {"блин", "Блин, опять БЛИН", "****, опять ****"},
        {"ёлки", "ЁЛКИ-палки", "****-палки"},                              // a hyphen ends a word
        {"istanbul", "İSTANBUL", "********"},
        {"don't", "Don’t do that", "***** do that"},                      // apostrophes alike
        {"don", "Don't", "Don't"},                                         // an inner apostrophe joins
        {"heck", "'Heck'", "'****'"},                                      // an outer one does not
        {"son of a gun", "Son of a\\Ngun!", "*** ** *\\N***!"},            // ASS line break
        {"son of a gun", "Son of a\r\ngun", "*** ** *\r\n***"},           // SubRip line break
        {"son of a gun", "son of a gun of a", "*** ** * *** of a"},
        {"son of a gun", "gun a of son", "gun a of son"},                  // in order only
        {"son of a gun", "son, of a gun", "son, of a gun"},                // punctuation is not white space
        {"oh my", "Oh\\hmy", "**\\h**"},
        {"bull-crap", "Bull -\\Ncrap", "**** -\\N****"},
        {"bull-crap", "bull crap", "bull crap"},
        {"damn", "{\\i1}Damn{\\i0} it", "{\\i1}****{\\i0} it"},            // override blocks intact
        {"damn", "{\\k20}da{\\k30}mn", "{\\k20}**{\\k30}**"},              // karaoke syllables
        {"red", "<font color=\"red\">Red</font>", "<font color=\"red\">***</font>"},
        {"i", "{\\i1}<i>I</i>", "{\\i1}<i>*</i>"},
        {"damn", "\xFF damn \xE2\x82", "\xFF **** \xE2\x82"},              // invalid bytes kept
        {"42", "Take 42.", "Take **."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.list + " / " + c.cue);
        const WordList list = parse_word_list(c.list);
        EXPECT_EQ(mask_words(c.cue, list), c.masked);
        EXPECT_EQ(cue_has_words(c.cue, list), c.masked != c.cue);
    }
}

TEST(WordList, LinesCommentsAndDuplicates) {
    const WordList list = parse_word_list("\xEF\xBB\xBF# mild words\r\n\n  Darn  \r\n darn\n!!!\n  # not this\nGOSH golly\n");
    ASSERT_EQ(list.phrases().size(), 2u);
    EXPECT_EQ(list.phrases()[0].words, (std::vector<std::u32string>{U"darn"}));
    EXPECT_EQ(list.phrases()[1].words, (std::vector<std::u32string>{U"gosh", U"golly"}));
    EXPECT_FALSE(cue_has_words("not this", list));
    EXPECT_TRUE(parse_word_list("# only\n\n...\n").empty());
}

TEST(WordList, FileFailures) {
    test::TempDir dir;
    const std::string missing = (dir / "missing.txt").string();
    EXPECT_EQ(read_word_list(missing).error(), missing + ": No such file or directory");
    const std::string latin1 = dir.write("latin1.txt", "caf\xE9\n").string();
    EXPECT_EQ(read_word_list(latin1).error(), latin1 + ": stream did not contain valid UTF-8");
    const std::string empty = dir.write("empty.txt", "# nothing yet\n\n").string();
    EXPECT_EQ(read_word_list(empty).error(), empty + ": the file lists no words to mute.");
    const auto good = read_word_list(dir.write("good.txt", "darn\n").string());
    ASSERT_TRUE(good.has_value()) << good.error();
    EXPECT_TRUE(cue_has_words("Darn.", *good));
}

std::vector<std::size_t> numbers(const WordScan& scan) {
    std::vector<std::size_t> out;
    for (const auto& cue : scan.cues) out.push_back(cue.number);
    return out;
}

TEST(WordScan, SubRipCuesAndMaskedDocument) {
    const std::string srt =
        "1\r\n00:00:01,000 --> 00:00:02,500\r\nWell, darn.\r\n\r\n"
        "2\r\n00:00:03,000 --> 00:00:04,000 X1:10\r\nNothing darned\r\n\r\n"
        "x\r\nbad --> time\r\ndarn\r\n\r\n"  // unreadable times: masked, not counted
        "3\r\n00:00:05,000 --> 00:00:07,000\r\n<i>Gosh</i>\r\ngolly, darn\r\n\r\n"
        "4\r\n00:00:09,000 --> 00:00:08,000\r\ndarn\r\n";  // never shown: masked, not reported
    const WordScan scan = scan_srt_words(srt, parse_word_list("darn\ngosh golly\n"));
    EXPECT_EQ(numbers(scan), (std::vector<std::size_t>{1, 3}));
    ASSERT_EQ(scan.cues.size(), 2u);
    EXPECT_EQ(scan.cues[1].start, 5);
    EXPECT_EQ(scan.cues[1].end, 7);
    EXPECT_EQ(scan.masked,
              "1\r\n00:00:01,000 --> 00:00:02,500\r\nWell, ****.\r\n\r\n"
              "2\r\n00:00:03,000 --> 00:00:04,000 X1:10\r\nNothing darned\r\n\r\n"
              "x\r\nbad --> time\r\n****\r\n\r\n"
              "3\r\n00:00:05,000 --> 00:00:07,000\r\n<i>****</i>\r\n*****, ****\r\n\r\n"
              "4\r\n00:00:09,000 --> 00:00:08,000\r\n****\r\n");
}

TEST(WordScan, AssTextFieldOnly) {
    const std::string ass =
        "[V4+ Styles]\nStyle: Darn,Arial,20\n\n[Events]\n"
        "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n"
        "Dialogue: 0,0:00:01.00,0:00:02.00,Darn,Darn,0,0,0,,Fine, thanks\n"
        "Comment: 0,0:00:02.00,0:00:03.00,Default,,0,0,0,,darn\n"
        "Dialogue: 0,0:00:04.00,0:00:05.50,Default,,0,0,0,,{\\i1}Darn{\\i0}, it is\\Ngosh\\N golly\r\n"
        "Dialogue: 0,-1.5,0:00:00.50,Default,,0,0,0,,darn\n"
        "Dialogue: 0,0:00:06.00,0:00:07.00,Default\n";
    const WordScan scan = scan_ass_words(ass, parse_word_list("darn\ngosh golly"));
    EXPECT_EQ(numbers(scan), (std::vector<std::size_t>{2, 3}));
    ASSERT_EQ(scan.cues.size(), 2u);
    EXPECT_EQ(scan.cues[0].start, 4);
    EXPECT_EQ(scan.cues[0].end, 5.5);
    EXPECT_EQ(scan.cues[1].start, 0);  // shown from 0
    EXPECT_EQ(scan.masked,
              "[V4+ Styles]\nStyle: Darn,Arial,20\n\n[Events]\n"
              "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n"
              "Dialogue: 0,0:00:01.00,0:00:02.00,Darn,Darn,0,0,0,,Fine, thanks\n"
              "Comment: 0,0:00:02.00,0:00:03.00,Default,,0,0,0,,darn\n"
              "Dialogue: 0,0:00:04.00,0:00:05.50,Default,,0,0,0,,{\\i1}****{\\i0}, it is\\N****\\N *****\r\n"
              "Dialogue: 0,-1.5,0:00:00.50,Default,,0,0,0,,****\n"
              "Dialogue: 0,0:00:06.00,0:00:07.00,Default\n");
}

TEST(WordMuteEdits, OverlappingCuesBecomeOneEdit) {
    const auto edits = word_mute_edits({{7, 30, 32}, {2, 10, 12}, {3, 11.5, 13}, {4, 13, 14}, {5, 12.5, 12.8}});
    ASSERT_EQ(edits.size(), 3u);
    const std::pair<std::string, std::pair<double, double>> expected[] = {
        {"word2", {10, 13}}, {"word4", {13, 14}}, {"word7", {30, 32}}};
    for (std::size_t i = 0; i < edits.size(); ++i) {
        EXPECT_EQ(edits[i].id, expected[i].first);
        EXPECT_EQ(edits[i].start, expected[i].second.first);
        EXPECT_EQ(edits[i].end, expected[i].second.second);
        EXPECT_EQ(edits[i].action, EditAction::Mute);
        EXPECT_TRUE(edits[i].enabled);
    }
}

}  // namespace
}  // namespace reel
