// Stages "mux" and "mp4": the final file, written by mkvmerge, and its MP4
// repackaging when the user asked for MP4.
#include <algorithm>

#include "pipeline/commands.h"
#include "pipeline/progress.h"
#include "pipeline/run_state.h"
#include "pipeline/stage_args.h"

namespace reel {

Result<void> run_mux_stage(RunContext& ctx, RunState& run) {
    begin_stage(ctx, stages::mux);
    MuxInputs inputs;
    inputs.target = run.in_work("final.mkv");
    inputs.title = run.info.title;
    inputs.chapterArgs = run.chapterArgs;
    inputs.joined = run.joined;
    inputs.textVideo = run.textVideo;
    inputs.mutedAudio = run.mutedAudio;
    inputs.source = run.source;
    inputs.audio = run.info.audio;
    inputs.subtitlesRebuilt = !run.groups.cut.empty();
    inputs.subtitleArgs = run.subtitleArgs;
    inputs.sourceHasSubtitlesOrChapters = !run.info.subtitles.empty() || !run.info.chapters.empty();
    return run_mkvmerge(ctx, mux_arguments(inputs), 1.0);
}

Result<void> run_mp4_stage(RunContext& ctx, RunState& run) {
    begin_stage(ctx, stages::mp4);
    const bool text_subtitles =
        std::any_of(run.info.subtitles.begin(), run.info.subtitles.end(), [](const auto& s) { return s.text; });
    return run_ffmpeg(ctx,
                      mp4_arguments(run.in_work("final.mkv"), run.in_work(finished_file_name("mp4")), text_subtitles,
                                    run.video.codec),
                      std::nullopt);
}

}  // namespace reel
