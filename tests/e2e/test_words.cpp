// A word list mutes exactly the cues that hold a listed word, on every sound
// track, and masks the words in every text subtitle track of the output.
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "probe/probe.h"
#include "subs/cue_layout.h"
#include "support/temp_dir.h"
#include "test_pipeline_support.h"
#include "tools/run.h"
#include "util/files.h"
#include "util/text.h"

namespace reel {
namespace {

// "oh my gosh" and "heck" are listed: cue 2 holds the phrase across a line
// break in other letter case, cue 4 the word; "Heckling" in cue 3 is no match.
std::vector<test::SubtitleCue> cues(const std::string& phrase) {
    return {{1, 2, "Hello there"},    {3, 4, phrase},         {5, 6, "Heckling is rude"},
            {8, 9, "What the heck?"}, {12, 13, "Later on"}, {17, 18, "The end"}};
}

test::MovieSpec movie_with_words() {
    auto spec = e2e::small_movie(20);
    spec.audio = {{.codec = "aac", .is_default = true}, {.codec = "ac3"}};
    spec.subtitles = {
        {.format = test::SubtitleFormat::Srt, .language = "eng", .is_default = true, .cues = cues("Oh my\nGOSH, look!")},
        {.format = test::SubtitleFormat::Ass, .language = "fre", .cues = cues("{\\i1}Oh my\nGOSH{\\i0}, look!")}};
    spec.image_subtitles = {{.language = "jpn"}};
    return spec;
}

std::string extract(const std::string& file, int track, const char* codec, const char* format) {
    auto text = run_capture(e2e::tools().ffmpeg, {"-v", "error", "-i", file, "-map", "0:s:" + std::to_string(track),
                                                  "-c:s", codec, "-f", format, "-"});
    EXPECT_TRUE(text.has_value()) << text.error();
    return text.value_or("");
}

std::vector<std::string> srt_texts(const std::string& document) {
    std::vector<std::string> texts;
    for (const SrtCue& cue : read_srt_cues(document)) {
        std::string text;
        for (const auto line : cue.text) text += (text.empty() ? "" : "\n") + std::string(line);
        texts.push_back(text);
    }
    return texts;
}

std::vector<std::string> ass_texts(const std::string& document) {
    std::vector<std::string> texts;
    for (const auto line : split_lines(document))
        if (const auto fields = dialogue_fields(line); fields && fields->size() > kAssTextField)
            texts.emplace_back((*fields)[kAssTextField]);
    return texts;
}

struct WordsCase {
    const char* name;
    std::vector<std::string> args;  // besides the movie, the list and --out
    const char* output;
};

void PrintTo(const WordsCase& c, std::ostream* os) { *os << c.name; }

class Words : public ::testing::TestWithParam<WordsCase> {};

TEST_P(Words, CuesWithListedWordsAreSilentAndTheWordsMasked) {
    const auto& c = GetParam();
    const auto spec = movie_with_words();
    const auto source = e2e::movie(spec);
    test::TempDir dir;
    const auto list = dir.write("words.txt", "# mild ones\nheck\n\nOh my gosh\n");
    const auto output = path_text(dir / c.output);
    std::vector<std::string> args{source, "--mute-words", path_text(list), "--out", output, "--quiet"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    auto run = test::run_cli(args);
    ASSERT_TRUE(run.has_value()) << run.error();
    ASSERT_EQ(run->exit_code, 0) << run->err;

    std::vector<std::tuple<std::string, double, double>> mutes;
    const auto report = nlohmann::json::parse(run->out);
    for (const auto& applied : report["applied"])
        if (applied["kind"] == "mute")
            mutes.emplace_back(applied["id"], applied["requestedStart"], applied["requestedEnd"]);
    EXPECT_EQ(mutes, (std::vector<std::tuple<std::string, double, double>>{{"word2", 3, 4}, {"word4", 8, 9}}));

    // Silent there on every track, and nowhere else.
    for (int k = 0; k < 2; ++k) {
        const auto& codec = spec.audio[static_cast<std::size_t>(k)].codec;
        const auto found = e2e::silences(output, k);
        ASSERT_EQ(found.size(), 2u) << codec;
        const double delay = e2e::decoder_delay(codec);
        const double frame = e2e::frame_seconds(codec);
        for (const auto& [range, silence] : {std::pair{std::pair{3.0, 4.0}, found[0]}, {{8.0, 9.0}, found[1]}}) {
            EXPECT_NEAR(silence.first - delay, range.first, frame + 0.005) << codec;
            EXPECT_NEAR(silence.second - delay, range.second, frame + 0.005) << codec;
        }
    }

    const bool mp4 = std::string(c.output).ends_with(".mp4");
    const std::vector<std::string> srt{"Hello there", "** **\n****, look!", "Heckling is rude", "What the ****?",
                                       "Later on",    "The end"};
    EXPECT_EQ(srt_texts(extract(output, 0, "subrip", "srt")), srt);
    if (!mp4) {
        auto ass = srt;
        ass[1] = "{\\i1}** **\\N****{\\i0}, look!";
        EXPECT_EQ(ass_texts(extract(output, 1, "copy", "ass")), ass);
    }
    auto info = probe_media(e2e::tools(), output);
    ASSERT_TRUE(info.has_value()) << info.error();
    ASSERT_EQ(info->subtitles.size(), mp4 ? 2u : 3u);
    EXPECT_EQ(info->subtitles[0].language, "eng");
    EXPECT_TRUE(info->subtitles[0].isDefault);
    EXPECT_EQ(info->subtitles[1].language, "fre");
    if (!mp4) {
        EXPECT_EQ(info->subtitles[2].codec, "hdmv_pgs_subtitle");
    }
    // Without a cut the pictures of the subtitles stay as they were.
    if (!mp4 && c.args.empty()) {
        const auto pictures = e2e::hashes_only(e2e::frame_hashes(source, "0:s:2", true));
        EXPECT_FALSE(pictures.empty());
        EXPECT_EQ(e2e::hashes_only(e2e::frame_hashes(output, "0:s:2", true)), pictures);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Words,
    ::testing::Values(WordsCase{"WithARemoveAfterThem", {"--remove", "14-16"}, "out.mkv"},
                      WordsCase{"AloneOnAStillTimeline", {}, "out.mkv"},
                      WordsCase{"AloneInMp4", {"--mp4"}, "out.mp4"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace reel
