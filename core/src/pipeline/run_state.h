#pragma once
// What one run carries from stage to stage, and the stage runners. Private to
// the pipeline: the front end only sees run_pipeline.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "cards/card.h"
#include "pipeline/pipeline.h"
#include "pipeline/plan.h"
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

    MediaInfo info;
    VideoStreamInfo video;
    double fps = 0;
    SnappedGroups groups;

    std::string source;                               // the movie, or the remuxed copy
    std::optional<std::filesystem::path> mutedAudio;  // "audio.mkv"
    std::optional<std::filesystem::path> textVideo;   // "video.mkv"
    std::optional<std::filesystem::path> joined;      // "va.mkv"
    Timeline timeline;

    std::vector<AppliedEdit> applied;
    double secondsEncoded = 0;
    SubtitleArgs subtitleArgs;
    ChapterArgs chapterArgs;

    // Asked of ffmpeg once per run, before the first card.
    DrawtextForm drawtext_form(const RunContext& ctx);
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
