// Title cards through the program itself: a card of a fixed length
// (--card-seconds) and a card as long as its range (--match, or "same" in an
// edit list), at 25 and at 24000/1001 frames per second, on H.264 and MPEG-4.
#include <cmath>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <ostream>
#include <nlohmann/json.hpp>

#include "probe/keyframes.h"
#include "probe/probe.h"
#include "support/temp_dir.h"
#include "test_pipeline_support.h"
#include "tools/run.h"
#include "tools/toolset.h"
#include "util/files.h"
#include "util/text.h"

namespace reel {
namespace {

struct CardCase {
    const char* name;
    std::string codec;
    int fps_num;
    int fps_den;
    int keyframe_interval;
    double fixed_card_seconds;  // the first card's length; the second matches its range
    // The command line of the run, after the movie; the edit list is "list.csv".
    std::vector<std::string> args;
    std::string edit_list;
};

// Names the case in test listings instead of a byte dump.
void PrintTo(const CardCase& c, std::ostream* os) { *os << c.name; }

struct Applied {
    std::string id, kind;
    double actualStart = 0, actualEnd = 0;
    std::optional<double> cardSeconds;
};

class PipelineCards : public ::testing::TestWithParam<CardCase> {};

TEST_P(PipelineCards, CardsHaveTheirFrameCountTextAndSilence) {
    const CardCase& c = GetParam();
    auto spec = e2e::small_movie(20);
    spec.video_codec = c.codec;
    spec.fps_num = c.fps_num;
    spec.fps_den = c.fps_den;
    spec.keyframe_interval = c.keyframe_interval;
    test::AudioTrackSpec surround;
    surround.codec = "ac3";
    surround.channels = 6;
    surround.layout = "5.1(side)";
    spec.audio = {test::AudioTrackSpec{}, surround};
    const auto source = e2e::movie(spec);
    const double fps = static_cast<double>(c.fps_num) / c.fps_den;

    test::TempDir dir;
    dir.write("list.csv", c.edit_list);
    const auto output = dir / "out.mkv";
    std::vector<std::string> args{source};
    for (const auto& a : c.args) args.push_back(a == "list.csv" ? path_text(dir / "list.csv") : a);
    args.insert(args.end(), {"--out", path_text(output), "--keep-temp", "--quiet"});
    auto run = test::run_cli(args);
    ASSERT_TRUE(run.has_value()) << run.error();
    ASSERT_EQ(run->exit_code, 0) << run->err;

    const auto json = nlohmann::json::parse(run->out, nullptr, false);
    ASSERT_FALSE(json.is_discarded()) << run->out;
    std::vector<Applied> cards;
    for (const auto& a : json["applied"]) {
        Applied applied{a["id"], a["kind"], a["actualStart"], a["actualEnd"], std::nullopt};
        if (!a["cardSeconds"].is_null()) applied.cardSeconds = a["cardSeconds"].get<double>();
        cards.push_back(applied);
    }
    ASSERT_EQ(cards.size(), 2u);

    const auto work = e2e::work_folders(dir.path());
    ASSERT_EQ(work.size(), 1u);
    const ToolSet tools = e2e::tools();
    // Both cards are in the cut list in start order: card-0.mkv, then card-1.mkv.
    const std::int64_t expected_frames[2] = {
        std::llround(c.fixed_card_seconds * fps),
        std::llround((cards[1].actualEnd - cards[1].actualStart) * fps)};
    double encoded = 0;
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(cards[i].kind, "replace");
        auto frames = count_video_frames(tools, path_text(work[0] / fmt::format("card-{}.mkv", i)));
        ASSERT_TRUE(frames.has_value()) << frames.error();
        EXPECT_EQ(*frames, expected_frames[i]) << "card " << i;
        ASSERT_TRUE(cards[i].cardSeconds.has_value());
        EXPECT_NEAR(*cards[i].cardSeconds, static_cast<double>(*frames) / fps, 1e-9);
        encoded += *cards[i].cardSeconds;
    }
    EXPECT_NEAR(json["secondsEncoded"].get<double>(), encoded, 1e-9);

    // The output: kept source frames plus the card frames, in one decodable track.
    const auto times = e2e::video_frame_times(source);
    std::int64_t removed = 0;
    for (double t : times) {
        for (const auto& card : cards) removed += (t >= card.actualStart - 0.0005 && t < card.actualEnd - 0.0005);
    }
    const std::string out = path_text(output);
    EXPECT_EQ(e2e::packet_count(out), static_cast<std::int64_t>(times.size()) - removed + expected_frames[0] +
                                          expected_frames[1]);
    EXPECT_EQ(e2e::decode_errors(out), "");

    auto info = probe_media(tools, out);
    ASSERT_TRUE(info.has_value()) << info.error();
    ASSERT_EQ(info->audio.size(), 2u);
    EXPECT_EQ(info->audio[0].codec, "aac");
    EXPECT_EQ(info->audio[1].codec, "ac3");
    EXPECT_EQ(info->audio[1].channels, 6);
    EXPECT_EQ(info->video->codec, c.codec);

    // Where the cards sit in the edited file: everything before the first card is kept.
    const double first_start = cards[0].actualStart;
    const double second_start = first_start + *cards[0].cardSeconds + (cards[1].actualStart - cards[0].actualEnd);
    const double starts[2] = {first_start, second_start};
    for (std::size_t i = 0; i < 2; ++i) {
        const double middle = starts[i] + *cards[i].cardSeconds / 2;
        const auto frame = e2e::grey_frame_at(out, middle);
        ASSERT_EQ(frame.size(), 320u * 180u);
        EXPECT_LT(e2e::mean_value(frame), 40) << "card " << i << " is not a dark card";
        EXPECT_GE(e2e::max_value(frame), 200) << "card " << i << " shows no text";
        for (int track = 0; track < 2; ++track) {
            EXPECT_LT(e2e::max_volume(out, track, starts[i] + 0.1, starts[i] + *cards[i].cardSeconds - 0.1), -90)
                << "card " << i << ", audio track " << track;
        }
    }
    // The picture before the first card is the source's, not a card.
    EXPECT_GT(e2e::mean_value(e2e::grey_frame_at(out, 1.0)), 60);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PipelineCards,
    ::testing::Values(
        CardCase{"H264At25", "h264", 25, 1, 50, 3, {"--card", "3.9-6.1", "Title card", "--card-seconds", "3", "--edits",
                                                  "list.csv"},
                 "start,end,action,text,card_seconds\n10,14,card,Matched card,same\n"},
        CardCase{"H264At23976", "h264", 24000, 1001, 48, 2, {"--card", "10-14", "Matched card", "--match", "--edits",
                                                           "list.csv"},
                 "start,end,action,text,card_seconds\n3.9,6.1,card,Title card,2\n"},
        CardCase{"Mpeg4At25", "mpeg4", 25, 1, 50, 3, {"--card", "3.9-6.1", "Title card", "--card-seconds", "3", "--edits",
                                                    "list.csv"},
                 "start,end,action,text,card_seconds\n10,14,card,Matched card,same\n"},
        CardCase{"Mpeg4At23976", "mpeg4", 24000, 1001, 48, 2, {"--card", "10-14", "Matched card", "--match", "--edits",
                                                             "list.csv"},
                 "start,end,action,text,card_seconds\n3.9,6.1,card,Title card,2\n"}),
    [](const auto& info) { return std::string(info.param.name); });

// The same title card drawn as the program chooses, or with `font` forced.
std::string card_picture(const std::string& source, const std::string& text, const std::string& font) {
    test::TempDir dir;
    PipelineOptions options;
    options.movie = source;
    options.edits = {e2e::edit("arg1", EditAction::Replace, 2, 4, text, 2)};
    options.output = dir / "out.mkv";
    options.cardStyle.fontFile = font;
    RunContext ctx;
    ctx.tools = e2e::tools();
    std::vector<std::string> warnings;
    const auto report = run_pipeline(ctx, options, warnings);
    EXPECT_TRUE(report.has_value()) << report.error();
    return e2e::grey_frame_at(path_text(options.output), 3.0);  // the card, fully faded in
}

double mean_difference(const std::string& a, const std::string& b) {
    if (a.size() != b.size() || a.empty()) return 255;
    double sum = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        sum += std::abs(static_cast<int>(static_cast<unsigned char>(a[i])) - static_cast<unsigned char>(b[i]));
    return sum / static_cast<double>(a.size());
}

TEST(PipelineCards, TextInAnyScriptIsDrawnWithAFontThatHasIt) {
    const std::string text = "二十分钟后";
    const auto fc_list = find_tool("fc-list", std::nullopt);
    std::string covering;
    if (fc_list) {
        auto listing = run_capture(*fc_list, {"-f", "%{file}\n", ":charset=4e8c 5341 5206 949f 540e"});
        if (listing) covering = std::string(trim(split(*listing, '\n').front()));
    }
    if (covering.empty()) GTEST_SKIP() << "no font covering Chinese is installed (fonts-droid-fallback)";

    const auto source = e2e::movie(e2e::small_movie(8));
    const auto chosen = card_picture(source, text, "");
    const auto boxes = card_picture(source, text, "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf");
    const auto glyphs = card_picture(source, text, covering);
    // The default font would show five empty boxes; the card shows the glyphs.
    EXPECT_LT(mean_difference(chosen, glyphs), 0.5);
    EXPECT_GT(mean_difference(chosen, boxes), 2 * mean_difference(chosen, glyphs) + 0.5);
}

}  // namespace
}  // namespace reel
