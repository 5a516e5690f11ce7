#pragma once
// Shared helpers of the pipeline's end-to-end tests: running an edit in-process
// or through the program, and measuring the results with the real tools.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "pipeline/pipeline.h"
#include "support/media.h"
#include "tools/toolset.h"

namespace reel::e2e {

// The installed tools; fails the calling test when they are missing.
ToolSet tools();
// The generated movie's path; fails the calling test when generation fails.
std::string movie(const test::MovieSpec& spec);
// A 320x180 H.264 movie of `duration` seconds with one default sound track,
// the base of most pipeline tests.
test::MovieSpec small_movie(double duration);
// Whether a frame time lies inside [start, end), allowing for millisecond timestamps.
bool inside(double t, double start, double end);

Edit edit(const std::string& id, EditAction action, double start, double end, const std::string& text = {},
          double card_seconds = 10.0, bool match = false);

struct PipelineRun {
    Result<RunReport> report;
    std::vector<ProgressEvent> events;
    std::vector<std::string> log;
    std::vector<std::string> warnings;
};
PipelineRun run_edits(const std::string& movie, const std::filesystem::path& output, std::vector<Edit> edits,
                      const std::string& container = "mkv", bool keep_temp = false, bool exact = false,
                      const ToolSet& with = tools());

// Work folders left in `folder`.
std::vector<std::filesystem::path> work_folders(const std::filesystem::path& folder);
// Processes whose command line mentions `needle`: children that outlived a run.
std::vector<std::string> processes_mentioning(const std::string& needle);
// The work folder of a run in this process.
std::filesystem::path own_work_folder(const std::filesystem::path& output);

// One decoded (or, with `copy`, stream-copied) frame or packet: its time on the
// file's own timeline and the MD5 of its data.
struct FrameHash {
    double time = 0;
    std::string md5;
};
// `map` selects one stream ("0:v:0", "0:a:1").
std::vector<FrameHash> frame_hashes(const std::string& file, const std::string& map, bool copy = false);
std::vector<std::string> hashes_only(const std::vector<FrameHash>& frames);

// volumedetect's max_volume (dB) of one audio stream between two times.
double max_volume(const std::string& file, int audio_index, double start, double end);
// Where the sound of audio stream `audio` really goes quiet (silencedetect,
// -50 dB for at least 50 ms), on a tone that never stops: (start, end) pairs.
std::vector<std::pair<double, double>> silences(const std::string& file, int audio);
// Where a sound starts after silence on audio stream `audio`, on the file's
// own timeline (a sound must end again to count).
std::vector<double> sound_onsets(const std::string& file, int audio = 0);
// Presentation times of the video packets of the first video stream, sorted:
// the time of decoded frame n is element n.
std::vector<double> video_frame_times(const std::string& file);
// Indices of the frames whose mean brightness is above half.
std::vector<std::int64_t> bright_frames(const std::string& file);

// Flash-and-beep movies: for every flash, how far the nearest beep on sound
// track `audio` lies from it (negative: the beep comes first). A flash with no
// beep within half a second has none.
struct SyncSample {
    double flash = 0;
    std::optional<double> offset;
};
std::vector<SyncSample> sync_samples(const std::string& file, int audio);
// The longest time between two pictures that follow each other.
double longest_picture_gap(const std::string& file);

// One audio frame of the test generator's codecs at 48 kHz, the longest among
// tracks, and how much later than its packet a decoder plays a frame's sound
// (MP3 decoders start 529 samples late).
double frame_seconds(const std::string& codec);
double longest_frame(const std::vector<test::AudioTrackSpec>& audio);
double decoder_delay(const std::string& codec);

// Flash-and-beep movies: every flash of `file` has its beep within one audio
// frame of where `source` has it on every track, except flashes inside
// `silent` (output times); no picture is missing for longer than a frame
// beyond the pauses `source` has.
void expect_sound_with_picture(const std::string& file, const std::string& source,
                               const std::vector<test::AudioTrackSpec>& audio,
                               const std::vector<std::pair<double, double>>& silent = {});

// The frame shown at `time`, as 8-bit grey values.
std::string grey_frame_at(const std::string& file, double time);
double mean_value(const std::string& grey);
int max_value(const std::string& grey);

// Everything ffmpeg complains about while decoding the picture and sound of the
// whole file. Frames keep
// the file's own time base, so millisecond timestamps of 24000/1001 video do not
// collide in the null output and only real decoding problems are reported.
std::string decode_errors(const std::string& file);
std::int64_t packet_count(const std::string& file, const std::string& stream = "v:0");

}  // namespace reel::e2e
