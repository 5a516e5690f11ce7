#include <algorithm>
#include <cmath>
// Subtitles and chapters follow the edited timeline after remove and card
// edits, and pass through unchanged when only mute and text edits ran.
#include <gtest/gtest.h>

#include "probe/keyframes.h"
#include "probe/probe.h"
#include "subs/subtitles.h"
#include "support/fake_tool.h"
#include "support/temp_dir.h"
#include "test_pipeline_support.h"
#include "tools/run.h"
#include "util/files.h"
#include "util/text.h"

namespace reel {
namespace {

using e2e::edit;

const std::vector<test::SubtitleCue> kCues{
    {1, 2, "Before"},      {9, 11, "Straddles"}, {11, 12, "Removed"},
    {15, 16, "Between"},   {21, 22, "Carded"},   {25, 26, "After"},
};

test::MovieSpec movie_with_subtitles() {
    auto spec = e2e::small_movie(30);
    test::SubtitleTrackSpec srt;
    srt.language = "eng";
    srt.cues = kCues;
    test::SubtitleTrackSpec ass;
    ass.format = test::SubtitleFormat::Ass;
    ass.language = "ger";
    ass.title = "Styled";
    ass.cues = kCues;
    spec.subtitles = {srt, ass};
    test::PgsTrackSpec pgs;
    pgs.language = "fre";
    spec.image_subtitles = {pgs};
    spec.chapters = {{0, "Intro"}, {11, "Gone"}, {15, "Q&A <live> \"quoted\""}, {21, "In the card"}, {26, "Late"}};
    return spec;
}

struct Cue {
    std::string start, end, text;
    bool operator==(const Cue&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Cue& c) { return os << c.start << " --> " << c.end << " " << c.text; }

std::string extract(const std::string& file, int track, const std::string& format) {
    auto text = run_capture(e2e::tools().ffmpeg, {"-v", "error", "-i", file, "-map", "0:s:" + std::to_string(track),
                                                  "-c:s", "copy", "-f", format, "-"});
    EXPECT_TRUE(text.has_value()) << text.error();
    return text.value_or("");
}

std::vector<Cue> srt_cues(const std::string& text) {
    std::vector<Cue> cues;
    const auto lines = split(replace_all(text, "\r\n", "\n"), '\n');
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
        const auto arrow = lines[i].find(" --> ");
        if (arrow == std::string::npos) continue;
        cues.push_back({lines[i].substr(0, arrow), lines[i].substr(arrow + 5), lines[i + 1]});
    }
    return cues;
}

std::vector<Cue> ass_cues(const std::string& text) {
    std::vector<Cue> cues;
    for (const auto& line : split(replace_all(text, "\r\n", "\n"), '\n')) {
        if (!line.starts_with("Dialogue:")) continue;
        const auto fields = split(line, ',');
        if (fields.size() < 10) continue;
        cues.push_back({fields[1], fields[2], fields[9]});
    }
    return cues;
}

// The timeline the report describes: kept source up to the removed range,
// from it to the card, the card, then the rest.
Timeline report_timeline(const RunReport& report) {
    const AppliedEdit& card = report.applied[0];
    const AppliedEdit& removed = report.applied[1];
    return Timeline::from_segments({
        {false, 0, removed.actualStart, removed.actualStart},
        {false, removed.actualEnd, card.actualStart, card.actualStart - removed.actualEnd},
        {true, 0, 0, card.cardSeconds.value_or(0)},
        {false, card.actualEnd, report.originalDuration, report.originalDuration - card.actualEnd},
    });
}

TEST(PipelineSubtitles, CuesAndChaptersFollowTheTimeline) {
    const auto source = e2e::movie(movie_with_subtitles());
    test::TempDir dir;
    const auto output = dir / "out.mkv";
    auto run = e2e::run_edits(source, output,
                              {edit("arg1", EditAction::Remove, 10, 14), edit("arg2", EditAction::Replace, 20, 24, "A card", 3)});
    ASSERT_TRUE(run.report.has_value()) << run.report.error();
    const RunReport& report = *run.report;
    ASSERT_EQ(report.applied.size(), 2u);
    ASSERT_EQ(report.applied[0].action, EditAction::Replace);
    EXPECT_TRUE(run.warnings.empty()) << run.warnings.front();
    const Timeline timeline = report_timeline(report);

    // The picture really is where that timeline says: the first frame after the
    // removed range and after the card.
    const std::string out = path_text(output);
    const auto frames = e2e::video_frame_times(out);
    for (double source : {report.applied[1].actualEnd, report.applied[0].actualEnd}) {
        const double wanted = map_range(timeline, source, source + 1)->first;
        EXPECT_TRUE(std::any_of(frames.begin(), frames.end(), [&](double t) { return std::abs(t - wanted) < 0.0015; }))
            << "no frame at " << wanted;
    }
    auto info = probe_media(e2e::tools(), out);
    ASSERT_TRUE(info.has_value()) << info.error();
    ASSERT_EQ(info->subtitles.size(), 3u);
    EXPECT_EQ(info->subtitles[2].codec, "hdmv_pgs_subtitle");
    EXPECT_EQ(info->subtitles[2].language, "fre");
    EXPECT_EQ(info->subtitles[0].language, "eng");
    EXPECT_EQ(info->subtitles[1].language, "ger");
    EXPECT_EQ(info->subtitles[1].title, "Styled");

    std::vector<Cue> expected_srt, expected_ass;
    for (const auto& cue : kCues) {
        auto mapped = map_range(timeline, cue.start, cue.end);
        if (!mapped) continue;
        expected_srt.push_back({format_srt_time(mapped->first), format_srt_time(mapped->second), cue.text});
        expected_ass.push_back({format_ass_time(mapped->first), format_ass_time(mapped->second), cue.text});
    }
    // Removed and carded cues are gone; the straddling one ends at the cut.
    ASSERT_EQ(expected_srt.size(), 4u);
    EXPECT_EQ(expected_srt[1].text, "Straddles");
    EXPECT_EQ(expected_srt[1].end, format_srt_time(report.applied[1].actualStart));
    EXPECT_EQ(srt_cues(extract(out, 0, "srt")), expected_srt);

    const std::string ass = extract(out, 1, "ass");
    EXPECT_EQ(ass_cues(ass), expected_ass);
    EXPECT_NE(ass.find("[V4+ Styles]"), std::string::npos) << ass;
    EXPECT_NE(ass.find("Style: Default,Arial,20,&H00FFFFFF"), std::string::npos) << ass;

    // Every chapter keeps its place; one whose opening was removed or lies
    // under the card begins where its kept part does.
    const std::vector<std::pair<double, std::string>> chapters{
        {0, "Intro"}, {11, "Gone"}, {15, "Q&A <live> \"quoted\""}, {21, "In the card"}, {26, "Late"}};
    ASSERT_EQ(info->chapters.size(), chapters.size());
    for (std::size_t i = 0; i < chapters.size(); ++i) {
        const double end = i + 1 < chapters.size() ? chapters[i + 1].first : 30;
        EXPECT_EQ(info->chapters[i].title, chapters[i].second);
        EXPECT_NEAR(info->chapters[i].start, map_range(timeline, chapters[i].first, end)->first, 0.0005)
            << chapters[i].second;
    }
    EXPECT_NEAR(info->chapters[1].start, report.applied[1].actualStart, 0.0005);  // at the cut
}

TEST(PipelineSubtitles, MuteAndTextEditsKeepSubtitlesAndChaptersAsTheyAre) {
    const auto source = e2e::movie(movie_with_subtitles());
    test::TempDir dir;
    const auto output = dir / "out.mkv";
    auto run = e2e::run_edits(source, output,
                              {edit("arg1", EditAction::TextOverVideo, 4, 6, "Words"), edit("arg2", EditAction::Mute, 10, 12)});
    ASSERT_TRUE(run.report.has_value()) << run.report.error();
    EXPECT_TRUE(run.warnings.empty());

    const std::string out = path_text(output);
    auto before = probe_media(e2e::tools(), source);
    auto after = probe_media(e2e::tools(), out);
    ASSERT_TRUE(before.has_value() && after.has_value());
    ASSERT_EQ(after->subtitles.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(after->subtitles[i].codec, before->subtitles[i].codec);
        EXPECT_EQ(after->subtitles[i].language, before->subtitles[i].language);
    }
    EXPECT_EQ(extract(out, 0, "srt"), extract(source, 0, "srt"));
    EXPECT_EQ(extract(out, 1, "ass"), extract(source, 1, "ass"));
    ASSERT_EQ(after->chapters.size(), before->chapters.size());
    for (std::size_t i = 0; i < before->chapters.size(); ++i) {
        EXPECT_EQ(after->chapters[i].title, before->chapters[i].title);
        EXPECT_NEAR(after->chapters[i].start, before->chapters[i].start, 1e-6);
    }
}

TEST(PipelineSubtitles, ATrackFfmpegCannotReadCostsOnlyThatTrack) {
    // Tracks are read along with the sound: an ffmpeg that fails on SubRip
    // output must not take the sound down with it.
    const auto source = e2e::movie(movie_with_subtitles());
    test::TempDir dir;
    auto with = e2e::tools();
    with.ffmpeg = path_text(test::write_wrapping_tool(
        dir.path(), "ffmpeg", e2e::tools().ffmpeg,
        "case \"$*\" in *'-f srt'*) echo 'Subtitle encoding failed' >&2; exit 1;; esac"));
    const auto output = dir / "out.mkv";
    auto run = e2e::run_edits(source, output, {edit("arg1", EditAction::Remove, 10, 14)}, "mkv", false, false, with);
    ASSERT_TRUE(run.report.has_value()) << run.report.error();
    ASSERT_EQ(run.warnings.size(), 1u);
    EXPECT_TRUE(run.warnings[0].starts_with("Subtitle track 1 could not be extracted and was dropped")) << run.warnings[0];
    auto info = probe_media(e2e::tools(), path_text(output));
    ASSERT_TRUE(info.has_value()) << info.error();
    EXPECT_EQ(info->audio.size(), 1u);
    ASSERT_EQ(info->subtitles.size(), 2u);
    EXPECT_EQ(info->subtitles[0].codec, "ass");
}

}  // namespace
}  // namespace reel
