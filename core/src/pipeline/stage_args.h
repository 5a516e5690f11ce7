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
inline constexpr double kMuteSplitShare = 0.7;   // then the join: 0.3
inline constexpr double kOverlaySplitShare = 0.4;  // then the cards: 0.3, the join: 0.3
inline constexpr double kOverlayJoinShare = 0.3;

// ---- work folder --------------------------------------------------------

// The folder that will hold the output: its parent, or "." when it has none.
std::filesystem::path output_folder(const std::filesystem::path& output);
// ".reelmender-work-{pid}" inside the output folder.
std::filesystem::path work_folder_path(const std::filesystem::path& output, std::uint32_t pid);

// ---- remux --------------------------------------------------------------

// Containers whose start time decides the remux; every other one is remuxed.
bool remux_depends_on_start_time(const std::string& container);
std::vector<std::string> start_time_query_arguments(const std::string& movie);
// The query's output (absent when the query failed) asks for a remux when it
// reads as a number further than 0.01 s from zero.
bool start_time_asks_remux(const std::optional<std::string>& query_output);
std::vector<std::string> remux_arguments(const std::string& movie, const std::filesystem::path& output);

// ---- mute ---------------------------------------------------------------

struct AudioPieces {
    std::vector<PieceRange> pieces;    // covering the whole movie
    std::vector<std::size_t> muted;    // indices of the pieces that are mute ranges
};
AudioPieces plan_audio_pieces(const std::vector<SnappedEdit>& mute_edits, double duration);
std::vector<std::string> audio_split_arguments(const std::filesystem::path& output,
                                               const std::vector<PieceRange>& pieces, const std::string& source);
// ffmpeg arguments writing `seconds` of silence for every audio track, each
// encoded like its track; fails with the silent-audio message.
Result<std::vector<std::string>> silence_arguments(const std::vector<AudioStreamInfo>& audio, double seconds,
                                                   const std::filesystem::path& output);

// ---- overlay ------------------------------------------------------------

std::vector<std::string> video_split_arguments(const std::filesystem::path& output,
                                               const std::vector<PieceRange>& ranges, const std::string& source);

// ---- split --------------------------------------------------------------

struct SplitInputs {
    std::string source;                               // the current source
    std::optional<std::filesystem::path> textVideo;   // "video.mkv" of the overlay stage
    std::optional<std::filesystem::path> mutedAudio;  // "audio.mkv" of the mute stage
    bool hasAudio = false;
};
std::vector<std::string> cut_split_arguments(const std::filesystem::path& output, const std::vector<PieceRange>& ranges,
                                             const SplitInputs& inputs);

// ---- mux ----------------------------------------------------------------

struct MuxInputs {
    std::filesystem::path target;
    std::optional<std::string> title;
    std::vector<std::string> chapterArgs;
    std::optional<std::filesystem::path> joined;
    std::optional<std::filesystem::path> textVideo;
    std::optional<std::filesystem::path> mutedAudio;
    std::string source;
    std::vector<AudioStreamInfo> audio;
    // True when the timeline moved and the subtitles were rebuilt.
    bool subtitlesRebuilt = false;
    std::vector<std::string> subtitleArgs;
    // The source has subtitle streams or chapters to bring along unchanged.
    bool sourceHasSubtitlesOrChapters = false;
};
std::vector<std::string> mux_arguments(const MuxInputs& inputs);

// ---- mp4 ----------------------------------------------------------------

// `subtitle_is_text`: the subtitle tracks of the final file in order, true for
// text; only those are converted, as MP4 cannot hold pictures.
std::vector<std::string> mp4_arguments(const std::filesystem::path& final_mkv, const std::filesystem::path& output,
                                       const std::vector<bool>& subtitle_is_text, const std::string& video_codec);

}  // namespace reel
