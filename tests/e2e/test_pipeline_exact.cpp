// --exact: cuts on exactly the requested frames. The pictures from a cut to
// the next keyframe are encoded again, every other kept picture is the
// source's own, and sound, subtitles and chapters follow the exact times.
#include <algorithm>
#include <cmath>

#include <gtest/gtest.h>

#include "probe/keyframes.h"
#include "subs/subtitles.h"
#include "support/temp_dir.h"
#include "test_pipeline_support.h"
#include "tools/run.h"
#include "util/files.h"

namespace reel {
namespace {

using e2e::edit;

// Every decoded picture of the first video stream as 8-bit grey values.
std::vector<std::string> grey_frames(const std::string& file, std::size_t frame_bytes) {
    auto bytes = run_capture_bytes(e2e::tools().ffmpeg, {"-v", "error", "-i", file, "-map", "0:v:0", "-fps_mode",
                                                         "passthrough", "-f", "rawvideo", "-pix_fmt", "gray", "-"});
    EXPECT_TRUE(bytes.has_value()) << bytes.error();
    std::vector<std::string> frames;
    for (std::size_t at = 0; bytes && at + frame_bytes <= bytes->size(); at += frame_bytes)
        frames.push_back(bytes->substr(at, frame_bytes));
    return frames;
}

double psnr(const std::string& a, const std::string& b) {
    double sum = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const double d = static_cast<unsigned char>(a[i]) - static_cast<unsigned char>(b[i]);
        sum += d * d;
    }
    if (sum == 0) return 99;
    return 10 * std::log10(255.0 * 255.0 / (sum / static_cast<double>(a.size())));
}

// The source frames outside the removed ranges, in order.
struct Kept {
    std::vector<std::size_t> index;  // source frame numbers
};
Kept kept_frames(const std::vector<double>& times, const std::vector<std::pair<double, double>>& removed) {
    Kept kept;
    for (std::size_t n = 0; n < times.size(); ++n) {
        const bool gone = std::ranges::any_of(removed, [&](const auto& r) { return e2e::inside(times[n], r.first, r.second); });
        if (!gone) kept.index.push_back(n);
    }
    return kept;
}

// Removes `removed` with --exact and checks the pictures: exactly the frames
// in the ranges are gone; a kept frame differs from its source frame only
// within one keyframe interval (plus an open GOP's leading pictures) after
// or before a cut, and then by no more than encoding noise.
RunReport expect_exact_removal(const test::MovieSpec& spec, const std::vector<std::pair<double, double>>& removed,
                               double min_psnr = 35) {
    const auto source = e2e::movie(spec);
    test::TempDir dir;
    const auto output = dir / "out.mkv";
    std::vector<Edit> edits;
    for (std::size_t i = 0; i < removed.size(); ++i)
        edits.push_back(edit("arg" + std::to_string(i + 1), EditAction::Remove, removed[i].first, removed[i].second));
    auto run = e2e::run_edits(source, output, edits, "mkv", false, true);
    EXPECT_TRUE(run.report.has_value()) << run.report.error();
    if (!run.report) return {};
    EXPECT_TRUE(run.warnings.empty());

    const auto times = e2e::video_frame_times(source);
    const auto source_hashes = e2e::hashes_only(e2e::frame_hashes(source, "0:v:0"));
    const auto out_hashes = e2e::hashes_only(e2e::frame_hashes(path_text(output), "0:v:0"));
    const Kept kept = kept_frames(times, removed);
    EXPECT_EQ(out_hashes.size(), kept.index.size());
    if (out_hashes.size() != kept.index.size()) return *run.report;

    const double interval = static_cast<double>(spec.keyframe_interval) * spec.fps_den / spec.fps_num;
    const double leading = 8.0 * spec.fps_den / spec.fps_num;
    const auto near_cut = [&](double t) {
        return std::ranges::any_of(removed, [&](const auto& r) {
            return (t >= r.first - interval - leading && t < r.first) || (t >= r.second && t < r.second + interval);
        });
    };
    const std::size_t frame_bytes = static_cast<std::size_t>(spec.width) * static_cast<std::size_t>(spec.height);
    const auto source_grey = grey_frames(source, frame_bytes);
    const auto out_grey = grey_frames(path_text(output), frame_bytes);
    EXPECT_EQ(out_grey.size(), out_hashes.size());
    std::size_t encoded = 0;
    for (std::size_t n = 0; n < kept.index.size() && n < out_grey.size(); ++n) {
        const std::size_t s = kept.index[n];
        if (out_hashes[n] == source_hashes[s]) continue;
        ++encoded;
        EXPECT_TRUE(near_cut(times[s])) << "frame at " << times[s] << " was changed far from any cut";
        EXPECT_GT(psnr(out_grey[n], source_grey[s]), min_psnr) << "frame at " << times[s];
    }
    EXPECT_GT(encoded, 0u);
    EXPECT_EQ(e2e::decode_errors(path_text(output)), "");
    EXPECT_TRUE(e2e::work_folders(dir.path()).empty());

    const RunReport& report = *run.report;
    EXPECT_EQ(report.applied.size(), removed.size());
    for (std::size_t i = 0; i < report.applied.size() && i < removed.size(); ++i) {
        EXPECT_DOUBLE_EQ(report.applied[i].actualStart, removed[i].first);
        EXPECT_DOUBLE_EQ(report.applied[i].actualEnd, removed[i].second);
    }
    EXPECT_GT(report.secondsEncoded, 0);
    EXPECT_LE(report.secondsEncoded, 2 * static_cast<double>(removed.size()) * (interval + leading));
    return report;
}

test::MovieSpec textured_movie(const std::string& codec) {
    auto spec = e2e::small_movie(30);
    spec.video_codec = codec;
    return spec;
}

TEST(PipelineExact, H264WithBFramesRemovesExactlyTheRequestedFrames) {
    auto spec = textured_movie("h264");
    spec.subtitles = {test::SubtitleTrackSpec{}};
    spec.chapters = {{0, "Start", std::nullopt}, {24, "Late", std::nullopt}};
    const auto source = e2e::movie(spec);
    ASSERT_GT(e2e::packet_count(source), 0);
    const auto report = expect_exact_removal(spec, {{10.3, 20.7}});
    EXPECT_NEAR(report.duration, 30 - 10.4, 2.0 / 25);
}

TEST(PipelineExact, SubtitlesAndChaptersFollowTheExactTimes) {
    auto spec = textured_movie("h264");
    spec.subtitles = {test::SubtitleTrackSpec{}};
    spec.chapters = {{0, "Start", std::nullopt}, {24, "Late", std::nullopt}};
    const auto source = e2e::movie(spec);
    test::TempDir dir;
    const auto output = dir / "out.mkv";
    auto run = e2e::run_edits(source, output, {edit("arg1", EditAction::Remove, 10.3, 20.7)}, "mkv", false, true);
    ASSERT_TRUE(run.report.has_value()) << run.report.error();
    const auto probe = test::ffprobe_report(output);
    ASSERT_EQ(probe["chapters"].size(), 2u);
    EXPECT_NEAR(std::stod(probe["chapters"][1]["start_time"].get<std::string>()), 24 - 10.4, 0.002);
    // "Line 12" runs from 22.5 s to 23.5 s in the source.
    auto cues = run_capture(e2e::tools().ffmpeg, {"-v", "error", "-i", path_text(output), "-map", "0:s:0", "-f", "srt", "-"});
    ASSERT_TRUE(cues.has_value()) << cues.error();
    EXPECT_NE(cues->find("00:00:12,100 --> 00:00:13,100\nLine 12"), std::string::npos) << *cues;
}

TEST(PipelineExact, HevcWithOpenGopsHasNoBrokenPicturesAfterTheCut) {
    auto spec = textured_movie("hevc");
    spec.extra_video_args = {"-x265-params", "keyint=50:min-keyint=50:scenecut=0:open-gop=1:log-level=error"};
    expect_exact_removal(spec, {{10.3, 20.7}});
}

TEST(PipelineExact, ShortRemovesSeveralInOneIntervalAndOnKeyframes) {
    const auto spec = textured_movie("h264");
    // 0.4 s, shorter than the 2 s between keyframes; two more inside 22..24.
    const auto report = expect_exact_removal(spec, {{5.3, 5.7}, {22.2, 22.5}, {23.1, 23.4}});
    EXPECT_LE(report.secondsEncoded, 2 * 3 * 2.0);

    // Cuts on keyframes encode nothing and keep every other frame as it was.
    // The picture starts with the sound's priming delay: keyframes lie at t0 + 2n.
    const auto source = e2e::movie(spec);
    const double t0 = e2e::video_frame_times(source).front();
    test::TempDir dir;
    auto run = e2e::run_edits(source, dir / "k.mkv", {edit("arg1", EditAction::Remove, t0 + 10, t0 + 14)}, "mkv",
                              false, true);
    ASSERT_TRUE(run.report.has_value()) << run.report.error();
    EXPECT_DOUBLE_EQ(run.report->secondsEncoded, 0);
    EXPECT_EQ(e2e::packet_count(path_text(dir / "k.mkv")), 750 - 100);
}

TEST(PipelineExact, OtherCodecsTheCardEncoderWrites) {
    for (const std::string codec : {"mpeg4", "vp9"}) {
        SCOPED_TRACE(codec);
        // Their card encoders aim lower than x264's and x265's.
        expect_exact_removal(textured_movie(codec), {{10.3, 20.7}}, 28);
    }
}

TEST(PipelineExact, SoundStaysWithThePictureAtEveryCut) {
    auto spec = e2e::small_movie(30);
    spec.flashes = {3, 9.6, 10.2, 15, 21.04, 22.5, 27};
    const auto source = e2e::movie(spec);
    test::TempDir dir;
    const auto output = dir / "out.mkv";
    auto run = e2e::run_edits(source, output, {edit("arg1", EditAction::Remove, 10.3, 20.7)}, "mkv", false, true);
    ASSERT_TRUE(run.report.has_value()) << run.report.error();
    // Six flashes survive, the two next to the cut among the encoded pictures.
    EXPECT_EQ(e2e::bright_frames(path_text(output)).size(), 6u);
    e2e::expect_sound_with_picture(path_text(output), source, spec.audio);
    EXPECT_EQ(e2e::decode_errors(path_text(output)), "");
}

TEST(PipelineExact, CardsAndTextCardsCoverExactlyTheirFrames) {
    const auto spec = textured_movie("h264");
    const auto source = e2e::movie(spec);
    test::TempDir dir;
    const auto output = dir / "out.mkv";
    auto run = e2e::run_edits(source, output,
                              {edit("arg1", EditAction::Replace, 4.3, 6.1, "Card", 10, true),
                               edit("arg2", EditAction::TextOverVideo, 12.3, 13.5, "Text")},
                              "mkv", false, true);
    ASSERT_TRUE(run.report.has_value()) << run.report.error();
    ASSERT_EQ(run.report->applied.size(), 2u);
    EXPECT_DOUBLE_EQ(run.report->applied[0].actualStart, 12.3);
    EXPECT_DOUBLE_EQ(run.report->applied[1].actualStart, 4.3);
    EXPECT_DOUBLE_EQ(run.report->applied[1].actualEnd, 6.1);
    // The card lasts as long as the 45 frames it replaces; the text card takes
    // the place of the 30 frames of 12.3..13.5.
    EXPECT_EQ(e2e::packet_count(path_text(output)), 750);
    EXPECT_EQ(e2e::decode_errors(path_text(output)), "");
    const auto source_hashes = e2e::hashes_only(e2e::frame_hashes(source, "0:v:0"));
    const auto out_hashes = e2e::hashes_only(e2e::frame_hashes(path_text(output), "0:v:0"));
    ASSERT_EQ(out_hashes.size(), 750u);
    // With the picture's start t0 (0.021 s) frames 307..336 lie in 12.3..13.5:
    // the card's. Those on either side are the source's, encoded again.
    ASSERT_NEAR(e2e::video_frame_times(source).front(), 0.021, 0.001);
    EXPECT_NE(out_hashes[307], source_hashes[307]);
    EXPECT_NE(out_hashes[336], source_hashes[336]);
    const std::size_t frame_bytes = 320 * 180;
    const auto source_grey = grey_frames(source, frame_bytes);
    const auto out_grey = grey_frames(path_text(output), frame_bytes);
    ASSERT_EQ(out_grey.size(), 750u);
    EXPECT_GT(psnr(out_grey[306], source_grey[306]), 35.0);
    EXPECT_GT(psnr(out_grey[337], source_grey[337]), 35.0);
    for (std::size_t n : {307u, 320u, 336u}) EXPECT_LT(psnr(out_grey[n], source_grey[n]), 20.0) << n;
    EXPECT_EQ(out_hashes[600], source_hashes[600]);
}

TEST(PipelineExact, CodecsWithoutAnEncoderFallBackToKeyframes) {
    auto spec = e2e::small_movie(12);
    spec.video_codec = "ffv1";
    const auto source = e2e::movie(spec);
    test::TempDir dir;
    auto run = e2e::run_edits(source, dir / "out.mkv", {edit("arg1", EditAction::Remove, 4.3, 6.9)}, "mkv", false, true);
    ASSERT_TRUE(run.report.has_value()) << run.report.error();
    ASSERT_EQ(run.warnings.size(), 1u);
    EXPECT_NE(run.warnings[0].find("'ffv1'"), std::string::npos) << run.warnings[0];
    const double t0 = e2e::video_frame_times(source).front();
    EXPECT_NEAR(run.report->applied[0].actualStart, t0 + 4, 1e-6);
    EXPECT_NEAR(run.report->applied[0].actualEnd, t0 + 6, 1e-6);
    EXPECT_DOUBLE_EQ(run.report->secondsEncoded, 0);
}

}  // namespace
}  // namespace reel
