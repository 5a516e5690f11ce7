// Text over video: a text card takes the picture of its range, frame for frame,
// while the sound and every other picture stay the source's own.
#include <gtest/gtest.h>

#include "support/temp_dir.h"
#include "test_pipeline_support.h"
#include "util/files.h"

namespace reel {
namespace {

using e2e::edit;
using e2e::inside;

void expect_card_at(const std::string& file, double time) {
    const auto frame = e2e::grey_frame_at(file, time);
    ASSERT_EQ(frame.size(), 320u * 180u);
    EXPECT_LT(e2e::mean_value(frame), 40) << "no card at " << time;
    EXPECT_GE(e2e::max_value(frame), 200) << "no text at " << time;
}

// One text edit over a 20 s movie, written into `dir`.
struct TextRun {
    std::string source = e2e::movie(e2e::small_movie(20));
    std::filesystem::path output;
    e2e::PipelineRun run;
};
TextRun run_text(const test::TempDir& dir, double start, double end, const std::string& text) {
    TextRun text_run;
    text_run.output = dir / "out.mkv";
    text_run.run = e2e::run_edits(text_run.source, text_run.output, {edit("arg1", EditAction::TextOverVideo, start, end, text)});
    return text_run;
}

TEST(PipelineOverlay, CardReplacesThePictureAndKeepsTheSound) {
    test::TempDir dir;
    const auto [source, output, run] = run_text(dir, 6.3, 9.9, "Over the picture");
    ASSERT_TRUE(run.report.has_value()) << run.report.error();
    const RunReport& report = *run.report;
    ASSERT_EQ(report.applied.size(), 1u);
    const AppliedEdit& text = report.applied[0];
    EXPECT_EQ(text.action, EditAction::TextOverVideo);
    const auto times = e2e::video_frame_times(source);
    ASSERT_EQ(times.size(), 500u);
    EXPECT_NEAR(text.actualStart, times[150], 1e-6);  // keyframes every 50 frames
    EXPECT_NEAR(text.actualEnd, times[250], 1e-6);
    ASSERT_TRUE(text.cardSeconds.has_value());
    EXPECT_DOUBLE_EQ(*text.cardSeconds, text.actualEnd - text.actualStart);
    EXPECT_NEAR(report.secondsEncoded, 100 / 25.0, 1e-9);

    const std::string out = path_text(output);
    EXPECT_EQ(e2e::packet_count(out), 500);
    EXPECT_EQ(e2e::decode_errors(out), "");
    EXPECT_EQ(e2e::hashes_only(e2e::frame_hashes(out, "0:a:0", true)),
              e2e::hashes_only(e2e::frame_hashes(source, "0:a:0", true)));

    const auto before = e2e::frame_hashes(source, "0:v:0");
    const auto after = e2e::frame_hashes(out, "0:v:0");
    ASSERT_EQ(after.size(), before.size());
    for (std::size_t n = 0; n < before.size(); ++n) {
        if (inside(times[n], text.actualStart, text.actualEnd)) {
            EXPECT_NE(after[n].md5, before[n].md5) << "frame " << n;
        } else {
            EXPECT_EQ(after[n].md5, before[n].md5) << "frame " << n;
        }
    }
    expect_card_at(out, 8.0);
}

// A long card encodes its still middle once and shows it again: the card
// still fades in once at its start and out once at its end, is whole, and
// leaves every other picture as it was.
TEST(PipelineOverlay, ALongCardFadesInAtItsStartAndOutAtItsEndOnly) {
    test::TempDir dir;
    const auto [source, output, run] = run_text(dir, 2, 14, "A long card");
    ASSERT_TRUE(run.report.has_value()) << run.report.error();
    const std::string out = path_text(output);
    EXPECT_EQ(e2e::packet_count(out), 500);
    EXPECT_EQ(e2e::decode_errors(out), "");
    const auto times = e2e::video_frame_times(source);
    const auto before = e2e::frame_hashes(source, "0:v:0");
    const auto after = e2e::frame_hashes(out, "0:v:0");
    ASSERT_EQ(after.size(), before.size());
    for (std::size_t n = 0; n < before.size(); ++n) {
        if (!inside(times[n], 2, 14)) {
            EXPECT_EQ(after[n].md5, before[n].md5) << "frame " << n;
        }
    }
    // The second picture and the last are faint; every second between the
    // fades shows the text at full strength.
    for (const double faint : {2.04, 13.96}) EXPECT_LT(e2e::max_value(e2e::grey_frame_at(out, faint)), 100) << faint;
    for (double t = 3; t < 13.2; t += 1) expect_card_at(out, t);
}

TEST(PipelineOverlay, TextEditNextToARemoveEdit) {
    const auto source = e2e::movie(e2e::small_movie(20));
    test::TempDir dir;
    const auto output = dir / "out.mkv";
    auto run = e2e::run_edits(source, output,
                              {edit("arg1", EditAction::TextOverVideo, 4, 6, "Just before the cut"),
                               edit("arg2", EditAction::Remove, 6, 8)});
    ASSERT_TRUE(run.report.has_value()) << run.report.error();
    const RunReport& report = *run.report;
    ASSERT_EQ(report.applied.size(), 2u);
    EXPECT_EQ(report.applied[0].action, EditAction::TextOverVideo);
    EXPECT_EQ(report.applied[1].action, EditAction::Remove);
    EXPECT_NEAR(report.duration, report.originalDuration - 2, 1.0 / 25);

    const std::string out = path_text(output);
    EXPECT_EQ(e2e::packet_count(out), 450);
    EXPECT_EQ(e2e::decode_errors(out), "");
    const auto before = e2e::hashes_only(e2e::frame_hashes(source, "0:v:0"));
    const auto after = e2e::hashes_only(e2e::frame_hashes(out, "0:v:0"));
    ASSERT_EQ(after.size(), 450u);
    // Frames 0-99 kept, 100-149 the card, then source frames from 200 on.
    EXPECT_TRUE(std::equal(after.begin(), after.begin() + 100, before.begin()));
    EXPECT_TRUE(std::equal(after.begin() + 150, after.end(), before.begin() + 200));
    expect_card_at(out, 5.0);
}

}  // namespace
}  // namespace reel
