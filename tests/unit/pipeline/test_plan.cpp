#include "pipeline/plan.h"

#include <cmath>
#include <limits>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "util/numbers.h"

namespace reel {
namespace {

Edit make_edit(std::string id, EditAction action, double start, double end, std::string text = {}) {
    Edit e;
    e.id = std::move(id);
    e.action = action;
    e.start = start;
    e.end = end;
    e.text = std::move(text);
    return e;
}

// Keyframes every `step` seconds; ties to the earlier one, 0 for t <= 0.05, as
// the real lookup answers. Records every question.
struct GridLookup {
    double step;
    std::vector<double>* asked;
    Result<double> operator()(double t) const {
        if (asked) asked->push_back(t);
        if (t <= 0.05) return 0.0;
        const double below = std::floor(t / step) * step;
        const double above = below + step;
        return (t - below <= above - t) ? below : above;
    }
};

// ---- validate_edits --------------------------------------------------------

struct ValidationCase {
    const char* name;
    std::vector<Edit> edits;
    std::string error;  // empty: valid
};

class ValidateEditsFailures : public ::testing::TestWithParam<ValidationCase> {};

TEST_P(ValidateEditsFailures, ReportsTheFirstProblem) {
    const auto& c = GetParam();
    auto result = validate_edits(c.edits, 60.0, 25.0);
    if (c.error.empty()) {
        EXPECT_TRUE(result.has_value()) << result.error();
    } else {
        ASSERT_FALSE(result.has_value());
        EXPECT_EQ(result.error(), c.error);
    }
}

Edit disabled(Edit e) {
    e.enabled = false;
    return e;
}
Edit card_len(Edit e, double seconds, bool match = false) {
    e.cardSeconds = seconds;
    e.match = match;
    return e;
}

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Cases, ValidateEditsFailures,
    ::testing::Values(
        ValidationCase{"Empty", {}, "There are no enabled edits to apply."},
        ValidationCase{"OnlyDisabledEvenIfBad",
                       {disabled(make_edit("arg1", EditAction::Remove, 50, 10))},
                       "There are no enabled edits to apply."},
        ValidationCase{"StartAfterEnd",
                       {make_edit("arg1", EditAction::Remove, 20, 10)},
                       "Edit arg1 has an invalid range (20.000 to 10.000); the movie is 60.00 s long."},
        ValidationCase{"NegativeStart",
                       {make_edit("csv3", EditAction::Mute, -1, 10)},
                       "Edit csv3 has an invalid range (-1.000 to 10.000); the movie is 60.00 s long."},
        ValidationCase{"StartAtDuration",
                       {make_edit("arg1", EditAction::Remove, 60, 70)},
                       "Edit arg1 has an invalid range (60.000 to 70.000); the movie is 60.00 s long."},
        ValidationCase{"NaNEnd",
                       {make_edit("arg1", EditAction::Remove, 1, kNaN)},
                       "Edit arg1 has an invalid range (1.000 to nan); the movie is 60.00 s long."},
        ValidationCase{"StartJustBeforeDurationIsValid", {make_edit("arg1", EditAction::Remove, 59.9, 500)}, ""},
        ValidationCase{"CardWithoutText",
                       {make_edit("arg2", EditAction::Replace, 1, 2, " \t\n")},
                       "Edit arg2 needs some text for its card."},
        ValidationCase{"TextWithoutText",
                       {make_edit("arg2", EditAction::TextOverVideo, 1, 2, "")},
                       "Edit arg2 needs some text for its card."},
        ValidationCase{"RemoveNeedsNoText", {make_edit("arg2", EditAction::Remove, 1, 2, "")}, ""},
        ValidationCase{"RangeCheckedBeforeText",
                       {make_edit("arg1", EditAction::Replace, 5, 5, "")},
                       "Edit arg1 has an invalid range (5.000 to 5.000); the movie is 60.00 s long."},
        ValidationCase{"FirstEditInGivenOrderReported",
                       {make_edit("a", EditAction::Replace, 30, 40, ""), make_edit("b", EditAction::Remove, 9, 1)},
                       "Edit a needs some text for its card."},
        ValidationCase{"OverlapReportedWithTwoDecimals",
                       {make_edit("a", EditAction::Remove, 10, 20), make_edit("b", EditAction::Mute, 19.99, 30)},
                       "Edits overlap: 10.00-20.00 and 19.99-30.00."},
        ValidationCase{"OverlapFoundAfterSorting",
                       {make_edit("b", EditAction::Mute, 19.99, 30), make_edit("a", EditAction::Remove, 10, 20)},
                       "Edits overlap: 10.00-20.00 and 19.99-30.00."},
        ValidationCase{"TouchingWithinAMillisecond",
                       {make_edit("a", EditAction::Remove, 10, 20), make_edit("b", EditAction::Remove, 19.9995, 30)},
                       ""},
        ValidationCase{"OverlapComparesUnclampedEnds",
                       {make_edit("a", EditAction::Remove, 50, 100), make_edit("b", EditAction::Remove, 59, 60)},
                       "Edits overlap: 50.00-100.00 and 59.00-60.00."},
        ValidationCase{"InfiniteCardLength",
                       {card_len(make_edit("csv4", EditAction::Replace, 1, 2, "Hi"), kInf)},
                       "Edit csv4 has an invalid card length."},
        ValidationCase{"NaNCardLength",
                       {card_len(make_edit("csv4", EditAction::Replace, 1, 2, "Hi"), kNaN)},
                       "Edit csv4 has an invalid card length."},
        ValidationCase{"CardFramesBeyond32Bits",
                       {card_len(make_edit("arg1", EditAction::Replace, 1, 2, "Hi"), 1e8)},
                       "Edit arg1 has an invalid card length."},
        ValidationCase{"MatchedCardIgnoresCardLength",
                       {card_len(make_edit("arg1", EditAction::Replace, 1, 2, "Hi"), kNaN, true)},
                       ""},
        ValidationCase{"TextEditIgnoresCardLength",
                       {card_len(make_edit("arg1", EditAction::TextOverVideo, 1, 2, "Hi"), kInf)},
                       ""},
        ValidationCase{"DisabledEditsAreNotChecked",
                       {make_edit("a", EditAction::Remove, 10, 20),
                        disabled(make_edit("b", EditAction::Remove, 15, 5))},
                       ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ValidateEdits, SortsStablyAndClampsEnds) {
    std::vector<Edit> edits{make_edit("c", EditAction::Mute, 30, 40), make_edit("a", EditAction::Remove, 10, 20),
                            make_edit("b", EditAction::Mute, 20, 25), disabled(make_edit("x", EditAction::Remove, 0, 1)),
                            make_edit("d", EditAction::Remove, 50, 90)};
    auto result = validate_edits(edits, 60.0, 25.0);
    ASSERT_TRUE(result.has_value()) << result.error();
    std::vector<std::string> ids;
    for (const auto& e : *result) ids.push_back(e.id);
    EXPECT_EQ(ids, (std::vector<std::string>{"a", "b", "c", "d"}));
    EXPECT_DOUBLE_EQ(result->back().end, 60.0);
}

TEST(ValidateEdits, EqualStartsKeepTheirOrder) {
    std::vector<Edit> edits{make_edit("first", EditAction::Remove, 10, 10.0005),
                            make_edit("second", EditAction::Remove, 10, 12)};
    auto result = validate_edits(edits, 60.0, 25.0);
    ASSERT_TRUE(result.has_value()) << result.error();
    EXPECT_EQ((*result)[0].id, "first");
    EXPECT_EQ((*result)[1].id, "second");
}

TEST(CardFrames, FixedLengthRaisesShortCardsAndRounds) {
    EXPECT_EQ(fixed_card_frames(3, 25), 75);
    EXPECT_EQ(fixed_card_frames(0.2, 25), 13);  // 0.5 s minimum: 12.5 rounds away from zero
    EXPECT_EQ(fixed_card_frames(-4, 25), 13);
    EXPECT_EQ(fixed_card_frames(0.5, 0.5), 1);  // at least one frame
    EXPECT_EQ(fixed_card_frames(10, 24000.0 / 1001), 240);
    EXPECT_EQ(fixed_card_frames(85899345.0, 25), 2147483625);  // just fits
    EXPECT_EQ(fixed_card_frames(85899346.0, 25), std::nullopt);
    EXPECT_EQ(fixed_card_frames(kNaN, 25), std::nullopt);
    EXPECT_EQ(title_card_frames(8, 23.976), 192);
    EXPECT_EQ(title_card_frames(0.001, 25), 1);
}

// ---- snap_edits ------------------------------------------------------------

TEST(SnapEdits, SnapsCutEdgesAndLeavesMuteAlone) {
    std::vector<double> asked;
    std::vector<Edit> edits{make_edit("m", EditAction::Mute, 1.3, 2.7), make_edit("r", EditAction::Remove, 4.9, 9.2),
                            make_edit("t", EditAction::TextOverVideo, 13, 17.1, "T"),
                            make_edit("c", EditAction::Replace, 20.9, 59.97, "C")};
    auto groups = snap_edits(edits, 60, 25, GridLookup{2, &asked});
    ASSERT_TRUE(groups.has_value()) << groups.error();
    ASSERT_EQ(groups->mute.size(), 1u);
    EXPECT_DOUBLE_EQ(groups->mute[0].snappedStart, 1.3);
    EXPECT_DOUBLE_EQ(groups->mute[0].snappedEnd, 2.7);
    ASSERT_EQ(groups->text.size(), 1u);
    EXPECT_DOUBLE_EQ(groups->text[0].snappedStart, 12);  // tie goes to the earlier keyframe
    EXPECT_DOUBLE_EQ(groups->text[0].snappedEnd, 18);
    ASSERT_EQ(groups->cut.size(), 2u);
    EXPECT_EQ(groups->cut[0].edit.id, "r");
    EXPECT_DOUBLE_EQ(groups->cut[0].snappedStart, 4);
    EXPECT_DOUBLE_EQ(groups->cut[0].snappedEnd, 10);
    // End within 0.05 s of the duration: snapped to the duration without a lookup.
    EXPECT_DOUBLE_EQ(groups->cut[1].snappedEnd, 60);
    EXPECT_EQ(asked, (std::vector<double>{4.9, 9.2, 13, 17.1, 20.9}));
}

TEST(SnapEdits, RangeCollapsingOnOneKeyframeIsTooShort) {
    std::vector<Edit> edits{make_edit("a", EditAction::Remove, 10, 12), make_edit("b", EditAction::Remove, 12.5, 14)};
    auto groups = snap_edits(edits, 60, 25, GridLookup{10, nullptr});
    ASSERT_FALSE(groups.has_value());
    EXPECT_EQ(groups.error(),
              "Edit at 10.00s is shorter than the distance between keyframes there; nothing can be cut without "
              "re-encoding. Widen it a little.");
}

TEST(SnapEdits, OverlapAfterSnappingNamesRequestedStarts) {
    // The remove edit's end snaps forward to 20, over the mute edit at 16.5.
    std::vector<Edit> edits{make_edit("r", EditAction::Remove, 10, 16), make_edit("m", EditAction::Mute, 16.5, 18)};
    auto groups = snap_edits(edits, 60, 25, GridLookup{10, nullptr});
    ASSERT_FALSE(groups.has_value());
    EXPECT_EQ(groups.error(),
              "After snapping to keyframes, the edits at 10.00s and 16.50s overlap. Move them a little further apart.");
}

// ---- add_word_mutes -------------------------------------------------------

TEST(AddWordMutes, TheUsersEditsWin) {
    struct Case {
        const char* name;
        double start, end;                            // the word mute
        std::vector<std::pair<double, double>> kept;  // the parts muted for it
    };
    // A remove asked for 10-20 and snapped to 9.5-20.5, a user mute at 30-32, a
    // text card at 40-50; the movie is 60 s long.
    const Case cases[] = {
        {"Apart", 1, 2, {{1, 2}}},
        {"InsideTheSnappedRemove", 9.6, 10.2, {}},
        {"OverTheSnappedRemoveEdges", 9, 21, {{9, 9.5}, {20.5, 21}}},
        {"SliverLeftByTheRemove", 20.4995, 20.5004, {}},
        {"OverTheUsersMute", 29, 33, {{29, 30}, {32, 33}}},
        {"InsideTheUsersMute", 30.5, 31, {}},
        {"UnderATextCard", 45, 55, {{45, 55}}},
        {"PastTheEnd", 59, 65, {{59, 60}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SnappedGroups groups;
        groups.cut = {{make_edit("arg1", EditAction::Remove, 10, 20), 9.5, 20.5}};
        groups.mute = {{make_edit("arg2", EditAction::Mute, 30, 32), 30, 32}};
        groups.text = {{make_edit("arg3", EditAction::TextOverVideo, 40, 50, "Hi"), 40, 50}};
        Edit word = make_edit("word7", EditAction::Mute, c.start, c.end);
        word.origin = EditOrigin::Words;
        add_word_mutes(groups, {word}, 60);

        ASSERT_EQ(groups.cut.size(), 1u);
        ASSERT_EQ(groups.text.size(), 1u);
        std::vector<std::pair<double, double>> kept;
        double previous_end = 0;
        for (const auto& s : groups.mute) {
            EXPECT_LE(previous_end, s.snappedStart);  // sorted, apart
            previous_end = s.snappedEnd;
            if (s.edit.id == "arg2") {
                EXPECT_EQ(std::pair(s.snappedStart, s.snappedEnd), std::pair(30.0, 32.0));
                continue;
            }
            EXPECT_EQ(s.edit.id, "word7");
            EXPECT_EQ(s.edit.origin, EditOrigin::Words);
            EXPECT_EQ(s.edit.start, c.start);  // the report shows the cue as asked
            EXPECT_EQ(s.edit.end, std::min(c.end, 60.0));
            kept.emplace_back(s.snappedStart, s.snappedEnd);
        }
        EXPECT_EQ(kept, c.kept);
        EXPECT_EQ(groups.mute.size(), c.kept.size() + 1);  // the user's mute stays
    }
}

TEST(SnapEdits, LookupFailurePassesThrough) {
    std::vector<Edit> edits{make_edit("r", EditAction::Remove, 10, 16)};
    auto groups = snap_edits(edits, 60, 25, [](double) -> Result<double> { return fail("No keyframe found near 10.00s"); });
    ASSERT_FALSE(groups.has_value());
    EXPECT_EQ(groups.error(), "No keyframe found near 10.00s");
}

// ---- piece planning --------------------------------------------------------

SnappedEdit snapped(EditAction action, double start, double end) {
    return SnappedEdit{make_edit("x", action, start, end, "T"), start, end};
}

std::string describe(const CutPlan& plan) {
    std::string out;
    for (const auto& r : plan.ranges) {
        out += "(" + std::to_string(static_cast<int>(r.start * 10)) + "," +
               (r.end ? std::to_string(static_cast<int>(*r.end * 10)) : "open") + ")";
    }
    out += " |";
    for (const auto& s : plan.slots) {
        if (s.kind == PieceSlot::Kind::Card) {
            out += " card" + std::to_string(s.index);
        } else if (s.kind == PieceSlot::Kind::Encoded) {
            const auto& e = plan.stretches[s.index];
            out += fmt::format(" {}[{},{})x{}", e.copied() ? "copy" : "enc", format_shortest(e.start),
                               format_shortest(e.end), e.frames);
            if (e.copied() && e.packets != e.frames) out += fmt::format("({} packets)", e.packets);
        } else {
            out += " piece" + std::to_string(s.index) + (s.needsBitstreamPass ? "*" : "") + (s.dropLeading ? "~" : "");
            if (const auto& shown = plan.ranges[s.index].picturesEnd) out += "<" + format_shortest(*shown);
        }
    }
    return out;
}

struct PlanCase {
    const char* name;
    std::vector<SnappedEdit> edits;
    PlanKind kind;
    std::string codec;
    double duration;
    double keyframe_step;
    std::string expected;  // ranges in tenths of seconds, then slots (* = bitstream pass)
};

class PlanPieces : public ::testing::TestWithParam<PlanCase> {};

TEST_P(PlanPieces, BuildsRangesAndSlots) {
    const auto& c = GetParam();
    GapContext gap{c.codec, c.duration, GridLookup{c.keyframe_step, nullptr}};
    auto plan = plan_pieces(c.edits, c.kind, 25, gap);
    ASSERT_TRUE(plan.has_value()) << plan.error();
    EXPECT_EQ(describe(*plan), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PlanPieces,
    ::testing::Values(
        PlanCase{"OneRemove", {snapped(EditAction::Remove, 10, 20)}, PlanKind::Cut, "h264", 60, 2,
                 "(0,100)(200,open) | piece0 piece1"},
        PlanCase{"RemoveAtStart", {snapped(EditAction::Remove, 0, 5)}, PlanKind::Cut, "h264", 60, 2,
                 "(50,open) | piece0"},
        PlanCase{"CardFollowedByLongH264Gap", {snapped(EditAction::Replace, 20, 25)}, PlanKind::Cut, "h264", 85, 2,
                 "(0,200)(250,280)(280,open) | piece0 card0 piece1* piece2"},
        PlanCase{"CardFollowedByLongMpeg4Gap", {snapped(EditAction::Replace, 20, 25)}, PlanKind::Cut, "mpeg4", 85, 2,
                 "(0,200)(250,open) | piece0 card0 piece1"},
        PlanCase{"GapOfExactlyEightNotDivided",
                 {snapped(EditAction::Replace, 0, 5), snapped(EditAction::Remove, 13, 20)}, PlanKind::Cut, "hevc", 30,
                 2, "(50,130)(200,open) | card0 piece0* piece1"},
        PlanCase{"KeyframeTooCloseToGapEndNotDivided", {snapped(EditAction::Replace, 0, 5)}, PlanKind::Cut, "h264",
                 14, 14, "(50,open) | card0 piece0*"},
        PlanCase{"HalfFrameGapAddsNoPiece",
                 {snapped(EditAction::Remove, 10, 20), snapped(EditAction::Replace, 20.019, 30)}, PlanKind::Cut,
                 "h264", 30.01, 2, "(0,100) | piece0 card1"},
        PlanCase{"RemoveAfterCardResetsPass",
                 {snapped(EditAction::Replace, 10, 12), snapped(EditAction::Remove, 12, 14)}, PlanKind::Cut, "h264",
                 30, 2, "(0,100)(140,open) | piece0 card0 piece1"},
        PlanCase{"TextEditsCutTheirOwnRange", {snapped(EditAction::TextOverVideo, 30, 40)}, PlanKind::Text, "h264",
                 100, 2, "(0,300)(300,400)(400,440)(440,open) | piece0 card0 piece2* piece3"},
        PlanCase{"TextAtStart", {snapped(EditAction::TextOverVideo, 0, 4)}, PlanKind::Text, "vp9", 10, 2,
                 "(0,40)(40,open) | card0 piece1"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PlanGap, LookupFailureFailsThePlan) {
    GapContext gap{"h264", 100, [](double) -> Result<double> { return fail("No keyframe found near 29.00s"); }};
    CutPlan plan;
    auto r = plan_gap(plan, 25, std::nullopt, true, gap);
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error(), "No keyframe found near 29.00s");
}

TEST(PlanGap, AsksForTheKeyframeNearFourSecondsIn) {
    std::vector<double> asked;
    GapContext gap{"h264", 100, GridLookup{2, &asked}};
    CutPlan plan;
    ASSERT_TRUE(plan_gap(plan, 25, 50.0, true, gap).has_value());
    EXPECT_EQ(asked, std::vector<double>{29});
    EXPECT_EQ(describe(plan), "(250,280)(280,500) | piece0* piece1");
}

// ---- text cards in the cut's split -------------------------------------------

// Slots of a composed plan: a text card reads "text0", each slot ends with the
// cut slot it belongs to and its offset there.
std::string describe(const ComposedPlan& composed) {
    std::string out = describe(composed.plan).substr(0, describe(composed.plan).find(" |")) + " |";
    for (std::size_t i = 0; i < composed.plan.slots.size(); ++i) {
        const auto& slot = composed.plan.slots[i];
        const auto& origin = composed.origins[i];
        out += origin.textCard ? fmt::format(" text{}", slot.index)
               : fmt::format(" {}{}{}", slot.kind == PieceSlot::Kind::Card ? "card" : "piece", slot.index,
                             slot.needsBitstreamPass ? "*" : "");
        out += fmt::format("@{}+{}", origin.cutSlot, format_shortest(origin.offset));
    }
    return out;
}

struct ComposeCase {
    const char* name;
    std::vector<SnappedEdit> text;
    std::vector<SnappedEdit> cut;
    std::string expected;
};

class ComposePlans : public ::testing::TestWithParam<ComposeCase> {};

TEST_P(ComposePlans, PutTextCardsWhereTheirPicturesWere) {
    const auto& c = GetParam();
    std::vector<std::pair<double, double>> ranges;
    for (const auto& t : c.text) ranges.emplace_back(t.snappedStart, t.snappedEnd);
    GapContext gap{"h264", 60, keyframes_outside(GridLookup{2, nullptr}, ranges)};
    auto cut = plan_pieces(c.cut, PlanKind::Cut, 25, gap);
    ASSERT_TRUE(cut.has_value()) << cut.error();
    auto composed = compose_plans(c.text, *cut, 25, gap);
    ASSERT_TRUE(composed.has_value()) << composed.error();
    EXPECT_EQ(describe(*composed), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ComposePlans,
    ::testing::Values(
        // What follows the text card once the remove is gone is a piece after
        // a card, though neither plan alone says so.
        ComposeCase{"RemoveRightAfterText", {snapped(EditAction::TextOverVideo, 4, 6)}, {snapped(EditAction::Remove, 6, 8)},
                    "(0,40)(80,120)(120,open) | piece0@0+0 text0@0+4 piece1*@1+0 piece2@1+4"},
        ComposeCase{"TextRightAfterTitleCard",
                    {snapped(EditAction::TextOverVideo, 12, 14)},
                    {snapped(EditAction::Replace, 10, 12)},
                    "(0,100)(140,160)(160,open) | piece0@0+0 card0@1+0 text0@2+0 piece1*@2+2 piece2@3+0"},
        ComposeCase{"TwoTextsInOnePiece",
                    {snapped(EditAction::TextOverVideo, 10, 12), snapped(EditAction::TextOverVideo, 30, 32)},
                    {snapped(EditAction::Remove, 50, 52)},
                    "(0,100)(120,160)(160,300)(320,360)(360,500)(520,open) | piece0@0+0 text0@0+10 piece1*@0+12 "
                    "piece2@0+16 text1@0+30 piece3*@0+32 piece4@0+36 piece5@1+0"},
        // Nothing of the source is left after a text card that runs to the end.
        ComposeCase{"TextToTheEnd", {snapped(EditAction::TextOverVideo, 50, 60)}, {snapped(EditAction::Remove, 10, 12)},
                    "(0,100)(120,500) | piece0@0+0 piece1@1+0 text0@1+38"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ComposePlans, ACutInsideATextRangeIsRefused) {
    CutPlan cut;
    cut.slots.push_back({PieceSlot::Kind::Piece, 0, false, false});
    cut.ranges.push_back({0, 5.0});
    GapContext gap{"h264", 60, GridLookup{2, nullptr}};
    auto composed = compose_plans({snapped(EditAction::TextOverVideo, 4, 6)}, cut, 25, gap);
    ASSERT_FALSE(composed.has_value());
    EXPECT_EQ(composed.error(), "A cut at 0.000s-5.000s would divide the text card at 4.000s.");
}

TEST(CardGroups, SpreadTheFramesAndKeepOneLengthTogether) {
    using Groups = std::vector<std::vector<std::size_t>>;
    const std::optional<std::int64_t> none;
    const struct {
        std::vector<std::optional<std::int64_t>> lengths;
        std::size_t at_once;
        Groups expected;
    } cases[] = {
        {{none, 75, none, 500, 250}, 2, {{3}, {1, 4}}},
        // Two cards of one length write the same text file: never side by side.
        {{75, 75, 500}, 2, {{2}, {0, 1}}},
        {{75, 75}, 2, {{0, 1}}},
        {{100, 90, 80, 70}, 2, {{0, 3}, {1, 2}}},
        {{100, 90}, 1, {{0, 1}}},
        {{none, none}, 2, {}},
    };
    for (const auto& c : cases) EXPECT_EQ(card_groups(c.lengths, c.at_once), c.expected);
}

TEST(KeyframesOutside, TimesInsideATextRangeGetItsNearerEnd) {
    const auto lookup = keyframes_outside(GridLookup{2, nullptr}, {{10, 20}});
    for (const auto& [t, expected] : std::vector<std::pair<double, double>>{
             {13, 10}, {15, 10}, {16.5, 20}, {9.5, 10}, {20.5, 20}, {21.5, 22}}) {
        auto got = lookup(t);
        ASSERT_TRUE(got.has_value());
        EXPECT_DOUBLE_EQ(*got, expected) << t;
    }
}

// ---- Timeline and map_range --------------------------------------------------

TEST(Timeline, OffsetsAreRunningSums) {
    auto t = Timeline::from_segments({{false, 0, 10, 10.02}, {true, 0, 0, 3}, {false, 20, 60, 40}});
    EXPECT_EQ(t.offsets, (std::vector<double>{0, 10.02, 13.02}));
    auto id = Timeline::identity(42);
    ASSERT_EQ(id.segments.size(), 1u);
    EXPECT_EQ(id.offsets, std::vector<double>{0});
    EXPECT_DOUBLE_EQ(id.segments[0].sourceEnd, 42);
    EXPECT_DOUBLE_EQ(id.segments[0].length, 42);
}

struct MapCase {
    double a, b;
    std::optional<std::pair<double, double>> expected;
};

class MapRange : public ::testing::TestWithParam<MapCase> {};

TEST_P(MapRange, FollowsKeptPieces) {
    // Kept 0-10, a 3 s card, then source 20-60 kept (a 10 s removal is gone).
    auto t = Timeline::from_segments({{false, 0, 10, 10}, {true, 0, 0, 3}, {false, 20, 60, 40}});
    auto got = map_range(t, GetParam().a, GetParam().b);
    ASSERT_EQ(got.has_value(), GetParam().expected.has_value());
    if (got) {
        EXPECT_NEAR(got->first, GetParam().expected->first, 1e-9);
        EXPECT_NEAR(got->second, GetParam().expected->second, 1e-9);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, MapRange,
                         ::testing::Values(MapCase{5, 7, std::pair{5.0, 7.0}}, MapCase{8, 12, std::pair{8.0, 10.0}},
                                           MapCase{12, 14, std::nullopt},   // starts in removed material
                                           // What continues after a card starts after it.
                                           MapCase{10, 25, std::pair{13.0, 18.0}},
                                           MapCase{9.9, 12, std::nullopt},  // a flash before the card
                                           MapCase{20, 25, std::pair{13.0, 18.0}},
                                           MapCase{25, 30, std::pair{18.0, 23.0}},
                                           MapCase{58, 70, std::pair{51.0, 53.0}},
                                           MapCase{60, 61, std::nullopt},
                                           MapCase{7, 7, std::nullopt},  // zero length
                                           MapCase{7, 6, std::nullopt}));

TEST(AppliedFrom, CopiesRequestedAndSnappedTimes) {
    SnappedEdit s{make_edit("csv2", EditAction::Replace, 9.7, 20.2, "x"), 10, 20};
    auto a = applied_from(s, 3.0);
    EXPECT_EQ(a.id, "csv2");
    EXPECT_EQ(a.action, EditAction::Replace);
    EXPECT_DOUBLE_EQ(a.requestedStart, 9.7);
    EXPECT_DOUBLE_EQ(a.requestedEnd, 20.2);
    EXPECT_DOUBLE_EQ(a.actualStart, 10);
    EXPECT_DOUBLE_EQ(a.actualEnd, 20);
    EXPECT_EQ(a.cardSeconds, 3.0);
}

// ---- exact cuts ------------------------------------------------------------

// ffprobe's packet listing ("pts,dts,flags", decode order) of a 25 fps movie
// with a keyframe every `gop` seconds; with `leading`, each keyframe but the
// first is followed by that many pictures shown just before it (open GOPs).
std::string packet_listing(double duration, double gop, int leading) {
    std::string out;
    const int per_gop = static_cast<int>(std::lround(gop * 25));
    const int total = static_cast<int>(std::lround(duration * 25));
    for (int key = 0; key < total; key += per_gop) {
        const auto line = [&out](int frame, const char* flags) {
            out += fmt::format("{:.6f},{:.6f},{}\n", frame * 0.04, frame * 0.04, flags);
        };
        line(key, "K_");
        if (key > 0)
            for (int k = leading; k > 0; --k) line(key - k, "__");
        for (int f = key + 1; f < std::min(key + per_gop - (key + per_gop < total ? leading : 0), total); ++f)
            line(f, "__");
    }
    return out;
}

struct ExactCase {
    const char* name;
    std::vector<SnappedEdit> edits;
    PlanKind kind;
    int leading;
    std::string expected;  // ranges in tenths, then slots (* pass, ~ drops leading, <picturesEnd)
};

class PlanExact : public ::testing::TestWithParam<ExactCase> {};

TEST_P(PlanExact, EncodesFromEachCutToTheNextKeyframe) {
    const auto& c = GetParam();
    const FrameIndex index = parse_frame_index(packet_listing(30, 2, c.leading));
    GapContext gap{"h264", 30, [](double) -> Result<double> { return fail("no lookup in exact mode"); }, &index};
    auto plan = plan_pieces(c.edits, c.kind, 25, gap);
    ASSERT_TRUE(plan.has_value()) << plan.error();
    EXPECT_EQ(describe(*plan), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PlanExact,
    ::testing::Values(
        ExactCase{"RemoveBetweenKeyframes", {snapped(EditAction::Remove, 10.3, 20.7)}, PlanKind::Cut, 0,
                  "(0,100)(220,open) | piece0 enc[10,10.3)x8 enc[20.7,22)x32 piece1*~"},
        ExactCase{"OpenGopEndsTheCopyBeforeTheLeadingPictures", {snapped(EditAction::Remove, 10.3, 20.7)},
                  PlanKind::Cut, 2, "(0,100)(220,open) | piece0<9.92 enc[9.92,10.3)x10 enc[20.7,22)x32 piece1*~"},
        ExactCase{"OnKeyframesNothingIsEncoded", {snapped(EditAction::Remove, 10, 20)}, PlanKind::Cut, 0,
                  "(0,100)(200,open) | piece0 piece1~"},
        ExactCase{"TwoCutsInOneIntervalEncodeTheStretchBetween",
                  {snapped(EditAction::Remove, 10.2, 10.4), snapped(EditAction::Remove, 10.8, 11)}, PlanKind::Cut, 0,
                  "(0,100)(120,160)(160,open) | piece0 enc[10,10.2)x5 enc[10.4,10.8)x10 enc[11,12)x25 piece1*~ piece2"},
        ExactCase{"TextCardsCutNoRangeOfTheirOwn", {snapped(EditAction::TextOverVideo, 10.3, 11.5)}, PlanKind::Text,
                  0, "(0,100)(120,160)(160,open) | piece0 enc[10,10.3)x8 card0 enc[11.5,12)x12 piece1*~ piece2"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FrameIndex, OnlyPicturesAfterAKeyframeShownBeforeItLead) {
    // Reordered pictures lead only when shown before the keyframe they follow (0.08);
    // a line without pts is read by its dts.
    const auto index = parse_frame_index("0.000,-0.080,K_\n0.120,-0.040,__\n0.040,0.000,__\n0.160,0.080,K_\n"
                                         "N/A,0.200,__\n0.080,0.120,__\n");
    EXPECT_EQ(index.times, (std::vector<double>{0, 0.04, 0.08, 0.12, 0.16, 0.2}));
    EXPECT_DOUBLE_EQ(index.keyframes[1].leadingFrom, 0.08);
    EXPECT_EQ(frames_between(index, 0.04, 0.16), 3);  // a picture on the end is not counted
    EXPECT_EQ(first_frame_from(index, 0.13), 0.16);
}

struct HeadCase {
    const char* name;
    double end;
    std::optional<CopyableHead> expected;
};

TEST(FrameIndex, AGroupsHeadIsCopiedUpToItsLastPictureDecodedBeforeAnyAtOrAfterTheCut) {
    // x264's pyramid of three B-pictures: each anchor is decoded before the
    // pictures shown before it. The second keyframe leads by one picture.
    const auto index = parse_frame_index(
        "0.00,0,K_\n0.16,0,__\n0.08,0,__\n0.04,0,__\n0.12,0,__\n0.32,0,__\n0.24,0,__\n0.20,0,__\n0.28,0,__\n"
        "0.40,0,K_\n0.36,0,__\n0.44,0,__\n");
    const std::vector<HeadCase> cases{
        {"cut before the first anchor", 0.30, CopyableHead{0.20, 5}},
        {"cut after the last anchor of the group", 0.36, CopyableHead{0.36, 9}},
        {"cut right after the keyframe", 0.02, CopyableHead{0.02, 1}},
        {"cut on the keyframe", 0.0, std::nullopt},
    };
    for (const auto& c : cases) {
        const auto head = copyable_head(index, index.keyframes[0], c.end);
        ASSERT_EQ(head.has_value(), c.expected.has_value()) << c.name;
        if (!head) continue;
        EXPECT_DOUBLE_EQ(head->until, c.expected->until) << c.name;
        EXPECT_EQ(head->packets, c.expected->packets) << c.name;
    }
    // A keyframe with a leading picture: the head starts with it.
    const auto leading = copyable_head(index, index.keyframes[1], 0.44);
    ASSERT_TRUE(leading.has_value());
    EXPECT_DOUBLE_EQ(leading->until, 0.44);
    EXPECT_EQ(leading->packets, 2);
    // Two fields of a picture go together; a packet without a shown time stops it all.
    const auto fields = parse_frame_index("0.00,0,K_\n0.00,0,__\n0.08,0,__\n0.08,0,__\n0.04,0,__\n0.04,0,__\n");
    const auto head = copyable_head(fields, fields.keyframes[0], 0.06);
    ASSERT_TRUE(head.has_value());
    EXPECT_EQ(head->packets, 2);
    const auto unknown = parse_frame_index("0.00,0,K_\nN/A,0.04,__\n0.04,0,__\n");
    EXPECT_FALSE(copyable_head(unknown, unknown.keyframes[0], 0.5).has_value());
}

TEST(PlanExact, WhereHeadsAreCopiedOnlyThePicturesAfterTheCopyAreEncoded) {
    const FrameIndex index = parse_frame_index(packet_listing(30, 2, 0));
    GapContext gap{"h264", 30, [](double) -> Result<double> { return fail("no lookup in exact mode"); }, &index, true};
    auto plan = plan_pieces({snapped(EditAction::Remove, 10.3, 20.7), snapped(EditAction::Remove, 24.0, 26.5)},
                            PlanKind::Cut, 25, gap);
    ASSERT_TRUE(plan.has_value()) << plan.error();
    // Pictures in their shown order: the whole group up to the cut is copied.
    EXPECT_EQ(describe(*plan), "(0,100)(220,240)(280,open) | piece0 copy[10,10.3)x8 enc[20.7,22)x32 piece1*~ "
                               "enc[26.5,28)x37 piece2*~");
    // Open GOPs: the copy starts with the keyframe's two leading pictures.
    const FrameIndex open = parse_frame_index(packet_listing(30, 2, 2));
    gap.frames = &open;
    auto open_plan = plan_pieces({snapped(EditAction::Remove, 10.3, 20.7)}, PlanKind::Cut, 25, gap);
    ASSERT_TRUE(open_plan.has_value()) << open_plan.error();
    EXPECT_EQ(describe(*open_plan), "(0,100)(220,open) | piece0<9.92 copy[9.92,10.3)x10 enc[20.7,22)x32 piece1*~");
    EXPECT_DOUBLE_EQ(open_plan->stretches[0].copyFrom, 10);
}

TEST(PlanExact, ListsThePicturesFromTwoKeyframesBeforeEachCutToPastWhereACopyMayBeDivided) {
    const std::vector<double> keys{0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 40, 60};
    using Windows = std::vector<std::pair<double, double>>;
    // Near the start, the file's start; windows that meet are one.
    EXPECT_EQ(exact_listing_windows({snapped(EditAction::Remove, 1.0, 3.3)}, keys, 70), (Windows{{0, 9}}));
    // A text card's pictures are all listed; past the last keyframe, to the end.
    EXPECT_EQ(exact_listing_windows({snapped(EditAction::TextOverVideo, 12.5, 50)}, keys, 70),
              (Windows{{10 - kListedTimeTolerance, 61}}));
    EXPECT_EQ(exact_listing_windows({snapped(EditAction::Remove, 9.0, 10.0), snapped(EditAction::Replace, 61, 63)}, keys, 70),
              (Windows{{6 - kListedTimeTolerance, 17}, {40 - kListedTimeTolerance, 71}}));
}

TEST(SnapEdits, ExactModeKeepsTheRequestedFrames) {
    auto groups = snap_edits({make_edit("a", EditAction::Remove, 10.3, 59.98)}, 60, 25, {}, true);
    ASSERT_TRUE(groups.has_value()) << groups.error();
    EXPECT_DOUBLE_EQ(groups->cut[0].snappedStart, 10.3);
    EXPECT_DOUBLE_EQ(groups->cut[0].snappedEnd, 60);  // near the end means to the end
    auto tiny = snap_edits({make_edit("c", EditAction::Remove, 10.3, 10.31)}, 60, 25, {}, true);
    ASSERT_FALSE(tiny.has_value());
    EXPECT_EQ(tiny.error(), "Edit at 10.30s is shorter than one frame; it would cut nothing. Widen it a little.");
}

}  // namespace
}  // namespace reel
