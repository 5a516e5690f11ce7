// Stages "split", "cards" and "join": the movie is cut at the kept ranges, a
// title card is rendered for every card edit, every piece is measured into the
// timeline, and everything is appended into "va.mkv".
#include <algorithm>

#include <fmt/format.h>

#include "cards/card.h"
#include "pipeline/commands.h"
#include "pipeline/progress.h"
#include "pipeline/run_state.h"
#include "pipeline/stage_args.h"
#include "probe/keyframes.h"
#include "util/files.h"

namespace reel {

Result<std::filesystem::path> bitstream_pass(RunContext& ctx, const VideoStreamInfo& video,
                                             const std::filesystem::path& piece) {
    const auto filter = annexb_filter(video.codec);
    if (!filter) return piece;
    const auto output = bitstream_pass_path(piece);
    if (auto r = run_ffmpeg(ctx, bitstream_pass_arguments(piece, *filter, output), std::nullopt); !r) {
        return fail(r.error());
    }
    return output;
}

namespace {

constexpr const char* kCardsLabel = "Rendering title cards";

Result<CutPlan> run_split(RunContext& ctx, RunState& run) {
    begin_stage(ctx, stages::split);
    // Text cards are already in "video.mkv"; the cut goes through them.
    const std::string split_video = run.textVideo ? path_text(*run.textVideo) : run.source;
    auto plan = plan_pieces(run.groups.cut, PlanKind::Cut, run.fps, run.gap_context(ctx, split_video));
    if (!plan) return fail(plan.error());
    if (plan->ranges.empty()) return fail("Everything would be removed; nothing left to write.");

    SplitInputs inputs{run.source, run.textVideo, run.mutedAudio, !run.info.audio.empty()};
    if (auto r = run_mkvmerge(ctx, cut_split_arguments(run.in_work("seg.mkv"), plan->ranges, inputs), 1.0); !r) {
        return fail(r.error());
    }
    return plan;
}

struct Piece {
    std::filesystem::path file;
    TimelineSegment segment;
};

Result<Piece> measured(RunContext& ctx, std::filesystem::path file, TimelineSegment segment) {
    auto length = mkvmerge_duration(ctx.tools, path_text(file));
    if (!length) return fail(length.error());
    segment.length = *length;
    return Piece{std::move(file), segment};
}

Result<Piece> render_title_card(RunContext& ctx, RunState& run, std::size_t index, double from, double to) {
    const auto& edit = run.groups.cut[index];
    // validate_edits has made sure a fixed card length gives a usable count.
    const std::int64_t frames = edit.edit.match
                                    ? title_card_frames(edit.snappedEnd - edit.snappedStart, run.fps)
                                    : fixed_card_frames(edit.edit.card_seconds, run.fps).value_or(1);
    CardSpec spec = run.card_spec(edit.edit.text, fmt::format("card-{}.mkv", index), frames);
    spec.audio = run.info.audio;
    if (auto r = render_card(ctx, run, spec, from, to); !r) return fail(r.error());
    report_stage_progress(ctx, to, kCardsLabel);

    const double seconds = static_cast<double>(frames) / run.fps;
    auto file = bitstream_pass(ctx, run.video, spec.output);
    if (!file) return fail(file.error());
    auto piece = measured(ctx, *file, TimelineSegment{true, 0, 0, 0});
    if (!piece) return piece;
    run.applied.push_back(applied_from(edit, seconds));
    return piece;
}

}  // namespace

Result<void> run_cut_stages(RunContext& ctx, RunState& run) {
    auto plan = run_split(ctx, run);
    if (!plan) return fail(plan.error());

    const auto parts = split_part_paths(run.in_work("seg.mkv"), plan->ranges.size());
    begin_stage(ctx, stages::cards);
    const auto total = static_cast<std::size_t>(std::count_if(
        plan->slots.begin(), plan->slots.end(), [](const PieceSlot& s) { return s.kind == PieceSlot::Kind::Card; }));
    const double card_count = static_cast<double>(std::max<std::size_t>(total, 1));

    std::vector<TimelineSegment> segments;
    std::vector<std::filesystem::path> join;
    std::size_t rendered = 0;
    for (const auto& slot : plan->slots) {
        Result<Piece> piece;
        if (slot.kind == PieceSlot::Kind::Piece) {
            const auto& range = plan->ranges[slot.index];
            auto file = slot.needsBitstreamPass ? bitstream_pass(ctx, run.video, parts[slot.index])
                                                : Result<std::filesystem::path>(parts[slot.index]);
            if (!file) return fail(file.error());
            piece = measured(ctx, *file,
                             TimelineSegment{false, range.start, range.end.value_or(run.info.duration), 0});
        } else {
            piece = render_title_card(ctx, run, slot.index, rendered / card_count, (rendered + 1) / card_count);
            ++rendered;
        }
        if (!piece) return fail(piece.error());
        segments.push_back(piece->segment);
        join.push_back(piece->file);
    }
    for (const auto& edit : run.groups.cut) {
        if (edit.edit.action == EditAction::Remove) run.applied.push_back(applied_from(edit, std::nullopt));
    }
    run.timeline = Timeline::from_segments(std::move(segments));

    begin_stage(ctx, stages::join);
    const auto joined = run.in_work("va.mkv");
    if (auto r = run_mkvmerge(ctx, join_arguments(joined, join), 1.0); !r) return r;
    run.joined = joined;
    return {};
}

}  // namespace reel
