// Stages "mux" and "mp4": the final file, written by mkvmerge from the
// carriers of picture and sound, and its MP4 repackaging when the user asked
// for MP4.
#include <algorithm>

#include <fmt/format.h>

#include "pipeline/commands.h"
#include "pipeline/progress.h"
#include "pipeline/run_state.h"
#include "pipeline/stage_args.h"
#include "probe/probe.h"
#include "subs/subtitles.h"
#include "util/files.h"

namespace reel {

namespace {

std::vector<MuxTrack> mux_tracks(RunState& run) {
    std::vector<MuxTrack> tracks;
    const VideoStreamInfo& video = run.video;
    tracks.push_back({run.carriers.video, true, run.sourceInfo.video ? run.sourceInfo.video->index : 0,
                      video.language, video.title, video.isDefault, video.forced, video.rotation});
    for (std::size_t k = 0; k < run.info.audio.size(); ++k) {
        const AudioStreamInfo& audio = run.info.audio[k];
        const std::uint64_t order = k < run.sourceInfo.audio.size() ? run.sourceInfo.audio[k].index : audio.index;
        tracks.push_back({run.carriers.audio[k], false, order, audio.language, audio.title, audio.isDefault,
                          audio.forced, std::nullopt});
    }
    // Further picture tracks (a second angle, a sign-language picture) have no
    // cards and no cuts; they stay while the timeline stands still.
    const auto& other = run.sourceInfo.otherVideo;
    for (std::size_t n = 0; n < other.size(); ++n) {
        if (run.timeline_moves()) {
            run.warnings.push_back(fmt::format(
                "Video track {} was dropped because the timeline changed; only the main picture is cut.", n + 2));
            continue;
        }
        tracks.push_back({TrackSource{run.source, other[n]}, true, other[n], std::nullopt, std::nullopt, false, false,
                          std::nullopt, true});
    }
    return tracks;
}

}  // namespace

Result<void> run_mux_stage(RunContext& ctx, RunState& run) {
    begin_stage(ctx, stages::mux);
    MuxInputs inputs;
    inputs.target = run.in_work("final.mkv");
    inputs.title = run.info.title;
    inputs.chapterArgs = run.chapterArgs;
    inputs.tracks = mux_tracks(run);
    inputs.subtitleArgs = run.subtitleArgs;
    inputs.source = run.source;
    inputs.sourceSubtitlesAndChapters = !run.timeline_moves();
    if (auto r = run_mkvmerge(ctx, mux_arguments(inputs), 1.0); !r) return r;

    // mkvmerge stamps the file with the time of muxing; the edited movie keeps
    // the day it was made.
    if (run.info.creationTime && ctx.tools.mkvpropedit) {
        if (const auto date = matroska_date(*run.info.creationTime)) {
            if (auto r = run_capture(*ctx.tools.mkvpropedit, date_arguments(inputs.target, *date)); !r)
                return fail(r.error());
        }
    }
    return {};
}

Result<void> run_mp4_stage(RunContext& ctx, RunState& run) {
    begin_stage(ctx, stages::mp4);
    const auto final_mkv = run.in_work("final.mkv");
    auto written = probe_media(ctx.tools, path_text(final_mkv));
    if (!written) return fail(written.error());
    std::vector<std::size_t> text_tracks;
    for (std::size_t n = 0; n < written->subtitles.size(); ++n) {
        const auto& track = written->subtitles[n];
        const std::string language = track.language.value_or("und");
        if (!track.text) {
            run.warnings.push_back(left_out_of_mp4_warning(n + 1, track));
            continue;
        }
        if (track.codec == "ass" || track.codec == "ssa")
            run.warnings.push_back(fmt::format(
                "Subtitle track {} ({}) keeps its text only: MP4 cannot hold its ASS styling.", n + 1, language));
        text_tracks.push_back(n);
    }
    return run_ffmpeg(ctx,
                      mp4_arguments(final_mkv, run.in_work(finished_file_name("mp4")), text_tracks, run.video.codec,
                                    run.info.creationTime),
                      std::nullopt);
}

}  // namespace reel
