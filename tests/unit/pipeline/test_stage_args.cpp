#include "pipeline/stage_args.h"

#include "pipeline/paths.h"

#include <algorithm>

#include <gtest/gtest.h>

namespace reel {
namespace {

using Args = std::vector<std::string>;

TEST(StageTable, StagesFollowEachOtherWithoutGaps) {
    const StageInfo order[] = {stages::probe, stages::remux, stages::snap, stages::mute,
                               stages::overlay, stages::split, stages::cards, stages::join,
                               stages::subs, stages::mux, stages::mp4, stages::done};
    for (std::size_t i = 1; i < std::size(order); ++i) {
        EXPECT_NEAR(order[i - 1].base + order[i - 1].span, order[i].base, 1e-12) << order[i].key;
    }
    EXPECT_EQ(stages::split.label, "Splitting the movie at the cut points (stream copy)");
    EXPECT_EQ(stages::remux.label, "Remuxing the source into MKV (no re-encoding)");
}

TEST(WorkFolder, LiesInTheOutputFolder) {
    EXPECT_EQ(work_folder_path("/films/out/Movie (edited).mkv", 4242, "ab12"),
              std::filesystem::path("/films/out/.reelmender-work-4242-ab12"));
    // A bare file name: the current directory.
    EXPECT_EQ(work_folder_path("movie (edited).mkv", 7, "x"), std::filesystem::path("./.reelmender-work-7-x"));
    EXPECT_EQ(output_folder("x.mkv"), std::filesystem::path("."));
    // A folder named like an option must not make every work path look like one.
    EXPECT_EQ(work_folder_path("-clips/a (edited).mkv", 7, "x"),
              std::filesystem::path("./-clips/.reelmender-work-7-x"));
}

struct RemuxCase {
    std::string container;
    std::optional<std::string> start_time;  // absent: the query failed
    bool remux;
};

class RemuxDecision : public ::testing::TestWithParam<RemuxCase> {};

TEST_P(RemuxDecision, FollowsContainerAndStartTime) {
    const auto& c = GetParam();
    const bool remux = !remux_depends_on_start_time(c.container) || start_time_asks_remux(c.start_time);
    EXPECT_EQ(remux, c.remux) << c.container << " " << c.start_time.value_or("(failed)");
}

INSTANTIATE_TEST_SUITE_P(Cases, RemuxDecision,
                         ::testing::Values(RemuxCase{"matroska,webm", "0.000000\n", false},
                                           RemuxCase{"matroska,webm", "1.500000\n", true},
                                           RemuxCase{"matroska,webm", "-0.020000", true},
                                           RemuxCase{"matroska,webm", "0.010000", false},
                                           RemuxCase{"matroska,webm", "N/A\n", false},
                                           RemuxCase{"matroska,webm", "", false},
                                           RemuxCase{"matroska,webm", std::nullopt, false},
                                           // Matroska alone is read as it is: MP4 edit lists
                                           // and AVI codec ids are made plain by a copy.
                                           RemuxCase{"mov,mp4,m4a,3gp,3g2,mj2", "0", true},
                                           RemuxCase{"avi", "0", true},
                                           RemuxCase{"mpegts", "0", true},
                                           RemuxCase{"mpegts", std::nullopt, true}));

TEST(Remux, DropsDataAndWhatMatroskaCannotHoldAndConvertsTimedText) {
    MediaInfo info;
    SubtitleStreamInfo timed_text, teletext, pgs;
    timed_text.index = 2;
    timed_text.codec = "mov_text";
    teletext.index = 3;
    teletext.codec = "dvb_teletext";
    pgs.index = 4;
    pgs.codec = "hdmv_pgs_subtitle";
    info.subtitles = {timed_text, teletext, pgs};
    const auto args = remux_arguments("/m/a.mp4", info, "/w/source.mkv");
    auto has = [&](Args part) { return std::search(args.begin(), args.end(), part.begin(), part.end()) != args.end(); };
    EXPECT_TRUE(has({"-map", "0", "-map", "-0:d"}));
    EXPECT_TRUE(has({"-map", "-0:3"}));             // teletext has no place in Matroska
    EXPECT_FALSE(has({"-map", "-0:4"}));            // PGS has
    EXPECT_TRUE(has({"-c:s:0", "srt"}));            // timed text becomes SubRip
    EXPECT_TRUE(has({"-avoid_negative_ts", "make_zero", "/w/source.mkv"}));
}

MuxTrack mux_track(std::string file, std::uint64_t id, bool video, std::uint64_t order) {
    MuxTrack t;
    t.source = {std::move(file), id};
    t.video = video;
    t.order = order;
    return t;
}

TEST(Mux, OneInputPerCarrierInTheMovieOrderWithEveryTrackProperty) {
    MuxInputs in;
    in.target = "/w/final.mkv";
    in.source = "/m/a.mkv";
    auto video = mux_track("/w/va.mkv", 0, true, 1);
    video.rotation = -90;
    auto english = mux_track("/w/cut-0.mka", 0, false, 0);  // the movie stores its sound first
    english.language = "eng";
    english.isDefault = true;
    auto commentary = mux_track("/w/cut-1.mka", 0, false, 2);
    commentary.source.syncMs = -1000;  // ffmpeg's join, still lifted by a second
    commentary.title = "Commentary";
    commentary.forced = true;
    in.tracks = {video, english, commentary};
    in.subtitleArgs = {"--language", "0:ger", "/w/sub-00.srt"};
    const auto args = mux_arguments(in);
    auto at = [&](const std::string& text) { return std::find(args.begin(), args.end(), text) - args.begin(); };
    EXPECT_LT(at("/w/cut-0.mka"), at("/w/va.mkv"));
    EXPECT_LT(at("/w/va.mkv"), at("/w/cut-1.mka"));
    EXPECT_LT(at("/w/cut-1.mka"), at("/w/sub-00.srt"));
    EXPECT_EQ(args[2], "--disable-lacing");
    auto has = [&](Args part) { return std::search(args.begin(), args.end(), part.begin(), part.end()) != args.end(); };
    EXPECT_TRUE(has({"--video-tracks", "0", "--no-audio"}));
    EXPECT_TRUE(has({"--projection-pose-roll", "0:-90"}));
    EXPECT_TRUE(has({"--language", "0:eng", "--default-track-flag", "0:yes", "--forced-display-flag", "0:no"}));
    EXPECT_TRUE(has({"--sync", "0:-1000", "--language", "0:und", "--track-name", "0:Commentary",
                     "--default-track-flag", "0:no", "--forced-display-flag", "0:yes", "/w/cut-1.mka"}));
    EXPECT_EQ(std::count(args.begin(), args.end(), "--sync"), 1);
    // The moved timeline brings its own subtitles and chapters: the source adds
    // only attachments and tags.
    EXPECT_TRUE(has({"--no-video", "--no-audio", "--no-subtitles", "--no-chapters", "/m/a.mkv"}));
}

// Each input of the source reads the whole movie: its sound and its extras
// (subtitles, chapters, tags, attachments) share one unless rebuilt
// subtitles must come between them.
TEST(Mux, TracksOfOneFileShareAnInput) {
    MuxInputs in;
    in.target = "/w/final.mkv";
    in.source = "/m/a.mkv";
    in.sourceSubtitles = true;
    in.sourceChapters = true;
    in.tracks = {mux_track("/w/video.mkv", 0, true, 0), mux_track("/m/a.mkv", 1, false, 1),
                 mux_track("/m/a.mkv", 3, false, 3)};
    auto args = mux_arguments(in);
    EXPECT_EQ(std::count(args.begin(), args.end(), "/m/a.mkv"), 1);
    EXPECT_EQ(args.back(), "/m/a.mkv");
    const Args along{"--no-video", "--audio-tracks", "1,3", "--language"};
    EXPECT_NE(std::search(args.begin(), args.end(), along.begin(), along.end()), args.end());

    // Subtitles rebuilt to mask words on a still timeline: the sound, the
    // rebuilt subtitles, then the source's chapters.
    in.sourceSubtitles = false;
    in.subtitleArgs = {"/w/sub-00.srt"};
    args = mux_arguments(in);
    EXPECT_EQ(std::count(args.begin(), args.end(), "/m/a.mkv"), 2);
    const Args sound{"--no-video", "--audio-tracks", "1,3", "--no-subtitles", "--no-chapters"};
    EXPECT_NE(std::search(args.begin(), args.end(), sound.begin(), sound.end()), args.end());
    EXPECT_EQ(Args(args.end() - 5, args.end()),
              (Args{"/w/sub-00.srt", "--no-video", "--no-audio", "--no-subtitles", "/m/a.mkv"}));

    // Muted sound after the source's picture: the track order puts the
    // source's subtitles (not named in it) last again.
    in.sourceSubtitles = true;
    in.subtitleArgs.clear();
    in.tracks = {mux_track("/m/a.mkv", 0, true, 0), mux_track("/w/muted-0.mka", 0, false, 1),
                 mux_track("/w/muted-1.mka", 0, false, 2)};
    args = mux_arguments(in);
    EXPECT_EQ(std::count(args.begin(), args.end(), "/m/a.mkv"), 1);
    const Args order{"--track-order", "0:0,1:0,2:0"};
    EXPECT_NE(std::search(args.begin(), args.end(), order.begin(), order.end()), args.end());
}

TEST(Mux, SegmentDateFromCreationTime) {
    struct Case {
        const char* in;
        std::optional<std::string> out;
    };
    for (const Case& c : {Case{"2021-06-01T10:20:30.000000Z", "2021-06-01T10:20:30Z"},
                          Case{"2021-06-01 10:20:30", "2021-06-01T10:20:30Z"},
                          Case{"2021-06-01T10:20:30+02:00", "2021-06-01T10:20:30+02:00"},
                          Case{"2021-06-01", std::nullopt}, Case{"yesterday", std::nullopt},
                          Case{"2021-06-01T10:20:30 PST", std::nullopt}}) {
        EXPECT_EQ(matroska_date(c.in), c.out) << c.in;
    }
}

TEST(Mp4, MapsOnlyTheSubtitlesMp4CanHoldAndTagsHevc) {
    const auto h264 = mp4_arguments("/w/final.mkv", "/o/x.mp4", {0, 2}, "h264");
    auto has = [](const Args& args, Args part) {
        return std::search(args.begin(), args.end(), part.begin(), part.end()) != args.end();
    };
    EXPECT_TRUE(has(h264, {"-map", "0:V", "-map", "0:a?", "-map", "0:s:0", "-map", "0:s:2", "-c:s", "mov_text"}));
    EXPECT_FALSE(has(h264, {"-tag:v"}));
    const auto hevc = mp4_arguments("/w/final.mkv", "/o/x.mp4", {}, "hevc");
    EXPECT_FALSE(has(hevc, {"-c:s"}));
    EXPECT_TRUE(has(hevc, {"-tag:v", "hvc1"}));
}

}  // namespace
}  // namespace reel
