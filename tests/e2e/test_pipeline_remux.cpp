// The remux stage: containers other than Matroska, MP4/MOV and AVI, and files
// whose timestamps do not start at zero, are first copied into "source.mkv".
#include <gtest/gtest.h>

#include "support/temp_dir.h"
#include "test_pipeline_support.h"
#include "tools/run.h"
#include "util/files.h"
#include "util/text.h"

namespace reel {
namespace {

test::MovieSpec twelve_seconds(const std::string& container) {
    auto spec = e2e::small_movie(12);
    spec.container = container;
    return spec;
}

std::vector<std::string> announced_stages(const e2e::PipelineRun& run) {
    std::vector<std::string> stages;
    for (const auto& e : run.events) {
        if (!e.message.empty() && (stages.empty() || stages.back() != e.stage)) stages.push_back(e.stage);
    }
    return stages;
}

const std::vector<std::string> kRemuxedCut{"probe", "remux", "snap", "split", "cards", "join", "subs", "mux", "done"};

double start_time(const std::string& file) {
    auto out = run_capture(e2e::tools().ffprobe,
                           {"-v", "error", "-show_entries", "format=start_time", "-of", "csv=p=0", file});
    EXPECT_TRUE(out.has_value()) << out.error();
    return std::strtod(std::string(trim(out.value_or("nan"))).c_str(), nullptr);
}

TEST(PipelineRemux, TransportStreamIsAlwaysRemuxed) {
    const auto source = e2e::movie(twelve_seconds("ts"));
    test::TempDir dir;
    const auto output = dir / "out.mkv";
    auto run = e2e::run_edits(source, output, {e2e::edit("arg1", EditAction::Remove, 4, 6)});
    ASSERT_TRUE(run.report.has_value()) << run.report.error();
    EXPECT_EQ(announced_stages(run), kRemuxedCut);
    ASSERT_FALSE(run.log.empty());
    EXPECT_TRUE(run.log[0].starts_with("> ffmpeg ")) << run.log[0];
    EXPECT_NE(run.log[0].find("-avoid_negative_ts make_zero"), std::string::npos) << run.log[0];
    // Every later tool reads the copy, not the movie.
    for (std::size_t i = 1; i < run.log.size(); ++i) EXPECT_EQ(run.log[i].find(source), std::string::npos) << run.log[i];

    const std::string out = path_text(output);
    EXPECT_EQ(e2e::packet_count(out), 300 - 50);
    EXPECT_EQ(e2e::decode_errors(out), "");
}

TEST(PipelineRemux, MatroskaStartingLateIsRemuxedToStartAtZero) {
    const auto cached = e2e::movie(twelve_seconds("mkv"));
    test::TempDir dir;
    const auto late = dir / "late.mkv";
    auto shifted = run_capture(e2e::tools().ffmpeg, {"-v", "error", "-i", cached, "-map", "0", "-c", "copy",
                                                     "-output_ts_offset", "1.5", path_text(late)});
    ASSERT_TRUE(shifted.has_value()) << shifted.error();
    ASSERT_NEAR(start_time(path_text(late)), 1.5, 0.05);

    const auto output = dir / "out.mkv";
    auto run = e2e::run_edits(path_text(late), output, {e2e::edit("arg1", EditAction::Remove, 4, 6)});
    ASSERT_TRUE(run.report.has_value()) << run.report.error();
    EXPECT_EQ(announced_stages(run), kRemuxedCut);
    // The copy's first decoding timestamp is zero; its first picture follows after
    // the B-frame delay (two frames).
    const std::string out = path_text(output);
    EXPECT_NEAR(start_time(out), 0, 0.1);
    // Times are read on the copy's timeline, not on the movie's shifted one.
    EXPECT_NEAR(run.report->applied[0].actualStart, 4, 0.1);
    EXPECT_EQ(e2e::packet_count(out), 300 - 50);
}

}  // namespace
}  // namespace reel
