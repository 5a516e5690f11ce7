// One run with edits of every kind from an edit-list file: the report's order
// and values, what was encoded, and the progress the front end sees.
#include <cmath>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "edits/edit_list.h"
#include "pipeline/stage_args.h"
#include "probe/keyframes.h"
#include "support/temp_dir.h"
#include "test_pipeline_support.h"
#include "util/files.h"

namespace reel {
namespace {

// Keyframes lie at 0.021 + 2k (the video starts after the audio's priming delay).
constexpr double kOffset = 0.021;
constexpr const char* kEditList =
    "start,end,action,text,card_seconds,enabled\n"
    "30.5,32.2,mute,,,\n"              // csv2
    "1.3,2.1,silence,,,\n"             // csv3
    "20,24,text,Second text,,\n"       // csv4
    "5.9,9.9,card,Matched card,same,\n"  // csv5
    "12,14,remove,,,\n"                // csv6
    "26,28,card,Fixed card,2,\n"       // csv7
    "37.9,99,cut,,,\n"                 // csv8: clamped to the movie's end
    "16,17,remove,,,no\n"              // csv9: disabled
    "10.2,11.8,text,First text,,\n";   // csv10

struct Expected {
    std::string id;
    EditAction action;
    double requestedStart, requestedEnd, actualStart, actualEnd;
    std::optional<double> cardSeconds;
};

TEST(EditListRun, EveryKindOfEditInReportOrder) {
    test::MovieSpec spec;
    spec.duration = 40;
    spec.width = 320;
    spec.height = 180;
    spec.audio = {test::AudioTrackSpec{}};
    const auto source = e2e::movie(spec);

    test::TempDir dir;
    const auto list = dir.write("edits.csv", kEditList);
    auto read = read_edit_list(path_text(list), 10.0);
    ASSERT_TRUE(read.has_value()) << read.error();
    EXPECT_TRUE(read->messages.empty());
    const auto output = dir / "out.mkv";
    auto run = e2e::run_edits(source, output, read->edits, "mkv", true);
    ASSERT_TRUE(run.report.has_value()) << run.report.error();
    const RunReport& report = *run.report;
    const double duration = report.originalDuration;

    const std::vector<Expected> expected{
        {"csv3", EditAction::Mute, 1.3, 2.1, 1.3, 2.1, std::nullopt},
        {"csv2", EditAction::Mute, 30.5, 32.2, 30.5, 32.2, std::nullopt},
        {"csv10", EditAction::TextOverVideo, 10.2, 11.8, 10 + kOffset, 12 + kOffset, 2.0},
        {"csv4", EditAction::TextOverVideo, 20, 24, 20 + kOffset, 24 + kOffset, 4.0},
        {"csv5", EditAction::Replace, 5.9, 9.9, 6 + kOffset, 10 + kOffset, 4.0},  // 100 frames
        {"csv7", EditAction::Replace, 26, 28, 26 + kOffset, 28 + kOffset, 2.0},   // 50 frames
        {"csv6", EditAction::Remove, 12, 14, 12 + kOffset, 14 + kOffset, std::nullopt},
        {"csv8", EditAction::Remove, 37.9, duration, 38 + kOffset, duration, std::nullopt},
    };
    ASSERT_EQ(report.applied.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const auto& got = report.applied[i];
        const auto& want = expected[i];
        SCOPED_TRACE(want.id);
        EXPECT_EQ(got.id, want.id);
        EXPECT_EQ(got.action, want.action);
        EXPECT_DOUBLE_EQ(got.requestedStart, want.requestedStart);
        EXPECT_DOUBLE_EQ(got.requestedEnd, want.requestedEnd);
        EXPECT_NEAR(got.actualStart, want.actualStart, 1e-6);
        EXPECT_NEAR(got.actualEnd, want.actualEnd, 1e-6);
        ASSERT_EQ(got.cardSeconds.has_value(), want.cardSeconds.has_value());
        if (want.cardSeconds) {
            EXPECT_NEAR(*got.cardSeconds, *want.cardSeconds, 1e-6);
        }
    }

    // Encoded: the silence under both mutes (whole audio packets, so within a
    // packet of the ranges), both text cards, both title cards.
    const ToolSet tools = e2e::tools();
    const auto work = e2e::own_work_folder(output);
    double text_cards = 0;
    for (const char* card : {"overlay-0.mkv", "overlay-1.mkv"}) {
        auto frames = count_video_frames(tools, path_text(work / card));
        ASSERT_TRUE(frames.has_value()) << frames.error();
        text_cards += static_cast<double>(*frames) / 25;
    }
    EXPECT_NEAR(text_cards, 6.0, 1e-9);
    const double muted = (2.1 - 1.3) + (32.2 - 30.5);
    EXPECT_NEAR(report.secondsEncoded - text_cards - 4.0 - 2.0, muted, 2 * 1024.0 / 48000);

    // The cards are as long as the ranges they replace; 12-14 and 38 to the end
    // are gone: 36 s of pictures, every piece exactly where the last one ends.
    EXPECT_EQ(e2e::packet_count(path_text(output)), 36 * 25);
    const auto frames = e2e::video_frame_times(path_text(output));
    ASSERT_FALSE(frames.empty());
    EXPECT_NEAR(frames.back() + 0.04, 36.0 + kOffset, 0.0015);
    // The file lasts as long as its latest track: the sound may end up to one
    // audio packet after the picture.
    EXPECT_GE(report.duration, 36.0 + kOffset - 0.0015);
    EXPECT_LE(report.duration, 36.0 + kOffset + 1024.0 / 48000 + 0.0015);
    EXPECT_EQ(e2e::decode_errors(path_text(output)), "");

    // Progress: the stages of the table, in order, announced at their bases; the
    // cards stage reports each card; nothing ever goes back.
    std::vector<std::pair<std::string, double>> announced;
    double last = 0;
    int card_reports = 0;
    for (const auto& event : run.events) {
        EXPECT_GE(event.percent, last) << event.stage << " " << event.message;
        last = event.percent;
        if (event.message == "Rendering title cards" && !announced.empty() && announced.back().first == "cards") {
            ++card_reports;
        } else if (!event.message.empty()) {
            announced.emplace_back(event.stage, event.percent);
        }
    }
    const StageInfo table[] = {stages::probe, stages::snap,  stages::mute, stages::overlay, stages::split,
                               stages::cards, stages::join, stages::subs, stages::mux,     stages::done};
    ASSERT_EQ(announced.size(), std::size(table));
    for (std::size_t i = 0; i < announced.size(); ++i) {
        EXPECT_EQ(announced[i].first, table[i].key);
        EXPECT_NEAR(announced[i].second, table[i].base * 100, 1e-9) << announced[i].first;
    }
    EXPECT_EQ(card_reports, 2);
    EXPECT_DOUBLE_EQ(last, 100.0);
}

}  // namespace
}  // namespace reel

namespace reel {
namespace {

// An EDL with every action and both time forms edits the movie as the CSV of the
// same edits does; frame numbers meet the movie's frame rate only in the run.
TEST(EditListRun, EdlEditsAsTheSameCsv) {
    const auto source = e2e::movie(e2e::small_movie(20));
    test::TempDir dir;
    // At 25 fps frame 250 is 10 s, 300 is 12 s and 400 is 16 s.
    const auto edl = read_edit_list(
        path_text(dir.write("cuts.edl", "2 3.5 1\n0:00:05.000\t0:00:07 0\n#250 #300 3\n14 #400 1\n17 17 2\n")), 10);
    const auto csv = read_edit_list(
        path_text(dir.write("cuts.csv", "2,3.5,mute\n5,7,remove\n10,12,cut\n14,16,mute\n17,17,cut\n")), 10);
    ASSERT_TRUE(edl.has_value()) << edl.error();
    ASSERT_TRUE(csv.has_value()) << csv.error();
    EXPECT_EQ(edl->messages, std::vector<std::string>{"Line 5: scene marker skipped."});

    auto edl_run = e2e::run_edits(source, dir / "edl.mkv", edl->edits);
    auto csv_run = e2e::run_edits(source, dir / "csv.mkv", csv->edits);
    ASSERT_TRUE(edl_run.report.has_value()) << edl_run.report.error();
    ASSERT_TRUE(csv_run.report.has_value()) << csv_run.report.error();
    const auto& a = edl_run.report->applied;
    const auto& b = csv_run.report->applied;
    ASSERT_EQ(a.size(), 4u);
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
        SCOPED_TRACE(b[i].id);
        EXPECT_EQ(a[i].id, "edl" + b[i].id.substr(3));
        EXPECT_EQ(a[i].action, b[i].action);
        EXPECT_DOUBLE_EQ(a[i].requestedStart, b[i].requestedStart);
        EXPECT_DOUBLE_EQ(a[i].requestedEnd, b[i].requestedEnd);
        EXPECT_DOUBLE_EQ(a[i].actualStart, b[i].actualStart);
        EXPECT_DOUBLE_EQ(a[i].actualEnd, b[i].actualEnd);
    }
    EXPECT_DOUBLE_EQ(edl_run.report->duration, csv_run.report->duration);
    EXPECT_EQ(e2e::hashes_only(e2e::frame_hashes(path_text(dir / "edl.mkv"), "0:v:0", true)),
              e2e::hashes_only(e2e::frame_hashes(path_text(dir / "csv.mkv"), "0:v:0", true)));
}

}  // namespace
}  // namespace reel
