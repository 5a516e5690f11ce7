#pragma once
// The stage table and the tool argument lists of every pipeline stage. All pure:
// the stage runners only fill these in and run what they return.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "pipeline/plan.h"
#include "pipeline/tracks.h"
#include "probe/media_info.h"
#include "util/result.h"

namespace reel {

// One row of the stage table: where the stage sits in the overall progress.
struct StageInfo {
    std::string_view key;
    std::string_view label;
    double base;  // the spans of the stages before it
    double span;
};

namespace stages {

// The stages in the order a run goes through them, with the share of the whole
// run each may take; a run skips the stages it does not need.
struct StageRow {
    std::string_view key;
    std::string_view label;
    double span;
};
inline constexpr StageRow kOrder[] = {
    {"probe", "Reading the movie", 0.02},
    {"remux", "Remuxing the source into MKV (no re-encoding)", 0.08},
    {"snap", "Finding keyframes near the cut points", 0.03},
    {"mute", "Cutting the audio around muted sections", 0.12},
    {"overlay", "Replacing video with text cards (audio kept)", 0.15},
    {"split", "Splitting the movie at the cut points (stream copy)", 0.25},
    {"cards", "Rendering title cards", 0.12},
    {"join", "Joining the pieces (stream copy)", 0.10},
    {"subs", "Retiming subtitles and chapters", 0.03},
    {"mux", "Writing the final file", 0.08},
    {"mp4", "Repackaging as MP4 (stream copy)", 0.02},
    {"done", "Done", 0.0},
};

consteval StageInfo row(std::string_view key) {
    double base = 0;
    for (const StageRow& r : kOrder) {
        if (r.key == key) return StageInfo{r.key, r.label, base, r.span};
        base += r.span;
    }
    throw "no such stage";  // a compile error: consteval cannot throw
}

inline constexpr StageInfo probe = row("probe");
inline constexpr StageInfo remux = row("remux");
inline constexpr StageInfo snap = row("snap");
inline constexpr StageInfo mute = row("mute");
inline constexpr StageInfo overlay = row("overlay");
inline constexpr StageInfo split = row("split");
inline constexpr StageInfo cards = row("cards");
inline constexpr StageInfo join = row("join");
inline constexpr StageInfo subs = row("subs");
inline constexpr StageInfo mux = row("mux");
inline constexpr StageInfo mp4 = row("mp4");
inline constexpr StageInfo done = row("done");

}  // namespace stages

// Shares of a stage's span taken by its tool runs, in order. Each run gets its
// own slice so that the overall progress never steps back inside a stage.
inline constexpr double kOverlaySplitShare = 0.4;  // then the cards: 0.3, the join: 0.3
inline constexpr double kOverlayJoinShare = 0.3;

// ---- remux --------------------------------------------------------------

// Containers whose start time decides the remux: Matroska only. Every other
// container is remuxed, so that picture and sound are read one way (MP4 edit
// lists, AVI codec ids and transport-stream timing all become plain Matroska).
bool remux_depends_on_start_time(const std::string& container);
// The container's start time as ffprobe gives it (absent when it gives none)
// asks for a remux when it reads as a number further than 0.01 s from zero.
bool start_time_asks_remux(const std::optional<std::string>& start_time);
// Subtitle formats that can go into Matroska (MP4 timed text after conversion).
bool matroska_holds_subtitle(const std::string& codec);
// Copies every stream but data streams and subtitles Matroska cannot hold into Matroska, with timestamps from
// zero; MP4 timed text, which Matroska cannot hold, becomes SubRip.
std::vector<std::string> remux_arguments(const std::string& movie, const MediaInfo& info,
                                         const std::filesystem::path& output);

// ---- mux ----------------------------------------------------------------

// One picture or sound track of the edited movie, from its carrier, with the
// properties the movie gave it.
struct MuxTrack {
    TrackSource source;
    bool video = false;
    std::uint64_t order = 0;  // the track's place among the movie's streams
    std::optional<std::string> language;
    std::optional<std::string> title;
    bool isDefault = false;
    bool forced = false;
    std::optional<double> rotation;  // degrees, picture only
    // The track keeps what its file says about it (no property is set).
    bool ownProperties = false;
};

struct MuxInputs {
    std::filesystem::path target;
    std::optional<std::string> title;
    std::vector<std::string> chapterArgs;
    std::vector<MuxTrack> tracks;
    // The picture's pieces, when its carrier is still a chain of them.
    std::vector<VideoPiece> videoPieces;
    std::vector<std::string> subtitleArgs;  // rebuilt subtitle tracks
    // Attachments and global tags always come from the source; its chapters
    // too while the timeline stands still, its subtitles while they are not
    // rebuilt.
    std::string source;
    bool sourceSubtitles = false;
    bool sourceChapters = false;
    // The picture's kept ranges when the mux cuts it itself (mkvmerge's
    // "--split" value); empty: it does not.
    std::string splitParts;
};
std::vector<std::string> mux_arguments(const MuxInputs& inputs);

// "YYYY-mm-ddTHH:MM:SS" and a zone, as mkvpropedit takes a segment date, from
// a creation time as ffprobe shows it (fractions dropped, no zone meaning UTC);
// absent when the text is no such date.
std::optional<std::string> matroska_date(std::string_view creation_time);
std::vector<std::string> date_arguments(const std::filesystem::path& file, const std::string& date);

// ---- mp4 ----------------------------------------------------------------

// `text_subtitles`: the relative indexes (0:s:N) of the subtitle tracks MP4
// can hold; picture subtitles have no place in MP4.
// `created`: the movie's creation time, which ffmpeg does not copy by itself.
std::vector<std::string> mp4_arguments(const std::filesystem::path& final_mkv, const std::filesystem::path& output,
                                       const std::vector<std::size_t>& text_subtitles, const std::string& video_codec,
                                       const std::optional<std::string>& created = std::nullopt);

}  // namespace reel
