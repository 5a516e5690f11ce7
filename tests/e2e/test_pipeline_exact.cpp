// --exact: cuts on exactly the requested frames. The pictures from a cut to
// the next keyframe are encoded again, every other kept picture is the
// source's own, and sound, subtitles and chapters follow the exact times.
#include <algorithm>
#include <cmath>

#include <gtest/gtest.h>

#include "support/fake_tool.h"
#include "support/temp_dir.h"
#include "test_pipeline_support.h"
#include <fmt/format.h>

#include "pipeline/plan.h"
#include "probe/keyframes.h"
#include "probe/matroska.h"
#include "tools/run.h"
#include "util/files.h"

namespace reel {
namespace {

using e2e::edit;

// Every decoded picture of the first video stream as 8-bit grey values.
std::vector<std::string> grey_frames(const std::string& file, std::size_t frame_bytes) {
    auto bytes = run_capture_bytes(e2e::tools().ffmpeg, {"-v", "error", "-i", file, "-map", "0:v:0", "-fps_mode",
                                                         "passthrough", "-f", "rawvideo", "-pix_fmt", "gray", "-"});
    std::vector<std::string> frames;
    for (std::size_t at = 0; bytes && at + frame_bytes <= bytes->size(); at += frame_bytes)
        frames.push_back(bytes->substr(at, frame_bytes));
    return frames;
}

double psnr(const std::string& a, const std::string& b) {
    double sum = 0;
    for (std::size_t i = 0; i < a.size(); ++i) sum += std::pow(static_cast<unsigned char>(a[i]) - static_cast<unsigned char>(b[i]), 2);
    return sum == 0 ? 99 : 10 * std::log10(255.0 * 255.0 * static_cast<double>(a.size()) / sum);
}

// Removes `removed` from a 30 s 320x180 movie (keyframes every 2 s) with
// --exact: exactly the frames in the ranges are gone, and a kept frame
// differs from its source frame only within a keyframe interval (and an open
// GOP's leading pictures) of a cut, and then only by encoding noise.
RunReport expect_exact_removal(const std::string& codec, const std::vector<std::pair<double, double>>& removed,
                               double min_psnr = 35, std::vector<std::string> video_args = {},
                               const ToolSet& with = e2e::tools()) {
    auto spec = e2e::small_movie(30);
    spec.video_codec = codec;
    spec.extra_video_args = std::move(video_args);
    spec.subtitles = {test::SubtitleTrackSpec{}};
    spec.chapters = {{0, "Start", std::nullopt}, {24, "Late", std::nullopt}};
    const auto source = e2e::movie(spec);
    test::TempDir dir;
    const auto output = path_text(dir / "out.mkv");
    std::vector<Edit> edits;
    for (const auto& [a, b] : removed) edits.push_back(edit("arg", EditAction::Remove, a, b));
    auto run = e2e::run_edits(source, output, edits, "mkv", false, true, with);
    EXPECT_TRUE(run.report.has_value()) << run.report.error();
    if (!run.report) return {};

    const auto times = e2e::video_frame_times(source);
    const auto source_hashes = e2e::hashes_only(e2e::frame_hashes(source, "0:v:0"));
    const auto out_hashes = e2e::hashes_only(e2e::frame_hashes(output, "0:v:0"));
    const auto source_grey = grey_frames(source, 320 * 180);
    const auto out_grey = grey_frames(output, 320 * 180);
    // In H.264, HEVC and VP9, only the last few pictures before a cut that
    // are decoded after one at or past it are encoded; the group's head is
    // copied. Elsewhere up to a keyframe interval (and an open GOP's leading
    // pictures) before a cut.
    const double changed_before = codec != "mpeg4" ? 0.24 : 2.32;
    std::size_t n = 0;  // the output frame that should show source frame s
    std::size_t encoded = 0;
    for (std::size_t s = 0; s < times.size() && n < out_hashes.size(); ++s) {
        if (std::ranges::any_of(removed, [&](const auto& r) { return e2e::inside(times[s], r.first, r.second); }))
            continue;
        if (out_hashes[n] != source_hashes[s]) {
            ++encoded;
            EXPECT_TRUE(std::ranges::any_of(removed, [&](const auto& r) {
                return (times[s] >= r.first - changed_before && times[s] < r.first) ||
                       (times[s] >= r.second && times[s] < r.second + 2);
            })) << "frame at " << times[s] << " was changed far from any cut";
            EXPECT_GT(psnr(out_grey[n], source_grey[s]), min_psnr) << "frame at " << times[s];
        }
        ++n;
    }
    EXPECT_EQ(out_hashes.size(), n);
    EXPECT_EQ(out_grey.size(), n);
    EXPECT_GT(encoded, 0u);
    EXPECT_EQ(e2e::decode_errors(output), "");
    const RunReport& report = *run.report;
    for (std::size_t i = 0; i < report.applied.size() && i < removed.size(); ++i) {
        EXPECT_DOUBLE_EQ(report.applied[i].actualStart, removed[i].first);
        EXPECT_DOUBLE_EQ(report.applied[i].actualEnd, removed[i].second);
    }
    EXPECT_GT(report.secondsEncoded, 0);
    EXPECT_LE(report.secondsEncoded, static_cast<double>(removed.size()) * (2 + changed_before));
    if (removed.size() == 1 && removed[0] == std::pair{10.3, 20.7}) {
        // Chapters and subtitles ("Line 12" ran from 22.5 s to 23.5 s) follow.
        const auto probe = test::ffprobe_report(output);
        EXPECT_NEAR(std::stod(probe["chapters"][1]["start_time"].get<std::string>()), 24 - 10.4, 0.002);
        auto cues = run_capture(e2e::tools().ffmpeg, {"-v", "error", "-i", output, "-map", "0:s:0", "-f", "srt", "-"});
        EXPECT_NE(cues.value_or("").find("00:00:12,100 --> 00:00:13,100\nLine 12"), std::string::npos);
    }
    return report;
}

TEST(PipelineExact, H264WithBFramesAndHevcWithOpenGops) {
    expect_exact_removal("h264", {{10.3, 20.7}});
    for (const std::string gop : {"1", "0"})
        expect_exact_removal("hevc", {{10.3, 20.7}}, 35,
                             {"-x265-params", "keyint=50:min-keyint=50:scenecut=0:open-gop=" + gop + ":log-level=error"});
}

TEST(PipelineExact, ShortRemovesSeveralInOneIntervalAndOnKeyframes) {
    // 0.4 s, shorter than the 2 s between keyframes; two more inside 22..24.
    const auto report = expect_exact_removal("h264", {{5.3, 5.7}, {22.2, 22.5}, {23.1, 23.4}});
    EXPECT_LE(report.secondsEncoded, 3 * 2 * 2.0);
    // On keyframes nothing is encoded. The picture starts after the sound's
    // priming delay t0: keyframes lie at t0 + 2n.
    const auto source = e2e::movie(e2e::small_movie(30));
    const double t0 = e2e::video_frame_times(source).front();
    test::TempDir dir;
    auto run = e2e::run_edits(source, dir / "k.mkv", {edit("k", EditAction::Remove, t0 + 10, t0 + 14)}, "mkv", false, true);
    ASSERT_TRUE(run.report.has_value()) << run.report.error();
    EXPECT_DOUBLE_EQ(run.report->secondsEncoded, 0);
    EXPECT_EQ(e2e::packet_count(path_text(dir / "k.mkv")), 750 - 100);
}

TEST(PipelineExact, StretchesTheJoinedEncodeRefusesAreEncodedOneByOne) {
    // An ffmpeg whose filter graph refuses to join stretches, as it does when
    // the picture size changes between them.
    test::TempDir dir;
    auto with = e2e::tools();
    with.ffmpeg = path_text(test::write_wrapping_tool(
        dir.path(), "ffmpeg", e2e::tools().ffmpeg,
        "case \"$*\" in *concat=n=1:*) ;; *concat=n=*) echo 'Input link parameters do not match' >&2; exit 1;; esac"));
    expect_exact_removal("h264", {{5.3, 5.7}, {10.3, 20.7}}, 35, {}, with);
}

// Everything of a plan that decides what is copied, encoded and where.
std::string plan_text(const CutPlan& plan) {
    std::string out;
    for (const auto& r : plan.ranges)
        out += fmt::format("({} {} {} {})", r.start, r.end.value_or(-1), r.picturesEnd.value_or(-1), r.picturesStart.value_or(-1));
    for (const auto& e : plan.stretches)
        out += fmt::format("[{} {} {} {} {} {} {} {}]", e.start, e.end, e.firstFrame, e.frames, e.keyframe.value_or(-1),
                           e.nextKeyframe.value_or(-1), e.copied(), e.packets);
    for (const auto& slot : plan.slots)
        out += fmt::format("{}:{}{}{} ", static_cast<int>(slot.kind), slot.index, slot.needsBitstreamPass, slot.dropLeading);
    return out;
}

TEST(PipelineExact, ThePicturesListedNearTheCutsPlanAsAListingOfTheWholeMovieDoes) {
    // A short cut, a long copy after it that the bitstream pass divides, a
    // card, and a text card on the overlay's own plan; closed and open GOPs.
    const auto snapped = [](EditAction action, double start, double end) {
        return SnappedEdit{edit("x", action, start, end, "T"), start, end};
    };
    const std::vector<SnappedEdit> cut{snapped(EditAction::Remove, 5.3, 5.7), snapped(EditAction::Replace, 20.3, 21.1),
                                       snapped(EditAction::Remove, 26.5, 27.9)};
    const std::vector<SnappedEdit> text{snapped(EditAction::TextOverVideo, 12.3, 15.5)};
    for (const std::string gop : {"0", "1"}) {
        auto spec = e2e::small_movie(30);
        spec.video_codec = "hevc";
        spec.extra_video_args = {"-x265-params", "keyint=50:min-keyint=50:scenecut=0:open-gop=" + gop + ":log-level=error"};
        const auto source = e2e::movie(spec);
        const auto whole = index_frames(e2e::tools(), source);
        const auto cues = read_cue_keyframes(source, 0);
        ASSERT_TRUE(whole && cues) << source;
        for (const auto& [edits, kind] : {std::pair{cut, PlanKind::Cut}, std::pair{text, PlanKind::Text}}) {
            const auto windows = exact_listing_windows(edits, *cues, 30);
            const auto near = index_frames(e2e::tools(), source, windows);
            ASSERT_TRUE(near.has_value()) << near.error();
            EXPECT_LT(near->times.size(), whole->times.size()) << "open GOP " << gop;
            const auto plan_with = [&](const FrameIndex& index) {
                GapContext gap{"hevc", 30, [](double) -> Result<double> { return fail("no lookup"); }, &index, true};
                auto plan = plan_pieces(edits, kind, 25, gap);
                return plan ? plan_text(*plan) : plan.error();
            };
            EXPECT_EQ(plan_with(*near), plan_with(*whole)) << "open GOP " << gop;
        }
    }
}

TEST(PipelineExact, OtherCodecsTheCardEncoderWrites) {
    // Their card encoders aim lower than x264's and x265's.
    for (const std::string codec : {"mpeg4", "vp9", "mpeg2video"}) expect_exact_removal(codec, {{10.3, 20.7}}, 28);
    // As a DVD holds it: B-pictures, open groups.
    expect_exact_removal("mpeg2video", {{10.3, 20.7}}, 28, {"-bf", "2"});
}

TEST(PipelineExact, SoundStaysWithThePictureAtEveryCut) {
    // MPEG-2's encoder starts a stretch one picture late in its file.
    for (const std::string codec : {"h264", "mpeg2video"}) {
        SCOPED_TRACE(codec);
        auto spec = e2e::small_movie(30);
        spec.video_codec = codec;
        spec.flashes = {3, 9.6, 10.2, 15, 21.04, 22.5, 27};
        const auto source = e2e::movie(spec);
        test::TempDir dir;
        const auto output = path_text(dir / "out.mkv");
        auto run = e2e::run_edits(source, output, {edit("arg1", EditAction::Remove, 10.3, 20.7)}, "mkv", false, true);
        ASSERT_TRUE(run.report.has_value()) << run.report.error();
        // Six flashes survive, two of them among the encoded pictures.
        EXPECT_EQ(e2e::bright_frames(output).size(), 6u);
        e2e::expect_sound_with_picture(output, source, spec.audio);
        // Nothing but the cut happens to the sound: the run copies the kept
        // packets, and ffmpeg does not cut it.
        EXPECT_EQ(std::ranges::count_if(run.log, [](const std::string& line) {
                      return line.find("-segment_times") != std::string::npos;
                  }), 0);
    }
}

TEST(PipelineExact, CardsAndTextCardsCoverExactlyTheirFrames) {
    const auto source = e2e::movie(e2e::small_movie(30));
    test::TempDir dir;
    const auto output = path_text(dir / "out.mkv");
    auto run = e2e::run_edits(source, output,
                              {edit("card", EditAction::Replace, 4.3, 6.1, "Card", 10, true),
                               edit("text", EditAction::TextOverVideo, 12.3, 13.5, "Text")},
                              "mkv", false, true);
    ASSERT_TRUE(run.report.has_value()) << run.report.error();
    EXPECT_DOUBLE_EQ(run.report->applied[1].actualStart, 4.3);
    EXPECT_EQ(e2e::decode_errors(output), "");
    // The card is as long as the 45 frames it replaces. With the picture
    // starting at 0.021 s, frames 307..336 lie in 12.3..13.5: the text card's.
    const auto source_grey = grey_frames(source, 320 * 180);
    const auto out_grey = grey_frames(output, 320 * 180);
    ASSERT_EQ(out_grey.size(), 750u);
    for (std::size_t n : {306u, 337u, 600u}) EXPECT_GT(psnr(out_grey[n], source_grey[n]), 35.0) << n;
    for (std::size_t n : {307u, 336u}) EXPECT_LT(psnr(out_grey[n], source_grey[n]), 20.0) << n;
}

TEST(PipelineExact, CodecsWithoutAnEncoderFallBackToKeyframes) {
    auto spec = e2e::small_movie(12);
    spec.video_codec = "ffv1";
    const auto source = e2e::movie(spec);
    test::TempDir dir;
    auto run = e2e::run_edits(source, dir / "out.mkv", {edit("a", EditAction::Remove, 4.3, 6.9)}, "mkv", false, true);
    ASSERT_TRUE(run.report.has_value()) << run.report.error();
    ASSERT_EQ(run.warnings.size(), 1u);
    EXPECT_NE(run.warnings[0].find("'ffv1'"), std::string::npos) << run.warnings[0];
    EXPECT_NEAR(run.report->applied[0].actualStart, e2e::video_frame_times(source).front() + 4, 1e-6);
}

}  // namespace
}  // namespace reel
