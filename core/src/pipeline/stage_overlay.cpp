// Stage "overlay": the picture alone is cut around the text ranges, each text
// range is replaced by a text card lasting exactly as long as the pictures it
// covers, and the pieces are appended again into "video.mkv", every one at its
// own time. The sound does not pass through here.
#include <algorithm>

#include <fmt/format.h>

#include "cards/card.h"
#include "pipeline/commands.h"
#include "pipeline/progress.h"
#include "pipeline/run_state.h"
#include "pipeline/stage_args.h"
#include "pipeline/video_cut.h"
#include "util/files.h"

namespace reel {

Result<void> run_overlay_stage(StageRun& run) {
    run.progress.begin(stages::overlay);
    const auto& text = run.in.groups.text;
    const TrackSource video = run.out.carriers.video;

    auto plan = plan_pieces(text, PlanKind::Text, run.in.fps, run.in.gap_context(run.ctx, video));
    if (!plan) return fail(plan.error());
    for (const auto& edit : text) {
        run.out.applied.push_back(applied_from(edit, edit.snappedEnd - edit.snappedStart));
    }

    const auto split_output = run.in.in_work("vid.mkv");
    if (auto r = run_mkvmerge(run.ctx, video_split_arguments(split_output, plan->ranges, video),
                              run.progress.slice(0, kOverlaySplitShare));
        !r)
        return r;
    const auto parts = split_part_paths(split_output, plan->ranges.size());

    const auto card_total = static_cast<std::size_t>(std::count_if(
        plan->slots.begin(), plan->slots.end(), [](const PieceSlot& s) { return s.kind == PieceSlot::Kind::Card; }));
    const double card_share = 1.0 - kOverlaySplitShare - kOverlayJoinShare;

    std::vector<VideoPiece> pieces;
    std::size_t next_part = 0;  // every slot, card or piece, takes the next part
    std::size_t rendered = 0;
    for (const auto& slot : plan->slots) {
        const auto& range = plan->ranges[next_part];
        const auto part = parts[next_part++];
        if (slot.kind == PieceSlot::Kind::Piece) {
            auto passed = slot.needsBitstreamPass ? bitstream_pass(run.ctx, run.in.video, part)
                                                  : Result<std::filesystem::path>(part);
            if (!passed) return fail(passed.error());
            auto piece = measure_piece(run.ctx, *passed);
            if (!piece) return fail(piece.error());
            // The timeline does not move here: every piece keeps its own time.
            piece->position = first_frame_position(range.start, range.start, *piece);
            pieces.push_back(*piece);
            continue;
        }

        // Frames by time, not by count: a phone's variable frame rate would
        // otherwise make the card shorter or longer than what it covers.
        const auto& edit = text[slot.index];
        const std::int64_t frames = title_card_frames(edit.snappedEnd - edit.snappedStart, run.in.fps);
        const CardSpec spec = run.in.card_spec(edit.edit.text, fmt::format("overlay-{}.mkv", slot.index), frames);
        const double from = kOverlaySplitShare + card_share * static_cast<double>(rendered) / card_total;
        const double to = kOverlaySplitShare + card_share * static_cast<double>(rendered + 1) / card_total;
        if (auto r = render_card(run, spec, from, to); !r) return r;
        ++rendered;
        auto passed = bitstream_pass(run.ctx, run.in.video, spec.output);
        if (!passed) return fail(passed.error());
        auto piece = measure_piece(run.ctx, *passed);
        if (!piece) return fail(piece.error());
        piece->position = edit.snappedStart;
        pieces.push_back(*piece);
    }

    // When nothing is cut afterwards, the final mux appends the pieces itself;
    // a cut needs one file to find its keyframes in and to split.
    if (!run.in.timeline_moves()) {
        run.out.carriers.video = TrackSource{path_text(pieces.front().file), 0};
        run.out.carriers.videoPieces = std::move(pieces);
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
