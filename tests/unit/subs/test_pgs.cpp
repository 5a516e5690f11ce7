#include <gtest/gtest.h>

#include "subs/pgs.h"
#include "support/media.h"

namespace reel {
namespace {

using namespace std::string_literals;

TimelineSegment kept(double start, double end) { return {false, start, end, end - start}; }

std::string be(std::uint64_t value, int bytes) {
    std::string out;
    for (int k = bytes - 1; k >= 0; --k) out += static_cast<char>((value >> (8 * k)) & 0xFF);
    return out;
}
std::string segment(double seconds, std::uint8_t type, const std::string& payload, std::uint32_t dts = 0) {
    return "PG" + be(static_cast<std::uint32_t>(seconds * 90000), 4) + be(dts, 4) + be(type, 1) + be(payload.size(), 2) +
           payload;
}
std::string pcs(std::uint8_t state, int objects, std::uint16_t number = 0) {
    PgsComposition c{.width = 320, .height = 180, .frameRate = 0x10, .number = number, .state = state, .placements = {}};
    for (int k = 0; k < objects; ++k) c.placements.push_back({static_cast<std::uint16_t>(k), 0, 0, 10, 20});
    return composition_payload(c);
}
const std::string kWindow = "\x01\x00"s + be(0, 4) + be(320, 2) + be(180, 2);
std::string palette(std::uint8_t entry, std::uint8_t y) { return "\x00\x00"s + be(entry, 1) + be(y, 1) + "\x80\x80\xFF"; }
std::string object(std::uint16_t id) { return be(id, 2) + "\x00\xC0"s + be(8, 3) + be(2, 2) + be(1, 2) + "\x01\x01\x01\x01"; }

TEST(ReadPgs, MalformedStreamsFailWithWhereAndWhat) {
    const std::string show = segment(1, 0x16, pcs(0x80, 1)) + segment(1, 0x80, "");
    const std::string open = segment(1, 0x16, pcs(0, 0));
    const std::pair<std::string, std::string> cases[] = {
        {"XG" + show.substr(2), "no PGS segment at byte 0"},
        {show + "PG\x00"s, "cut short at byte 45"},
        {show.substr(0, 20), "cut short at byte 0"},
        {show + segment(2, 0x42, ""), "unknown segment type 0x42"},
        {segment(1, 0x14, "\x00\x00"s), "palette segment at byte 0 lies outside a display set"},
        {open + show, "display set before byte 24 has no end segment"},
        {show + open, "ends inside a display set"},
        {segment(1, 0x16, pcs(0x80, 1).substr(0, 15)), "too short for its objects"},
        {segment(1, 0x16, pcs(0, 0).substr(0, 10) + "\x01" + be(0, 2) + "\x00\x80"s + be(0, 4)), "too short for its objects"},
        {open + segment(1, 0x17, "\x02" + kWindow.substr(1)), "window segment too short"},
        {open + segment(1, 0x15, be(0, 2) + "\x00\xC0\x00"s), "object segment too short"},
    };
    for (const auto& [bytes, message] : cases) {
        auto sets = read_pgs(bytes);
        ASSERT_FALSE(sets.has_value()) << message;
        EXPECT_NE(sets.error().find(message), std::string::npos) << sets.error();
        EXPECT_FALSE(retime_pgs(bytes, Timeline::identity(100)).has_value()) << message;
    }
}

TEST(ReadPgs, CompositionsReadBackAsWritten) {
    PgsComposition cropped;
    cropped.placements = {{7, 1, 0xC0, 3, 4, 5, 6, 7, 8}, {9, 0, 0x40, 1, 2}};
    EXPECT_EQ(parse_composition(composition_payload(cropped)).value(), cropped);
}

// A retimed set: its time, state, placed objects and defined objects.
using Shape = std::tuple<double, int, std::size_t, std::size_t>;

std::vector<Shape> shapes(const std::string& bytes) {
    std::vector<Shape> out;
    const auto sets = read_pgs(bytes).value();
    for (const auto& set : sets) {
        const auto defined = std::count_if(set.segments.begin(), set.segments.end(), [](auto& s) { return s.type == pgs::kObject; });
        out.emplace_back(set.pts() / 90000.0, set.composition.state, set.composition.placements.size(), defined);
    }
    return out;
}

TEST(RetimePgs, SetsFollowTheTimelineLikeCues) {
    // Cue 1-2; an epoch 4-10 whose box moves at 6 and 8; cue 12-13.
    const std::string bytes = test::pgs_bytes({{1, 2}, {4, 10}, {12, 13}}, 320, 180, {6, 8});
    constexpr int ES = 0x80, N = 0;
    const std::pair<Timeline, std::vector<Shape>> cases[] = {
        // Through the epoch: the move at 6 shows from the cut on, complete, and
        // so does the move at 8 that follows the cut.
        {Timeline::from_segments({kept(0, 5), kept(7, 30)}),
         {{1, ES, 1, 1}, {2, N, 0, 0}, {4, ES, 1, 1}, {5, ES, 1, 1}, {6, ES, 1, 1}, {8, N, 0, 0}, {10, ES, 1, 1},
          {11, N, 0, 0}}},
        // A card: everything after it moves on, the move that straddles it ends there.
        {Timeline::from_segments({kept(0, 7), {true, 0, 0, 3}, kept(7, 30)}),
         {{1, ES, 1, 1}, {2, N, 0, 0}, {4, ES, 1, 1}, {6, N, 1, 0}, {7, N, 0, 0}, {11, ES, 1, 1}, {13, N, 0, 0},
          {15, ES, 1, 1}, {16, N, 0, 0}}},
        // The head and the last display removed.
        {Timeline::from_segments({kept(3, 11.5), kept(14, 30)}), {{1, ES, 1, 1}, {3, N, 1, 0}, {5, N, 1, 0}, {7, N, 0, 0}}},
        {Timeline::from_segments({kept(20, 30)}), {}},
    };
    for (const auto& [timeline, expected] : cases) EXPECT_EQ(shapes(retime_pgs(bytes, timeline).value()), expected);
    // Nothing moved: every segment written back as read.
    EXPECT_EQ(retime_pgs(bytes, Timeline::identity(30)).value(), bytes);
}

TEST(RetimePgs, CompleteSetCarriesTheDefinitionsInForce) {
    // Palette entries come from two sets; in the removed one object 1 is
    // redefined and object 2 defined in two fragments.
    const std::string first = be(2, 2) + "\x00\x80"s + be(12, 3) + be(2, 2) + be(2, 2) + "\x01\x01";
    const std::string rest = be(2, 2) + "\x00\x40"s + "\x01\x01\x01\x01\x01\x01";
    const std::string bytes =
        segment(1, 0x16, pcs(0x80, 1, 5)) + segment(1, 0x17, kWindow) + segment(1, 0x14, palette(1, 0x10)) +
        segment(1, 0x15, object(0)) + segment(1, 0x15, object(1)) + segment(1, 0x80, "") +
        segment(3, 0x16, pcs(0, 1, 6)) + segment(3, 0x14, palette(2, 0x20)) + segment(3, 0x15, object(1) + "x") +
        segment(3, 0x15, first) + segment(3, 0x15, rest) + segment(3, 0x80, "") +
        segment(5, 0x16, pcs(0, 3, 7), 5 * 90000 - 900) + segment(5, 0x80, "", 5 * 90000 - 900);
    // 2 to 4.8 removed: the middle set keeps 0.2 s, too little to show.
    auto sets = read_pgs(retime_pgs(bytes, Timeline::from_segments({kept(0, 2), kept(4.8, 10)})).value()).value();
    // The first set, its clear at the cut, the last set completed and its clear where the source ends.
    ASSERT_EQ(sets.size(), 4u);
    EXPECT_EQ(sets[1].pts(), 2u * 90000);
    EXPECT_TRUE(sets[1].composition.placements.empty());
    EXPECT_EQ(sets[1].segments[0].dts, 0u);  // the source gave no decoding time there
    EXPECT_EQ(sets[3].pts(), 648000u);  // 7.2 s

    const PgsDisplaySet& last = sets[2];
    EXPECT_EQ(last.composition.state, pgs::kEpochStart);
    EXPECT_EQ(last.composition.number, 7);  // counting on from 5
    std::vector<std::string> payloads;
    for (const auto& s : last.segments) {
        EXPECT_EQ(s.pts, 198000u);        // 2.2 s
        EXPECT_EQ(s.dts, 198000u - 900);  // decoding keeps its lead
        payloads.push_back(s.payload);
    }
    const std::vector<std::string> expected{composition_payload(last.composition), kWindow,
                                            "\x00\x00\x01\x10\x80\x80\xFF\x02\x20\x80\x80\xFF"s, object(0), object(1) + "x",
                                            first, rest, ""};
    EXPECT_EQ(payloads, expected);
}

}  // namespace
}  // namespace reel
