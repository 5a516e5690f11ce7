#pragma once
// Matroska files written as their frames come: the parts the run copies out
// of a movie by itself where a tool would read the whole movie to write a
// few megabytes (the kept sound of a cut, the picture's parts), and the
// edited movie itself, put together from those parts in one write.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "probe/matroska.h"
#include "util/result.h"

namespace reel {

// Elements as the writers store them: sizes always in eight bytes.
std::string ebml_element(std::uint64_t id, std::string_view body);
std::string ebml_uint(std::uint64_t value);
std::string ebml_float(double value);

// A track's entry as another file stores it, given its place in a new file.
struct EntryChanges {
    std::uint64_t number = 0;
    std::uint64_t uid = 0;
    std::string language;              // ISO 639-2, as the entry's Language
    std::optional<std::string> name;   // absent: the entry keeps its own
    bool isDefault = false;
    bool forced = false;
    std::optional<double> roll;        // degrees, a picture's rotation
};
std::string rewrite_track_entry(std::string_view entry, const EntryChanges& changes);
// The Tag elements of a track given again for the track `uid`, without the
// statistics (length, frames, bytes, bit rate) that a writer counts anew.
std::string retarget_track_tags(std::string_view tags, std::uint64_t uid);

// What a segment holds besides its tracks and their frames, as stored
// (element bodies); empty: none.
struct SegmentExtras {
    std::optional<std::string> title;
    // When the file was made: nanoseconds since 2001-01-01 (UTC).
    std::optional<std::int64_t> date;
    std::string chapters;     // the Chapters element's children
    std::string attachments;  // the Attachments element's children
    std::string tags;         // Tag elements
    // Each track also gets a tag of its length, frames, bytes and bit rate,
    // as players and mkvmerge show them.
    bool statistics = false;
};

// A Matroska file of any number of tracks. Frames come in the order they are
// to be stored; a cluster begins at every picture keyframe (and every five
// seconds or 4 MiB), and the file's cues list every picture keyframe and
// every subtitle.
class MatroskaMuxer {
public:
    // Starts `path` with `tracks`' TrackEntry contents (`entry` with its own
    // number and codec, `number` and `type` as it says), `extras` and, where
    // given, the segment's duration in seconds; timestamps in milliseconds.
    static Result<MatroskaMuxer> open(const std::filesystem::path& path, const std::vector<MatroskaTrack>& tracks,
                                      const SegmentExtras& extras = {}, std::optional<double> duration = {});

    // One frame of the track at `place` in `tracks`, at `ms` (not before 0).
    // With a `duration` (ms) it is stored with it (subtitles); such a frame is
    // a keyframe.
    void add(std::size_t place, std::int64_t ms, std::string_view frame, bool keyframe,
             std::optional<std::int64_t> duration = {});
    // From the earliest frame's start to the latest one's end (by its
    // duration, else its track's frame length) in whole milliseconds, as
    // mkvmerge gives a file's duration; nothing before any frame.
    std::optional<double> span() const;
    // Writes what is held, the cues, the tags and the segment's size, and
    // `duration` (seconds) over the one given at the start, where both are;
    // fails when any write failed.
    Result<void> finish(std::optional<double> duration = {});

private:
    struct TrackState {
        std::uint64_t number = 0;
        std::uint64_t type = 0;
        std::uint64_t uid = 0;
        std::int64_t frameNs = 0;  // the track's frame length
        std::uint64_t frames = 0;
        std::uint64_t bytes = 0;
        std::optional<std::int64_t> first;
        std::optional<std::int64_t> last;  // the latest frame's time
        std::int64_t end = 0;
    };
    struct Cue {
        std::int64_t ms = 0;
        std::uint64_t track = 0;
        std::uint64_t cluster = 0;   // from the segment's children
        std::uint64_t relative = 0;  // from the cluster's children
    };

    MatroskaMuxer() = default;
    void flush_cluster();
    void write(std::string_view bytes);
    std::string statistics_tags() const;

    std::filesystem::path path_;
    std::ofstream out_;
    std::vector<TrackState> tracks_;
    std::string tags_;
    bool statistics_ = false;
    std::uint64_t segmentData_ = 0;
    std::uint64_t seekHeadAt_ = 0;  // file offset of the room kept for the seek head
    std::vector<std::pair<std::uint64_t, std::uint64_t>> seeks_;  // element id, offset from the segment's children
    std::uint64_t durationAt_ = 0;  // file offset of the duration's value, 0 without one
    std::uint64_t written_ = 0;     // bytes written so far
    std::string cluster_;           // the blocks of the cluster being made
    std::int64_t clusterStart_ = -1;
    std::vector<Cue> cues_;
    std::vector<Cue> pendingCues_;  // of the cluster being made
};

// A file of one track: a MatroskaMuxer whose track keeps its own entry.
class MatroskaTrackWriter {
public:
    // Starts `path` with `track`'s own TrackEntry (codec, its private data,
    // any compression of its frames), `tags` (Tag elements for it, as
    // read_matroska_track_tags gives them) and, where given, the segment's
    // duration in seconds; timestamps in milliseconds.
    static Result<MatroskaTrackWriter> open(const std::filesystem::path& path, const MatroskaTrack& track,
                                            std::string_view tags = {}, std::optional<double> duration = {});

    // One frame at `seconds` (not before 0; pictures in decode order may come
    // a few seconds before the frame before); gives the time stored, in whole
    // milliseconds, as a reader reads it.
    double add(double seconds, std::string_view frame, bool keyframe = true);
    Result<void> finish(std::optional<double> duration = {}) { return muxer_->finish(duration); }

private:
    std::optional<MatroskaMuxer> muxer_;
};

}  // namespace reel
