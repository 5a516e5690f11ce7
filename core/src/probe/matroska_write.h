#pragma once
// A Matroska file of one track, written as its frames come: what the run
// copies out of a movie by itself where a tool would read the whole movie
// to write a few megabytes (the kept sound of a cut).
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>

#include "probe/matroska.h"
#include "util/result.h"

namespace reel {

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
    // Writes what is held and the segment's size, and `duration` (seconds)
    // over the one given at the start, where both are; fails when any write
    // failed.
    Result<void> finish(std::optional<double> duration = {});

private:
    MatroskaTrackWriter() = default;
    void flush_cluster();
    void write(std::string_view bytes);

    std::filesystem::path path_;
    std::ofstream out_;
    std::uint64_t number_ = 0;
    std::uint64_t segmentData_ = 0;
    std::uint64_t durationAt_ = 0;  // file offset of the duration's value, 0 without one
    std::string cluster_;  // the blocks of the cluster being made
    std::int64_t clusterStart_ = -1;
};

}  // namespace reel
