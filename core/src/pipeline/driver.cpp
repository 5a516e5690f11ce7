// run_pipeline: the work folder, the fixed order of the stages and the report.
#include <algorithm>
#include <system_error>

#include <fmt/format.h>

#include "encode/encoder.h"
#include "pipeline/audio_cut.h"
#include "pipeline/commands.h"
#include "pipeline/paths.h"
#include "pipeline/pipeline.h"
#include "pipeline/progress.h"
#include "pipeline/run_state.h"
#include "pipeline/stage_args.h"
#include "pipeline/work_folder.h"
#include "probe/matroska.h"
#include "probe/keyframes.h"
#include "probe/probe.h"
#include "subs/words.h"
#include "tools/process.h"
#include "tools/toolset.h"
#include "util/files.h"

namespace reel {

namespace {

KeyframeLookup lookup_in(std::vector<double> keyframes, double limit) {
    return [keyframes = std::move(keyframes), limit](double t) { return keyframe_near_in(keyframes, t, limit); };
}

// Each lookup lists the packets near its target.
KeyframeLookup lookup_by_listing(const RunContext& ctx, const std::string& file, double limit) {
    return [tools = ctx.tools, file, limit](double t) { return find_keyframe_near(tools, file, t, limit); };
}

}  // namespace

GapContext RunInputs::gap_context(const RunContext& ctx, const TrackSource& picture,
                                  const Result<std::vector<double>>& cues, const FrameIndex* frames) const {
    // The file's own index answers every lookup from a few kilobytes.
    // The run finds a group of pictures by the cues to copy its head. Only
    // where each packet is one picture and the pictures after the head are
    // encoded as H.264, HEVC, VP9 or MPEG-2, which start the stream anew with
    // their own parameters (MPEG-4 Part 2 from AVI may pack two pictures into
    // one).
    const bool heads = cues && (video.codec == "h264" || video.codec == "hevc" || video.codec == "vp9" || video.codec == "mpeg2video");
    return GapContext{video.codec, info.duration,
                      cues ? lookup_in(*cues, info.duration) : lookup_by_listing(ctx, picture.file, info.duration),
                      frames, heads};
}

Result<std::optional<FrameIndex>> RunInputs::frames_for_exact(const RunContext& ctx, const TrackSource& picture,
                                                               const std::vector<SnappedEdit>& edits,
                                                               const Result<std::vector<double>>& cues) const {
    if (!exact) return std::optional<FrameIndex>();
    std::vector<std::pair<double, double>> windows;
    if (cues) windows = exact_listing_windows(edits, *cues, info.duration);
    auto index = index_frames(ctx.tools, picture.file, windows);
    if (!index) return fail(index.error());
    return std::optional<FrameIndex>(std::move(*index));
}

CardSpec RunInputs::card_spec(const std::string& text, const std::string& name, std::int64_t frames) const {
    CardSpec spec;
    spec.video = video;
    spec.text = text;
    spec.style = options.cardStyle;
    spec.output = in_work(name);
    spec.workFolder = work;
    spec.frames = frames;
    return spec;
}

namespace {

// A long card's parts, encoded by one run of `card` made to encode them only,
// and played into the card's file.
Result<void> make_card_in_parts(RunContext& ctx, const CardSpec& spec, const std::vector<std::string>& card,
                                const CardRepeat& repeat, const ToolProgress& progress) {
    const auto stem = spec.workFolder / (path_text(spec.output.stem()) + "-part");
    const auto pattern = numbered_pattern(path_from_text(path_text(stem) + "-%03d.mkv"));
    if (auto r = run_ffmpeg(ctx, card_parts_arguments(spec, card, repeat, pattern),
                            repeat.head + repeat.group + repeat.tail, progress);
        !r)
        return r;
    const std::vector parts{stretch_segment(stem, 0), stretch_segment(stem, 1), stretch_segment(stem, 2)};
    const auto script = path_from_text(path_text(stem) + ".ffconcat");
    const double fps = static_cast<double>(spec.video.fpsNum) / static_cast<double>(spec.video.fpsDen);
    if (auto written = write_file(script, card_parts_script(parts, repeat, fps)); !written) return fail(written.error());
    return run_ffmpeg(ctx, concat_arguments(script, "0:v", 0, spec.output), std::nullopt);
}

}  // namespace

Result<std::filesystem::path> make_card(RunContext& ctx, const RunInputs& in, const CardSpec& spec,
                                        const ToolProgress& progress) {
    auto args = card_args(spec, in.drawtext);
    if (!args) return fail(args.error());
    // A long card's still middle is one group of pictures shown again and
    // again: encoding it once spares the encoder most of a long text card.
    if (const auto repeat = card_repeat(spec)) {
        auto made = make_card_in_parts(ctx, spec, *args, *repeat, progress);
        if (made) return spec.output;
        if (is_cancelled(ctx)) return fail(made.error());
        ctx.log("the card is encoded whole: " + made.error());
    }
    if (auto r = run_ffmpeg(ctx, *args, spec.frames, progress); !r) return fail(r.error());
    return spec.output;
}

namespace {

// Every cut point asks for its nearest keyframe. Without an index in the
// file, and with many edits, one listing of the whole source answers them all
// with the same results, where one ffprobe run per lookup would dominate the
// run (hundreds of edits: minutes). Should the listing fail, the lookups run
// one by one as usual.
KeyframeLookup snapping_lookup(const RunContext& ctx, const RunInputs& in, const std::vector<Edit>& edits) {
    const TrackSource picture{in.source, in.sourceInfo.video->index};
    if (auto cues = read_cue_keyframes(picture.file, picture.id)) return lookup_in(std::move(*cues), in.info.duration);
    const auto lookups = 2 * static_cast<std::size_t>(std::ranges::count_if(
                                 edits, [](const Edit& e) { return edit_kind(e.action).snaps; }));
    if (whole_listing_pays_off(lookups, in.info.duration)) {
        if (auto keyframes = list_keyframes(ctx.tools, in.source)) return lookup_in(std::move(*keyframes), in.info.duration);
    }
    return lookup_by_listing(ctx, picture.file, in.info.duration);
}

// Copies a movie the tools cannot cut as it is into Matroska; the run reads
// the copy from then on.
Result<void> remux_source(RunContext& ctx, StageProgress& progress, RunInputs& in, std::vector<std::string>& warnings) {
    progress.begin(stages::remux);
    for (std::size_t n = 0; n < in.info.subtitles.size(); ++n) {
        const auto& track = in.info.subtitles[n];
        if (matroska_holds_subtitle(track.codec)) continue;
        warnings.push_back(fmt::format(
            "Subtitle track {} ({}) is in a format Matroska cannot hold ({}) and was dropped.", n + 1,
            track.language.value_or("und"), track.codec));
    }
    const auto remuxed = in.in_work("source.mkv");
    if (auto r = run_ffmpeg(ctx, remux_arguments(in.source, in.info, remuxed), in.video.nbFrames,
                            progress.slice(0, 1));
        !r)
        return r;
    in.source = path_text(remuxed);
    // Stream numbers change with the copy; the tools go by the copy's.
    auto copy = probe_media(ctx.tools, in.source);
    if (!copy) return fail(copy.error());
    if (!copy->video || copy->audio.size() != in.info.audio.size())
        return fail("The movie could not be copied into Matroska with all its picture and sound.");
    in.sourceInfo = std::move(*copy);
    return {};
}

// The cues of the words track that hold a listed word, read from the movie
// as the user gave it (its track numbers are the ones the user sees).
struct WordMatches {
    std::size_t track = 0;  // 1-based among the subtitle tracks
    std::vector<WordCue> cues;
};

Result<WordMatches> find_words(const RunContext& ctx, const RunInputs& in) {
    auto chosen = words_track(in.info.subtitles, in.options.wordsTrack);
    if (!chosen) return fail(chosen.error());
    const std::size_t number = *chosen + 1;
    auto text = extract_text_track(ctx.tools, tool_path_argument(path_text(in.options.movie)),
                                   in.info.subtitles[*chosen]);
    if (!text)
        return fail(fmt::format("Subtitle track {} could not be read for the listed words: {}", number, text.error()));
    const WordScan scan = text->ass ? scan_ass_words(text->text, *in.words) : scan_srt_words(text->text, *in.words);
    return WordMatches{.track = number, .cues = scan.cues};
}

// Stages "probe" to "snap": read the word list and the movie, check the edits,
// find the listed words, remux if needed, snap the cut points.
Result<void> prepare(RunContext& ctx, StageProgress& progress, RunInputs& in, std::vector<std::string>& warnings) {
    progress.begin(stages::probe);
    if (in.options.muteWords) {
        auto words = read_word_list(path_text(*in.options.muteWords));
        if (!words) return fail(words.error());
        in.words = std::move(*words);
    }
    const std::string movie = path_text(in.options.movie);
    auto info = probe_media(ctx.tools, movie);
    if (!info) return fail(info.error());
    in.info = std::move(*info);
    if (!in.info.video) return fail("The file has no video stream.");
    in.video = *in.info.video;
    in.fps = static_cast<double>(in.video.fpsNum) / static_cast<double>(in.video.fpsDen);

    std::vector<Edit> word_mutes;
    if (in.words) {
        auto matches = find_words(ctx, in);
        if (!matches) return fail(matches.error());
        word_mutes = word_mute_edits(std::move(matches->cues));
        if (word_mutes.empty())
            warnings.push_back(fmt::format("No cue of subtitle track {} holds a listed word.", matches->track));
    }
    // A word list may stand alone; without one, or beside edits of the user's,
    // the usual checks apply.
    const bool words_alone = in.words && std::ranges::none_of(in.options.edits, &Edit::enabled);
    if (words_alone && word_mutes.empty())
        return fail("No subtitle cue holds a listed word, and there are no other edits to apply.");
    auto edits = words_alone ? Result<std::vector<Edit>>(std::vector<Edit>{})
                           : validate_edits(in.options.edits, in.info.duration, in.fps);
    if (!edits) return fail(edits.error());
    if (std::ranges::any_of(*edits, [](const Edit& e) { return edit_kind(e.action).takesText; }))
        in.drawtext = detect_drawtext_form(ctx.tools.ffmpeg);

    bool remux = true;
    if (remux_depends_on_start_time(in.info.container)) remux = start_time_asks_remux(in.info.startTime);
    // The tools would take a movie named like "-x.mkv" for an option.
    in.source = tool_path_argument(movie);
    in.sourceInfo = in.info;
    if (remux) {
        if (auto r = remux_source(ctx, progress, in, warnings); !r) return r;
    }

    if (in.options.exact) {
        // Exact cuts encode pictures again; a codec no card can be encoded in
        // is cut at keyframes as before.
        // The card settings with a quicker preset: stretches are many and
        // short, and at CRF 18 they stay close to the source all the same.
        if (auto settings = match_encoder(in.video, "veryfast", Pictures::Source)) {
            in.exact = true;
            in.stretchSettings = std::move(*settings);
        } else {
            warnings.push_back(fmt::format(
                "The video is encoded with '{}', which cannot be encoded again; the cuts were moved to the nearest "
                "keyframes instead of the exact frames.",
                in.video.codec));
        }
    }

    progress.begin(stages::snap);
    if (in.exact) {
        auto groups = snap_edits(*edits, in.info.duration, in.fps, {}, true);
        if (!groups) return fail(groups.error());
        in.groups = std::move(*groups);
        return {};
    }
    auto groups = snap_edits(*edits, in.info.duration, in.fps, snapping_lookup(ctx, in, *edits));
    if (!groups) return fail(groups.error());
    in.groups = std::move(*groups);
    add_word_mutes(in.groups, word_mutes, in.info.duration);
    return {};
}

}  // namespace

Result<void> run_subs_stage(StageRun& run) {
    run.progress.begin(stages::subs);
    // Mute and text edits keep every moment where it was; the mux then brings the
    // source's own chapters along, and its subtitles unless words are masked.
    if (!run.in.rebuilds_subtitles()) return {};
    const SubtitleExtras extras{.words = run.in.words ? &*run.in.words : nullptr,
                                .stillTimeline = !run.in.timeline_moves(),
                                .extracted = run.out.subtitleExtracts ? &*run.out.subtitleExtracts : nullptr,
                                .linked = run.out.carriers.linked ? &run.out.carriers.linked->cut : nullptr};
    auto subtitles = retime_subtitles(run.ctx.tools, run.in.sourceInfo, run.in.source, run.out.timeline, run.in.work,
                                      run.in.options.container.holdsPictureSubtitles, run.out.warnings, extras);
    if (!subtitles) return fail(subtitles.error());
    run.out.subtitleArgs = std::move(*subtitles);
    if (run.in.timeline_moves() && !run.in.info.chapters.empty()) {
        auto chapters = build_chapters(run.in.info.chapters, run.out.timeline, run.in.work);
        if (!chapters) return fail(chapters.error());
        run.out.chapterArgs = std::move(*chapters);
    }
    return {};
}

namespace {

// The length of the written file: a Matroska file states it in its header,
// which saves a tool start; anything else is asked of ffprobe.
Result<double> written_duration(const RunContext& ctx, const std::filesystem::path& file) {
    if (auto head = read_matroska_head(path_text(file)); head && head->duration && *head->duration > 0)
        return *head->duration;
    auto written = probe_media(ctx.tools, path_text(file));
    if (!written) return fail(written.error());
    return written->duration;
}

Result<RunReport> run_stages(RunContext& ctx, StageProgress& progress, RunInputs& in, RunProducts& out) {
    if (auto r = prepare(ctx, progress, in, out.warnings); !r) return fail(r.error());
    out.carriers.video = TrackSource{in.source, in.sourceInfo.video->index};
    for (const auto& audio : in.sourceInfo.audio) out.carriers.audio.push_back(TrackSource{in.source, audio.index});
    out.timeline = Timeline::identity(in.info.duration);

    StageRun run{ctx, progress, in, out};
    // Each stage runs only when it has something to do; the order is fixed.
    const std::pair<bool, StageRunner> order[] = {
        {!in.groups.mute.empty(), run_mute_stage},
        {!in.groups.text.empty(), run_overlay_stage},
        {!in.groups.cut.empty(), run_cut_stages},
        {true, run_subs_stage},
        {true, run_mux_stage},
        {in.options.container.repackage != nullptr, in.options.container.repackage},
    };
    for (const auto& [needed, stage] : order) {
        if (!needed) continue;
        if (auto r = stage(run); !r) return fail(r.error());
    }

    // The finished file takes the output's place only now, in one rename: a
    // failed or interrupted run leaves no half-written file under the output
    // name, and a file that stood there survives until the new one is complete.
    if (auto placed = place_output(in.in_work(std::string(in.options.container.finishedFile)), in.options.output);
        !placed)
        return fail(placed.error());

    auto written = written_duration(ctx, in.options.output);
    if (!written) return fail(written.error());
    progress.begin(stages::done);

    RunReport report;
    report.output = path_text(in.options.output);
    report.duration = *written;
    report.originalDuration = in.info.duration;
    report.applied = std::move(out.applied);
    report.secondsEncoded = out.secondsEncoded;
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
        StageProgress progress(ctx.sink);
        RunInputs in{.options = options, .work = work, .info = {}, .sourceInfo = {}, .source = {}, .video = {},
                     .fps = 0, .groups = {}, .drawtext = DrawtextForm::PerLine, .words = {}, .exact = false,
                     .stretchSettings = {}};
        RunProducts out(warnings);
        result = run_stages(ctx, progress, in, out);
    }
    if (!options.keepTemp) {
        // A folder that cannot be removed is left behind silently; the run's
        // outcome does not depend on it.
        std::filesystem::remove_all(work, ec);
    }
    return result;
}

}  // namespace reel
