#include "pipeline/plan.h"

#include <algorithm>
#include <cmath>
#include <map>

#include <fmt/format.h>

#include "util/numbers.h"
#include "util/text.h"

namespace reel {

namespace {

// Edits that touch within this much are not an overlap.
constexpr double kOverlapTolerance = 0.001;
// Snapped edits may overlap by this much (half a millisecond) without harm.
constexpr double kSnappedOverlapTolerance = 0.0005;
// An end this close to the end of the movie means "to the end".
constexpr double kEndThreshold = 0.05;
// A gap after a card longer than this is divided so only its head gets the pass.
constexpr double kLongGap = 8.0;
constexpr double kGapDivideAfter = 4.0;
constexpr double kGapDivideMargin = 0.5;
// Shortest title card.
constexpr double kMinCardSeconds = 0.5;

// The first keyframe after `t` (one on `t` is at it, not after).
std::vector<IndexedKeyframe>::const_iterator keyframe_after(const std::vector<IndexedKeyframe>& keys, double t) {
    return std::upper_bound(keys.begin(), keys.end(), t + kListedTimeTolerance,
                            [](double v, const IndexedKeyframe& k) { return v < k.time; });
}

bool needs_annexb(const std::string& codec) { return codec == "h264" || codec == "hevc"; }

// The piece slot for `range`; a piece that follows an encoded slot (card or
// stretch) in the join needs the Annex B form for H.264 and HEVC.
void add_piece(CutPlan& plan, PieceRange range, bool drop_leading, const GapContext& gap) {
    const bool after_encoded = !plan.slots.empty() && plan.slots.back().kind != PieceSlot::Kind::Piece;
    plan.slots.push_back({PieceSlot::Kind::Piece, plan.ranges.size(), after_encoded && needs_annexb(gap.videoCodec),
                          drop_leading});
    plan.ranges.push_back(range);
}

// A stretch with no picture in it still holds its time in the layout (and
// its sound); the stage then encodes nothing for it.
void add_stretch(CutPlan& plan, double start, double end, const FrameIndex& index) {
    plan.slots.push_back({PieceSlot::Kind::Encoded, plan.stretches.size(), false, false});
    EncodedStretch stretch{.start = start,
                           .end = end,
                           .firstFrame = first_frame_from(index, start).value_or(start),
                           .frames = frames_between(index, start, end),
                           .keyframe = std::nullopt,
                           .nextKeyframe = std::nullopt};
    const auto& keys = index.keyframes;
    const auto after = keyframe_after(keys, stretch.firstFrame);
    if (after != keys.begin()) stretch.keyframe = std::prev(after)->time;
    if (after != keys.end()) stretch.nextKeyframe = after->time;
    plan.stretches.push_back(stretch);
}

// Exact cuts: the gap's pictures from its start to the first keyframe, and
// from the last keyframe (or its leading pictures) to its end, are encoded;
// what lies between is copied. A gap without two usable keyframes is encoded
// as a whole.
void plan_exact_gap(CutPlan& plan, double gap_start, std::optional<double> gap_end, const GapContext& gap) {
    const FrameIndex& index = *gap.frames;
    const auto& keys = index.keyframes;
    const double end = gap_end.value_or(gap.duration);
    const auto at_or_after = [&keys](double t) {
        return std::lower_bound(keys.begin(), keys.end(), t - kListedTimeTolerance,
                                [](const IndexedKeyframe& k, double v) { return k.time < v; });
    };

    const bool from_start = gap_start <= kListedTimeTolerance;
    const auto first = at_or_after(gap_start);
    if (!from_start && first == keys.end()) {
        add_stretch(plan, gap_start, end, index);
        return;
    }
    const double copy_from = from_start ? 0.0 : first->time;

    std::optional<double> copy_to;
    std::optional<double> pictures_end;
    std::optional<CopyableHead> head;
    if (gap_end) {
        auto last = keyframe_after(keys, end);
        if (last == keys.begin()) {
            add_stretch(plan, gap_start, end, index);
            return;
        }
        --last;
        if (!(last->leadingFrom > copy_from + kListedTimeTolerance)) {
            add_stretch(plan, gap_start, end, index);
            return;
        }
        copy_to = last->time;
        if (last->leadingFrom < last->time - kListedTimeTolerance) pictures_end = last->leadingFrom;
        if (gap.copiesHeads && end > last->time + kListedTimeTolerance) head = copyable_head(index, *last, end);
    }

    if (copy_from > gap_start + kListedTimeTolerance) add_stretch(plan, gap_start, copy_from, index);
    const bool drop = !from_start;
    const double copied_end = pictures_end.value_or(copy_to.value_or(gap.duration));
    const bool pass = !plan.slots.empty() && plan.slots.back().kind != PieceSlot::Kind::Piece &&
                      needs_annexb(gap.videoCodec);
    bool divided = false;
    if (pass && copied_end - copy_from > kLongGap) {
        // As in plan_gap: only the head of a long piece gets the pass.
        const auto divide = std::min_element(keys.begin(), keys.end(), [&](const auto& a, const auto& b) {
            return std::abs(a.time - (copy_from + kGapDivideAfter)) < std::abs(b.time - (copy_from + kGapDivideAfter));
        });
        const double k = divide->time;
        if (copy_from + kGapDivideMargin < k && k < copied_end - kGapDivideMargin) {
            // The second part keeps the leading pictures the first one lacks.
            add_piece(plan, {copy_from, k}, drop, gap);
            plan.slots.push_back({PieceSlot::Kind::Piece, plan.ranges.size(), false, false});
            std::optional<double> first;
            if (divide->leadingFrom < k - kListedTimeTolerance) first = divide->leadingFrom;
            plan.ranges.push_back({k, copy_to, pictures_end, first});
            divided = true;
        }
    }
    if (!divided) add_piece(plan, {copy_from, copy_to, pictures_end}, drop, gap);
    double encode_from = copied_end;
    if (head) {
        add_stretch(plan, copied_end, head->until, index);
        plan.stretches.back().packets = head->packets;
        plan.stretches.back().copyFrom = *copy_to;
        encode_from = head->until;
    }
    if (gap_end && encode_from < end - kListedTimeTolerance) add_stretch(plan, encode_from, end, index);
}

}  // namespace

AppliedEdit applied_from(const SnappedEdit& snapped, std::optional<double> card_seconds) {
    AppliedEdit applied;
    applied.id = snapped.edit.id;
    applied.action = snapped.edit.action;
    applied.requestedStart = snapped.edit.start;
    applied.requestedEnd = snapped.edit.end;
    applied.actualStart = snapped.snappedStart;
    applied.actualEnd = snapped.snappedEnd;
    applied.cardSeconds = card_seconds;
    return applied;
}

std::optional<std::int64_t> fixed_card_frames(double card_seconds, double fps) {
    if (!std::isfinite(card_seconds) || !std::isfinite(fps)) return std::nullopt;
    const double product = std::max(card_seconds, kMinCardSeconds) * fps;
    // round() of anything below INT32_MAX + 0.5 stays within 32 bits.
    constexpr double limit = static_cast<double>(std::numeric_limits<std::int32_t>::max()) + 0.5;
    if (!(product < limit)) return std::nullopt;
    return std::max<std::int64_t>(round_half_away(product), 1);
}

std::int64_t title_card_frames(double seconds, double fps) {
    const double product = seconds * fps;
    // Guard the conversion; a run never comes near these bounds.
    if (!(product < 9.0e18)) return std::numeric_limits<std::int64_t>::max();
    return std::max<std::int64_t>(round_half_away(product), 1);
}

Result<std::vector<Edit>> validate_edits(const std::vector<Edit>& edits, double duration, double fps) {
    std::vector<Edit> enabled;
    for (const auto& edit : edits) {
        if (!edit.enabled) continue;
        auto resolved = resolve_frames(edit, fps);
        if (!resolved) return fail(resolved.error());
        enabled.push_back(std::move(*resolved));
    }
    if (enabled.empty()) return fail("There are no enabled edits to apply.");

    for (const auto& edit : enabled) {
        // Negated comparisons so that NaN in either end fails.
        if (!(edit.start >= 0) || !(edit.start < edit.end) || !(edit.start < duration)) {
            return fail(fmt::format("Edit {} has an invalid range ({:.3f} to {:.3f}); the movie is {:.2f} s long.",
                                    edit.id, edit.start, edit.end, duration));
        }
        if (edit_kind(edit.action).takesText && trim(edit.text).empty()) {
            return fail(fmt::format("Edit {} needs some text for its card.", edit.id));
        }
        if (edit.action == EditAction::Replace && !edit.match && !fixed_card_frames(edit.cardSeconds, fps)) {
            return fail(fmt::format("Edit {} has an invalid card length.", edit.id));
        }
    }

    std::stable_sort(enabled.begin(), enabled.end(), [](const Edit& a, const Edit& b) { return a.start < b.start; });

    for (std::size_t i = 1; i < enabled.size(); ++i) {
        const Edit& a = enabled[i - 1];
        const Edit& b = enabled[i];
        if (b.start < a.end - kOverlapTolerance) {
            return fail(fmt::format("Edits overlap: {:.2f}-{:.2f} and {:.2f}-{:.2f}.", a.start, a.end, b.start, b.end));
        }
    }

    for (auto& edit : enabled) edit.end = std::min(edit.end, duration);
    return enabled;
}

Result<SnappedGroups> snap_edits(const std::vector<Edit>& validated, double duration, double fps,
                                 const KeyframeLookup& lookup, bool exact) {
    std::vector<SnappedEdit> snapped;
    snapped.reserve(validated.size());
    for (const auto& edit : validated) {
        SnappedEdit s{edit, edit.start, edit.end};
        if (exact && edit_kind(edit.action).snaps) {
            if (edit.end >= duration - kEndThreshold) s.snappedEnd = duration;
            if (1.0 / fps > s.snappedEnd - s.snappedStart + kListedTimeTolerance) {
                return fail(fmt::format("Edit at {:.2f}s is shorter than one frame; it would cut nothing. Widen it a "
                                        "little.",
                                        edit.start));
            }
        } else if (edit_kind(edit.action).snaps) {
            auto start = lookup(edit.start);
            if (!start) return fail(start.error());
            s.snappedStart = *start;
            if (edit.end >= duration - kEndThreshold) {
                s.snappedEnd = duration;
            } else {
                auto end = lookup(edit.end);
                if (!end) return fail(end.error());
                s.snappedEnd = *end;
            }
            if (1.0 / fps > s.snappedEnd - s.snappedStart) {
                return fail(fmt::format(
                    "Edit at {:.2f}s is shorter than the distance between keyframes there; nothing can be cut "
                    "without re-encoding. Widen it a little.",
                    edit.start));
            }
        }
        snapped.push_back(std::move(s));
    }

    for (std::size_t i = 1; i < snapped.size(); ++i) {
        const auto& a = snapped[i - 1];
        const auto& b = snapped[i];
        if (b.snappedStart < a.snappedEnd - kSnappedOverlapTolerance) {
            return fail(fmt::format(
                "After snapping to keyframes, the edits at {:.2f}s and {:.2f}s overlap. Move them a little further "
                "apart.",
                a.edit.start, b.edit.start));
        }
    }

    SnappedGroups groups;
    for (auto& s : snapped) {
        switch (edit_kind(s.edit.action).group) {
            case EditGroup::Mute: groups.mute.push_back(std::move(s)); break;
            case EditGroup::Text: groups.text.push_back(std::move(s)); break;
            case EditGroup::Cut: groups.cut.push_back(std::move(s)); break;
        }
    }
    return groups;
}

void add_word_mutes(SnappedGroups& groups, const std::vector<Edit>& word_mutes, double duration) {
    std::vector<std::pair<double, double>> taken;
    for (const auto& s : groups.cut) taken.emplace_back(s.snappedStart, s.snappedEnd);
    for (const auto& s : groups.mute) taken.emplace_back(s.snappedStart, s.snappedEnd);
    std::ranges::sort(taken);

    const auto keep = [&groups](const Edit& edit, double from, double to) {
        if (to - from >= kOverlapTolerance) groups.mute.push_back(SnappedEdit{edit, from, to});
    };
    for (Edit word : word_mutes) {
        word.end = std::min(word.end, duration);
        double from = word.start;
        for (const auto& [start, end] : taken) {
            if (start >= word.end) break;
            if (end <= from) continue;
            keep(word, from, start);
            from = std::max(from, end);
        }
        keep(word, from, word.end);
    }
    std::ranges::stable_sort(groups.mute, {}, &SnappedEdit::snappedStart);
}

std::vector<std::pair<double, double>> exact_listing_windows(const std::vector<SnappedEdit>& edits,
                                                             const std::vector<double>& keyframes, double duration) {
    constexpr double kLeadingReach = 1.0;
    std::vector<std::pair<double, double>> windows;
    const auto around = [&](double cut) {
        // The keyframe before the one at or before the cut too: the pictures
        // an open GOP shows before its keyframe are decoded from that one.
        const auto past_cut = std::upper_bound(keyframes.begin(), keyframes.end(), cut + kListedTimeTolerance);
        const double from = past_cut - keyframes.begin() < 2 ? 0.0 : *(past_cut - 2);
        const auto past = std::upper_bound(keyframes.begin(), keyframes.end(), cut + kGapDivideAfter + kGapDivideMargin);
        const double to = past == keyframes.end() ? duration : *past;
        windows.emplace_back(std::max(from - kListedTimeTolerance, 0.0), to + kLeadingReach);
    };
    for (const auto& edit : edits) {
        around(edit.snappedStart);
        around(edit.snappedEnd);
        if (edit.edit.action == EditAction::TextOverVideo) windows.emplace_back(edit.snappedStart, edit.snappedEnd);
    }
    std::sort(windows.begin(), windows.end());
    std::vector<std::pair<double, double>> merged;
    for (const auto& window : windows) {
        if (!merged.empty() && window.first <= merged.back().second) {
            merged.back().second = std::max(merged.back().second, window.second);
        } else {
            merged.push_back(window);
        }
    }
    return merged;
}

Result<void> plan_gap(CutPlan& plan, double gap_start, std::optional<double> gap_end, bool previous_was_card,
                      const GapContext& gap) {
    if (gap.frames) {
        plan_exact_gap(plan, gap_start, gap_end, gap);
        return {};
    }
    const double end = gap_end.value_or(gap.duration);
    // Only H.264 and HEVC pieces need the Annex B form to follow an encoded card.
    const bool pass = previous_was_card && (gap.videoCodec == "h264" || gap.videoCodec == "hevc");
    if (pass && end - gap_start > kLongGap) {
        auto keyframe = gap.lookup(gap_start + kGapDivideAfter);
        if (!keyframe) return fail(keyframe.error());
        const double k = *keyframe;
        if (gap_start + kGapDivideMargin < k && k < end - kGapDivideMargin) {
            plan.slots.push_back({PieceSlot::Kind::Piece, plan.ranges.size(), true, false});
            plan.ranges.push_back({gap_start, k});
            plan.slots.push_back({PieceSlot::Kind::Piece, plan.ranges.size(), false, false});
            plan.ranges.push_back({k, gap_end});
            return {};
        }
    }
    plan.slots.push_back({PieceSlot::Kind::Piece, plan.ranges.size(), pass, false});
    plan.ranges.push_back({gap_start, gap_end});
    return {};
}

Result<CutPlan> plan_pieces(const std::vector<SnappedEdit>& edits, PlanKind kind, double fps, const GapContext& gap) {
    CutPlan plan;
    const double half_frame = 0.5 / fps;
    double cursor = 0;
    bool previous_was_card = false;
    for (std::size_t i = 0; i < edits.size(); ++i) {
        const auto& edit = edits[i];
        if (edit.snappedStart > cursor + half_frame) {
            if (auto r = plan_gap(plan, cursor, edit.snappedStart, previous_was_card, gap); !r) return fail(r.error());
        }
        if (kind == PlanKind::Text) {
            plan.slots.push_back({PieceSlot::Kind::Card, i, false, false});
            // The covered piece is cut too, so that the next piece starts at
            // its keyframe; exact cuts start every piece by themselves.
            if (!gap.frames) plan.ranges.push_back({edit.snappedStart, edit.snappedEnd});
            previous_was_card = true;
        } else if (edit_kind(edit.edit.action).takesText) {
            plan.slots.push_back({PieceSlot::Kind::Card, i, false, false});
            previous_was_card = true;
        } else {
            previous_was_card = false;
        }
        cursor = edit.snappedEnd;
    }
    if (cursor < gap.duration - half_frame) {
        if (auto r = plan_gap(plan, cursor, std::nullopt, previous_was_card, gap); !r) return fail(r.error());
    }
    return plan;
}

KeyframeLookup keyframes_outside(KeyframeLookup lookup, std::vector<std::pair<double, double>> ranges) {
    return [lookup = std::move(lookup), ranges = std::move(ranges)](double t) -> Result<double> {
        auto keyframe = lookup(t);
        if (!keyframe) return keyframe;
        for (const auto& [start, end] : ranges) {
            if (*keyframe > start + kListedTimeTolerance && *keyframe < end - kListedTimeTolerance)
                return t - start <= end - t ? start : end;
        }
        return keyframe;
    };
}

ComposedPlan compose_plans(CutPlan cut) {
    ComposedPlan composed;
    for (std::size_t i = 0; i < cut.slots.size(); ++i) composed.origins.push_back({i, 0, false});
    composed.plan = std::move(cut);
    return composed;
}

Result<ComposedPlan> compose_plans(const std::vector<SnappedEdit>& text_edits, const CutPlan& cut, double fps,
                                   const GapContext& gap) {
    if (gap.frames || !cut.stretches.empty()) return fail("Text cards and exact cuts are not taken from one split.");
    const double half_frame = 0.5 / fps;
    ComposedPlan composed;
    // The source between `from` and `to` as pieces of the cut plan's slot
    // `cut_slot`, divided as every gap is after a card.
    const auto add_source = [&](std::size_t cut_slot, double range_start, double from, std::optional<double> to) -> Result<void> {
        if (to.value_or(gap.duration) <= from + half_frame) return {};
        const bool after_card = !composed.plan.slots.empty() && composed.plan.slots.back().kind != PieceSlot::Kind::Piece;
        const std::size_t first = composed.plan.ranges.size();
        if (auto r = plan_gap(composed.plan, from, to, after_card, gap); !r) return r;
        for (std::size_t k = first; k < composed.plan.ranges.size(); ++k)
            composed.origins.push_back({cut_slot, composed.plan.ranges[k].start - range_start, false});
        return {};
    };
    for (std::size_t i = 0; i < cut.slots.size(); ++i) {
        const auto& slot = cut.slots[i];
        if (slot.kind != PieceSlot::Kind::Piece) {
            composed.plan.slots.push_back(slot);
            composed.origins.push_back({i, 0, false});
            continue;
        }
        const auto& range = cut.ranges[slot.index];
        const double end = range.end.value_or(std::numeric_limits<double>::infinity());
        double cursor = range.start;
        for (std::size_t t = 0; t < text_edits.size(); ++t) {
            const auto& text = text_edits[t];
            if (text.snappedEnd <= range.start + kSnappedOverlapTolerance || text.snappedStart >= end - kSnappedOverlapTolerance)
                continue;
            if (text.snappedStart < range.start - kSnappedOverlapTolerance || text.snappedEnd > end + kSnappedOverlapTolerance)
                return fail(fmt::format("A cut at {:.3f}s-{:.3f}s would divide the text card at {:.3f}s.", range.start,
                                        end, text.snappedStart));
            if (auto r = add_source(i, range.start, cursor, text.snappedStart); !r) return fail(r.error());
            composed.plan.slots.push_back({PieceSlot::Kind::Card, t, false, false});
            composed.origins.push_back({i, text.snappedStart - range.start, true});
            cursor = text.snappedEnd;
        }
        if (auto r = add_source(i, range.start, cursor, range.end); !r) return fail(r.error());
    }
    return composed;
}

std::vector<std::vector<std::size_t>> card_groups(const std::vector<std::optional<std::int64_t>>& lengths,
                                                  std::size_t at_once) {
    std::map<std::int64_t, std::vector<std::size_t>> by_length;
    for (std::size_t i = 0; i < lengths.size(); ++i) {
        if (lengths[i]) by_length[*lengths[i]].push_back(i);
    }
    std::vector<std::pair<std::int64_t, std::vector<std::size_t>>> sets;
    for (auto& [length, indices] : by_length)
        sets.emplace_back(std::max<std::int64_t>(length, 1) * static_cast<std::int64_t>(indices.size()), std::move(indices));
    // The longest first, each to the group with the fewest frames so far.
    std::ranges::stable_sort(sets, std::greater{}, &decltype(sets)::value_type::first);
    std::vector<std::pair<std::int64_t, std::vector<std::size_t>>> groups(std::min(std::max<std::size_t>(at_once, 1), sets.size()));
    for (auto& [frames, indices] : sets) {
        auto& group = *std::ranges::min_element(groups, std::less{}, &decltype(groups)::value_type::first);
        group.first += frames;
        group.second.insert(group.second.end(), indices.begin(), indices.end());
    }
    std::vector<std::vector<std::size_t>> out;
    for (auto& [frames, indices] : groups) {
        std::ranges::sort(indices);
        out.push_back(std::move(indices));
    }
    return out;
}

}  // namespace reel
