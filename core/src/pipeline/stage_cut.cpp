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
#include "util/files.h"

namespace reel {

Result<VideoPiece> measure_piece(const RunContext& ctx, const std::filesystem::path& file) {
    auto extent = mkvmerge_extent(ctx.tools, path_text(file));
    if (!extent) return fail(extent.error());
    return VideoPiece{file, 0, extent->firstVideo, extent->end};
}

double first_frame_position(double range_start, double output_start, const VideoPiece& piece) {
    return range_start > 0 ? output_start : output_start + piece.firstFrame;
}

double piece_position(const PieceRange& range, double output_start, const VideoPiece& piece) {
    return first_frame_position(range.start, output_start, piece) + (range.picturesStart.value_or(range.start) - range.start);
}

Result<VideoPiece> copied_piece(StageRun& run, const std::filesystem::path& part, const PieceSlot& slot) {
    auto file = piece_pass(run.ctx, run.in.video, part, slot.needsBitstreamPass, slot.dropLeading);
    if (!file) return fail(file.error());
    return measure_piece(run.ctx, *file);
}

Result<std::optional<VideoPiece>> encode_stretch(StageRun& run, const TrackSource& carrier,
                                                 const EncodedStretch& stretch, const std::string& name,
                                                 double position, double from, double to) {
    if (stretch.frames == 0) return std::optional<VideoPiece>();
    const auto output = run.in.in_work(name);
    if (auto r = run_ffmpeg(run.ctx, stretch_arguments(carrier.file, carrier.id, stretch, run.in.stretchSettings, output),
                            stretch.frames, run.progress.slice(from, to));
        !r)
        return fail(r.error());
    run.out.secondsEncoded += static_cast<double>(stretch.frames) / run.in.fps;
    auto file = bitstream_pass(run.ctx, run.in.video, output);
    if (!file) return fail(file.error());
    auto piece = measure_piece(run.ctx, *file);
    if (!piece) return fail(piece.error());
    piece->position = position + (stretch.firstFrame - stretch.start);
    return std::optional<VideoPiece>(*piece);
}

namespace {

bool is_encoded(const PieceSlot& slot) { return slot.kind != PieceSlot::Kind::Piece; }

}  // namespace

Result<void> run_cut_stages(StageRun& run) {
    run.progress.begin(stages::split);
    const auto& cut = run.in.groups.cut;
    const double fps = run.in.fps;
    const TrackSource video = run.out.carriers.video;
    auto frames = run.in.frames_for_exact(run.ctx, video.file);
    if (!frames) return fail(frames.error());
    auto plan = plan_pieces(cut, PlanKind::Cut, fps,
                            run.in.gap_context(run.ctx, video.file, *frames ? &**frames : nullptr));
    if (!plan) return fail(plan.error());
    const bool keeps_pictures = !plan->ranges.empty() || std::ranges::any_of(plan->stretches, [](const EncodedStretch& s) {
        return s.frames > 0;
    });
    if (!keeps_pictures) return fail("Everything would be removed; nothing left to write.");
    const CutLayout layout = layout_cut(*plan, cut, fps, run.in.info.duration);

    const auto split_output = run.in.in_work("seg.mkv");
    std::vector<std::filesystem::path> parts;
    if (!plan->ranges.empty()) {
        if (auto r = run_mkvmerge(run.ctx, video_split_arguments(split_output, plan->ranges, video),
                                  run.progress.slice(0, 1));
            !r)
            return fail(r.error());
        parts = split_part_paths(split_output, plan->ranges.size());
    }

    run.progress.begin(stages::cards);
    const auto total = static_cast<std::size_t>(std::ranges::count_if(plan->slots, is_encoded));
    const double encoded_count = static_cast<double>(std::max<std::size_t>(total, 1));

    std::vector<VideoPiece> pieces;
    std::size_t rendered = 0;
    for (std::size_t i = 0; i < plan->slots.size(); ++i) {
        const auto& slot = plan->slots[i];
        if (slot.kind == PieceSlot::Kind::Piece) {
            auto piece = copied_piece(run, parts[slot.index], slot);
            if (!piece) return fail(piece.error());
            piece->position = piece_position(plan->ranges[slot.index], layout.slotPositions[i], *piece);
            pieces.push_back(*piece);
            continue;
        }
        const double from = static_cast<double>(rendered) / encoded_count;
        const double to = static_cast<double>(rendered + 1) / encoded_count;
        ++rendered;
        if (slot.kind == PieceSlot::Kind::Encoded) {
            auto piece = encode_stretch(run, video, plan->stretches[slot.index], fmt::format("enc-{}.mkv", slot.index),
                                        layout.slotPositions[i], from, to);
            if (!piece) return fail(piece.error());
            if (*piece) pieces.push_back(**piece);
            run.progress.report(to, std::string(stages::cards.label));
            continue;
        }
        const auto& edit = cut[slot.index];
        const std::int64_t card_frames = layout.cardFrames[i];
        const CardSpec spec = run.in.card_spec(edit.edit.text, fmt::format("card-{}.mkv", slot.index), card_frames);
        if (auto r = render_card(run, spec, from, to); !r) return fail(r.error());
        run.progress.report(to, std::string(stages::cards.label));
        auto file = bitstream_pass(run.ctx, run.in.video, spec.output);
        if (!file) return fail(file.error());
        auto piece = measure_piece(run.ctx, *file);
        if (!piece) return fail(piece.error());
        piece->position = layout.slotPositions[i];
        pieces.push_back(*piece);
        run.out.applied.push_back(applied_from(edit, static_cast<double>(card_frames) / fps));
    }
    for (const auto& edit : cut) {
        if (!edit_kind(edit.edit.action).takesText) run.out.applied.push_back(applied_from(edit, std::nullopt));
    }
    run.out.timeline = layout.timeline;

    run.progress.begin(stages::join);
    const bool has_audio = !run.in.info.audio.empty();
    const auto joined = run.in.in_work("va.mkv");
    if (auto r = run_mkvmerge(run.ctx, video_join_arguments(joined, pieces), run.progress.slice(0, has_audio ? 0.5 : 1.0));
        !r)
        return r;
    run.out.carriers.video = TrackSource{path_text(joined), 0};
    if (has_audio) {
        AudioRebuild rebuild{"cut",
                             [&layout](double frame) { return straddle_by_halves(layout.stretches, frame); },
                             layout.silence};
        if (auto r = rebuild_audio(run, rebuild, 0.5, 1.0); !r) return fail(r.error());
    }
    return {};
}

}  // namespace reel
