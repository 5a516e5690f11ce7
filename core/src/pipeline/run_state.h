#pragma once
// What one run carries from stage to stage, and the stage runners. Private to
// the pipeline: the front end only sees run_pipeline.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <functional>

#include "cards/card.h"
#include "pipeline/audio_cut.h"
#include "pipeline/pipeline.h"
#include "pipeline/plan.h"
#include "pipeline/tracks.h"
#include "pipeline/video_cut.h"
#include "probe/media_info.h"
#include "subs/chapters.h"
#include "subs/subtitles.h"
#include "tools/run.h"
#include "util/result.h"

namespace reel {

struct RunState {
    RunState(const PipelineOptions& opts, std::filesystem::path work_folder, std::vector<std::string>& warning_list)
        : options(opts), work(std::move(work_folder)), warnings(warning_list) {}

    const PipelineOptions& options;
    std::filesystem::path work;
    std::vector<std::string>& warnings;

    MediaInfo info;        // the movie as the user gave it
    MediaInfo sourceInfo;  // the file the tools read: the movie or its remuxed copy
    VideoStreamInfo video;
    double fps = 0;
    SnappedGroups groups;

    std::string source;  // the movie, or the remuxed copy
    // Where the picture and each sound track come from now; the stages that
    // change a track replace its carrier.
    Carriers carriers;
    Timeline timeline;

    std::vector<AppliedEdit> applied;
    double secondsEncoded = 0;
    SubtitleArgs subtitleArgs;
    ChapterArgs chapterArgs;

    // Asked of ffmpeg once per run, before the first card.
    DrawtextForm drawtext_form(const RunContext& ctx);
    // True once remove or card edits have moved the timeline.
    bool timeline_moves() const { return !groups.cut.empty(); }
    // Nearest keyframe on `file`, limited by the movie's duration.
    KeyframeLookup keyframes_on(const RunContext& ctx, std::string file) const;
    GapContext gap_context(const RunContext& ctx, std::string file) const;
    // A card of `frames` frames in the movie's picture format, written to the
    // work folder as `name`; without sound unless the caller adds it.
    CardSpec card_spec(const std::string& text, const std::string& name, std::int64_t frames) const;
    std::filesystem::path in_work(const std::string& name) const { return work / name; }

private:
    std::optional<DrawtextForm> drawtext_;
};

// One reassembly of every sound track: the stretches each track is cut into
// (built from the track's packet length, which decides where a mute must start
// so that no syllable of it is heard) and the silence added for cards. The
// sound carriers become the files "{name}-{k}.mka" of the work folder.
struct AudioRebuild {
    std::string name;
    std::function<std::vector<AudioStretch>(double frame_seconds)> stretches;
    std::vector<SilenceSlot> silence;
};
// Runs within the slice [from, to] of the current stage; returns the seconds of
// silence one track received.
Result<double> rebuild_audio(RunContext& ctx, RunState& run, const AudioRebuild& rebuild, double from, double to);

// A file of the joined picture as mkvmerge sees it (its first frame and end);
// the caller sets its position.
Result<VideoPiece> measure_piece(const RunContext& ctx, const std::filesystem::path& file);
// Where the first frame of a piece cut from its carrier at `range_start` lands
// when that moment goes to `output_start`: a piece cut at a keyframe starts
// with that keyframe, a piece from the very start of the carrier with its
// first frame, wherever that sits.
double first_frame_position(double range_start, double output_start, const VideoPiece& piece);

// Runs a progress tool run within the slice [from, to] of the current stage.
Result<void> run_mkvmerge_slice(RunContext& ctx, const std::vector<std::string>& args, double from, double to);
// Renders `spec` within the slice [from, to] of the current stage and counts
// its frames as encoded.
Result<void> render_card(RunContext& ctx, RunState& run, const CardSpec& spec, double from, double to);

Result<void> run_mute_stage(RunContext& ctx, RunState& run);
Result<void> run_overlay_stage(RunContext& ctx, RunState& run);
// "split", "cards" and "join".
Result<void> run_cut_stages(RunContext& ctx, RunState& run);
Result<void> run_mux_stage(RunContext& ctx, RunState& run);
Result<void> run_mp4_stage(RunContext& ctx, RunState& run);

}  // namespace reel
