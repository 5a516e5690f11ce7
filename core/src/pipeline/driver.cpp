// run_pipeline: the work folder, the fixed order of the stages and the report.
#include <algorithm>
#include <system_error>

#include <fmt/format.h>

#include "pipeline/pipeline.h"
#include "pipeline/progress.h"
#include "pipeline/run_state.h"
#include "pipeline/stage_args.h"
#include "pipeline/work_folder.h"
#include "probe/keyframes.h"
#include "probe/probe.h"
#include "tools/process.h"
#include "tools/toolset.h"
#include "util/files.h"

namespace reel {

DrawtextForm RunState::drawtext_form(const RunContext& ctx) {
    if (!drawtext_) drawtext_ = detect_drawtext_form(ctx.tools.ffmpeg);
    return *drawtext_;
}

KeyframeLookup RunState::keyframes_on(const RunContext& ctx, std::string file) const {
    return [tools = ctx.tools, file = std::move(file), limit = info.duration](double t) {
        return find_keyframe_near(tools, file, t, limit);
    };
}

GapContext RunState::gap_context(const RunContext& ctx, std::string file) const {
    return GapContext{video.codec, info.duration, keyframes_on(ctx, std::move(file))};
}

CardSpec RunState::card_spec(const std::string& text, const std::string& name, std::int64_t frames) const {
    CardSpec spec;
    spec.video = video;
    spec.text = text;
    spec.style = options.cardStyle;
    spec.output = in_work(name);
    spec.workFolder = work;
    spec.frames = frames;
    return spec;
}

Result<void> run_mkvmerge_slice(RunContext& ctx, const std::vector<std::string>& args, double from, double to) {
    StageSlice slice(ctx, from, to);
    return run_mkvmerge(ctx, args, 1.0);
}

Result<void> render_card(RunContext& ctx, RunState& run, const CardSpec& spec, double from, double to) {
    auto args = card_args(spec, run.drawtext_form(ctx));
    if (!args) return fail(args.error());
    {
        StageSlice slice(ctx, from, to);
        if (auto r = run_ffmpeg(ctx, *args, spec.frames); !r) return r;
    }
    run.secondsEncoded += static_cast<double>(spec.frames) / run.fps;
    return {};
}

namespace {

// Every cut point asks for its nearest keyframe. With many edits, one listing
// of the whole source answers them all with the same results, where one
// ffprobe run per lookup would dominate the run (hundreds of edits: minutes).
// Should the listing fail, the lookups run one by one as usual.
KeyframeLookup snapping_lookup(const RunContext& ctx, const RunState& run, const std::vector<Edit>& edits) {
    const auto lookups = 2 * static_cast<std::size_t>(std::count_if(
                                 edits.begin(), edits.end(), [](const Edit& e) { return e.action != EditAction::Mute; }));
    if (whole_listing_pays_off(lookups, run.info.duration)) {
        if (auto keyframes = list_keyframes(ctx.tools, run.source)) {
            return [keyframes = std::move(*keyframes), limit = run.info.duration](double t) {
                return keyframe_near_in(keyframes, t, limit);
            };
        }
    }
    return run.keyframes_on(ctx, run.source);
}

// Stages "probe" to "snap": read the movie, check the edits, remux if needed,
// snap the cut points.
Result<void> prepare(RunContext& ctx, RunState& run) {
    begin_stage(ctx, stages::probe);
    const std::string movie = path_text(run.options.movie);
    auto info = probe_media(ctx.tools, movie);
    if (!info) return fail(info.error());
    run.info = std::move(*info);
    if (!run.info.video) return fail("The file has no video stream.");
    run.video = *run.info.video;
    run.fps = static_cast<double>(run.video.fpsNum) / static_cast<double>(run.video.fpsDen);

    auto edits = validate_edits(run.options.edits, run.info.duration, run.fps);
    if (!edits) return fail(edits.error());

    bool remux = true;
    if (remux_depends_on_start_time(run.info.container)) {
        auto start = run_capture(ctx.tools.ffprobe, start_time_query_arguments(movie));
        remux = start_time_asks_remux(start ? std::optional<std::string>(*start) : std::nullopt);
    }
    // The tools would take a movie named like "-x.mkv" for an option.
    run.source = tool_path_argument(movie);
    run.sourceInfo = run.info;
    if (remux) {
        begin_stage(ctx, stages::remux);
        for (std::size_t n = 0; n < run.info.subtitles.size(); ++n) {
            const auto& track = run.info.subtitles[n];
            if (matroska_holds_subtitle(track.codec)) continue;
            run.warnings.push_back(fmt::format(
                "Subtitle track {} ({}) is in a format Matroska cannot hold ({}) and was dropped.", n + 1,
                track.language.value_or("und"), track.codec));
        }
        const auto remuxed = run.in_work("source.mkv");
        if (auto r = run_ffmpeg(ctx, remux_arguments(run.source, run.info, remuxed), run.video.nbFrames); !r) return r;
        run.source = path_text(remuxed);
        // Stream numbers change with the copy; the tools go by the copy's.
        auto copy = probe_media(ctx.tools, run.source);
        if (!copy) return fail(copy.error());
        if (!copy->video || copy->audio.size() != run.info.audio.size())
            return fail("The movie could not be copied into Matroska with all its picture and sound.");
        run.sourceInfo = std::move(*copy);
    }
    run.carriers.video = TrackSource{run.source, run.sourceInfo.video->index};
    for (const auto& audio : run.sourceInfo.audio) run.carriers.audio.push_back(TrackSource{run.source, audio.index});

    begin_stage(ctx, stages::snap);
    auto groups = snap_edits(*edits, run.info.duration, run.fps, snapping_lookup(ctx, run, *edits));
    if (!groups) return fail(groups.error());
    run.groups = std::move(*groups);
    return {};
}

Result<void> run_subs_stage(RunContext& ctx, RunState& run) {
    begin_stage(ctx, stages::subs);
    // Mute and text edits keep every moment where it was; the mux then brings the
    // source's own subtitles and chapters along.
    if (!run.timeline_moves()) return {};
    auto subtitles = retime_subtitles(ctx, run.sourceInfo, run.source, run.timeline, run.work, run.options.container,
                                      run.warnings);
    if (!subtitles) return fail(subtitles.error());
    run.subtitleArgs = std::move(*subtitles);
    if (!run.info.chapters.empty()) {
        auto chapters = build_chapters(run.info.chapters, run.timeline, run.work);
        if (!chapters) return fail(chapters.error());
        run.chapterArgs = std::move(*chapters);
    }
    return {};
}

Result<RunReport> run_stages(RunContext& ctx, RunState& run) {
    if (auto r = prepare(ctx, run); !r) return fail(r.error());
    if (!run.groups.mute.empty()) {
        if (auto r = run_mute_stage(ctx, run); !r) return fail(r.error());
    }
    if (!run.groups.text.empty()) {
        if (auto r = run_overlay_stage(ctx, run); !r) return fail(r.error());
    }
    if (!run.groups.cut.empty()) {
        if (auto r = run_cut_stages(ctx, run); !r) return fail(r.error());
    }
    if (auto r = run_subs_stage(ctx, run); !r) return fail(r.error());
    if (auto r = run_mux_stage(ctx, run); !r) return fail(r.error());
    if (run.options.container == "mp4") {
        if (auto r = run_mp4_stage(ctx, run); !r) return fail(r.error());
    }

    // The finished file takes the output's place only now, in one rename: a
    // failed or interrupted run leaves no half-written file under the output
    // name, and a file that stood there survives until the new one is complete.
    if (auto placed = place_output(run.in_work(finished_file_name(run.options.container)), run.options.output);
        !placed)
        return fail(placed.error());

    auto written = probe_media(ctx.tools, path_text(run.options.output));
    if (!written) return fail(written.error());
    begin_stage(ctx, stages::done);

    RunReport report;
    report.output = path_text(run.options.output);
    report.duration = written->duration;
    report.originalDuration = run.info.duration;
    report.applied = std::move(run.applied);
    report.secondsEncoded = run.secondsEncoded;
    return report;
}

}  // namespace

Result<RunReport> run_pipeline(RunContext& ctx, const PipelineOptions& options, std::vector<std::string>& warnings) {
    if (auto mkvmerge = require_mkvmerge(ctx.tools); !mkvmerge) return fail(mkvmerge.error());
    // Checked before anything is created: the final mux would truncate the movie
    // while it still reads from it.
    if (output_overwrites_movie(options.output, options.movie)) return fail("the output would overwrite the movie");

    std::error_code ec;
    std::filesystem::create_directories(output_folder(options.output), ec);
    if (ec) return fail("cannot create output folder: " + ec.message());
    // A run that was killed outright could not remove its folder; this is
    // the next chance.
    remove_stale_work_folders(output_folder(options.output));
    auto created = create_work_folder(options.output, options.keepTemp);
    if (!created) return fail(created.error());
    const std::filesystem::path work = std::move(*created);

    Result<RunReport> result;
    {
        GuardedProgress guarded(ctx);
        RunState run(options, work, warnings);
        result = run_stages(ctx, run);
    }
    if (!options.keepTemp) {
        // A folder that cannot be removed is left behind silently; the run's
        // outcome does not depend on it.
        std::filesystem::remove_all(work, ec);
    }
    return result;
}

}  // namespace reel
