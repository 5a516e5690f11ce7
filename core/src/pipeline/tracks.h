#pragma once
// Where the edited movie's picture and each of its sound tracks come from at a
// given point of the run. Every stage that changes a track replaces its carrier;
// the final mux takes each track from its carrier.
#include <cstdint>
#include <string>
#include <vector>

namespace reel {

// One track of one file: the file as a tool argument, and the track's number in
// it. In the Matroska files the run works on, ffprobe's stream index and
// mkvmerge's track id are the same number.
struct TrackSource {
    std::string file;
    std::uint64_t id = 0;

    bool operator==(const TrackSource&) const = default;
};

struct Carriers {
    TrackSource video;
    std::vector<TrackSource> audio;  // in the order of the movie's audio tracks
};

}  // namespace reel
