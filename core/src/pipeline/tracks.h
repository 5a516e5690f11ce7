#pragma once
// Where the edited movie's picture and each of its sound tracks come from at a
// given point of the run. Every stage that changes a track replaces its carrier;
// the final mux takes each track from its carrier.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "edits/timeline.h"
#include "util/files.h"

namespace reel {

// One track of one file: the file as a tool argument, and the track's number in
// it. In the Matroska files the run works on, ffprobe's stream index and
// mkvmerge's track id are the same number.
struct TrackSource {
    std::string file;
    std::uint64_t id = 0;
    // Milliseconds the final mux shifts the track by as it reads it; a track
    // to be cut again must not carry one.
    std::int64_t syncMs = 0;
    // A file of times (mkvmerge's timestamp format v2) that the final mux
    // gives the track's packets in place of their own; empty: none.
    std::string timestamps{};

    bool operator==(const TrackSource&) const = default;
};

// One file of a picture made of pieces: where its first frame must land in
// the output, and what mkvmerge reports of it (its first frame and its end, in
// the file's own time).
struct VideoPiece {
    std::filesystem::path file;
    double position = 0;
    double firstFrame = 0;
    double end = 0;
};

// A cut that the final mux makes as it reads the picture's carrier: mkvmerge's
// split of the kept ranges, linked into one file, and where every other track
// must stand for it.
struct LinkedSplit {
    std::string parts;
    LinkedCut cut;
};

struct Carriers {
    TrackSource video;
    // When not empty, the picture is still these pieces (video.file is the
    // first), appended by the final mux as it reads them. Joining them into a
    // file of their own first would write the whole picture once more.
    std::vector<VideoPiece> videoPieces;
    std::vector<TrackSource> audio;  // in the order of the movie's audio tracks
    // When set, the picture is the whole carrier, cut by the final mux; every
    // sound track then comes with its times for that cut.
    std::optional<LinkedSplit> linked;

    // The picture becomes `pieces` (not empty), appended by the final mux.
    void use_pieces(std::vector<VideoPiece> pieces) {
        video = TrackSource{path_text(pieces.front().file), 0};
        videoPieces = std::move(pieces);
    }
};

}  // namespace reel
