// Stages "mux" and "mp4": the final file, written by mkvmerge, and its MP4
// repackaging when the user asked for MP4.
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
    // After a cut the final file holds the rebuilt tracks, which for MP4 are
    // text only (the subs stage warned about the rest); otherwise the source's own.
    const bool rebuilt = !run.groups.cut.empty();
    std::vector<bool> subtitle_is_text;
    for (std::size_t i = 0; i < run.info.subtitles.size(); ++i) {
        const SubtitleStreamInfo& track = run.info.subtitles[i];
        if (!rebuilt && !output_holds_subtitle(track, "mp4")) run.warnings.push_back(left_out_of_mp4_warning(i + 1, track));
        if (track.text || !rebuilt) subtitle_is_text.push_back(track.text);
    }
    return run_ffmpeg(ctx,
                      mp4_arguments(run.in_work("final.mkv"), run.in_work(finished_file_name("mp4")), subtitle_is_text,
                                    run.video.codec),
                      std::nullopt);
}

}  // namespace reel
