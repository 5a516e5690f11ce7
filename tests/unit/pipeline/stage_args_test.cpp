#include "pipeline/stage_args.h"

#include <gtest/gtest.h>

namespace reel {
namespace {

using Args = std::vector<std::string>;

SnappedEdit mute(double start, double end) {
    Edit e;
    e.action = EditAction::Mute;
    e.start = start;
    e.end = end;
    return SnappedEdit{e, start, end};
}

AudioStreamInfo track(std::string codec, std::int64_t channels, std::optional<std::int64_t> bit_rate = {}) {
    AudioStreamInfo a;
    a.codec = std::move(codec);
    a.channels = channels;
    a.bitRate = bit_rate;
    return a;
}

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
    EXPECT_EQ(work_folder_path("/films/out/Movie (edited).mkv", 4242),
              std::filesystem::path("/films/out/.reelmender-work-4242"));
    // A bare file name: the current directory.
    EXPECT_EQ(work_folder_path("movie (edited).mkv", 7), std::filesystem::path("./.reelmender-work-7"));
    EXPECT_EQ(output_folder("x.mkv"), std::filesystem::path("."));
    // A folder named like an option must not make every work path look like one.
    EXPECT_EQ(work_folder_path("-clips/a (edited).mkv", 7), std::filesystem::path("./-clips/.reelmender-work-7"));
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
                                           RemuxCase{"mov,mp4,m4a,3gp,3g2,mj2", " 1.4 ", true},
                                           RemuxCase{"avi", "0", false},
                                           RemuxCase{"avi2", "0", true},
                                           RemuxCase{"mpegts", "0", true},
                                           RemuxCase{"mpegts", std::nullopt, true}));

TEST(Remux, CopiesEverythingButDataAndAttachments) {
    EXPECT_EQ(start_time_query_arguments("/m/a.mkv"),
              (Args{"-v", "error", "-show_entries", "format=start_time", "-of", "csv=p=0", "/m/a.mkv"}));
    EXPECT_EQ(remux_arguments("/m/a.ts", "/w/source.mkv"),
              (Args{"-hide_banner", "-loglevel", "error", "-y", "-progress", "pipe:1", "-nostats", "-i", "/m/a.ts", "-map",
                    "0", "-map", "-0:d", "-map", "-0:t", "-c", "copy", "-avoid_negative_ts", "make_zero",
                    "/w/source.mkv"}));
}

std::string describe(const AudioPieces& p) {
    std::string out;
    for (const auto& r : p.pieces) {
        out += "(" + std::to_string(static_cast<int>(r.start)) + "," +
               (r.end ? std::to_string(static_cast<int>(*r.end)) : "open") + ")";
    }
    out += " muted";
    for (auto i : p.muted) out += " " + std::to_string(i);
    return out;
}

TEST(AudioPieces, CoverTheMovieAroundMuteRanges) {
    EXPECT_EQ(describe(plan_audio_pieces({mute(10, 12)}, 60)), "(0,10)(10,12)(12,open) muted 1");
    EXPECT_EQ(describe(plan_audio_pieces({mute(0, 5)}, 60)), "(0,5)(5,open) muted 0");
    EXPECT_EQ(describe(plan_audio_pieces({mute(50, 59.9996)}, 60)), "(0,50)(50,59) muted 1");
    EXPECT_EQ(describe(plan_audio_pieces({mute(50, 59.99)}, 60)), "(0,50)(50,59)(59,open) muted 1");
    EXPECT_EQ(describe(plan_audio_pieces({mute(10, 12), mute(12, 14)}, 60)), "(0,10)(10,12)(12,14)(14,open) muted 1 2");
}

TEST(AudioSplit, TakesAudioOnly) {
    EXPECT_EQ(audio_split_arguments("/w/aud.mkv", {{0, 10.0}, {10, 12.0}, {12, std::nullopt}}, "/m/a.mkv"),
              (Args{"-o", "/w/aud.mkv", "--no-video", "--no-subtitles", "--no-chapters", "--no-global-tags", "--split",
                    "parts:0.0000s-9.9995s,9.9995s-11.9995s,11.9995s-", "/m/a.mkv"}));
}

TEST(Silence, OneInputMapAndEncoderPerTrack) {
    auto aac = track("aac", 2, 128000);
    aac.sampleRate = 44100;
    auto ac3 = track("ac3", 6, 384000);
    auto args = silence_arguments({aac, ac3}, 2.0213333, "/w/silence-1.mkv");
    ASSERT_TRUE(args.has_value()) << args.error();
    EXPECT_EQ(*args, (Args{"-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                           "anullsrc=r=44100:cl=stereo", "-f", "lavfi", "-i", "anullsrc=r=48000:cl=5.1", "-map", "0:a",
                           "-map", "1:a", "-t", "2.021333", "-c:a:0", "aac", "-b:a:0", "128000", "-ar:a:0", "44100",
                           "-ac:a:0", "2", "-c:a:1", "ac3", "-b:a:1", "384000", "-ar:a:1", "48000", "-ac:a:1", "6",
                           "/w/silence-1.mkv"}));
}

TEST(Silence, UnsupportedCodecFails) {
    auto args = silence_arguments({track("aac", 2), track("cook", 2)}, 1, "/w/s.mkv");
    ASSERT_FALSE(args.has_value());
    EXPECT_EQ(args.error(), "Silent audio cannot be generated for codec 'cook'.");
}

TEST(VideoSplit, TakesVideoOnly) {
    EXPECT_EQ(video_split_arguments("/w/vid.mkv", {{0, 30.0}, {30, 40.0}, {40, 44.0}, {44, std::nullopt}}, "/m/a.mkv"),
              (Args{"-o", "/w/vid.mkv", "--no-audio", "--no-subtitles", "--no-chapters", "--no-global-tags", "--split",
                    "parts:0.0000s-29.9995s,29.9995s-39.9995s,39.9995s-43.9995s,43.9995s-", "/m/a.mkv"}));
}

TEST(CutSplit, InputsDependOnEarlierStages) {
    const std::vector<PieceRange> ranges{{0, 10.0}, {20, std::nullopt}};
    const Args head{"-o", "/w/seg.mkv", "--no-subtitles", "--no-chapters", "--no-global-tags"};
    const Args tail{"--split", "parts:0.0000s-9.9995s,19.9995s-"};
    auto with = [&](Args middle) {
        Args all = head;
        all.insert(all.end(), middle.begin(), middle.end());
        all.insert(all.end(), tail.begin(), tail.end());
        return all;
    };
    EXPECT_EQ(cut_split_arguments("/w/seg.mkv", ranges, {"/m/a.mkv", std::nullopt, std::nullopt, true}),
              with({"/m/a.mkv"}));
    EXPECT_EQ(cut_split_arguments("/w/seg.mkv", ranges, {"/m/a.mkv", "/w/video.mkv", std::nullopt, true}),
              with({"--no-audio", "/w/video.mkv", "--no-video", "/m/a.mkv"}));
    EXPECT_EQ(cut_split_arguments("/w/seg.mkv", ranges, {"/m/a.mkv", std::nullopt, "/w/audio.mkv", true}),
              with({"--no-audio", "/m/a.mkv", "--no-video", "/w/audio.mkv"}));
    // No audio in the movie: the text-over-video file alone.
    EXPECT_EQ(cut_split_arguments("/w/seg.mkv", ranges, {"/m/a.mkv", "/w/video.mkv", std::nullopt, false}),
              with({"--no-audio", "/w/video.mkv"}));
}

TEST(Mux, JoinedMovieGetsTrackNamesAndFlagsBack) {
    MuxInputs in;
    in.target = "/o/out.mkv";
    in.joined = "/w/va.mkv";
    in.source = "/m/a.mkv";
    auto english = track("aac", 2);
    english.language = "eng";
    english.isDefault = true;
    auto commentary = track("ac3", 6);
    commentary.title = "Commentary";
    in.audio = {english, commentary};
    in.subtitlesRebuilt = true;
    in.subtitleArgs = {"--language", "0:ger", "--default-track-flag", "0:no", "--forced-display-flag", "0:no",
                       "/w/sub-00.srt"};
    in.chapterArgs = {"--chapters", "/w/chapters.xml"};
    in.title = "My Film";
    in.sourceHasSubtitlesOrChapters = true;
    EXPECT_EQ(mux_arguments(in),
              (Args{"-o", "/o/out.mkv", "--title", "My Film", "--chapters", "/w/chapters.xml", "--language", "1:eng",
                    "--default-track-flag", "1:yes", "--language", "2:und", "--track-name", "2:Commentary",
                    "--default-track-flag", "2:no", "--no-subtitles", "--no-chapters", "/w/va.mkv", "--language",
                    "0:ger", "--default-track-flag", "0:no", "--forced-display-flag", "0:no", "/w/sub-00.srt"}));
}

TEST(Mux, WithoutJoinTakesVideoAndAudioApartAndSourceSubtitles) {
    MuxInputs in;
    in.target = "/w/final.mkv";
    in.source = "/m/a.mkv";
    in.mutedAudio = "/w/audio.mkv";
    in.audio = {track("aac", 2)};
    in.sourceHasSubtitlesOrChapters = true;
    EXPECT_EQ(mux_arguments(in),
              (Args{"-o", "/w/final.mkv", "--no-audio", "--no-subtitles", "--no-chapters", "--no-global-tags",
                    "/m/a.mkv", "--no-video", "--no-subtitles", "--no-chapters", "--no-global-tags", "/w/audio.mkv",
                    "--no-video", "--no-audio", "--no-global-tags", "/m/a.mkv"}));
}

TEST(Mux, NoAudioNoSubtitles) {
    MuxInputs in;
    in.target = "/o/out.mkv";
    in.source = "/m/a.mkv";
    in.textVideo = "/w/video.mkv";
    EXPECT_EQ(mux_arguments(in), (Args{"-o", "/o/out.mkv", "--no-audio", "--no-subtitles", "--no-chapters",
                                       "--no-global-tags", "/w/video.mkv"}));
}

TEST(Mp4, MapsTextSubtitlesAndTagsHevc) {
    const Args prefix{"-hide_banner", "-loglevel", "error", "-y", "-progress", "pipe:1", "-nostats", "-i",
                      "/w/final.mkv", "-map", "0:v", "-map", "0:a?"};
    auto with = [&](Args rest) {
        Args all = prefix;
        all.insert(all.end(), rest.begin(), rest.end());
        return all;
    };
    EXPECT_EQ(mp4_arguments("/w/final.mkv", "/o/x.mp4", {true, true}, "h264"),
              with({"-map", "0:s?", "-c:s", "mov_text", "-c:v", "copy", "-c:a", "copy", "-movflags", "+faststart",
                    "/o/x.mp4"}));
    EXPECT_EQ(mp4_arguments("/w/final.mkv", "/o/x.mp4", {}, "hevc"),
              with({"-c:v", "copy", "-c:a", "copy", "-tag:v", "hvc1", "-movflags", "+faststart", "/o/x.mp4"}));
    // Pictures beside text: only the text tracks are named, so mov_text never meets a picture.
    EXPECT_EQ(mp4_arguments("/w/final.mkv", "/o/x.mp4", {false, true, false, true}, "h264"),
              with({"-map", "0:s:1", "-map", "0:s:3", "-c:s", "mov_text", "-c:v", "copy", "-c:a", "copy", "-movflags",
                    "+faststart", "/o/x.mp4"}));
    EXPECT_EQ(mp4_arguments("/w/final.mkv", "/o/x.mp4", {false}, "h264"),
              with({"-c:v", "copy", "-c:a", "copy", "-movflags", "+faststart", "/o/x.mp4"}));
}

}  // namespace
}  // namespace reel
