// Picture subtitles (PGS and VobSub) follow the edited timeline like text: a
// remove edit through the middle of an epoch, one that swallows a whole
// display, and a card edit through another epoch.
#include <gtest/gtest.h>

#include <fmt/format.h>

#include <algorithm>
#include <cmath>

#include "edits/time.h"
#include "probe/probe.h"
#include "subs/pgs.h"
#include "subs/vobsub.h"
#include "support/fake_tool.h"
#include "support/temp_dir.h"
#include "test_pipeline_support.h"
#include "tools/run.h"
#include "util/files.h"
#include "util/text.h"

namespace reel {
namespace {

using e2e::edit;
using Spans = std::vector<std::pair<double, double>>;

test::MovieSpec movie_with_pictures() {
    auto spec = e2e::small_movie(30);
    spec.keyframe_interval = 25;  // every second: the edits below need no snapping
    // Epoch B (5-11 s) moves its box at 7 and 9, epoch D (19-25 s) at 22 and 24;
    // the text twin has one cue per display set that shows something.
    test::PgsTrackSpec pgs{.language = "ger", .title = "Signs", .forced = true};
    pgs.cues = {{1, 3}, {5, 11}, {14.5, 15.5}, {19, 25}, {27, 28}};
    pgs.moves = {7, 9, 22, 24};
    test::PgsTrackSpec vobsub = pgs;
    vobsub.vobsub = true;
    spec.image_subtitles = {pgs, vobsub};
    spec.subtitles = {test::SubtitleTrackSpec{}};
    spec.subtitles[0].cues = {{1, 3, "a"}, {5, 7, "b"}, {7, 9, "c"}, {9, 11, "d"}, {14.5, 15.5, "e"},
                              {19, 22, "f"}, {22, 24, "g"}, {24, 25, "h"}, {27, 28, "i"}};
    return spec;
}

std::string ffmpeg_out(const std::vector<std::string>& args) {
    auto out = run_capture_bytes(e2e::tools().ffmpeg, args);
    EXPECT_TRUE(out.has_value()) << out.error();
    return out.value_or("");
}

Spans srt_spans(const std::string& file) {
    Spans spans;
    for (const auto& line : split(ffmpeg_out({"-v", "error", "-i", file, "-map", "0:s:0", "-f", "srt", "-"}), '\n'))
        if (const auto arrow = line.find(" --> "); arrow != std::string::npos)
            spans.emplace_back(parse_time(line.substr(0, arrow)).value(), parse_time(line.substr(arrow + 5)).value());
    return spans;
}

// Each set that shows something lasts until the next set.
Spans pgs_spans(const std::vector<PgsDisplaySet>& sets) {
    Spans spans;
    for (std::size_t k = 0; k + 1 < sets.size(); ++k)
        if (!sets[k].composition.placements.empty()) spans.emplace_back(sets[k].pts() / 9e4, sets[k + 1].pts() / 9e4);
    return spans;
}

// The .idx times and .sub lengths of the VobSub track, extracted as the pipeline does.
Spans vobsub_spans(const std::string& file, const std::filesystem::path& folder) {
    ffmpeg_out({"-v", "error", "-i", file, "-map", "0:s:2", "-c:s", "copy", path_text(folder / "v.mkv")});
    const auto mkvextract = std::filesystem::path(*e2e::tools().mkvmerge).replace_filename("mkvextract");
    EXPECT_TRUE(run_capture(path_text(mkvextract), {path_text(folder / "v.mkv"), "tracks", "0:" + path_text(folder / "v.idx")}));
    const std::string sub = test::slurp(folder / "v.sub");
    Spans spans;
    for (const auto& line : split(test::slurp(folder / "v.idx"), '\n')) {
        if (!line.starts_with("timestamp: ")) continue;
        const auto t = split(line.substr(11, 12), ':');
        const double start = std::stoi(t[0]) * 3600 + std::stoi(t[1]) * 60 + std::stoi(t[2]) + std::stoi(t[3]) / 1000.0;
        spans.emplace_back(start, start + spu_length(sub, std::stoull(line.substr(line.find("filepos: ") + 9), nullptr, 16)).value_or(-1));
    }
    return spans;
}

void expect_near(const Spans& actual, const Spans& expected, double tolerance) {
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t k = 0; k < expected.size(); ++k) {
        EXPECT_NEAR(actual[k].first, expected[k].first, tolerance) << k;
        EXPECT_NEAR(actual[k].second, expected[k].second, tolerance) << k;
    }
}

// Track `track`'s picture at `time` as PNG, returned as grey bytes. The
// pictures come as changes only; "fps" repeats the one in force.
std::string picture_at(const std::string& file, int track, double time, const std::filesystem::path& png) {
    ffmpeg_out({"-v", "error", "-y", "-i", file, "-filter_complex", fmt::format("[0:s:{}]fps=25,format=gray", track),
                "-ss", fmt::format("{:.3f}", time), "-frames:v", "1", path_text(png)});
    return ffmpeg_out({"-v", "error", "-i", path_text(png), "-f", "rawvideo", "-pix_fmt", "gray", "-"});
}

TEST(PipelinePictures, PgsAndVobSubFollowTheCutsLikeText) {
    const auto source = e2e::movie(movie_with_pictures());
    test::TempDir dir;
    const auto output = dir / "out.mkv";
    // ffmpeg with every run noted.
    auto with = e2e::tools();
    const auto calls = dir / "ffmpeg-calls";
    with.ffmpeg = path_text(test::write_wrapping_tool(dir.path(), "ffmpeg", e2e::tools().ffmpeg,
                                                      "printf '%s\\n' \"$*\" >>" + test::shell_quote(path_text(calls))));
    auto run = e2e::run_edits(source, output,
                              {edit("arg1", EditAction::Remove, 4, 8), edit("arg2", EditAction::Remove, 14, 16),
                               edit("arg3", EditAction::Replace, 21, 23, "A card", 3)},
                              "mkv", false, false, with);
    ASSERT_TRUE(run.report.has_value()) << run.report.error();
    // The three subtitle tracks are read along with the sound: the whole movie
    // is read by ffmpeg once, not once more for each track.
    const auto lines = split(test::slurp(calls), '\n');
    EXPECT_EQ(std::ranges::count_if(lines, [&](const auto& line) { return line.find(source) != std::string::npos; }), 1)
        << test::slurp(calls);
    EXPECT_TRUE(run.warnings.empty()) << run.warnings.front();
    const std::string out = path_text(output);
    auto info = probe_media(e2e::tools(), out);
    ASSERT_TRUE(info.has_value()) << info.error();
    ASSERT_EQ(info->subtitles.size(), 3u);
    for (std::size_t k : {1, 2}) {
        EXPECT_EQ(info->subtitles[k].codec, k == 1 ? "hdmv_pgs_subtitle" : "dvd_subtitle");
        EXPECT_EQ(info->subtitles[k].language, "ger");
        EXPECT_EQ(info->subtitles[k].title, "Signs");
        EXPECT_TRUE(info->subtitles[k].forced);
    }

    // B lost its start, its first move shows from the cut, C is gone, D ends at
    // the card and comes back with what is left of its first move: seven
    // displays, each where its text twin is.
    const Spans text = srt_spans(out);
    ASSERT_EQ(text.size(), 7u);
    auto sets = read_pgs(ffmpeg_out({"-v", "error", "-i", out, "-map", "0:s:1", "-c:s", "copy", "-f", "sup", "-"}));
    ASSERT_TRUE(sets.has_value()) << sets.error();
    expect_near(pgs_spans(*sets), text, 0.04);
    expect_near(vobsub_spans(out, dir.path()), text, 0.04 + 1024 / 9e4);

    // Text cues 1, 3 and 4 are the first after each cut; the sets showing them
    // are epoch starts that carry window, palette and object.
    for (const std::size_t k : {1, 3, 4}) {
        const auto first = std::find_if(sets->begin(), sets->end(),
                                        [&](const auto& s) { return std::abs(s.pts() / 9e4 - text[k].first) <= 0.04; });
        ASSERT_NE(first, sets->end()) << k;
        EXPECT_EQ(first->composition.state, pgs::kEpochStart) << k;
        for (std::uint8_t type : {pgs::kWindow, pgs::kPalette, pgs::kObject})
            EXPECT_TRUE(std::any_of(first->segments.begin(), first->segments.end(), [&](auto& s) { return s.type == type; }));
    }

    for (int track : {1, 2}) {
        // Decoded (and drawn again as DVD pictures) without a complaint.
        auto decoded = test::run_program(e2e::tools().ffmpeg, {"-v", "error", "-i", out, "-map", fmt::format("0:s:{}", track),
                                                               "-c:s", "dvdsub", "-f", "null", "-"});
        ASSERT_TRUE(decoded.has_value());
        EXPECT_EQ(decoded->exit_code, 0);
        EXPECT_EQ(decoded->err, "");
        // B's last position, whose object came with the removed epoch start.
        const std::string before = picture_at(source, track, 10, dir / fmt::format("source-{}.png", track));
        EXPECT_EQ(std::count(before.begin(), before.end(), '\xFF'), 120 * 24) << track;
        EXPECT_TRUE(before == picture_at(out, track, text[2].first + 1, dir / fmt::format("out-{}.png", track))) << track;
    }
}

TEST(PipelinePictures, Mp4LeavesPicturesOutWithAWarningWhetherOrNotTimeMoved) {
    auto spec = e2e::small_movie(8);
    spec.subtitles = {test::SubtitleTrackSpec{.language = "eng"}};
    spec.image_subtitles = {test::PgsTrackSpec{.language = "ger"}};
    const auto source = e2e::movie(spec);
    for (const auto action : {EditAction::Mute, EditAction::Remove}) {
        test::TempDir dir;
        auto run = e2e::run_edits(source, dir / "out.mp4", {edit("arg1", action, 2, 4)}, "mp4");
        ASSERT_TRUE(run.report.has_value()) << run.report.error();
        EXPECT_EQ(run.warnings, std::vector<std::string>{"Subtitle track 2 (ger) is image based (hdmv_pgs_subtitle) and "
                                                         "was left out because MP4 cannot hold it."});
        auto info = probe_media(e2e::tools(), path_text(dir / "out.mp4"));
        ASSERT_TRUE(info.has_value()) << info.error();
        ASSERT_EQ(info->subtitles.size(), 1u);
        EXPECT_EQ(info->subtitles[0].codec, "mov_text");
    }
}

}  // namespace
}  // namespace reel
