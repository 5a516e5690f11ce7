// Stage "mute": the audio is cut around the mute ranges by stream copy, each
// muted piece is replaced by encoded silence of its measured length, and the
// pieces are appended again into "audio.mkv".
#include <fmt/format.h>

#include "pipeline/commands.h"
#include "pipeline/progress.h"
#include "pipeline/run_state.h"
#include "pipeline/stage_args.h"
#include "probe/keyframes.h"
#include "util/files.h"

namespace reel {

Result<void> run_mute_stage(RunContext& ctx, RunState& run) {
    if (run.info.audio.empty()) {
        run.warnings.push_back("Mute edits were ignored because the file has no audio.");
        return {};
    }
    begin_stage(ctx, stages::mute);

    const auto pieces = plan_audio_pieces(run.groups.mute, run.info.duration);
    const auto split_output = run.in_work("aud.mkv");
    if (auto r = run_mkvmerge_slice(ctx, audio_split_arguments(split_output, pieces.pieces, run.source), 0,
                                    kMuteSplitShare);
        !r) {
        return r;
    }

    const auto parts = split_part_paths(split_output, pieces.pieces.size());
    std::vector<std::filesystem::path> join;
    std::size_t next_muted = 0;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (next_muted >= pieces.muted.size() || pieces.muted[next_muted] != i) {
            join.push_back(parts[i]);
            continue;
        }
        ++next_muted;
        // The silence takes the length the copied piece really has, which ends on
        // an audio frame rather than exactly at the requested time.
        auto seconds = mkvmerge_duration(ctx.tools, path_text(parts[i]));
        if (!seconds) return fail(seconds.error());
        const auto silence = run.in_work(fmt::format("silence-{}.mkv", i));
        auto args = silence_arguments(run.info.audio, *seconds, silence);
        if (!args) return fail(args.error());
        if (auto r = run_ffmpeg(ctx, *args, std::nullopt); !r) return r;
        run.secondsEncoded += *seconds;
        join.push_back(silence);
    }

    const auto audio = run.in_work("audio.mkv");
    if (auto r = run_mkvmerge_slice(ctx, join_arguments(audio, join), kMuteSplitShare, 1.0); !r) return r;
    run.mutedAudio = audio;

    for (const auto& edit : run.groups.mute) run.applied.push_back(applied_from(edit, std::nullopt));
    return {};
}

}  // namespace reel
