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
    double base;
    double span;
};

namespace stages {
inline constexpr StageInfo probe{"probe", "Reading the movie", 0.0, 0.02};
inline constexpr StageInfo remux{"remux", "Remuxing the source into MKV (no re-encoding)", 0.02, 0.08};
inline constexpr StageInfo snap{"snap", "Finding keyframes near the cut points", 0.10, 0.03};
inline constexpr StageInfo mute{"mute", "Cutting the audio around muted sections", 0.13, 0.12};
inline constexpr StageInfo overlay{"overlay", "Replacing video with text cards (audio kept)", 0.25, 0.15};
inline constexpr StageInfo split{"split", "Splitting the movie at the cut points (stream copy)", 0.40, 0.25};
inline constexpr StageInfo cards{"cards", "Rendering title cards", 0.65, 0.12};
inline constexpr StageInfo join{"join", "Joining the pieces (stream copy)", 0.77, 0.10};
inline constexpr StageInfo subs{"subs", "Retiming subtitles and chapters", 0.87, 0.03};
inline constexpr StageInfo mux{"mux", "Writing the final file", 0.90, 0.08};
inline constexpr StageInfo mp4{"mp4", "Repackaging as MP4 (stream copy)", 0.98, 0.02};
inline constexpr StageInfo done{"done", "Done", 1.0, 0.0};
}  // namespace stages

// Shares of a stage's span taken by its tool runs, in order. Each run gets its
// own slice so that the overall progress never steps back inside a stage.
inline constexpr double kOverlaySplitShare = 0.4;  // then the cards: 0.3, the join: 0.3
inline constexpr double kOverlayJoinShare = 0.3;

// ---- work folder --------------------------------------------------------

// The folder that will hold the output: its parent, or "." when it has none.
std::filesystem::path output_folder(const std::filesystem::path& output);
// ".reelmender-work-{pid}-{suffix}" inside the output folder.
std::filesystem::path work_folder_path(const std::filesystem::path& output, std::uint32_t pid,
                                       std::string_view suffix);

// ---- remux --------------------------------------------------------------

// Containers whose start time decides the remux: Matroska only. Every other
// container is remuxed, so that picture and sound are read one way (MP4 edit
// lists, AVI codec ids and transport-stream timing all become plain Matroska).
bool remux_depends_on_start_time(const std::string& container);
std::vector<std::string> start_time_query_arguments(const std::string& movie);
// The query's output (absent when the query failed) asks for a remux when it
// reads as a number further than 0.01 s from zero.
bool start_time_asks_remux(const std::optional<std::string>& query_output);
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
    std::vector<std::string> subtitleArgs;  // rebuilt subtitle tracks
    // Attachments and global tags always come from the source; its subtitles
    // and chapters too while the timeline stands still.
    std::string source;
    bool sourceSubtitlesAndChapters = false;
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
