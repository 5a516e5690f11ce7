// Stages "mux" and "mp4": the final file, written from the carriers of
// picture and sound by the run itself or by mkvmerge, and its MP4 repackaging
// when the user asked for MP4.
#include <algorithm>

#include <fmt/format.h>

#include "pipeline/commands.h"
#include "pipeline/final_mux.h"
#include "pipeline/progress.h"
#include "pipeline/run_state.h"
#include "pipeline/stage_args.h"
#include "probe/probe.h"
#include "subs/subtitles.h"
#include "util/files.h"

namespace reel {

namespace {

std::vector<MuxTrack> mux_tracks(const RunInputs& in, RunProducts& out) {
    std::vector<MuxTrack> tracks;
    const VideoStreamInfo& video = in.video;
    tracks.push_back({out.carriers.video, true, in.sourceInfo.video ? in.sourceInfo.video->index : 0, video.language,
                      video.title, video.isDefault, video.forced, video.rotation});
    for (std::size_t k = 0; k < in.info.audio.size(); ++k) {
        const AudioStreamInfo& audio = in.info.audio[k];
        const std::uint64_t order = k < in.sourceInfo.audio.size() ? in.sourceInfo.audio[k].index : audio.index;
        tracks.push_back({out.carriers.audio[k], false, order, audio.language, audio.title, audio.isDefault,
                          audio.forced, std::nullopt});
    }
    // Further picture tracks (a second angle, a sign-language picture) have no
    // cards and no cuts; they stay while the timeline stands still.
    const auto& other = in.sourceInfo.otherVideo;
    for (std::size_t n = 0; n < other.size(); ++n) {
        if (in.timeline_moves()) {
            out.warnings.push_back(fmt::format(
                "Video track {} was dropped because the timeline changed; only the main picture is cut.", n + 2));
            continue;
        }
        tracks.push_back({TrackSource{in.source, other[n]}, true, other[n], std::nullopt, std::nullopt, false, false,
                          std::nullopt, true});
    }
    return tracks;
}

// The run's own writer where it takes the tracks, else mkvmerge.
Result<void> write_final_file(StageRun& run, const MuxInputs& inputs) {
    const RunInputs& in = run.in;
    const auto subtitles = subrip_tracks(inputs.subtitleArgs);
    const bool source_subtitles = inputs.sourceSubtitles && !in.sourceInfo.subtitles.empty();
    if (subtitles && own_mux_fits(inputs, *subtitles, source_subtitles)) {
        std::vector<KeptChapter> chapters;
        if (!inputs.chapterArgs.empty()) chapters = kept_chapters(in.info.chapters, run.out.timeline);
        auto own = write_final_matroska(run.ctx, inputs, *subtitles, chapters, run.progress.slice(0, 1),
                                        run.out.timeline.length());
        if (own || is_cancelled(run.ctx)) return own;
        run.ctx.log("mkvmerge writes the file: " + own.error());
    }
    return run_mkvmerge(run.ctx, mux_arguments(inputs), run.progress.slice(0, 1));
}

}  // namespace

Result<void> run_mux_stage(StageRun& run) {
    run.progress.begin(stages::mux);
    const RunInputs& in = run.in;
    MuxInputs inputs;
    inputs.target = in.in_work("final.mkv");
    inputs.title = in.info.title;
    inputs.chapterArgs = run.out.chapterArgs;
    inputs.tracks = mux_tracks(in, run.out);
    inputs.videoPieces = run.out.carriers.videoPieces;
    inputs.subtitleArgs = run.out.subtitleArgs;
    inputs.source = in.source;
    inputs.sourceSubtitles = !in.rebuilds_subtitles();
    inputs.sourceChapters = !in.timeline_moves();
    // A cut the mux makes moves chapters by mkvmerge's own reckoning, which
    // misses the edited times; they are set in the written file instead.
    std::vector<std::string> properties{path_text(inputs.target)};
    if (const auto& linked = run.out.carriers.linked) {
        inputs.splitParts = linked->parts;
        properties.insert(properties.end(), inputs.chapterArgs.begin(), inputs.chapterArgs.end());
        inputs.chapterArgs.clear();
    }
    if (auto r = write_final_file(run, inputs); !r) return r;

    // mkvmerge stamps the file with the time of muxing; the edited movie keeps
    // the day it was made.
    if (in.info.creationTime && run.ctx.tools.mkvpropedit) {
        if (const auto date = matroska_date(*in.info.creationTime)) {
            const auto edit = date_arguments(inputs.target, *date);
            properties.insert(properties.end(), edit.begin() + 1, edit.end());
        }
    }
    // A cut made by the mux needs mkvpropedit, so it is there whenever there
    // is something to set.
    if (properties.size() > 1) {
        if (auto r = run_capture(*run.ctx.tools.mkvpropedit, properties); !r) return fail(r.error());
    }
    return {};
}

Result<void> run_mp4_stage(StageRun& run) {
    run.progress.begin(stages::mp4);
    const RunInputs& in = run.in;
    const auto final_mkv = in.in_work("final.mkv");
    auto written = probe_media(run.ctx.tools, path_text(final_mkv));
    if (!written) return fail(written.error());
    std::vector<std::size_t> text_tracks;
    for (std::size_t n = 0; n < written->subtitles.size(); ++n) {
        const auto& track = written->subtitles[n];
        const std::string language = track.language.value_or("und");
        if (!track.text) {
            run.out.warnings.push_back(left_out_of_mp4_warning(n + 1, track));
            continue;
        }
        if (track.codec == "ass" || track.codec == "ssa")
            run.out.warnings.push_back(fmt::format(
                "Subtitle track {} ({}) keeps its text only: MP4 cannot hold its ASS styling.", n + 1, language));
        text_tracks.push_back(n);
    }
    const auto finished = in.in_work(std::string(mp4_container().finishedFile));
    return run_ffmpeg(run.ctx, mp4_arguments(final_mkv, finished, text_tracks, in.video.codec, in.info.creationTime),
                      std::nullopt);
}

}  // namespace reel
