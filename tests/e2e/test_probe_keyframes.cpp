// Keyframe search, frame counting and mkvmerge's duration against the real
// tools, on generated movies with known keyframe spacing.
#include <fstream>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>

#include <nlohmann/json.hpp>

#include "pipeline/audio_cut.h"
#include "probe/matroska.h"
#include "probe/keyframes.h"
#include "probe/probe.h"
#include "support/media.h"
#include "support/temp_dir.h"
#include "test_pipeline_support.h"
#include "util/text.h"

namespace reel {
namespace {

using test::MovieSpec;

ToolSet tools() {
    auto found = test::test_tools();
    EXPECT_TRUE(found) << found.error();
    return found.value_or(ToolSet{});
}

// A keyframe every 2 s (50 frames at 25 fps), no B-frames so that keyframe
// times are exact multiples of 2.
MovieSpec two_second_gop() {
    MovieSpec spec;
    spec.duration = 40;
    spec.width = 320;
    spec.height = 180;
    spec.keyframe_interval = 50;
    spec.extra_video_args = {"-bf", "0"};
    return spec;
}

// Every keyframe time of the movie, from ffprobe's complete packet listing.
std::vector<double> all_keyframes(const std::string& movie) {
    auto run = test::run_program(tools().ffprobe, {"-v", "error", "-select_streams", "v:0", "-show_entries",
                                                   "packet=pts_time,flags", "-of", "csv=p=0", movie});
    EXPECT_TRUE(run && run->exit_code == 0);
    std::vector<double> keys;
    std::istringstream lines(run ? run->out : "");
    for (std::string line; std::getline(lines, line);) {
        const auto comma = line.find(',');
        if (comma != std::string::npos && line.find('K', comma) != std::string::npos)
            keys.push_back(std::stod(line.substr(0, comma)));
    }
    std::sort(keys.begin(), keys.end());
    return keys;
}

// The answer by definition: the nearest keyframe, the earlier one on a tie.
double expected_keyframe(const std::vector<double>& keys, double target) {
    double best = keys.front();
    for (double key : keys)
        if (std::abs(key - target) < std::abs(best - target)) best = key;
    return best;
}

TEST(KeyframeSearch, AgreesWithThePacketListing) {
    const auto movie = test::test_movie(two_second_gop());
    ASSERT_TRUE(movie) << movie.error();
    const auto keys = all_keyframes(*movie);
    ASSERT_EQ(keys.size(), 20u);
    EXPECT_EQ(keys[1], 2.0);

    for (double target : {0.06, 0.9, 1.0, 1.1, 2.0, 3.0, 3.01, 17.5, 25.0, 30.999, 39.0, 45.0}) {
        const auto found = find_keyframe_near(tools(), *movie, target, 40.0);
        ASSERT_TRUE(found) << target << ": " << found.error();
        EXPECT_EQ(*found, expected_keyframe(keys, target)) << "target " << target;
    }
    // Exactly between 2 and 4: the earlier one.
    EXPECT_EQ(find_keyframe_near(tools(), *movie, 3.0, 40.0).value_or(-1), 2.0);
}

// The file's own index must name exactly the keyframes the packets carry, or
// cuts would land where no keyframe is: for files from mkvmerge and from
// ffmpeg, with B-frames (keyframe times then differ from decode times).
// 20 s with B-frames: keyframe times then differ from decode times.
MovieSpec with_b_frames(const std::string& count) {
    MovieSpec spec = two_second_gop();
    spec.extra_video_args = {"-bf", count};
    spec.duration = 20;
    return spec;
}

TEST(CueKeyframes, EqualThePacketListing) {
    MovieSpec spec = with_b_frames("2");
    const auto by_mkvmerge = test::test_movie(spec);
    ASSERT_TRUE(by_mkvmerge) << by_mkvmerge.error();
    spec.container = "mp4";
    const auto mp4 = test::test_movie(spec);
    ASSERT_TRUE(mp4) << mp4.error();
    test::TempDir dir;
    const std::string by_ffmpeg = (dir.path() / "lavf.mkv").string();
    const auto remux = test::run_program(tools().ffmpeg, {"-v", "error", "-i", *mp4, "-c", "copy", by_ffmpeg});
    ASSERT_TRUE(remux && remux->exit_code == 0);

    for (const std::string& file : {*by_mkvmerge, by_ffmpeg}) {
        const auto cues = read_cue_keyframes(file, 0);
        ASSERT_TRUE(cues) << file << ": " << cues.error();
        const auto keys = all_keyframes(file);
        ASSERT_EQ(cues->size(), keys.size()) << file;
        for (std::size_t k = 0; k < keys.size(); ++k) EXPECT_NEAR((*cues)[k], keys[k], 0.0005) << file;
    }
    // Not Matroska, or no picture at that number: the caller lists packets.
    EXPECT_FALSE(read_cue_keyframes(*mp4, 0));
    EXPECT_FALSE(read_cue_keyframes(*by_mkvmerge, 1));
}

// Pieces are placed by what mkvmerge reports of them; reading the file itself
// must give the same: pieces of a split (B-frames) and files ffmpeg wrote.
TEST(MatroskaExtent, AgreesWithMkvmerge) {
    const MovieSpec spec = with_b_frames("3");
    const auto movie = test::test_movie(spec);
    ASSERT_TRUE(movie) << movie.error();
    test::TempDir dir;
    const std::string split = (dir.path() / "seg.mkv").string();
    const auto run = test::run_program(*tools().mkvmerge, {"-q", "-o", split, "--no-audio", "--split",
                                                          "parts:00:00:02-00:00:06,00:00:10-00:00:20", *movie});
    ASSERT_TRUE(run && run->exit_code == 0);
    const std::string lavf = (dir.path() / "lavf.mkv").string();
    const auto copy = test::run_program(tools().ffmpeg, {"-v", "error", "-ss", "4", "-i", *movie, "-map", "0:v",
                                                         "-c", "copy", lavf});
    ASSERT_TRUE(copy && copy->exit_code == 0);
    // An attachment before the first cluster: a head larger than the first read.
    const std::string attached = (dir.path() / "attached.mkv").string();
    std::ofstream((dir.path() / "blob.bin").string(), std::ios::binary) << std::string(300 << 10, 'x');
    const auto attach = test::run_program(*tools().mkvmerge, {"-q", "-o", attached, "--attachment-mime-type",
                                                              "application/octet-stream", "--attach-file",
                                                              (dir.path() / "blob.bin").string(), lavf});
    ASSERT_TRUE(attach && attach->exit_code == 0);

    // ffmpeg gives its duration from 0, mkvmerge from the earliest time: a
    // file that starts late (as an encoder that holds its first picture back
    // writes one) ends where its last picture does either way.
    const std::string late = (dir.path() / "late.mkv").string();
    const auto shifted = test::run_program(tools().ffmpeg, {"-v", "error", "-i", lavf, "-c", "copy", "-output_ts_offset",
                                                            "0.5", late});
    ASSERT_TRUE(shifted && shifted->exit_code == 0);
    const std::string late_copy = (dir.path() / "late-copy.mkv").string();
    const auto remuxed = test::run_program(*tools().mkvmerge, {"-q", "-o", late_copy, late});
    ASSERT_TRUE(remuxed && remuxed->exit_code == 0);

    for (const std::string& file : {(dir.path() / "seg-001.mkv").string(), (dir.path() / "seg-002.mkv").string(), lavf,
                                    attached, late, late_copy}) {
        const auto read = read_matroska_extent(file, 0);
        const auto told = mkvmerge_extent(tools(), file);
        ASSERT_TRUE(read && told) << file;
        EXPECT_NEAR(read->firstVideo, told->firstVideo, 0.0005) << file;
        EXPECT_NEAR(read->end, told->end, 0.0005) << file;
        const auto times = e2e::video_frame_times(file);
        ASSERT_FALSE(times.empty()) << file;
        EXPECT_NEAR(read->end, times.back() + 0.04, 0.0015) << file;
    }
}

// The sound's first packet and codec delay are read from the file where
// ffprobe and mkvmerge were asked before: the answers must be theirs.
TEST(MatroskaFirstTime, AgreesWithFfprobeAndMkvmerge) {
    test::TempDir dir;
    const auto path = [&](const char* name) { return (dir.path() / name).string(); };
    const auto ffmpeg = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {"-v", "error", "-y"});
        const auto r = test::run_program(tools().ffmpeg, args);
        ASSERT_TRUE(r && r->exit_code == 0);
    };
    ffmpeg({"-f", "lavfi", "-i", "sine=d=3", "-c:a", "aac", "-output_ts_offset", "1.5", path("late.mka")});
    ffmpeg({"-f", "lavfi", "-i", "sine=d=3", "-c:a", "ac3", path("ac3.mka")});
    ffmpeg({"-f", "lavfi", "-i", "sine=d=3", "-c:a", "libopus", path("opus.mka")});
    const auto merged = test::run_program(*tools().mkvmerge, {"-q", "-o", path("synced.mka"), "--sync", "0:250",
                                                              path("ac3.mka")});
    ASSERT_TRUE(merged && merged->exit_code == 0);

    for (const auto* name : {"late.mka", "synced.mka", "ac3.mka"}) {
        const auto listed = test::run_program(tools().ffprobe, {"-v", "error", "-show_entries", "packet=pts_time",
                                                               "-read_intervals", "%+#1", "-of", "csv=p=0", path(name)});
        ASSERT_TRUE(listed && listed->exit_code == 0);
        const auto read = read_matroska_first_time(path(name), 0);
        ASSERT_TRUE(read) << name << ": " << read.error();
        EXPECT_NEAR(*read, std::stod(listed->out), 0.0005) << name;
    }
    // The sound's cut reads the first packets' times from the file too: their
    // start and their spacing must be ffprobe's, also where mkvmerge stored
    // several frames to a block (ffprobe rounds those down to milliseconds).
    const auto laced = test::run_program(*tools().mkvmerge, {"-q", "-o", path("laced.mka"), path("late.mka")});
    ASSERT_TRUE(laced && laced->exit_code == 0);
    for (const auto* name : {"late.mka", "synced.mka", "ac3.mka", "laced.mka"}) {
        // The first cluster may end before 32 frames; the run asks for 16.
        const auto read = read_matroska_packet_times(path(name), 0, 32);
        ASSERT_TRUE(read) << name << ": " << read.error();
        ASSERT_GE(read->size(), 16u) << name;
        const auto listed = test::run_program(
            tools().ffprobe, {"-v", "error", "-show_entries", "packet=pts_time", "-read_intervals",
                              "%+#" + std::to_string(read->size()), "-of", "csv=p=0", path(name)});
        ASSERT_TRUE(listed && listed->exit_code == 0);
        std::string listing;
        for (const double t : *read) listing += std::to_string(t) + "\n";
        EXPECT_NEAR(*first_packet_time(listing), *first_packet_time(listed->out), 0.0005) << name;
        const auto samples = samples_per_packet(listing, 48000);
        ASSERT_TRUE(samples) << name;
        EXPECT_EQ(samples, samples_per_packet(listed->out, 48000)) << name;
    }
    EXPECT_FALSE(read_matroska_packet_times(path("opus.mka"), 0, 32));
    // A cut that the mux makes places every packet of the cut sound: all of
    // them are read, cluster after cluster.
    for (const auto* name : {"late.mka", "ac3.mka"}) {
        const auto all = read_matroska_track_times(path(name), 0);
        ASSERT_TRUE(all) << name << ": " << all.error();
        const auto listed = test::run_program(tools().ffprobe, {"-v", "error", "-show_entries", "packet=pts_time",
                                                               "-of", "csv=p=0", path(name)});
        ASSERT_TRUE(listed && listed->exit_code == 0);
        std::vector<double> expected;
        for (const auto line : split_lines(listed->out))
            if (!line.empty()) expected.push_back(std::stod(std::string(line)));
        ASSERT_EQ(all->size(), expected.size()) << name;
        for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_NEAR((*all)[i], expected[i], 0.0005) << name << i;
    }
    EXPECT_FALSE(read_matroska_track_times(path("opus.mka"), 0));

    // ffmpeg reports Opus with its codec delay taken off: not read, and the
    // delay read from the head is what mkvmerge tells.
    EXPECT_FALSE(read_matroska_first_time(path("opus.mka"), 0));
    const auto head = read_matroska_head(path("opus.mka"));
    const auto identified = mkvmerge_identify(tools(), path("opus.mka"));
    ASSERT_TRUE(head && identified);
    EXPECT_GT(head->tracks.at(0).codecDelay, 0u);
    EXPECT_NEAR(static_cast<double>(head->tracks.at(0).codecDelay) / 1e9, parse_mkvmerge_codec_delay(*identified, 0), 1e-9);
}

TEST(KeyframeSearch, UpperLimitBoundsTheWindow) {
    const auto movie = test::test_movie(two_second_gop());
    ASSERT_TRUE(movie) << movie.error();
    // Nearest overall would be 10, but nothing after 5 may be chosen.
    EXPECT_EQ(find_keyframe_near(tools(), *movie, 10.0, 5.0).value_or(-1), 4.0);
    EXPECT_EQ(find_keyframe_near(tools(), *movie, 10.0, std::nan("")).value_or(-1), 10.0);
}

TEST(KeyframeSearch, WiderRadiiFindDistantKeyframes) {
    MovieSpec spec = two_second_gop();
    spec.duration = 80;
    spec.keyframe_interval = 1000;  // keyframes at 0 and 40 s only
    const auto movie = test::test_movie(spec);
    ASSERT_TRUE(movie) << movie.error();
    ASSERT_EQ(all_keyframes(*movie), (std::vector<double>{0.0, 40.0}));
    EXPECT_EQ(find_keyframe_near(tools(), *movie, 20.0, 80.0).value_or(-1), 0.0) << "tie at radius 60";
    EXPECT_EQ(find_keyframe_near(tools(), *movie, 21.0, 80.0).value_or(-1), 40.0);
    EXPECT_EQ(find_keyframe_near(tools(), *movie, 70.0, 80.0).value_or(-1), 40.0);
}

TEST(KeyframeSearch, NoQueryNearTheStartOrBeyondTheWindows) {
    // A path that does not exist proves that no tool ran.
    const ToolSet set = tools();
    EXPECT_EQ(find_keyframe_near(set, "/nonexistent/movie.mkv", 0.05, 100).value_or(-1), 0.0);
    EXPECT_EQ(find_keyframe_near(set, "/nonexistent/movie.mkv", -4, 100).value_or(-1), 0.0);
    const auto beyond = find_keyframe_near(set, "/nonexistent/movie.mkv", 3725.5, 100);
    ASSERT_FALSE(beyond);
    EXPECT_EQ(beyond.error(), "No keyframe found near 3725.50s");
}

TEST(KeyframeSearch, ToolFailureEndsTheSearch) {
    const auto missing = find_keyframe_near(tools(), "/nonexistent/movie.mkv", 10, 100);
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().rfind("ffprobe exited with exit code: 1:\n", 0), 0u) << missing.error();
    EXPECT_NE(missing.error().find("No such file or directory"), std::string::npos) << missing.error();
}

TEST(KeyframeSearch, MovieWithoutVideoHasNoKeyframes) {
    MovieSpec spec;
    spec.video_codec = "";
    spec.duration = 3;
    spec.audio = {{}};
    const auto movie = test::test_movie(spec);
    ASSERT_TRUE(movie) << movie.error();
    const auto found = find_keyframe_near(tools(), *movie, 1.5, 3);
    ASSERT_FALSE(found);
    EXPECT_EQ(found.error(), "No keyframe found near 1.50s");
}

TEST(FrameCounting, EqualsTheGeneratedFrames) {
    struct Case {
        const char* codec;
        const char* container;
        int fps_num, fps_den;
    };
    for (const Case& c : {Case{"h264", "mkv", 25, 1}, Case{"h264", "mp4", 30000, 1001}, Case{"hevc", "mkv", 24, 1},
                          Case{"mpeg4", "avi", 25, 1}, Case{"vp9", "mkv", 30, 1}}) {
        MovieSpec spec;
        spec.duration = 3;
        spec.width = 160;
        spec.height = 90;
        spec.video_codec = c.codec;
        spec.container = c.container;
        spec.fps_num = c.fps_num;
        spec.fps_den = c.fps_den;
        spec.audio = {{}};
        const auto movie = test::test_movie(spec);
        ASSERT_TRUE(movie) << movie.error();
        const auto count = count_video_frames(tools(), *movie);
        ASSERT_TRUE(count) << count.error();
        EXPECT_EQ(*count, test::video_frame_count(spec)) << c.codec << " in " << c.container;
    }
}

TEST(FrameCounting, FailsWithoutVideoOrFile) {
    MovieSpec spec;
    spec.video_codec = "";
    spec.duration = 3;
    spec.audio = {{}};
    const auto movie = test::test_movie(spec);
    ASSERT_TRUE(movie) << movie.error();
    const auto count = count_video_frames(tools(), *movie);
    ASSERT_FALSE(count);
    EXPECT_EQ(count.error(), "could not count frames in " + *movie);

    const auto missing = count_video_frames(tools(), "/nonexistent/movie.mkv");
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().rfind("ffprobe exited with", 0), 0u) << missing.error();
}

MovieSpec short_movie(const char* container) {
    MovieSpec spec;
    spec.duration = 7.2;
    spec.width = 160;
    spec.height = 90;
    spec.container = container;
    spec.audio = {{}};
    return spec;
}

TEST(MkvmergeDuration, AgreesWithFfprobeWithinAFrame) {
    const auto movie = test::test_movie(short_movie("mkv"));
    ASSERT_TRUE(movie) << movie.error();
    const auto measured = mkvmerge_duration(tools(), *movie);
    ASSERT_TRUE(measured) << measured.error();
    const auto info = probe_media(tools(), *movie);
    ASSERT_TRUE(info) << info.error();
    EXPECT_NEAR(*measured, info->duration, 1.0 / 25);
    EXPECT_NEAR(*measured, 7.2, 0.1);
}

TEST(MkvmergeDuration, Mp4IdentificationCarriesNoDuration) {
    // mkvmerge identifies MP4 files without a container duration; the pipeline
    // measures only the Matroska files it writes itself.
    const auto movie = test::test_movie(short_movie("mp4"));
    ASSERT_TRUE(movie) << movie.error();
    const auto measured = mkvmerge_duration(tools(), *movie);
    ASSERT_FALSE(measured);
    EXPECT_EQ(measured.error(), "mkvmerge did not report a duration");
}

TEST(MkvmergeDuration, UnrecognisedFileAndMissingMkvmerge) {
    test::TempDir dir;
    const auto text = dir.write("notes.mkv", "just some text\n");
    const auto unrecognised = mkvmerge_duration(tools(), text.string());
    ASSERT_FALSE(unrecognised);
    EXPECT_EQ(unrecognised.error(), "mkvmerge did not report a duration");

    ToolSet without = tools();
    without.mkvmerge.reset();
    const auto missing = mkvmerge_duration(without, text.string());
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error(), require_mkvmerge(without).error());
}

}  // namespace
}  // namespace reel
