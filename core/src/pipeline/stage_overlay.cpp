// Stage "overlay": each text range is replaced by a text card lasting exactly
// as long as the pictures it covers. The picture alone is cut around the text
// ranges and the pieces are appended again, every one at its own time, by the
// final mux; when a cut at keyframes follows, its split does this instead.
// Exact cuts need the overlaid picture as one file ("video.mkv") to find
// their frames in. The sound does not pass through here.
#include <algorithm>

#include <fmt/format.h>

#include "cards/card.h"
#include "pipeline/commands.h"
#include "pipeline/progress.h"
#include "pipeline/run_state.h"
#include "pipeline/stage_args.h"
#include "pipeline/video_cut.h"
#include "probe/matroska.h"
#include "util/files.h"

namespace reel {

namespace {

// The card for text edit `number`. Exact cuts: it takes the place of exactly
// the pictures it covers (none: no frames). At keyframes: frames by time, not
// by count, since a phone's variable frame rate would otherwise make the card
// shorter or longer than what it covers.
CardSpec text_card(const RunInputs& in, const SnappedEdit& edit, std::size_t number, const FrameIndex* index) {
    const std::int64_t frames = index ? frames_between(*index, edit.snappedStart, edit.snappedEnd)
                                      : title_card_frames(edit.snappedEnd - edit.snappedStart, in.fps);
    return in.card_spec(edit.edit.text, fmt::format("overlay-{}.mkv", number), frames);
}

}  // namespace

Result<void> run_overlay_stage(StageRun& run) {
    run.progress.begin(stages::overlay);
    const auto& text = run.in.groups.text;
    const TrackSource video = run.out.carriers.video;

    for (const auto& edit : text) {
        run.out.applied.push_back(applied_from(edit, edit.snappedEnd - edit.snappedStart));
    }
    // At keyframes, a cut that follows splits the source once for both: it
    // takes the text ranges out along with its own and makes the cards.
    if (run.in.timeline_moves() && !run.in.exact) {
        std::vector<CardSpec> specs;
        for (std::size_t i = 0; i < text.size(); ++i) specs.push_back(text_card(run.in, text[i], i, nullptr));
        run.out.textCards = std::move(specs);
        return {};
    }

    const auto cues = read_cue_keyframes(video.file, video.id);
    auto frames = run.in.frames_for_exact(run.ctx, video, text, cues);
    if (!frames) return fail(frames.error());
    const FrameIndex* index = *frames ? &**frames : nullptr;
    auto plan = plan_pieces(text, PlanKind::Text, run.in.fps, run.in.gap_context(run.ctx, video, cues, index));
    if (!plan) return fail(plan.error());

    // The cards and the stretches need the plan only: they are made beside the split.
    std::vector<std::optional<CardSpec>> specs(plan->slots.size());
    for (std::size_t i = 0; i < plan->slots.size(); ++i) {
        const auto& slot = plan->slots[i];
        if (slot.kind != PieceSlot::Kind::Card) continue;
        CardSpec spec = text_card(run.in, text[slot.index], slot.index, index);
        if (spec.frames > 0) specs[i] = std::move(spec);
    }
    std::vector<std::filesystem::path> card_files(plan->slots.size());
    auto making_cards = make_cards_beside(run, specs, card_files);
    SlotFiles encoded(plan->slots.size());
    std::int64_t encoded_frames = 0;
    auto encoding = encode_stretches_beside(run, *plan, video, "venc", encoded, encoded_frames);

    PartFiles parts;
    if (!plan->ranges.empty()) {
        auto split = split_picture(run, video, plan->ranges, run.in.in_work("vid.mkv"),
                                   run.progress.slice(0, kOverlaySplitShare));
        if (!split) return fail(split.error());
        parts = std::move(*split);
    }

    const auto card_total = static_cast<std::size_t>(std::ranges::count_if(
        plan->slots, [](const PieceSlot& s) { return s.kind == PieceSlot::Kind::Card; }));
    // The stretches and passes take the share of one card.
    const double share = (1.0 - kOverlaySplitShare - kOverlayJoinShare) / static_cast<double>(card_total + 1);
    if (encoding) {
        if (auto r = encoding->collect(); !r) return fail(r.error());
        run.out.secondsEncoded += static_cast<double>(encoded_frames) / run.in.fps;
    }
    auto files = slot_files(run, *plan, parts, std::move(encoded), kOverlaySplitShare, kOverlaySplitShare + share);
    if (!files) return fail(files.error());
    if (auto r = collect_all(making_cards); !r) return fail(r.error());

    std::vector<VideoPiece> pieces;
    std::size_t rendered = 0;
    for (std::size_t i = 0; i < plan->slots.size(); ++i) {
        const auto& slot = plan->slots[i];
        if (slot.kind == PieceSlot::Kind::Piece) {
            if (!(*files)[i]) continue;
            auto piece = measure_piece(run.ctx, *(*files)[i]);
            if (!piece) return fail(piece.error());
            // The timeline does not move here: every piece keeps its own time.
            const auto& range = plan->ranges[slot.index];
            piece->position = piece_position(range, range.start, *piece);
            pieces.push_back(*piece);
            continue;
        }
        if (slot.kind == PieceSlot::Kind::Encoded) {
            if (!(*files)[i]) continue;
            const auto& stretch = plan->stretches[slot.index];
            auto piece = placed_stretch(run.ctx, *(*files)[i], stretch, stretch.start);
            if (!piece) return fail(piece.error());
            pieces.push_back(*piece);
            continue;
        }
        ++rendered;
        if (!specs[i]) continue;
        const auto& edit = text[slot.index];
        run.out.secondsEncoded += static_cast<double>(specs[i]->frames) / run.in.fps;
        auto piece = measure_piece(run.ctx, card_files[i]);
        if (!piece) return fail(piece.error());
        // Exact cuts: the card's first picture is where the first picture it covers was.
        piece->position = index ? first_frame_from(*index, edit.snappedStart).value_or(edit.snappedStart)
                                : edit.snappedStart;
        pieces.push_back(*piece);
        run.progress.report(kOverlaySplitShare + share * static_cast<double>(rendered + 1),
                            std::string(stages::overlay.label));
    }

    // When nothing is cut afterwards, the final mux appends the pieces itself;
    // an exact cut needs one file to find its frames in and to split.
    if (!run.in.timeline_moves()) {
        run.out.carriers.use_pieces(std::move(pieces));
        return {};
    }
    const auto joined = run.in.in_work("video.mkv");
    if (auto r = run_mkvmerge(run.ctx, video_join_arguments(joined, pieces), run.progress.slice(1.0 - kOverlayJoinShare, 1.0));
        !r)
        return r;
    run.out.carriers.video = TrackSource{path_text(joined), 0};
    return {};
}

}  // namespace reel
