// Planning where every piece of sound and picture goes: mute and cut
// stretches, the entries of a reassembled track, the picture's join, and the
// layout of a cut.
#include <cmath>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "encode/silence.h"

#include "pipeline/audio_cut.h"
#include "pipeline/layout.h"
#include "pipeline/video_cut.h"

namespace reel {
namespace {

using Kind = AudioStretch::Kind;
constexpr double kAac = 1024.0 / 48000;

std::string describe(const std::vector<AudioStretch>& stretches) {
    std::string out;
    for (const auto& s : stretches)
        out += fmt::format("{}[{:.4f},{}) ", s.kind == Kind::Keep ? "keep" : s.kind == Kind::Silence ? "mute" : "drop",
                           s.from, s.to ? fmt::format("{:.4f}", *s.to) : "end");
    return out;
}

TEST(MuteStretches, FromThePacketHoldingTheStartToTheLastMostlyBeforeTheEnd) {
    const struct {
        std::vector<std::pair<double, double>> mutes;
        std::string expected;
    } cases[] = {
        {{{12.3, 12.8}}, "keep[0.0000,12.2797) mute[12.2797,12.7893) keep[12.7893,end) "},
        {{{0, 1}}, "mute[0.0000,0.9893) keep[0.9893,end) "},
        // Touching mutes are one silence; a mute shorter than half a packet
        // still silences the packet that holds its start.
        {{{5, 6}, {6, 7}}, "keep[0.0000,4.9797) mute[4.9797,6.9893) keep[6.9893,end) "},
        {{{5, 5.005}}, "keep[0.0000,4.9797) mute[4.9797,5.0010) keep[5.0010,end) "},
    };
    for (const auto& c : cases) EXPECT_EQ(describe(mute_stretches(c.mutes, kAac)), c.expected);
    EXPECT_EQ(stretch_boundaries(mute_stretches({{0, 1}, {3, 4}}, kAac)),
              (std::vector<double>{0.989333, 2.979667, 3.989333}));
}

TEST(AudioEntries, KeptStretchesMoveByTheirOffsetAndSilenceFillsTheRest) {
    // The carrier cut at 2 and 3 (a mute) and at 6 (the start of a removal
    // up to 8, dropped).
    const std::vector<AudioStretch> stretches{{Kind::Keep, 0, 2.0, 0},
                                              {Kind::Silence, 2, 3.0, 0},
                                              {Kind::Keep, 3, 6.0, 0},
                                              {Kind::Drop, 6, 8.0, 0},
                                              {Kind::Keep, 8, std::nullopt, -2}};
    const std::vector<AudioSegment> segments{
        {"s0", 0, 2.005}, {"s1", 2.005, 3.009}, {"s2", 3.009, 6.01}, {"s3", 6.01, 8.002}, {"s4", 8.002, 20}};
    const SilenceSource silence{"z", 1024, 48000, -kAac};
    const auto entries = plan_audio_entries(segments, stretches, {{4.5, 0.5}}, silence, 0.016);
    std::vector<std::string> files;
    for (const auto& e : entries) files.push_back(e.file);
    EXPECT_EQ(files, (std::vector<std::string>{"s0", "z", "s2", "z", "s4"}));
    EXPECT_DOUBLE_EQ(entries[0].position, 0.016);  // the carrier's first packet
    // A kept file opens before its stretch and keeps its packets' own times.
    EXPECT_DOUBLE_EQ(entries[2].inpointAt - entries[2].inpoint, 0);
    EXPECT_DOUBLE_EQ(entries[4].inpointAt - entries[4].inpoint, -2);
    // Silence: as many packets as the muted ones (47 of 1024 samples), its
    // first packet where theirs was; a card slot gets what fits in it (23).
    EXPECT_NEAR(*entries[1].outpoint - silence.firstPacket, 46.5 * kAac, 1e-9);
    EXPECT_DOUBLE_EQ(entries[1].inpointAt - entries[1].inpoint, 2.005 - silence.firstPacket);
    EXPECT_NEAR(*entries[3].outpoint - silence.firstPacket, 22.5 * kAac, 1e-9);
    EXPECT_NEAR(silence_seconds(entries, silence), 70 * kAac, 1e-9);

    const std::string script = concat_script(entries);
    EXPECT_TRUE(script.starts_with("ffconcat version 1.0\nfile '"));
    // Each entry lasts until the next one's inpoint comes.
    EXPECT_NE(script.find(fmt::format("duration {:.6f}\n", entries[1].inpointAt - entries[0].inpointAt)),
              std::string::npos);
}

TEST(AudioStretches, CutsTakeEachStraddlingPacketToTheSideItMostlyLiesOn) {
    const std::vector<AudioStretch> cut{{Kind::Keep, 0, 10.0, 0}, {Kind::Drop, 10, 20.0, 0},
                                        {Kind::Keep, 20, std::nullopt, -10}};
    EXPECT_EQ(describe(straddle_by_halves(cut, 0.032)), "keep[0.0000,9.9840) drop[9.9840,19.9840) keep[19.9840,end) ");
}

TEST(SoundCopy, EachPacketCopiedForACutGoesWhereTheJoinWouldPutIt) {
    const std::vector<AudioStretch> cut{{Kind::Keep, 0, 9.984, 0}, {Kind::Drop, 9.984, 19.984, 0},
                                        {Kind::Keep, 19.984, std::nullopt, -10}};
    const std::vector<std::pair<double, std::optional<double>>> packets{
        {-0.01, -0.01}, {9.983, 9.983}, {9.984, std::nullopt}, {19.983, std::nullopt}, {19.984, 9.984}, {500, 490}};
    SoundCopyLayout layout(cut, {}, SilenceSource{"z", 1024, 48000, 0});
    for (const auto& [t, placed] : packets) {
        const auto step = layout.packet(t);
        EXPECT_TRUE(step.before.empty()) << t;
        EXPECT_EQ(step.at.has_value(), placed.has_value()) << t;
        if (placed && step.at) {
            EXPECT_NEAR(*step.at, *placed, 1e-9) << t;
        }
    }
    EXPECT_TRUE(layout.finish(500.02).empty());
}

// The copy, packet by packet, against the segmenter's stretches joined by the
// entries of plan_audio_entries: the same packets, silent or not, in the same
// order at the same times.
TEST(SoundCopy, PlacesPacketsAndSilenceAsTheJoinOfTheSegmentsDoes) {
    const SilenceSource silence{"z", 1024, 48000, -kAac};
    std::vector<double> times;  // ffmpeg's millisecond times of an AAC track from 0.016
    for (int i = 0; i < 1000; ++i) times.push_back(std::floor((0.016 + i * kAac) * 1000.0 + 1e-6) / 1000.0);
    const double end = times.back() + kAac;
    const struct {
        const char* name;
        std::vector<AudioStretch> stretches;
        std::vector<SilenceSlot> slots;
    } cases[] = {
        {"mute", mute_stretches({{5.3, 6.1}}, kAac), {}},
        {"mute at the start", mute_stretches({{0, 1.2}}, kAac), {}},
        {"mute to the end", mute_stretches({{19, 30}}, kAac), {}},
        {"cut, card and a mute after",
         mute_within(straddle_by_halves({{Kind::Keep, 0, 4.0, 0}, {Kind::Drop, 4, 9.0, 0}, {Kind::Keep, 9, std::nullopt, -2}},
                                        kAac),
                     mute_stretches({{12, 13}}, kAac)),
         {{4.0, 3.0}}},
        {"card at the start", {{Kind::Drop, 0, 2.0, 0}, {Kind::Keep, 2, std::nullopt, 1}}, {{0, 3.0}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // As the segmenter cuts: a stretch from the first packet at or after each boundary.
        const auto bounds = stretch_boundaries(c.stretches);
        std::vector<AudioSegment> segments;
        std::vector<std::vector<double>> in_segment;
        std::size_t next = 0;
        for (const double t : times) {
            bool starts = segments.empty();
            while (next < bounds.size() && t >= bounds[next]) {
                ++next;
                starts = true;
            }
            if (starts) {
                segments.push_back({fmt::format("s{}", segments.size()), t, t});
                in_segment.emplace_back();
            }
            segments.back().end = t + kAac;
            in_segment.back().push_back(t);
        }
        // Each packet as "s" (the track's) or "z" (silent) and its time.
        std::string joined;
        std::string copied;
        const auto put = [](std::string& out, char kind, double t) { out += fmt::format("{}{:.6f} ", kind, t); };
        for (const auto& e : plan_audio_entries(segments, c.stretches, c.slots, silence, times.front())) {
            const bool silent = e.file == silence.file;
            const auto i = silent ? 0 : static_cast<std::size_t>(std::stoi(e.file.string().substr(1)));
            for (int j = 0; silent && silence.firstPacket + j * kAac < *e.outpoint; ++j)
                put(joined, 'z', e.inpointAt + (silence.firstPacket + j * kAac - e.inpoint));
            for (const double t : silent ? std::vector<double>{} : in_segment[i]) put(joined, 's', t + e.inpointAt - e.inpoint);
        }
        SoundCopyLayout layout(c.stretches, c.slots, silence);
        const auto add_silence = [&](const std::vector<SilenceRun>& runs) {
            for (const auto& run : runs)
                for (std::int64_t j = 0; j < run.packets; ++j) put(copied, 'z', run.position + j * kAac);
        };
        for (const double t : times) {
            const auto step = layout.packet(t);
            add_silence(step.before);
            if (step.at) put(copied, 's', *step.at);
        }
        add_silence(layout.finish(end));
        EXPECT_EQ(copied, joined);
        EXPECT_NEAR(layout.mutedSeconds(),
                    silence_seconds(plan_audio_entries(segments, c.stretches, {}, silence, times.front()), silence), 1e-9);
    }
}

TEST(AudioStretches, MutesInKeptSoundMoveWithItAndVanishWithWhatIsCut) {
    const std::vector<AudioStretch> cut{{Kind::Keep, 0, 10.0, 0}, {Kind::Drop, 10, 20.0, 0},
                                        {Kind::Keep, 20, std::nullopt, -10}};
    const struct {
        std::vector<AudioStretch> muted;
        std::string expected;
    } cases[] = {
        // Inside a kept part, across the cut's start, wholly cut away, to the end.
        {{{Kind::Keep, 0, 2.0, 0}, {Kind::Silence, 2, 3.0, 0}, {Kind::Keep, 3, std::nullopt, 0}},
         "keep[0.0000,2.0000) mute[2.0000,3.0000) keep[3.0000,10.0000) drop[10.0000,20.0000) keep[20.0000,end) "},
        {{{Kind::Keep, 0, 9.0, 0}, {Kind::Silence, 9, 21.0, 0}, {Kind::Keep, 21, std::nullopt, 0}},
         "keep[0.0000,9.0000) mute[9.0000,10.0000) drop[10.0000,20.0000) mute[20.0000,21.0000) keep[21.0000,end) "},
        {{{Kind::Keep, 0, 12.0, 0}, {Kind::Silence, 12, 15.0, 0}, {Kind::Keep, 15, std::nullopt, 0}},
         "keep[0.0000,10.0000) drop[10.0000,20.0000) keep[20.0000,end) "},
        {{{Kind::Keep, 0, 25.0, 0}, {Kind::Silence, 25, 40.0, 0}, {Kind::Keep, 40, std::nullopt, 0}},
         "keep[0.0000,10.0000) drop[10.0000,20.0000) keep[20.0000,25.0000) mute[25.0000,40.0000) keep[40.0000,end) "},
    };
    for (const auto& c : cases) {
        const auto out = mute_within(cut, c.muted);
        EXPECT_EQ(describe(out), c.expected);
        // Silence lands where the packets it replaces would have.
        for (const auto& s : out) {
            if (s.from >= 20) {
                EXPECT_EQ(s.offset, -10) << describe(out);
            }
        }
    }
}

TEST(SegmentList, ReadsNamesAndTimes) {
    const auto segments = parse_segment_list("a,b-000.nut,0.000000,4.296000\r\n\"c-001.nut\",4.296,4.608\n\n", "/w");
    ASSERT_TRUE(segments.has_value()) << segments.error();
    ASSERT_EQ(segments->size(), 2u);
    EXPECT_EQ((*segments)[0].file, std::filesystem::path("/w/a,b-000.nut"));
    EXPECT_EQ((*segments)[1].file, std::filesystem::path("/w/c-001.nut"));
    EXPECT_DOUBLE_EQ((*segments)[1].end, 4.608);
    EXPECT_FALSE(parse_segment_list("x.nut,zero,1\n", "/w").has_value());
}

TEST(PacketSize, FromTheSpanOfTheFirstPackets) {
    EXPECT_EQ(samples_per_packet("0.000\n0.021\n0.043\n0.064\n0.085\n", 48000), 1024);  // millisecond times
    EXPECT_EQ(samples_per_packet("-0.007\n0.013\n0.033\n", 48000), 960);
    EXPECT_EQ(samples_per_packet("0\n0.005\n0.047\n0.052\n", 48000), std::nullopt);  // Vorbis: uneven
    EXPECT_EQ(samples_per_packet("N/A\n", 48000), std::nullopt);
    // A listing of several tracks, taken apart: stream 11 is not stream 1.
    const std::string shared = "1,0.000000\n2,-0.007000\n11,5.0\n1,0.021000\n2,0.013000\n\n1,N/A\n";
    EXPECT_EQ(packets_of_stream(shared, 1), "0.000000\n0.021000\nN/A\n");
    EXPECT_EQ(packets_of_stream(shared, 2), "-0.007000\n0.013000\n");
    EXPECT_EQ(packets_of_stream(shared, 3), "");
    AudioStreamInfo opus;
    opus.codec = "opus";
    EXPECT_EQ(silence_frame_samples(opus, 960), 960);
    EXPECT_EQ(silence_frame_samples(opus, 1000), 960);  // not a packet size libopus can write
}

TEST(VideoJoin, EveryPieceIsShiftedOntoItsPlaceWithoutRoundingAddingUp) {
    // mkvmerge appends each file where the one before ends; the second piece
    // must start 40 ms earlier than that, the card's 3 s of 24000/1001 frames
    // end between two milliseconds.
    const std::vector<VideoPiece> pieces{{"a", 0.021, 0.021, 10.061},
                                         {"card", 10.021, 0, 3.003},
                                         {"b", 13.024, 0, 5.0}};
    const auto args = video_join_arguments("/w/v.mkv", pieces);
    EXPECT_EQ(args, (std::vector<std::string>{"-o", "/w/v.mkv", "a", "+", "--sync", "0:-40", "card", "+", "b"}));
    // Cut after a gap in the picture's times, the second piece's first picture
    // lies 31 ms into it: mkvmerge starts it at the end of the first all the same.
    const std::vector<VideoPiece> after_gap{{"a", 0.021, 0.021, 14.021}, {"b", 14.021, 0.031, 40.063}};
    EXPECT_EQ(video_join_arguments("/w/v.mkv", after_gap), (std::vector<std::string>{"-o", "/w/v.mkv", "a", "+", "b"}));
}

TEST(LinkedSplit, EveryPacketLandsInsideTheRangeItIsBroughtBackFrom) {
    // Kept: 10.021-16.021 and 20.021 to the end. mkvmerge moves the first to 0
    // and starts the second at 6.0 s.
    const auto split = linked_split({{10.021, 16.021}, {20.021, std::nullopt}});
    EXPECT_EQ(split.parts, "parts:10.0205s-16.0205s,+20.0205s-");
    // The sound's file has its packets 1 s late; the first starts just before
    // the edited 0, one ends the first range, one is exactly at the join.
    const auto times = linked_timestamps({0.995, 1.016, 6.979, 7.0, 7.021}, -1.0, split.cut);
    EXPECT_EQ(times, "# timestamp format v2\n10016.000\n10037.000\n16000.000\n20021.000\n20042.000\n");
    // ASS stores centiseconds: a time rounded down would fall between the
    // ranges, before 20.021.
    EXPECT_NEAR(linked_place(split.cut, 6.0, 0.01), 20.03, 1e-9);
    EXPECT_NEAR(linked_place(split.cut, 6.002, 0.01), 20.03, 1e-9);
    EXPECT_NEAR(linked_place(split.cut, 5.999, 0.01), 16.02, 1e-9);
    EXPECT_NEAR(linked_place(split.cut, 1.0, 0.001), 11.021, 1e-9);
}

TEST(SplitParts, PicturesGoToThePartOfTheKeyframeBeforeThem) {
    // Keyframes every 2 s; two ranges meet at 8, one ends before any keyframe
    // of its own, the last runs to the end.
    const std::vector<PieceRange> ranges{{2, 6}, {6, 8}, {8, 8.5}, {9.5, 12}, {14, std::nullopt}};
    SplitParts parting(ranges);
    const std::vector<std::pair<double, std::optional<std::size_t>>> expected{
        {0, std::nullopt}, {2, 0}, {4, 0}, {6, 1}, {8, 2}, {10, 3}, {12, std::nullopt}, {14, 4}, {16, 4}};
    for (const auto& [keyframe, part] : expected) EXPECT_EQ(parting.keyframe(keyframe), part) << keyframe;
    EXPECT_FALSE(parting.done());

    // The range from 8 to 8.5 holds no keyframe: it gets none of 10's pictures.
    SplitParts skipping(ranges);
    for (const double keyframe : {2.0, 6.0}) skipping.keyframe(keyframe);
    EXPECT_EQ(skipping.keyframe(10), 3u);
    EXPECT_EQ(skipping.keyframe(12.0004), std::nullopt);
    SplitParts ending({{0, 4}});
    EXPECT_EQ(ending.keyframe(0.021), 0u);
    EXPECT_EQ(ending.keyframe(4), std::nullopt);
    EXPECT_TRUE(ending.done());
}

TEST(LinkedSplit, OnlyWherePicturesRunIntoEveryCutWithoutAGap) {
    // The file's start and an open end are no cuts.
    const auto cuts = cut_keyframes({{0, 10.021}, {20.042, std::nullopt}});
    EXPECT_EQ(cuts, (std::vector<double>{10.021, 20.042}));
    struct Case {
        std::vector<double> times;
        double frame;
        bool meet;
    };
    const Case cases[] = {
        {{9.941, 9.981, 10.021, 19.962, 20.002}, 0.040, true},
        // Joined recordings: a picture 21 ms short of the keyframe after it.
        {{9.981, 10.021, 19.981, 20.042}, 0.040, false},
        {{10.021, 20.002}, 0.040, false},  // nothing read before the first cut
        // 24000/1001 stored in whole milliseconds: 41 or 42 ms apart.
        {{9.979, 10.021, 20.000, 20.042}, 1001.0 / 24000, true},
    };
    for (const auto& c : cases) EXPECT_EQ(pictures_meet_cuts(c.times, cuts, c.frame), c.meet) << c.times.front();
}

TEST(CutLayout, PiecesTakeTheirSourceLengthCardsTheirFrames) {
    Edit card;
    card.action = EditAction::Replace;
    card.cardSeconds = 3;
    CutPlan plan;
    plan.ranges = {{0, 10.0}, {20, 24.0}, {24, std::nullopt}};
    plan.slots = {{PieceSlot::Kind::Piece, 0, false}, {PieceSlot::Kind::Card, 0, false},
                  {PieceSlot::Kind::Piece, 1, true}, {PieceSlot::Kind::Piece, 2, false}};
    const auto layout = layout_cut(plan, {SnappedEdit{card, 10, 20}}, 25, 60);
    EXPECT_EQ(layout.slotPositions, (std::vector<double>{0, 10, 13, 17}));
    // The piece divided for the bitstream pass is one stretch of the timeline.
    ASSERT_EQ(layout.timeline.segments.size(), 3u);
    EXPECT_DOUBLE_EQ(layout.timeline.segments[2].sourceEnd, 60);
    EXPECT_DOUBLE_EQ(layout.timeline.offsets[2], 13);
    EXPECT_EQ(describe(layout.stretches), "keep[0.0000,10.0000) drop[10.0000,20.0000) keep[20.0000,end) ");
    EXPECT_DOUBLE_EQ(layout.stretches[2].offset, -7);
    ASSERT_EQ(layout.silence.size(), 1u);
    EXPECT_DOUBLE_EQ(layout.silence[0].length, 3);
}

}  // namespace
}  // namespace reel
