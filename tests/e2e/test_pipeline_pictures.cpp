// Picture subtitles (PGS and VobSub) follow the edited timeline like text:
// one run with a remove edit through the middle of an epoch, one that swallows
// a whole display, and a card edit through another epoch.
#include <gtest/gtest.h>

#include <fmt/format.h>

#include <algorithm>
#include <cmath>

#include "edits/time.h"
#include "probe/probe.h"
#include "subs/pgs.h"
#include "subs/vobsub.h"
#include "support/temp_dir.h"
#include "test_pipeline_support.h"
#include "tools/run.h"
#include "util/files.h"
#include "util/text.h"

namespace reel {
namespace {

using e2e::edit;

constexpr double kFrame = 1.0 / 25;

// Epoch B (5-11 s) moves its box at 7 and 9, epoch D (19-25 s) at 22 and 24.
const std::vector<test::SubtitleCue> kPictures{{1, 3}, {5, 11}, {14.5, 15.5}, {19, 25}, {27, 28}};
const std::vector<double> kMoves{7, 9, 22, 24};

test::MovieSpec movie_with_pictures() {
    auto spec = e2e::small_movie(30);
    spec.keyframe_interval = 25;  // every second, so the edits below need no snapping
    // The text twin of the pictures: one cue per display set that shows something.
    test::SubtitleTrackSpec srt;
    srt.cues = {{1, 3}, {5, 7}, {7, 9}, {9, 11}, {14.5, 15.5}, {19, 22}, {22, 24}, {24, 25}, {27, 28}};
    for (auto& cue : srt.cues) cue.text = fmt::format("at {}", cue.start);
    test::PgsTrackSpec pgs;
    pgs.language = "ger";
    pgs.title = "Signs";
    pgs.forced = true;
    pgs.cues = kPictures;
    pgs.moves = kMoves;
    test::PgsTrackSpec vobsub = pgs;
    vobsub.language = "fre";
    vobsub.title = std::nullopt;
    vobsub.forced = false;
    vobsub.is_default = true;
    vobsub.vobsub = true;
    spec.subtitles = {srt};
    spec.image_subtitles = {pgs, vobsub};
    return spec;
}

struct Span {
    double start = 0, end = 0;
};

std::string bytes_of(const std::vector<std::string>& args) {
    auto out = run_capture_bytes(e2e::tools().ffmpeg, args);
    EXPECT_TRUE(out.has_value()) << out.error();
    return out.value_or("");
}

std::vector<Span> srt_spans(const std::string& file) {
    const std::string text = bytes_of({"-v", "error", "-i", file, "-map", "0:s:0", "-f", "srt", "-"});
    std::vector<Span> spans;
    for (const auto& line : split(text, '\n')) {
        const auto arrow = line.find(" --> ");
        if (arrow == std::string::npos) continue;
        spans.push_back({parse_time(line.substr(0, arrow)).value_or(-1), parse_time(line.substr(arrow + 5)).value_or(-1)});
    }
    return spans;
}

std::vector<PgsDisplaySet> pgs_sets(const std::string& file) {
    auto sets = read_pgs(bytes_of({"-v", "error", "-i", file, "-map", "0:s:1", "-c:s", "copy", "-f", "sup", "-"}));
    EXPECT_TRUE(sets.has_value()) << sets.error();
    return sets.value_or(std::vector<PgsDisplaySet>{});
}

// Each set that shows something lasts until the next set.
std::vector<Span> pgs_spans(const std::vector<PgsDisplaySet>& sets) {
    std::vector<Span> spans;
    for (std::size_t k = 0; k + 1 < sets.size(); ++k)
        if (!sets[k].composition.placements.empty()) spans.push_back({sets[k].pts() / 90000.0, sets[k + 1].pts() / 90000.0});
    return spans;
}

// The VobSub track (third subtitle track) as .idx times and .sub lengths.
std::vector<Span> vobsub_spans(const std::string& file, const std::filesystem::path& folder) {
    const auto copy = folder / "vobsub.mkv";
    bytes_of({"-v", "error", "-y", "-i", file, "-map", "0:s:2", "-c:s", "copy", path_text(copy)});
    const auto mkvextract = std::filesystem::path(*e2e::tools().mkvmerge).replace_filename("mkvextract");
    auto extracted = test::run_program(path_text(mkvextract), {path_text(copy), "tracks", "0:" + path_text(folder / "v.idx")});
    EXPECT_TRUE(extracted.has_value() && extracted->exit_code == 0);
    const std::string idx = test::slurp(folder / "v.idx");
    const std::string sub = test::slurp(folder / "v.sub");
    std::vector<Span> spans;
    for (const auto& line : split(idx, '\n')) {
        if (!line.starts_with("timestamp: ")) continue;
        const auto t = split(line.substr(11, 12), ':');
        const double start = std::stod(t[0]) * 3600 + std::stod(t[1]) * 60 + std::stod(t[2]) + std::stod(t[3]) / 1000;
        const auto filepos = std::stoull(line.substr(line.find("filepos: ") + 9), nullptr, 16);
        spans.push_back({start, start + spu_length(sub, filepos).value_or(-1)});
    }
    return spans;
}

void expect_spans_near(const std::vector<Span>& actual, const std::vector<Span>& expected, double tolerance,
                       const std::string& what) {
    ASSERT_EQ(actual.size(), expected.size()) << what;
    for (std::size_t k = 0; k < expected.size(); ++k) {
        EXPECT_NEAR(actual[k].start, expected[k].start, tolerance) << what << " start " << k;
        EXPECT_NEAR(actual[k].end, expected[k].end, tolerance) << what << " end " << k;
    }
}

// The subtitle picture of track `track` shown at `time`, as grey bytes (also
// kept as PNG). The pictures only come as changes; "fps" repeats the one in force.
std::string picture_at(const std::string& file, int track, double time, const std::filesystem::path& png) {
    bytes_of({"-v", "error", "-y", "-i", file, "-filter_complex", fmt::format("[0:s:{}]fps=25,format=gray", track), "-ss",
              fmt::format("{:.3f}", time), "-frames:v", "1", path_text(png)});
    return bytes_of({"-v", "error", "-i", path_text(png), "-f", "rawvideo", "-pix_fmt", "gray", "-"});
}

std::size_t bright(const std::string& grey) {
    return static_cast<std::size_t>(std::count_if(grey.begin(), grey.end(), [](char c) { return static_cast<unsigned char>(c) > 128; }));
}

// What ffmpeg reports while decoding every picture of a track (drawn again as
// DVD subtitles, which takes pictures of either kind).
std::string subtitle_decode_errors(const std::string& file, int track) {
    auto run = test::run_program(e2e::tools().ffmpeg, {"-v", "error", "-i", file, "-map", fmt::format("0:s:{}", track),
                                                       "-c:s", "dvdsub", "-f", "null", "-"});
    EXPECT_TRUE(run.has_value()) << run.error();
    return run ? fmt::format("exit {}: {}", run->exit_code, run->err) : "";
}

TEST(PipelinePictures, PgsAndVobSubFollowTheCutsLikeText) {
    const auto source = e2e::movie(movie_with_pictures());
    test::TempDir dir;
    const auto output = dir / "out.mkv";
    auto run = e2e::run_edits(source, output,
                              {edit("arg1", EditAction::Remove, 4, 8), edit("arg2", EditAction::Remove, 14, 16),
                               edit("arg3", EditAction::Replace, 21, 23, "A card", 3)});
    ASSERT_TRUE(run.report.has_value()) << run.report.error();
    EXPECT_TRUE(run.warnings.empty()) << run.warnings.front();
    const std::string out = path_text(output);

    auto info = probe_media(e2e::tools(), out);
    ASSERT_TRUE(info.has_value()) << info.error();
    ASSERT_EQ(info->subtitles.size(), 3u);
    EXPECT_EQ(info->subtitles[1].codec, "hdmv_pgs_subtitle");
    EXPECT_EQ(info->subtitles[1].language, "ger");
    EXPECT_EQ(info->subtitles[1].title, "Signs");
    EXPECT_TRUE(info->subtitles[1].forced);
    EXPECT_EQ(info->subtitles[2].codec, "dvd_subtitle");
    EXPECT_EQ(info->subtitles[2].language, "fre");
    EXPECT_TRUE(info->subtitles[2].isDefault);

    // Epoch B lost its start and first move, C is gone, D ends at the card and
    // comes back with its last move: five displays, where the text twin's are.
    const auto text = srt_spans(out);
    ASSERT_EQ(text.size(), 5u);
    const auto sets = pgs_sets(out);
    expect_spans_near(pgs_spans(sets), text, kFrame, "PGS");
    expect_spans_near(vobsub_spans(out, dir.path()), text, kFrame + 1024 / 90000.0, "VobSub");

    // Text cues 1, 2 and 3 are the first after the two removes and the card;
    // the sets that show them carry everything they need.
    for (const std::size_t k : {1, 2, 3}) {
        const double cut = text[k].start;
        const auto first = std::find_if(sets.begin(), sets.end(),
                                        [&](const auto& s) { return std::abs(s.pts() / 90000.0 - cut) <= kFrame; });
        ASSERT_NE(first, sets.end()) << cut;
        EXPECT_EQ(first->composition.state, pgs::kEpochStart) << cut;
        std::vector<std::uint8_t> types;
        for (const auto& s : first->segments) types.push_back(s.type);
        for (std::uint8_t needed : {pgs::kWindow, pgs::kPalette, pgs::kObject})
            EXPECT_NE(std::find(types.begin(), types.end(), needed), types.end()) << cut << " lacks " << int(needed);
    }

    EXPECT_EQ(subtitle_decode_errors(out, 1), "exit 0: ");
    EXPECT_EQ(subtitle_decode_errors(out, 2), "exit 0: ");
    // Epoch B's last position, whose object was defined in the removed epoch
    // start: source at 10 s, output at 6 s; likewise for the VobSub picture.
    for (int track : {1, 2}) {
        const std::string before = picture_at(source, track, 10, dir / fmt::format("source-{}.png", track));
        const std::string after = picture_at(out, track, text[1].start + 1, dir / fmt::format("out-{}.png", track));
        EXPECT_EQ(bright(before), 120u * 24) << track;
        EXPECT_TRUE(before == after) << track;
    }
}

TEST(PipelinePictures, Mp4LeavesPicturesOutWithAWarningWhetherOrNotTimeMoved) {
    auto spec = e2e::small_movie(8);
    spec.subtitles = {test::SubtitleTrackSpec{.language = "eng"}};
    spec.image_subtitles = {test::PgsTrackSpec{.language = "ger"}};
    const auto source = e2e::movie(spec);
    for (const auto action : {EditAction::Mute, EditAction::Remove}) {
        test::TempDir dir;
        const auto output = dir / "out.mp4";
        auto run = e2e::run_edits(source, output, {edit("arg1", action, 2, 4)}, "mp4");
        ASSERT_TRUE(run.report.has_value()) << run.report.error();
        EXPECT_EQ(run.warnings, std::vector<std::string>{"Subtitle track 2 (ger) is image based (hdmv_pgs_subtitle) and "
                                                         "was left out because MP4 cannot hold it."});
        auto info = probe_media(e2e::tools(), path_text(output));
        ASSERT_TRUE(info.has_value()) << info.error();
        ASSERT_EQ(info->subtitles.size(), 1u);
        EXPECT_EQ(info->subtitles[0].codec, "mov_text");
        EXPECT_EQ(info->subtitles[0].language, "eng");
    }
}

}  // namespace
}  // namespace reel
