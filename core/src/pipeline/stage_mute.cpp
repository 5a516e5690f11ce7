// Stage "mute": every sound track is cut around the mute ranges by stream copy
// and each muted stretch is replaced by silence encoded like the track, with
// every kept packet at its own time.
#include "pipeline/run_state.h"

namespace reel {

Result<void> run_mute_stage(StageRun& run) {
    const auto& mute = run.in.groups.mute;
    if (run.in.info.audio.empty()) {
        run.out.warnings.push_back("Mute edits were ignored because the file has no audio.");
        return {};
    }
    run.progress.begin(stages::mute);

    if (!run.in.mutes_join_the_cut()) {
        const auto mutes = run.in.mute_ranges();
        AudioRebuild rebuild{"muted", [&mutes](double frame_seconds) { return mute_stretches(mutes, frame_seconds); }, {}};
        auto silence = rebuild_audio(run, rebuild, 0.0, 1.0);
        if (!silence) return fail(silence.error());
        run.out.secondsEncoded += *silence;
    }

    for (const auto& edit : mute) run.out.applied.push_back(applied_from(edit, std::nullopt));
    return {};
}

}  // namespace reel
