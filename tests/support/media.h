#pragma once
// Test movies made with the real ffmpeg and mkvmerge, cached on disk.
//
// Describe a movie with a MovieSpec and ask for it with `test_movie(spec)`:
//
//     reel::test::MovieSpec spec;
//     spec.duration = 12;
//     spec.keyframe_interval = 50;                       // a keyframe every 2 s at 25 fps
//     spec.audio = {{.language = "eng", .is_default = true}, {.codec = "ac3", .channels = 6,
//                                                               .layout = "5.1(side)"}};
//     spec.subtitles = {{.format = reel::test::SubtitleFormat::Srt, .language = "eng"}};
//     spec.chapters = {{0, "Intro"}, {4, "Middle"}, {8, "End"}};
//     auto movie = reel::test::test_movie(spec);        // Result<std::string>: the path
//     ASSERT_TRUE(movie) << movie.error();
//
// Movies are generated once per build and reused by every test and test process:
// the file name is a hash of the whole spec, so a changed spec is a new movie.
// The cache folder is $REELMENDER_TEST_MEDIA, else "<build>/test-media". Each
// movie is made in a private temporary folder and moved into place with one
// rename, so parallel ctest processes never see half-written files. Treat the
// files as read-only: copy one before changing it.
//
// Layout of a generated movie (and so ffprobe's stream indexes):
//   video (when `video_codec` is not empty), then the audio tracks in order, then
//   the text subtitle tracks in order, then the PGS (or VobSub) tracks in order.
// Picture: ffmpeg's "testsrc2" pattern (a moving picture with a frame counter),
// or, with `flashes`, black with single white frames. Sound: a sine tone per
// track, or, with `flashes`, silence with short beeps.
// Matroska files are written by mkvmerge (so they carry its statistics tags,
// such as NUMBER_OF_FRAMES); every other container is written by ffmpeg. In MP4
// ffmpeg marks the first track of each kind as default whatever the MovieSpec says,
// and stores chapters also as an extra text track that ffprobe lists as data.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tools/toolset.h"
#include "util/result.h"

namespace reel::test {

struct AudioTrackSpec {
    // ffprobe's codec name: "aac", "ac3", "eac3", "opus", "mp3", "vorbis",
    // "flac", "pcm_s16le". The matching ffmpeg encoder is chosen for it.
    std::string codec = "aac";
    int channels = 2;
    std::string layout = "stereo";  // ffmpeg layout name, matching `channels`
    int sample_rate = 48000;
    std::optional<std::string> language{};  // ISO 639-2, such as "eng"
    std::optional<std::string> title{};
    bool is_default = false;
    double tone_hz = 440;  // the tone of this track when there are no flashes
};

// One subtitle event; also the display times of a PGS picture (text unused).
struct SubtitleCue {
    double start = 0;
    double end = 0;
    std::string text{};
};

enum class SubtitleFormat { Srt, Ass };

struct SubtitleTrackSpec {
    SubtitleFormat format = SubtitleFormat::Srt;
    std::optional<std::string> language{};
    std::optional<std::string> title{};
    bool is_default = false;
    bool forced = false;
    // Empty: `standard_cues(duration)`.
    std::vector<SubtitleCue> cues{};
};

// A picture-based subtitle track (Blu-ray PGS, or DVD VobSub with `vobsub`);
// Matroska only.
struct PgsTrackSpec {
    std::optional<std::string> language{};
    std::optional<std::string> title{};
    bool is_default = false;
    bool forced = false;
    // Empty: `standard_cues(duration)`. Each cue shows the same small white box.
    std::vector<SubtitleCue> cues{};
    // Times at which the box shown then moves 40 pixels up: a display set that
    // only changes the composition, in the epoch of its cue.
    std::vector<double> moves{};
    // The same pictures as a VobSub ("dvd_subtitle") track, drawn by ffmpeg's
    // DVD subtitle encoder from the PGS stream: one picture per display set
    // that shows something, each shown until the next set.
    bool vobsub = false;
};

struct ChapterSpec {
    double start = 0;
    std::string title;
    // Absent: the next chapter's start, or the movie's end for the last one.
    std::optional<double> end{};
};

struct MovieSpec {
    double duration = 10;  // seconds; the video has round(duration * fps) frames
    int width = 640;
    int height = 360;
    int fps_num = 25;
    int fps_den = 1;
    // ffprobe's codec name: "h264" (default), "hevc", "mpeg4", "vp9", "vp8";
    // another name is passed to ffmpeg's "-c:v" as it is. Empty: no video.
    std::string video_codec = "h264";
    // Frames from one keyframe to the next. Fixed: no extra keyframes at scene
    // changes, and closed GOPs, so keyframes are exactly at multiples of it.
    int keyframe_interval = 50;
    std::string pix_fmt = "yuv420p";
    // More ffmpeg output options for the video encoder (such as "-profile:v",
    // "main"), placed after the helper's own.
    std::vector<std::string> extra_video_args{};
    std::vector<AudioTrackSpec> audio{};
    std::vector<SubtitleTrackSpec> subtitles{};
    std::vector<PgsTrackSpec> image_subtitles{};
    std::vector<ChapterSpec> chapters{};
    std::optional<std::string> title{};  // container title
    // "mkv" (written by mkvmerge) or "mp4"; other ffmpeg container extensions
    // ("mov", "ts", "avi", ...) work without subtitles.
    std::string container = "mkv";
    // Flash and beep: at each listed time the picture is white for exactly one
    // frame and every audio track beeps (1 kHz) for `beep_seconds`; the rest is
    // black and silent. Times are moved onto the frame grid (`flash_instants`).
    // Muxers may delay every stream alike by the audio encoder's priming (about
    // 21 ms with AAC in Matroska); flash and beep stay together.
    std::vector<double> flashes{};
    double beep_seconds = 0.04;

    // Shapes of real sources (each changes the cached file's name only when set):
    // only the frames for which this ffmpeg "select" expression holds are kept,
    // at their own times (a phone's variable frame rate).
    std::string frame_select{};
    // The picture's sample aspect ratio ("32:27": a DVD's 720x480 shown at 16:9).
    std::string sample_aspect{};
    // The sound tracks are stored before the picture.
    bool audio_first = false;
    // More picture tracks after the first (an angle, a sign-language picture).
    int extra_video_tracks = 0;
    // A cover picture attached to a Matroska file.
    bool cover_art = false;
    // Display rotation in degrees (MP4 only), the movie's creation time, and
    // global tags such as DIRECTOR.
    int rotation = 0;
    std::optional<std::string> creation_time{};
    std::vector<std::pair<std::string, std::string>> tags{};
    // Every timestamp moved by this many seconds (a transport stream that starts late).
    double start_offset = 0;
    // The writing application a Matroska file names (a disc ripper's), set
    // after mkvmerge wrote it; empty: mkvmerge's own.
    std::string writing_app{};
};

// Path of the movie described by `spec`, generating it on first use. Fails with
// the tool's error text when generation fails.
Result<std::string> test_movie(const MovieSpec& spec);

// The canonical text of a spec (every field), which names the cached file.
std::string spec_text(const MovieSpec& spec);
// The folder holding the cached movies.
std::filesystem::path media_cache_folder();

// Frames of the generated video: round(duration * fps).
std::int64_t video_frame_count(const MovieSpec& spec);
// The flash times moved onto the frame grid: frame round(t * fps), at that
// frame's start time. The beeps begin at the same instants.
std::vector<double> flash_instants(const MovieSpec& spec);
// Cues of a generated track when none are given: "Line 1" from 0.5 s to 1.5 s,
// "Line 2" from 2.5 s to 3.5 s, ... (one every 2 s) while they end within the
// duration; at least one cue (the first half of the duration) for short movies.
std::vector<SubtitleCue> standard_cues(double duration);

// A PGS (.sup) stream: for each cue one display set at its start (an epoch
// start with a 120x24 white box, centred near the bottom of a width x height
// picture) and one that clears it at its end; for each of `moves` that falls
// inside a cue, a set that places the box 40 pixels higher than before (the
// window then spans the whole picture). Composition numbers count from 0. Pure;
// `write_pgs_file` puts it on disk.
std::string pgs_bytes(const std::vector<SubtitleCue>& cues, int width, int height,
                      const std::vector<double>& moves = {});
Result<void> write_pgs_file(const std::filesystem::path& path, const std::vector<SubtitleCue>& cues, int width,
                            int height, const std::vector<double>& moves = {});

// The installed tools, located once (ffmpeg, ffprobe and mkvmerge).
Result<ToolSet> test_tools();

// A finished child process: its exit code (-1 when ended by a signal) and both
// outputs, byte for byte.
struct ProgramRun {
    std::int64_t exit_code = 0;
    std::string out;
    std::string err;
};
// Runs a program to its end (standard input from the null device). Fails only
// when it cannot be started.
Result<ProgramRun> run_program(const std::string& program, const std::vector<std::string>& args);
// Runs the built reelmender-cli with `args`.
Result<ProgramRun> run_cli(const std::vector<std::string>& args);
// ffprobe's JSON report (format, streams and chapters) of `file`. When ffprobe
// cannot run or fails, the test fails and the report is an empty object.
nlohmann::json ffprobe_report(const std::filesystem::path& file);

}  // namespace reel::test
