#pragma once
// What the run reads straight from a Matroska file instead of starting a tool:
// keyframe times from the file's own index (its cues), a few kilobytes instead
// of a packet listing of the whole movie, and where a piece's picture starts
// and the piece ends. mkvmerge, ffmpeg and the run's own writer put a cue on
// every keyframe of a picture track; files from other writers are not
// trusted to, and the caller lists packets instead.
#include <cstdint>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "probe/keyframes.h"
#include "util/result.h"

namespace reel {

struct MatroskaTrack {
    std::uint64_t number = 0;
    std::uint64_t type = 0;  // 1 picture, 2 sound, 17 subtitles
    std::uint64_t codecDelay = 0;  // nanoseconds (Opus)
    std::uint64_t defaultDuration = 0;  // nanoseconds per frame, 0 when not given
    std::uint64_t uid = 0;
    std::string entry;                  // the TrackEntry's content as stored
};

// What the beginning of a Matroska file tells: where the cues are (file
// offsets), the timestamp scale, the tracks in their order (which is the
// order of ffprobe's stream numbers) and the writing application.
struct MatroskaHead {
    std::uint64_t segmentData = 0;  // file offset where the segment's children begin
    std::optional<std::uint64_t> cues;
    // A second seek head, which mkvmerge writes at the end when the first one
    // has no room left; the cues may be listed only there.
    std::optional<std::uint64_t> moreSeeks;
    std::uint64_t timestampScale = 1000000;  // nanoseconds per timestamp unit
    std::vector<MatroskaTrack> tracks;
    std::string muxingApp;
    std::string writingApp;
    std::optional<double> duration;            // seconds, from the segment's info
    std::optional<std::uint64_t> firstCluster;  // file offset
};

// Reads the start of a file (as many bytes as were read; elements running
// past them are skipped by their sizes). Nothing when it is not Matroska.
std::optional<MatroskaHead> parse_matroska_head(std::string_view bytes);

// The cue positions a SeekHead element at the start of `bytes` lists, as
// file offsets: {cues, another seek head}.
std::pair<std::optional<std::uint64_t>, std::optional<std::uint64_t>> parse_seek_head(std::string_view bytes,
                                                                                     std::uint64_t segment_data);

// The cues of track `number` in a Cues element at the start of `bytes`, by
// time: each keyframe's time in seconds and the offset of its cluster from
// the segment's children. Nothing when the element is not whole or is not a
// Cues element.
struct CuePoint {
    double seconds = 0;
    std::optional<std::uint64_t> cluster;
};
std::optional<std::vector<CuePoint>> parse_cue_points(std::string_view bytes, std::uint64_t number,
                                                     std::uint64_t timestamp_scale);
// Their times, sorted and without repeats.
std::optional<std::vector<double>> parse_cue_times(std::string_view bytes, std::uint64_t number,
                                                   std::uint64_t timestamp_scale);

// True for files whose writers put a cue on every keyframe of a picture track.
bool cues_list_every_keyframe(const MatroskaHead& head);

// The keyframe times of the track ffprobe numbers `stream` in the file at
// `path`. Fails (with a message for the log, never for the user) when the
// file has no usable cues.
Result<std::vector<double>> read_cue_keyframes(const std::string& path, std::uint64_t stream);

// The lowest timestamp (seconds) of every track among the blocks of a Cluster
// element at the start of `bytes`, and how many blocks were seen. A block
// running past the bytes is the last one read.
struct TrackStart {
    std::uint64_t number = 0;
    double earliest = 0;
    std::size_t blocks = 0;
};
std::vector<TrackStart> parse_cluster_starts(std::string_view bytes, std::uint64_t timestamp_scale);

// The times (seconds) of the first `count` frames of track `number` in a
// Cluster element at the start of `bytes`, in file order. A block holding
// several frames (lacing, as mkvmerge stores sound) stores the first one's
// time only; the others follow it `frame_seconds` apart. Nothing when such a
// block comes and `frame_seconds` is 0. A block running past the bytes ends
// the list.
std::optional<std::vector<double>> parse_cluster_frame_times(std::string_view bytes, std::uint64_t timestamp_scale,
                                                             std::uint64_t number, std::size_t count,
                                                             double frame_seconds);

// The frames of a Block or SimpleBlock (`block`: from its track number on),
// laced ones (Xiph, EBML or fixed-size lacing) taken apart. Nothing when the
// block is damaged.
std::optional<std::vector<std::string_view>> block_frames(std::string_view block);

// The head of the Matroska file at `path` (read up to its first cluster).
Result<MatroskaHead> read_matroska_head(const std::string& path);

// The time ffprobe gives the first packet of the track it numbers `stream`,
// read from the file's first cluster. Fails for a track with a codec delay
// (ffmpeg takes it off its times) and where the first cluster lacks the track.
Result<double> read_matroska_first_time(const std::string& path, std::uint64_t stream);
// The times of the first `count` packets of the sound track ffprobe numbers
// `stream`, read from the file's first cluster: what a packet listing gives,
// except that frames stored together get their exact times where ffmpeg
// rounds them down to the millisecond. Fails as read_matroska_first_time, and
// for frames stored together in a track that gives no frame length; may hold
// fewer than `count` where the first cluster does.
Result<std::vector<double>> read_matroska_packet_times(const std::string& path, std::uint64_t stream,
                                                       std::size_t count);
// The Tag elements (whole, as stored) that the file at `path` gives each of
// the tracks ffprobe numbers `streams` alone, wherever its Tags element lies.
Result<std::vector<std::string>> read_matroska_track_tags(const std::string& path,
                                                         const std::vector<std::uint64_t>& streams);
// Every frame of the sound tracks ffprobe numbers `streams`, in file order,
// read cluster by cluster (the movie is never held at once): `each` gets the
// track's place in `streams`, the frame's time (as read_matroska_packet_times
// gives it) and its bytes as stored, and returns false to end the reading.
// Fails as read_matroska_packet_times, and for a damaged block.
Result<void> read_matroska_sound_frames(const std::string& path, const std::vector<std::uint64_t>& streams,
                                        const std::function<bool(std::size_t, double, std::string_view)>& each);

// The times of every packet of the sound track ffprobe numbers `stream`, in
// file order, read cluster by cluster; fails as read_matroska_packet_times,
// and for a cluster of unknown size (a file written as a stream).
Result<std::vector<double>> read_matroska_track_times(const std::string& path, std::uint64_t stream);

struct FrameView {
    double seconds = 0;
    bool keyframe = false;
    std::string_view bytes;
};
// Every frame, in file order, of the picture track ffprobe numbers `stream`,
// from the cluster of its last keyframe at or before `from` seconds (found by
// the file's cues) to the end: `each` returns false to end the reading. Gives
// the track. Fails where the cues are not trusted or list no cluster, and for
// a laced or damaged block and one whose group holds more than the frame and
// its references (a duration or additions, which a copy of the frame loses).
Result<MatroskaTrack> read_matroska_picture_frames(const std::string& path, std::uint64_t stream, double from,
                                                   const std::function<bool(const FrameView&)>& each);
// The whole children of a master element's body, in order: id and body.
std::vector<std::pair<std::uint64_t, std::string_view>> matroska_children(std::string_view body);

// What a movie holds beside its tracks, as stored: the bodies of its
// Chapters and Attachments elements, and its Tag elements that name no track:
// those of its chapters or editions, of its attachments, and of the movie
// itself. Fails for a file that is not Matroska or that holds an element of
// unknown size or one running past its end.
struct MatroskaExtras {
    std::string chapters;
    std::string attachments;
    std::string globalTags;
    std::string chapterTags;
    std::string attachmentTags;
};
Result<MatroskaExtras> read_matroska_extras(const std::string& path);

// Every frame of one track of a Matroska file, in file order, read a cluster
// at a time: what a writer of a new file takes from the files it puts
// together, several of them side by side.
class MatroskaFrameReader {
public:
    // The track ffprobe numbers `stream` in the file at `path`.
    static Result<MatroskaFrameReader> open(const std::string& path, std::uint64_t stream);
    const MatroskaTrack& track() const { return track_; }
    // The next frame, nothing at the end; its bytes last until the next call.
    // Frames stored together get the track's frame length apart. Fails for a
    // damaged block, frames stored together in a track without a frame
    // length, a block whose group holds more than the frame and its
    // references (an Opus track's padding at its end among them), and a
    // cluster of unknown size or one that runs past the file's end.
    Result<std::optional<FrameView>> next();

private:
    MatroskaFrameReader() = default;
    Result<bool> read_cluster();

    std::string path_;
    std::unique_ptr<std::ifstream> file_;
    MatroskaHead head_;
    MatroskaTrack track_;
    std::uint64_t at_ = 0;  // file offset of the next element after the cluster read
    std::uint64_t size_ = 0;  // the file's
    std::string cluster_;
    std::vector<FrameView> frames_;
    std::size_t next_ = 0;
};

// The times, sorted, of the pictures of the track ffprobe numbers `stream`
// that lie in the `window` seconds before each of `keyframes`, read from the
// keyframe's cluster back to that window's start (found by the file's cues):
// what a packet listing of those windows gives, without a tool run. Fails
// where the cues are not trusted or a keyframe is not reached.
Result<std::vector<double>> read_matroska_times_before(const std::string& path, std::uint64_t stream,
                                                      const std::vector<double>& keyframes, double window);

// A picture track's frames as stored, from one of its keyframes on: the head
// of a group of pictures that an exact cut copies instead of encoding.
struct StoredFrame {
    double seconds = 0;
    bool keyframe = false;
    std::string bytes;
};
struct StoredPictures {
    MatroskaTrack track;
    std::vector<StoredFrame> frames;
};
// The first `count` frames, in file order, of the picture track ffprobe
// numbers `stream`, from its keyframe at `keyframe` seconds on (found by the
// file's cues; fails where they are not trusted or do not list it, where the
// frame there is no keyframe, for a laced or damaged block and where the file
// ends first).
Result<StoredPictures> read_matroska_pictures(const std::string& path, std::uint64_t stream, double keyframe,
                                              std::size_t count);

// Where a Matroska file ends, from its earliest timestamp and its segment's
// duration: mkvmerge gives the duration from the earliest timestamp on, ffmpeg
// ("Lavf…" as the muxing application) from 0, so its duration is where the file
// ends (an encoder that delays its first picture starts a file later than 0).
double duration_ends_at(std::string_view muxing_app, double earliest, double duration);
// What mkvmerge's identification says of a file it wrote or ffmpeg wrote:
// where the picture (track ffprobe numbers `stream`) starts and where the
// file ends, read from its head and first cluster. Fails when the file lacks
// a duration or its first cluster holds no picture.
Result<FileExtent> read_matroska_extent(const std::string& path, std::uint64_t stream);

}  // namespace reel
