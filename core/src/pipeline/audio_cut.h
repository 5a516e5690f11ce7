#pragma once
// Cutting and reassembling sound tracks, one track at a time, with every kept
// packet placed where the plan says.
//
// ffmpeg's segment muxer cuts each track by stream copy at packet boundaries
// (every codec, FLAC included, which mkvmerge cannot split), and its concat
// demuxer puts the stretches back together at explicit positions: a stretch's
// place never depends on how long the stretch before it happened to be, so
// encoder padding, frame rounding and cut points that fall inside an audio
// frame cannot push later sound out of sync. All pure: the stages run what
// these build.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "pipeline/tracks.h"
#include "probe/media_info.h"
#include "util/result.h"

namespace reel {

// One stretch of a track as the segmenter wrote it, with the carrier times of
// its first packet and of its end.
struct AudioSegment {
    std::filesystem::path file;
    double start = 0;
    double end = 0;
};

// ffmpeg's CSV segment list: "name,start,end" per line, names relative to `folder`.
Result<std::vector<AudioSegment>> parse_segment_list(std::string_view csv, const std::filesystem::path& folder);

// What one segmenting run does to one track: the packets from each time on
// (first packet at or after it) start a new stretch.
struct SegmentJob {
    TrackSource track;
    std::vector<double> times;
    std::filesystem::path pattern;  // "name-%03d.nut"
    std::filesystem::path list;     // the CSV segment list
};
// `pattern` (a file name with "%03d") for ffmpeg's segment muxer, whose own
// '%' in the folder's name would be taken for a number's place.
std::string numbered_pattern(const std::filesystem::path& pattern);
// The files segment_arguments reads, in the order of its inputs.
std::vector<std::string> segment_inputs(const std::vector<SegmentJob>& jobs);
// One ffmpeg run that cuts every job's track; each input file is read once.
std::vector<std::string> segment_arguments(const std::vector<SegmentJob>& jobs);

// What becomes of the packets that start in [from, to): kept and moved by
// `offset` (output time = carrier time + offset), replaced by silence at the
// same place, or dropped.
struct AudioStretch {
    enum class Kind { Keep, Silence, Drop } kind = Kind::Keep;
    double from = 0;
    std::optional<double> to;  // absent: to the end
    double offset = 0;
};

// The stretches of one track for mute ranges, with `frame_seconds` the length
// of one of its packets: a mute starts with the packet that holds its start
// (so no syllable of a muted word is heard) and ends with the last packet that
// lies mostly before its end. Touching mutes merge.
std::vector<AudioStretch> mute_stretches(const std::vector<std::pair<double, double>>& mutes, double frame_seconds);
// The stretches of a cut for one track with packets of `frame_seconds`: every
// boundary half a packet earlier, so that the packet that straddles a cut goes
// with the side it mostly lies on and no sound at a join is more than half a
// packet away from its picture.
std::vector<AudioStretch> straddle_by_halves(std::vector<AudioStretch> stretches, double frame_seconds);
// `cut`'s stretches with the Silence stretches of `muted` (mute_stretches)
// laid over what it keeps: silence where a kept packet would be muted, moved
// like the packets around it.
std::vector<AudioStretch> mute_within(const std::vector<AudioStretch>& cut, const std::vector<AudioStretch>& muted);
// The times that separate the stretches (the segmenter's cut times).
std::vector<double> stretch_boundaries(const std::vector<AudioStretch>& stretches);

// One piece of the reassembled track. The concat demuxer puts the file's time
// `inpoint` at output time `inpointAt`: every packet keeps its distance to it,
// so a kept stretch lands exactly where the plan moves it, whatever times its
// packets had. Packets from `outpoint` (file time) on are left out.
// `position`: where the entry's first packet lands.
struct AudioEntry {
    std::filesystem::path file;
    double position = 0;
    double inpoint = 0;
    double inpointAt = 0;
    std::optional<double> outpoint;
};

// Silence placed in the output: at `position`, lasting `length` seconds.
struct SilenceSlot {
    double position = 0;
    double length = 0;
};

// How silence for one track is made: the shared silence file, the samples per
// packet its encoder writes, and the time of its first packet (encoders start
// before 0 by their priming).
struct SilenceSource {
    std::filesystem::path file;
    std::int64_t frameSamples = 1024;
    std::int64_t sampleRate = 48000;
    double firstPacket = 0;
};

// The length of one packet of `silence`, in seconds.
double packet_seconds(const SilenceSource& silence);
// Whole silent packets that fit `seconds`, rounded to the nearest count when
// `nearest`, else never longer than `seconds`.
std::int64_t silence_packets(double seconds, const SilenceSource& silence, bool nearest);

// The entries of one reassembled track: every segment whose first packet lies
// in a Keep stretch at its moved place, Silence stretches and `extra` slots as
// whole silent packets, Drop stretches not at all. Sorted by position.
// `carrier_first_packet`: the time of the carrier's first packet, where the
// first segment starts whatever the list says.
std::vector<AudioEntry> plan_audio_entries(const std::vector<AudioSegment>& segments,
                                           const std::vector<AudioStretch>& stretches,
                                           const std::vector<SilenceSlot>& extra, const SilenceSource& silence,
                                           double carrier_first_packet);
// The longest silence any entry of such a plan needs, in seconds (0: none).
double longest_silence(const std::vector<AudioSegment>& segments, const std::vector<AudioStretch>& stretches,
                       const std::vector<SilenceSlot>& extra, const SilenceSource& silence);
// Seconds of silence the entries hold.
double silence_seconds(const std::vector<AudioEntry>& entries, const SilenceSource& silence);

// Silent packets in a row, the first at `position`.
struct SilenceRun {
    double position = 0;
    std::int64_t packets = 0;
};

// Where a copy of one track, read packet by packet in file order, puts each
// packet and the silence among them: where the segmenter's stretches joined by
// plan_audio_entries would put them, without cutting the track first.
class SoundCopyLayout {
public:
    SoundCopyLayout(std::vector<AudioStretch> stretches, std::vector<SilenceSlot> extra, const SilenceSource& silence);

    struct Step {
        std::vector<SilenceRun> before;  // written before the packet
        std::optional<double> at;        // where the packet goes; absent: left out
    };
    // The next packet, starting at carrier time `t`.
    Step packet(double t);
    // The silence still to be written once the last packet, which ends at
    // `end`, has been read.
    std::vector<SilenceRun> finish(double end);
    // Seconds of silence given to muted packets so far (cards' not counted).
    double mutedSeconds() const { return muted_; }

private:
    void close_segment(double next_first, std::vector<SilenceRun>& out);
    void slots_before(double position, std::vector<SilenceRun>& out);

    std::vector<AudioStretch> stretches_;
    std::vector<SilenceRun> slots_;  // ascending
    std::size_t nextSlot_ = 0;
    SilenceSource silence_;
    const AudioStretch* segment_ = nullptr;  // the stretch of the packets read last
    bool started_ = false;
    double segmentFirst_ = 0;
    double muted_ = 0;
};

// A path in a concat script: single quotes, with a quote written as '\'';
// relative names would be read from the script's own folder, so the path goes
// in whole.
std::string concat_quote(const std::filesystem::path& path);
// The concat demuxer's script: each entry lasts until the next one's inpoint
// comes. Times are relative to the first entry's inpoint; `concat_arguments`
// adds that back (and `lift`, which keeps every time positive for ffmpeg's
// Matroska writer: the caller takes it off again) as an output offset, and
// copies the `streams` ("0:a", "0:v") the script's files hold.
std::string concat_script(const std::vector<AudioEntry>& entries);
std::vector<std::string> concat_arguments(const std::filesystem::path& script, const std::string& streams,
                                          double offset, const std::filesystem::path& output);

// ffmpeg arguments for `seconds` of silence encoded like `track`, in packets
// of `frame_samples`, as a file of `format`; fails with the silent-audio message.
Result<std::vector<std::string>> silence_file_arguments(const AudioStreamInfo& track, std::int64_t frame_samples,
                                                        double seconds, const std::filesystem::path& output,
                                                        const std::string& format = "nut");

// Samples per packet of a track from ffprobe's listing of its first packet
// times ("pts" per line); absent when the packets are not evenly spaced.
std::optional<std::int64_t> samples_per_packet(std::string_view listing, std::int64_t sample_rate);
// The earliest time of such a listing.
std::optional<double> first_packet_time(std::string_view listing);

std::vector<std::string> first_packets_arguments(const TrackSource& track);
// One listing for every sound track of `file` ("stream,pts" per line): about
// as many first packets of each of its `tracks` as a listing of one track.
std::vector<std::string> sound_packets_arguments(const std::string& file, std::size_t tracks);
// The times of `stream`'s packets in such a listing, as a listing of one track.
std::string packets_of_stream(std::string_view listing, std::uint64_t stream);

}  // namespace reel
