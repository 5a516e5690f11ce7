// Mute edits: silence inside the ranges on every track, everything else, the
// picture included, exactly as it was.
#include <algorithm>
#include <cmath>

#include <gtest/gtest.h>

#include "pipeline/stage_args.h"
#include "probe/probe.h"
#include "support/temp_dir.h"
#include "test_pipeline_support.h"
#include "util/files.h"

namespace reel {
namespace {

using e2e::edit;

// Packet hashes of one audio stream whose time lies in [from, to).
std::vector<std::string> packets_between(const std::vector<e2e::FrameHash>& packets, double from, double to) {
    std::vector<std::string> out;
    for (const auto& p : packets) {
        if (p.time >= from && p.time < to) out.push_back(p.md5);
    }
    return out;
}

bool contains_run(const std::vector<std::string>& all, const std::vector<std::string>& run) {
    return !run.empty() && std::search(all.begin(), all.end(), run.begin(), run.end()) != all.end();
}

TEST(PipelineMute, SilencesEveryTrackInsideAndKeepsEverythingElse) {
    auto spec = e2e::small_movie(20);
    test::AudioTrackSpec stereo;
    stereo.language = "eng";
    stereo.is_default = true;
    test::AudioTrackSpec surround;
    surround.codec = "ac3";
    surround.channels = 6;
    surround.layout = "5.1(side)";
    surround.tone_hz = 660;
    spec.audio = {stereo, surround};
    const auto source = e2e::movie(spec);

    test::TempDir dir;
    const auto output = dir / "out.mkv";
    auto run = e2e::run_edits(source, output,
                              {edit("arg1", EditAction::Mute, 14, 15), edit("arg2", EditAction::Mute, 6.3, 9.1)});
    ASSERT_TRUE(run.report.has_value()) << run.report.error();
    const RunReport& report = *run.report;
    ASSERT_EQ(report.applied.size(), 2u);
    EXPECT_EQ(report.applied[0].id, "arg2");
    EXPECT_EQ(report.applied[0].action, EditAction::Mute);
    EXPECT_DOUBLE_EQ(report.applied[0].actualStart, 6.3);
    EXPECT_DOUBLE_EQ(report.applied[0].actualEnd, 9.1);
    EXPECT_EQ(report.applied[1].id, "arg1");
    EXPECT_FALSE(report.applied[1].cardSeconds.has_value());
    // The silence is as long as the copied audio pieces, which end on audio frames.
    EXPECT_NEAR(report.secondsEncoded, 3.8, 0.1);
    EXPECT_NEAR(report.duration, report.originalDuration, 1.0 / 25);

    const std::string out = path_text(output);
    auto info = probe_media(e2e::tools(), out);
    ASSERT_TRUE(info.has_value()) << info.error();
    ASSERT_EQ(info->audio.size(), 2u);
    EXPECT_EQ(info->audio[0].codec, "aac");
    EXPECT_EQ(info->audio[0].channels, 2);
    EXPECT_EQ(info->audio[0].language, "eng");
    EXPECT_TRUE(info->audio[0].isDefault);
    EXPECT_EQ(info->audio[1].codec, "ac3");
    EXPECT_EQ(info->audio[1].channels, 6);
    EXPECT_EQ(info->audio[1].channelLayout, "5.1(side)");

    for (int track = 0; track < 2; ++track) {
        EXPECT_LT(e2e::max_volume(out, track, 6.4, 9.0), -90) << "track " << track;
        EXPECT_LT(e2e::max_volume(out, track, 14.1, 14.9), -90) << "track " << track;
        EXPECT_GT(e2e::max_volume(out, track, 1, 6), -20) << "track " << track;
        EXPECT_GT(e2e::max_volume(out, track, 10, 13), -20) << "track " << track;

        // Outside the mute ranges the packets are the source's own.
        const std::string map = "0:a:" + std::to_string(track);
        const auto before = e2e::frame_hashes(source, map, true);
        const auto after = e2e::frame_hashes(out, map, true);
        const auto all_after = e2e::hashes_only(after);
        EXPECT_EQ(packets_between(after, 0, 6.2), packets_between(before, 0, 6.2)) << "track " << track;
        EXPECT_TRUE(contains_run(all_after, packets_between(before, 9.2, 13.9))) << "track " << track;
        EXPECT_TRUE(contains_run(all_after, packets_between(before, 15.1, 20))) << "track " << track;
    }

    // The picture is untouched over the whole movie.
    EXPECT_EQ(e2e::hashes_only(e2e::frame_hashes(out, "0:v:0")), e2e::hashes_only(e2e::frame_hashes(source, "0:v:0")));
    EXPECT_TRUE(e2e::work_folders(dir.path()).empty());
    // The bar moves while the run copies the sound.
    EXPECT_TRUE(std::ranges::any_of(run.events, [](const ProgressEvent& e) {
        return e.stage == stages::mute.key && e.percent > stages::mute.base * 100 + 1 &&
               e.percent < (stages::mute.base + stages::mute.span) * 100;
    }));
}

TEST(PipelineMute, MovieWithoutAudioIsCopiedWithAWarning) {
    auto spec = e2e::small_movie(6);
    spec.audio.clear();
    const auto source = e2e::movie(spec);
    test::TempDir dir;
    const auto output = dir / "out.mkv";
    auto run = e2e::run_edits(source, output, {edit("arg1", EditAction::Mute, 1, 2)});
    ASSERT_TRUE(run.report.has_value()) << run.report.error();
    EXPECT_EQ(run.warnings, std::vector<std::string>{"Mute edits were ignored because the file has no audio."});
    EXPECT_TRUE(run.report->applied.empty());
    EXPECT_DOUBLE_EQ(run.report->secondsEncoded, 0);
    EXPECT_EQ(e2e::hashes_only(e2e::frame_hashes(path_text(output), "0:v:0", true)),
              e2e::hashes_only(e2e::frame_hashes(source, "0:v:0", true)));
}

}  // namespace
}  // namespace reel
