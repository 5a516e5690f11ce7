#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <limits>
#include <sstream>

#include "cards/card.h"
#include "support/temp_dir.h"
#include "util/files.h"

namespace reel {
namespace {

using Args = std::vector<std::string>;
using Lines = std::vector<std::string>;

Args words(const std::string& text) {
    std::istringstream in(text);
    Args out;
    for (std::string word; in >> word;) out.push_back(word);
    return out;
}

bool only_arial(const std::string& path) { return path == "C:/Windows/Fonts/arial.ttf"; }
bool no_font(const std::string&) { return false; }

// The source of the worked example: H.264 1920x1080 at 25 fps with one AAC track.
CardSpec worked_example() {
    CardSpec spec;
    spec.video.codec = "h264";
    spec.video.width = 1920;
    spec.video.height = 1080;
    spec.video.fpsNum = 25;
    spec.video.fpsDen = 1;
    spec.video.pixFmt = "yuv420p";
    spec.video.level = 40;
    spec.video.colorRange = "tv";
    spec.video.colorPrimaries = spec.video.colorTransfer = spec.video.colorSpace = "bt709";
    AudioStreamInfo aac;
    aac.codec = "aac";
    aac.channels = 2;
    aac.channelLayout = "stereo";
    aac.sampleRate = 48000;
    aac.bitRate = 192000;
    spec.audio = {aac};
    spec.text = "The End";
    spec.frames = 75;
    spec.workFolder = "D:\\Work";
    spec.output = "D:\\Work\\card-0.mkv";
    return spec;
}

const std::string worked_alpha = "if(lt(t\\,0.75),t/0.75,if(gt(t\\,3-0.75),(3-t)/0.75,1))";

TEST(CardLayout, DerivedValues) {
    struct Case {
        std::int64_t width, height, num, den, frames;
        double fade_seconds;
        std::int64_t font_size;
        std::size_t line_chars;
        std::int64_t spacing;
        double seconds, fade;
        std::string rate;
    };
    const Case cases[] = {
        {1920, 1080, 25, 1, 75, 0.75, 59, 50, 14, 3.0, 0.75, "25"},
        {1280, 720, 30000, 1001, 90, 0.75, 40, 49, 10, 3.003, 0.75, "30000/1001"},
        {64, 100, 25, 1, 1, 0.75, 12, 10, 3, 0.04, 0.02, "25"},       // minimum of 10 characters
        {640, 300, 25, 1, 25, 0.75, 17, 57, 4, 1.0, 0.5, "25"},       // 16.5 rounds up
        {640, 200, 24, 1, 48, 0, 12, 82, 3, 2.0, 0.0, "24"},          // 11 lifted to 12
        {640, 360, 24000, 1001, 48, -2, 20, 49, 5, 2.002, 0.0, "24000/1001"},
        {640, 360, 25, 1, 0, 0.75, 20, 49, 5, 0.04, 0.02, "25"},      // frames below 1 count as 1
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " " << c.frames);
        CardSpec spec;
        spec.video.width = c.width;
        spec.video.height = c.height;
        spec.video.fpsNum = c.num;
        spec.video.fpsDen = c.den;
        spec.frames = c.frames;
        spec.style.fadeSeconds = c.fade_seconds;
        const CardLayout layout = card_layout(spec);
        EXPECT_EQ(layout.fontSize, c.font_size);
        EXPECT_EQ(layout.lineChars, c.line_chars);
        EXPECT_EQ(layout.lineSpacing, c.spacing);
        EXPECT_DOUBLE_EQ(layout.seconds, c.seconds);
        EXPECT_DOUBLE_EQ(layout.fade, c.fade);
        EXPECT_EQ(layout.rate, c.rate);
        EXPECT_EQ(layout.pix, "yuv420p");
    }
}

TEST(CardLayout, AbsurdInputsStayDefined) {
    CardSpec spec;
    spec.video.width = std::numeric_limits<std::int64_t>::max();
    spec.video.height = std::numeric_limits<std::int64_t>::max();
    spec.frames = std::numeric_limits<std::int64_t>::max();
    spec.style.fontScale = 1e300;
    spec.style.fadeSeconds = std::numeric_limits<double>::quiet_NaN();
    CardLayout layout = card_layout(spec);
    EXPECT_EQ(layout.fontSize, std::numeric_limits<std::int64_t>::max());
    EXPECT_GE(layout.lineChars, 10u);
    EXPECT_EQ(layout.fade, 0.0);
    EXPECT_GT(layout.seconds, 3e17);

    spec.style.fontScale = std::numeric_limits<double>::quiet_NaN();
    spec.video.width = 1920;
    layout = card_layout(spec);
    EXPECT_EQ(layout.fontSize, 12);
    EXPECT_EQ(layout.lineChars, 246u);
}

TEST(WrapCardText, Lines) {
    struct Case {
        std::string text;
        std::size_t chars;
        Lines expected;
    };
    const std::string fifty(50, 'x');
    const Case cases[] = {
        {"", 50, {""}},
        {"   \t ", 50, {""}},
        {"The End", 50, {"The End"}},
        {"Hello\n\nWorld", 50, {"Hello", "", "World"}},
        {"The End\n", 50, {"The End", ""}},
        {"a\r\nb", 50, {"a", "b"}},
        {"a\rb", 50, {"a b"}},                      // a lone CR only separates words
        {"  many   blanks\there  ", 50, {"many blanks here"}},
        {"aaaa bbbb cccc", 9, {"aaaa bbbb", "cccc"}},
        {"aaaa bbbb cccc", 8, {"aaaa", "bbbb", "cccc"}},
        {"a " + fifty + " b", 10, {"a", fifty, "b"}},  // a long word stands alone, unbroken
        {"\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9 \xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9", 9,
         {"\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9 \xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9"}},  // scalar values, not bytes
        {"one\xE3\x80\x80two\xC2\xA0three", 50, {"one two three"}},              // Unicode white space
        {"\n", 50, {"", ""}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(wrap_card_text(c.text, c.chars), c.expected);
    }
}

TEST(WrapCardText, FiftyCharactersFitOn1080p) {
    // 48 characters, a blank and one letter make exactly 50, which fit; one more breaks.
    const std::string line = std::string(44, 'a') + " bbb";  // 48 characters
    EXPECT_EQ(wrap_card_text(line + " c", 50), (Lines{line + " c"}));
    EXPECT_EQ(wrap_card_text(line + " cd", 50), (Lines{line, "cd"}));
}

TEST(EscapeFilterPath, Table) {
    struct Case {
        std::string path, expected;
    };
    const Case cases[] = {
        {"C:\\Work\\card-75.txt", "'C\\:/Work/card-75.txt'"},
        {"C:/Windows/Fonts/arial.ttf", "'C\\:/Windows/Fonts/arial.ttf'"},
        {"/tmp/plain.txt", "'/tmp/plain.txt'"},
        // The apostrophe leaves the quotes for an escaped one and comes back.
        {"/tmp/it's/a:b.txt", "'/tmp/it'\\\\\\''s/a\\:b.txt'"},
        {"", "''"},
    };
    for (const auto& c : cases) EXPECT_EQ(escape_filter_path(c.path), c.expected) << c.path;
}

TEST(FadeExpression, Table) {
    EXPECT_EQ(fade_expression(0.75, 3), worked_alpha);
    EXPECT_EQ(fade_expression(0.02, 0.04), "if(lt(t\\,0.02),t/0.02,if(gt(t\\,0.04-0.02),(0.04-t)/0.02,1))");
    EXPECT_EQ(fade_expression(1, 2.5), "if(lt(t\\,1),t/1,if(gt(t\\,2.5-1),(2.5-t)/1,1))");
    EXPECT_EQ(fade_expression(0, 3), "1");
    EXPECT_EQ(fade_expression(-1, 3), "1");
    EXPECT_EQ(fade_expression(std::numeric_limits<double>::quiet_NaN(), 3), "1");
}

TEST(ChooseFont, ConfiguredWinsThenDefaultsInOrder) {
    EXPECT_EQ(choose_font("  D:\\fonts\\x.ttf  ", no_font).value(), "D:\\fonts\\x.ttf");
    EXPECT_EQ(choose_font("", only_arial).value(), "C:/Windows/Fonts/arial.ttf");
    EXPECT_EQ(choose_font(" \t", [](const std::string& p) { return p.find("calibri") != std::string::npos; }).value(),
              "C:/Windows/Fonts/calibri.ttf");
    const auto defaults = default_font_files();
    ASSERT_EQ(defaults.size(), 11u);
    EXPECT_EQ(defaults[3], "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf");
    EXPECT_EQ(defaults.back(), "/Library/Fonts/Arial.ttf");
    // The first existing file wins, even when later ones exist too.
    EXPECT_EQ(choose_font("", [&](const std::string& p) { return p != defaults[0] && p != defaults[1] && p != defaults[2]; })
                  .value(),
              defaults[3]);
    const auto none = choose_font("", no_font);
    ASSERT_FALSE(none.has_value());
    EXPECT_EQ(none.error(), "No font found for the title card. Set a font file in Settings.");
}

TEST(CardFilter, TextAlignForm) {
    const CardSpec spec = worked_example();
    EXPECT_EQ(card_filter(card_layout(spec), spec.style, "C:/Windows/Fonts/arial.ttf", {"D:\\Work\\card-75.txt"},
                          DrawtextForm::TextAlign),
              "drawtext=fontfile='C\\:/Windows/Fonts/arial.ttf':textfile='D\\:/Work/card-75.txt':expansion=none:"
              "text_align=M+C:fontcolor=white:fontsize=59:line_spacing=14:x=(w-text_w)/2:y=(h-text_h)/2:alpha='" +
                  worked_alpha + "',setsar=1,format=yuv420p");
}

TEST(CardFilter, PerLineForm) {
    CardSpec spec = worked_example();
    spec.style.textColor = "yellow";
    spec.video.pixFmt = "yuv420p10le";
    const std::string head = "drawtext=fontfile='/f.ttf':textfile=";
    const std::string common = ":expansion=none:fontcolor=yellow:fontsize=59:x=(w-text_w)/2:";
    // Three lines, the middle one empty: it draws nothing but keeps its place.
    EXPECT_EQ(card_filter(card_layout(spec), spec.style, "/f.ttf", {"/w/card-75-0.txt", "", "/w/card-75-2.txt"},
                          DrawtextForm::PerLine),
              head + "'/w/card-75-0.txt'" + common + "y=(h-(3*lh+2*14))/2+0*(lh+14):alpha='" + worked_alpha + "'," +
                  head + "'/w/card-75-2.txt'" + common + "y=(h-(3*lh+2*14))/2+2*(lh+14):alpha='" + worked_alpha +
                  "',setsar=1,format=yuv420p10le");
    EXPECT_EQ(card_filter(card_layout(spec), spec.style, "/f.ttf", {"/w/a.txt"}, DrawtextForm::PerLine),
              head + "'/w/a.txt'" + common + "y=(h-(1*lh+0*14))/2+0*(lh+14):alpha='" + worked_alpha +
                  "',setsar=1,format=yuv420p10le");
    EXPECT_EQ(card_filter(card_layout(spec), spec.style, "/f.ttf", {""}, DrawtextForm::PerLine),
              "setsar=1,format=yuv420p10le");
}

TEST(CardCommand, WorkedExample) {
    const CardSpec spec = worked_example();
    const auto font = choose_font(spec.style.fontFile, only_arial);
    ASSERT_TRUE(font.has_value());
    const auto text_file = path_text(spec.workFolder / card_text_file_name(spec.frames));
    const auto args = card_command(spec, *font, {text_file}, DrawtextForm::TextAlign);
    ASSERT_TRUE(args.has_value()) << args.error();
    const Args expected = words(
        "-hide_banner -loglevel error -y -progress pipe:1 -nostats -f lavfi -i color=c=black:s=1920x1080:r=25 "
        "-f lavfi -i anullsrc=r=48000:cl=stereo -map 0:v -map 1:a -t 3.000000 -vf "
        "trim=end_frame=75,drawtext=fontfile='C\\:/Windows/Fonts/arial.ttf':textfile='D\\:/Work/card-75.txt':expansion=none:"
        "text_align=M+C:fontcolor=white:fontsize=59:line_spacing=14:x=(w-text_w)/2:y=(h-text_h)/2:"
        "alpha='if(lt(t\\,0.75),t/0.75,if(gt(t\\,3-0.75),(3-t)/0.75,1))',setsar=1,format=yuv420p "
        "-c:v libx264 -preset fast -crf 18 -profile:v high -level:v 4.0 -x264-params "
        "keyint=50:min-keyint=25:repeat-headers=1:bframes=0:colorprim=bt709:transfer=bt709:colormatrix=bt709:rc-lookahead=0:sliced-threads=1 -bf 0 -pix_fmt yuv420p "
        "-color_range tv -color_primaries bt709 -color_trc bt709 -colorspace bt709 "
        "-c:a:0 aac -b:a:0 192000 -ar:a:0 48000 -ac:a:0 2 D:\\Work\\card-0.mkv");
    EXPECT_EQ(*args, expected);
}

TEST(CardCommand, AudioInputsAndMaps) {
    CardSpec spec = worked_example();
    AudioStreamInfo ac3;
    ac3.codec = "ac3";
    ac3.channels = 6;
    ac3.sampleRate = 44100;
    spec.audio.push_back(ac3);
    const auto two = card_command(spec, "/f.ttf", {"/w/t.txt"}, DrawtextForm::TextAlign).value();
    const auto at = [&](const std::string& item) { return std::find(two.begin(), two.end(), item) - two.begin(); };
    EXPECT_EQ(std::count(two.begin(), two.end(), "-i"), 3);
    EXPECT_EQ(Args(two.begin() + at("-map"), two.begin() + at("-t")),
              (Args{"-map", "0:v", "-map", "1:a", "-map", "2:a"}));
    EXPECT_EQ(two[at("anullsrc=r=44100:cl=5.1") - 1], "-i");
    EXPECT_EQ(Args(two.end() - 7, two.end()), (Args{"-c:a:1", "ac3", "-ar:a:1", "44100", "-ac:a:1", "6", "D:\\Work\\card-0.mkv"}));

    spec.audio.clear();  // a text card over video
    const auto none = card_command(spec, "/f.ttf", {"/w/t.txt"}, DrawtextForm::TextAlign).value();
    EXPECT_EQ(std::count(none.begin(), none.end(), "-i"), 1);
    EXPECT_EQ(std::count(none.begin(), none.end(), "-map"), 1);
    // Without sound the frame count is an output limit and the filter has no trim.
    const auto frames = std::find(none.begin(), none.end(), "-frames:v");
    ASSERT_NE(frames, none.end());
    EXPECT_EQ(frames[1], "75");
    EXPECT_EQ(frames[2], "-t");
    EXPECT_TRUE(frames[5].starts_with("drawtext="));
    EXPECT_EQ(std::count_if(none.begin(), none.end(),
                            [](const std::string& a) {
                                return a.starts_with("-c:a") || a.starts_with("-ar:") || a.starts_with("-ac:") ||
                                       a.starts_with("anullsrc");
                            }),
              0);
}

TEST(CardCommand, FailuresOfEncoderAndAudio) {
    CardSpec spec = worked_example();
    spec.audio[0].codec = "cook";
    EXPECT_EQ(card_command(spec, "/f.ttf", {"/w/t.txt"}, DrawtextForm::TextAlign).error(),
              "Silent audio cannot be generated for codec 'cook'.");
    spec.video.codec = "theora";  // the video is checked before the audio
    EXPECT_EQ(card_command(spec, "/f.ttf", {"/w/t.txt"}, DrawtextForm::TextAlign).error(),
              "The video is encoded with 'theora', which ffmpeg cannot encode, so text cards cannot be inserted. "
              "Remove and Mute still work.");
}

TEST(CardCommand, HugeFrameCountsStayDefined) {
    CardSpec spec = worked_example();
    spec.frames = std::numeric_limits<std::int64_t>::max();
    const auto args = card_command(spec, "/f.ttf", {"/w/t.txt"}, DrawtextForm::TextAlign).value();
    const auto t = std::find(args.begin(), args.end(), "-t");
    ASSERT_NE(t, args.end());
    EXPECT_EQ(t[1], "368934881474191040.000000");
    EXPECT_TRUE(t[3].starts_with("trim=end_frame=9223372036854775807,")) << t[3];
}

TEST(CardArgs, WritesTheTextFileForTextAlign) {
    test::TempDir dir;
    CardSpec spec = worked_example();
    spec.workFolder = dir.path();
    spec.output = dir / "card-0.mkv";
    spec.text = "Hello\r\n\r\nWorld\n";
    const auto args = card_args(spec, DrawtextForm::TextAlign, only_arial);
    ASSERT_TRUE(args.has_value()) << args.error();
    EXPECT_EQ(test::slurp(dir / "card-75.txt"), "Hello\n\nWorld\n");
    const auto vf = std::find(args->begin(), args->end(), "-vf");
    ASSERT_NE(vf, args->end());
    EXPECT_NE(vf[1].find("textfile=" + escape_filter_path(path_text(dir / "card-75.txt"))), std::string::npos);
    EXPECT_EQ(args->back(), path_text(dir / "card-0.mkv"));
}

TEST(CardArgs, WritesOneFilePerLineForPerLine) {
    test::TempDir dir;
    CardSpec spec = worked_example();
    spec.workFolder = dir.path();
    spec.frames = 50;
    spec.text = "100% sure\n\n%{pts}";
    const auto args = card_args(spec, DrawtextForm::PerLine, only_arial);
    ASSERT_TRUE(args.has_value()) << args.error();
    EXPECT_EQ(test::slurp(dir / "card-50-0.txt"), "100% sure");
    EXPECT_FALSE(std::filesystem::exists(dir / "card-50-1.txt"));
    EXPECT_EQ(test::slurp(dir / "card-50-2.txt"), "%{pts}");
    EXPECT_FALSE(std::filesystem::exists(dir / "card-50.txt"));
    const auto vf = std::find(args->begin(), args->end(), "-vf");
    ASSERT_NE(vf, args->end());
    EXPECT_NE(vf[1].find("card-50-2.txt':expansion=none:"), std::string::npos);
    EXPECT_NE(vf[1].find("y=(h-(3*lh+2*14))/2+2*(lh+14)"), std::string::npos);
}

TEST(CardArgs, FailuresAndWhatTheyLeaveBehind) {
    test::TempDir dir;
    CardSpec spec = worked_example();
    spec.workFolder = dir.path();

    // No font: nothing is written.
    EXPECT_EQ(card_args(spec, DrawtextForm::TextAlign, no_font).error(),
              "No font found for the title card. Set a font file in Settings.");
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));

    // A configured font is used without a check.
    spec.style.fontFile = "  /nowhere/x.ttf ";
    const auto configured = card_args(spec, DrawtextForm::TextAlign, no_font);
    ASSERT_TRUE(configured.has_value()) << configured.error();
    EXPECT_NE(std::find_if(configured->begin(), configured->end(),
                           [](const std::string& a) { return a.find("drawtext=fontfile='/nowhere/x.ttf':") != std::string::npos; }),
              configured->end());

    // The encoder fails after the text file was written.
    std::filesystem::remove(dir / "card-75.txt");
    spec.video.codec = "rawvideo";
    EXPECT_EQ(card_args(spec, DrawtextForm::TextAlign, only_arial).error(),
              "The video is encoded with 'rawvideo', which ffmpeg cannot encode, so text cards cannot be inserted. "
              "Remove and Mute still work.");
    EXPECT_EQ(test::slurp(dir / "card-75.txt"), "The End");

    // A work folder that does not exist: the file system's error text.
    spec.workFolder = dir / "missing";
    EXPECT_EQ(card_args(spec, DrawtextForm::TextAlign, only_arial).error(), "No such file or directory");
    EXPECT_EQ(card_args(spec, DrawtextForm::PerLine, only_arial).error(), "No such file or directory");
}

TEST(CardLayout, AnamorphicPicturesAreDrawnAtTheirShownWidth) {
    CardSpec spec;
    spec.video.codec = "mpeg2video";
    spec.video.width = 720;
    spec.video.height = 480;
    spec.video.sar = "32:27";
    const CardLayout layout = card_layout(spec);
    EXPECT_EQ(layout.shownWidth, 854);
    EXPECT_EQ(layout.sar, "32/27");
    EXPECT_EQ(layout.lineChars, card_layout([] {
                                    CardSpec square;
                                    square.video.width = 854;
                                    square.video.height = 480;
                                    return square;
                                }())
                                    .lineChars);
    const std::string filter = card_filter(layout, spec.style, "/f.ttf", {"/w/t.txt"}, DrawtextForm::TextAlign);
    EXPECT_TRUE(filter.ends_with(",scale=720:480,setsar=32/27,format=yuv420p")) << filter;
    for (const char* square : {"1:1", "0:1", "N/A"}) {
        spec.video.sar = square;
        EXPECT_EQ(card_layout(spec).shownWidth, 720) << square;
    }
}

TEST(CardFonts, AFontThatCoversTheText) {
    EXPECT_EQ(fontconfig_charset_pattern("The End"), std::nullopt);
    EXPECT_EQ(fontconfig_charset_pattern("Fin é 二十 二"), ":charset=e9 4e8c 5341");
    const std::string dejavu = "/usr/share/fonts/dejavu/DejaVuSans.ttf";
    EXPECT_EQ(pick_covering_font("/f/Noto-Bold.ttf\n" + dejavu + "\n", dejavu), dejavu);
    EXPECT_EQ(pick_covering_font("/f/Zen-Bold.ttf\n/f/Zen.ttf\n/f/Droid.ttf\n", dejavu), "/f/Droid.ttf");
    EXPECT_EQ(pick_covering_font("\n", dejavu), std::nullopt);
}

// A long card encodes one group of its still pictures and shows it again: only
// pictures at full strength may repeat, and the parts add up to the card.
TEST(CardRepeat, OnlyTheStillMiddleRepeats) {
    const struct {
        std::string codec;
        std::int64_t num, den, frames;
        bool sound;
        std::optional<std::int64_t> repeats;
    } cases[] = {
        {"h264", 25, 1, 500, false, 9},     // 0.76 s head, 9 groups of 2 s, the tail with the fade-out
        {"h264", 25, 1, 137, false, 2},     // just long enough for two groups
        {"h264", 25, 1, 136, false, std::nullopt},
        {"h264", 24000, 1001, 2878, false, 59},
        {"h264", 25, 1, 75, false, std::nullopt},
        {"h264", 25, 1, 500, true, std::nullopt},   // a title card with its sound
        {"hevc", 25, 1, 500, false, std::nullopt},
    };
    for (const auto& c : cases) {
        CardSpec spec = worked_example();
        spec.video.codec = c.codec;
        spec.video.fpsNum = c.num;
        spec.video.fpsDen = c.den;
        spec.frames = c.frames;
        if (!c.sound) spec.audio.clear();
        const auto repeat = card_repeat(spec);
        ASSERT_EQ(repeat.has_value(), c.repeats.has_value()) << c.codec << " " << c.frames;
        if (!repeat) continue;
        EXPECT_EQ(repeat->repeats, *c.repeats) << c.frames;
        EXPECT_EQ(repeat->head + repeat->repeats * repeat->group + repeat->tail, c.frames);
        const double fps = static_cast<double>(c.num) / static_cast<double>(c.den);
        const double seconds = static_cast<double>(c.frames) / fps;
        // The first repeated picture is past the fade-in, the last before the fade-out.
        EXPECT_GE(static_cast<double>(repeat->head) / fps, 0.75 - 1e-9) << c.frames;
        EXPECT_LE(static_cast<double>(repeat->head + repeat->repeats * repeat->group - 1) / fps, seconds - 0.75 + 1e-9);
    }
}

}  // namespace
}  // namespace reel
