// Stages "split", "cards" and "join": the picture is cut at the kept ranges, a
// title card is rendered for every card edit, and pictures and sound are put
// back together with every piece at the place the layout gives it.
#include <algorithm>

#include <fmt/format.h>

#include "cards/card.h"
#include "pipeline/commands.h"
#include "pipeline/layout.h"
#include "pipeline/progress.h"
#include "pipeline/run_state.h"
#include "pipeline/stage_args.h"
#include "pipeline/video_cut.h"
#include "probe/keyframes.h"
#include "probe/matroska.h"
#include "util/files.h"

namespace reel {

Result<VideoPiece> measure_piece(const RunContext& ctx, const std::filesystem::path& file) {
    // Read from the piece itself where it can be: one mkvmerge start per piece
    // adds up to seconds with hundreds of edits.
    auto extent = read_matroska_extent(path_text(file), 0);
    if (!extent) extent = mkvmerge_extent(ctx.tools, path_text(file));
    if (!extent) return fail(extent.error());
    return VideoPiece{file, 0, extent->firstVideo, extent->end};
}

double first_frame_position(double range_start, double output_start, const VideoPiece& piece) {
    return range_start > 0 ? output_start : output_start + piece.firstFrame;
}

Result<void> run_cut_stages(StageRun& run) {
    run.progress.begin(stages::split);
    const auto& cut = run.in.groups.cut;
    const double fps = run.in.fps;
    const TrackSource video = run.out.carriers.video;
    auto plan = plan_pieces(cut, PlanKind::Cut, fps, run.in.gap_context(run.ctx, video));
    if (!plan) return fail(plan.error());
    if (plan->ranges.empty()) return fail("Everything would be removed; nothing left to write.");
    const CutLayout layout = layout_cut(*plan, cut, fps, run.in.info.duration);

    const auto split_output = run.in.in_work("seg.mkv");
    if (auto r = run_mkvmerge(run.ctx, video_split_arguments(split_output, plan->ranges, video), run.progress.slice(0, 1));
        !r)
        return fail(r.error());
    const auto parts = split_part_paths(split_output, plan->ranges.size());

    run.progress.begin(stages::cards);
    const auto total = static_cast<std::size_t>(std::count_if(
        plan->slots.begin(), plan->slots.end(), [](const PieceSlot& s) { return s.kind == PieceSlot::Kind::Card; }));
    const double card_count = static_cast<double>(std::max<std::size_t>(total, 1));

    std::vector<VideoPiece> pieces;
    std::size_t rendered = 0;
    for (std::size_t i = 0; i < plan->slots.size(); ++i) {
        const auto& slot = plan->slots[i];
        if (slot.kind == PieceSlot::Kind::Piece) {
            auto file = slot.needsBitstreamPass ? bitstream_pass(run.ctx, run.in.video, parts[slot.index])
                                                : Result<std::filesystem::path>(parts[slot.index]);
            if (!file) return fail(file.error());
            auto piece = measure_piece(run.ctx, *file);
            if (!piece) return fail(piece.error());
            piece->position = first_frame_position(plan->ranges[slot.index].start, layout.slotPositions[i], *piece);
            pieces.push_back(*piece);
            continue;
        }
        const auto& edit = cut[slot.index];
        const std::int64_t frames = layout.cardFrames[i];
        const CardSpec spec = run.in.card_spec(edit.edit.text, fmt::format("card-{}.mkv", slot.index), frames);
        const double from = static_cast<double>(rendered) / card_count;
        const double to = static_cast<double>(rendered + 1) / card_count;
        if (auto r = render_card(run, spec, from, to); !r) return fail(r.error());
        run.progress.report(to, std::string(stages::cards.label));
        ++rendered;
        auto file = bitstream_pass(run.ctx, run.in.video, spec.output);
        if (!file) return fail(file.error());
        auto piece = measure_piece(run.ctx, *file);
        if (!piece) return fail(piece.error());
        piece->position = layout.slotPositions[i];
        pieces.push_back(*piece);
        run.out.applied.push_back(applied_from(edit, static_cast<double>(frames) / fps));
    }
    for (const auto& edit : cut) {
        if (!edit_kind(edit.edit.action).takesText) run.out.applied.push_back(applied_from(edit, std::nullopt));
    }
    run.out.timeline = layout.timeline;

    // The pieces are appended by the final mux; only the sound is joined here.
    run.progress.begin(stages::join);
    run.out.carriers.video = TrackSource{path_text(pieces.front().file), 0};
    run.out.carriers.videoPieces = std::move(pieces);
    if (!run.in.info.audio.empty()) {
        AudioRebuild rebuild{"cut",
                             [&layout](double frame) { return straddle_by_halves(layout.stretches, frame); },
                             layout.silence};
        if (auto r = rebuild_audio(run, rebuild, 0, 1.0); !r) return fail(r.error());
    }
    return {};
}

}  // namespace reel
