#include <gtest/gtest.h>

#include "subs/pgs.h"
#include "support/media.h"

namespace reel {
namespace {

using namespace std::string_literals;

TimelineSegment kept(double start, double end) { return {false, start, end, end - start}; }
TimelineSegment card(double length) { return {true, 0, 0, length}; }

std::string be(std::uint64_t value, int bytes) {
    std::string out;
    for (int k = bytes - 1; k >= 0; --k) out += static_cast<char>((value >> (8 * k)) & 0xFF);
    return out;
}

std::string segment(double seconds, std::uint8_t type, const std::string& payload, std::uint32_t dts = 0) {
    return "PG" + be(static_cast<std::uint32_t>(seconds * 90000), 4) + be(dts, 4) + be(type, 1) +
           be(payload.size(), 2) + payload;
}

std::string pcs(std::uint8_t state, int objects, std::uint16_t number = 0) {
    PgsComposition c;
    c.width = 320;
    c.height = 180;
    c.number = number;
    c.state = state;
    for (int k = 0; k < objects; ++k) c.placements.push_back({static_cast<std::uint16_t>(k), 0, 0, 10, 20});
    return composition_payload(c);
}

const std::string kEnd = "";
std::string window() { return "\x01\x00"s + be(0, 2) + be(0, 2) + be(320, 2) + be(180, 2); }
std::string palette(std::uint8_t entry, std::uint8_t y) { return "\x00\x00"s + be(entry, 1) + be(y, 1) + "\x80\x80\xFF"; }
std::string object(std::uint16_t id) { return be(id, 2) + "\x00\xC0"s + be(8, 3) + be(2, 2) + be(1, 2) + "\x01\x01\x01\x01"; }

TEST(ReadPgs, MalformedStreamsFailWithWhereAndWhat) {
    const std::string show = segment(1, 0x16, pcs(0x80, 1)) + segment(1, 0x80, kEnd);
    struct Case {
        std::string name, bytes, message;
    };
    const Case cases[] = {
        {"not PG", "XG" + show.substr(2), "no PGS segment at byte 0"},
        {"header cut", show + "PG\x00"s, "cut short at byte 45"},
        {"payload cut", show.substr(0, 20), "cut short at byte 0"},
        {"unknown type", show + segment(2, 0x42, ""), "unknown segment type 0x42"},
        {"outside a set", segment(1, 0x14, "\x00\x00"s), "palette segment at byte 0 lies outside a display set"},
        {"no end", segment(1, 0x16, pcs(0x80, 0)) + show, "display set before byte 24 has no end segment"},
        {"ends inside", show + segment(2, 0x16, pcs(0, 0)), "ends inside a display set"},
        {"short composition", segment(1, 0x16, "\x01\x02"), "composition segment too short"},
        {"objects missing", segment(1, 0x16, pcs(0x80, 1).substr(0, 15)), "too short for its objects"},
        {"crop missing", segment(1, 0x16, pcs(0x80, 0).substr(0, 10) + "\x01" + be(0, 2) + "\x00\x80"s + be(0, 4)),
         "too short for its objects"},
        {"short window", segment(1, 0x16, pcs(0, 0)) + segment(1, 0x17, "\x02" + window().substr(1)), "window segment too short"},
        {"short object", segment(1, 0x16, pcs(0, 0)) + segment(1, 0x15, be(0, 2) + "\x00\xC0\x00"s), "object segment too short"},
        {"short palette", segment(1, 0x16, pcs(0, 0)) + segment(1, 0x14, "\x00"s), "palette segment too short"},
    };
    for (const auto& c : cases) {
        auto sets = read_pgs(c.bytes);
        ASSERT_FALSE(sets.has_value()) << c.name;
        EXPECT_NE(sets.error().find(c.message), std::string::npos) << c.name << ": " << sets.error();
        EXPECT_FALSE(retime_pgs(c.bytes, Timeline::identity(100)).has_value()) << c.name;
    }
    EXPECT_TRUE(read_pgs("").value().empty());
}

TEST(ReadPgs, GroupsSegmentsIntoDisplaySetsAndWritesThemBack) {
    const std::string bytes = test::pgs_bytes({{1, 2}, {4, 9}}, 320, 180, {6});
    auto sets = read_pgs(bytes);
    ASSERT_TRUE(sets.has_value()) << sets.error();
    ASSERT_EQ(sets->size(), 5u);
    const std::uint32_t times[] = {90000, 180000, 360000, 540000, 810000};
    const std::size_t segments[] = {5, 3, 5, 3, 3};
    const std::uint8_t states[] = {0x80, 0, 0x80, 0, 0};
    const std::size_t objects[] = {1, 0, 1, 1, 0};
    for (std::size_t k = 0; k < 5; ++k) {
        EXPECT_EQ((*sets)[k].pts(), times[k]) << k;
        EXPECT_EQ((*sets)[k].segments.size(), segments[k]) << k;
        EXPECT_EQ((*sets)[k].composition.state, states[k]) << k;
        EXPECT_EQ((*sets)[k].composition.placements.size(), objects[k]) << k;
        EXPECT_EQ((*sets)[k].composition.number, k) << k;
    }
    EXPECT_EQ((*sets)[3].composition.placements[0].y, (*sets)[2].composition.placements[0].y - 40);
    EXPECT_EQ(write_pgs(*sets), bytes);

    PgsComposition cropped;
    cropped.placements = {{7, 1, 0xC0, 3, 4, 5, 6, 7, 8}, {9, 0, 0x40, 1, 2}};
    EXPECT_EQ(parse_composition(composition_payload(cropped)).value(), cropped);
}

// What a retimed set looks like: its time, state, placed objects and defined objects.
struct SetShape {
    double seconds;
    std::uint8_t state;
    std::size_t placed;
    std::size_t defined;
    bool operator==(const SetShape&) const = default;
};
std::ostream& operator<<(std::ostream& os, const SetShape& s) {
    return os << "{" << s.seconds << "s state " << int(s.state) << " placed " << s.placed << " defined " << s.defined << "}";
}

std::vector<SetShape> shapes(const std::string& bytes) {
    std::vector<SetShape> out;
    auto sets = read_pgs(bytes);
    EXPECT_TRUE(sets.has_value()) << sets.error();
    for (const auto& set : sets.value_or(std::vector<PgsDisplaySet>{})) {
        std::size_t defined = 0;
        for (const auto& s : set.segments) defined += s.type == pgs::kObject;
        out.push_back({set.pts() / 90000.0, set.composition.state, set.composition.placements.size(), defined});
    }
    return out;
}

TEST(RetimePgs, SetsFollowTheTimelineLikeCues) {
    // Cue 1-2; an epoch 4-10 whose box moves at 6 and 8; cue 12-13.
    const std::string bytes = test::pgs_bytes({{1, 2}, {4, 10}, {12, 13}}, 320, 180, {6, 8});
    constexpr std::uint8_t ES = 0x80, N = 0;
    struct Case {
        std::string name;
        Timeline timeline;
        std::vector<SetShape> expected;
    };
    const Case cases[] = {
        {"cut inside the epoch",
         Timeline::from_segments({kept(0, 5), kept(7, 30)}),
         // The box ends at the cut; the move at 8 becomes an epoch start carrying the object.
         {{1, ES, 1, 1}, {2, N, 0, 0}, {4, ES, 1, 1}, {5, N, 0, 0}, {6, ES, 1, 1}, {8, N, 0, 0}, {10, ES, 1, 1}, {11, N, 0, 0}}},
        {"card inside the epoch",
         Timeline::from_segments({kept(0, 7), card(3), kept(7, 30)}),
         {{1, ES, 1, 1}, {2, N, 0, 0}, {4, ES, 1, 1}, {6, N, 1, 0}, {7, N, 0, 0}, {11, ES, 1, 1}, {13, N, 0, 0},
          {15, ES, 1, 1}, {16, N, 0, 0}}},
        {"a whole display removed, then the head",
         Timeline::from_segments({kept(3, 11.5), kept(14, 30)}),
         {{1, ES, 1, 1}, {3, N, 1, 0}, {5, N, 1, 0}, {7, N, 0, 0}}},
        {"everything removed", Timeline::from_segments({kept(20, 30)}), {}},
    };
    for (const auto& c : cases) {
        auto retimed = retime_pgs(bytes, c.timeline);
        ASSERT_TRUE(retimed.has_value()) << c.name << ": " << retimed.error();
        EXPECT_EQ(shapes(*retimed), c.expected) << c.name;
    }
    EXPECT_EQ(retime_pgs(bytes, Timeline::identity(30)).value(), bytes);
}

TEST(RetimePgs, CompleteSetCarriesTheDefinitionsInForce) {
    // Palette entries come from two sets, one of them removed; object 1 is
    // redefined in the removed set, object 2 is only defined there.
    const std::string bytes =
        segment(1, 0x16, pcs(0x80, 1, 5)) + segment(1, 0x17, window()) + segment(1, 0x14, palette(1, 0x10)) +
        segment(1, 0x15, object(0)) + segment(1, 0x15, object(1)) + segment(1, 0x80, kEnd) +
        segment(3, 0x16, pcs(0, 1, 6)) + segment(3, 0x14, palette(2, 0x20)) + segment(3, 0x15, object(1) + "x") +
        segment(3, 0x15, object(2)) + segment(3, 0x80, kEnd) +
        segment(5, 0x16, pcs(0, 2, 7), 5 * 90000 - 900) + segment(5, 0x80, kEnd, 5 * 90000 - 900);
    auto retimed = retime_pgs(bytes, Timeline::from_segments({kept(0, 2), kept(4, 10)}));
    ASSERT_TRUE(retimed.has_value()) << retimed.error();
    auto sets = read_pgs(*retimed);
    ASSERT_TRUE(sets.has_value()) << sets.error();
    // The first set, its clear at the cut, the last set completed, and its clear
    // where the kept source ends.
    ASSERT_EQ(sets->size(), 4u);
    EXPECT_EQ((*sets)[3].pts(), 8u * 90000);

    const PgsDisplaySet& clear = (*sets)[1];
    EXPECT_EQ(clear.pts(), 2u * 90000);
    EXPECT_TRUE(clear.composition.placements.empty());
    EXPECT_EQ(clear.segments[0].dts, 0u);  // the source gave no decoding times here

    const PgsDisplaySet& last = (*sets)[2];
    EXPECT_EQ(last.composition.state, pgs::kEpochStart);
    EXPECT_EQ(last.composition.placements.size(), 2u);
    EXPECT_EQ(last.composition.number, 7);  // numbers count on from the first set's: 5, 6, 7
    std::vector<std::string> types, payloads;
    for (const auto& s : last.segments) {
        EXPECT_EQ(s.pts, 3u * 90000);
        EXPECT_EQ(s.dts, 3u * 90000 - 900);  // decoding keeps its lead
        types.push_back(std::to_string(s.type));
        payloads.push_back(s.payload);
    }
    EXPECT_EQ(types, (std::vector<std::string>{"22", "23", "20", "21", "21", "21", "128"}));
    EXPECT_EQ(payloads[1], window());
    EXPECT_EQ(payloads[2], "\x00\x00"s + "\x01\x10\x80\x80\xFF" + "\x02\x20\x80\x80\xFF");
    EXPECT_EQ(payloads[3], object(0));
    EXPECT_EQ(payloads[4], object(1) + "x");
    EXPECT_EQ(payloads[5], object(2));
}

TEST(RetimePgs, EpochStartRemovedTakesItsDefinitionsAlong) {
    // A later epoch start flushes the earlier definitions: the completed set
    // carries only the new epoch's object, split over two fragments.
    const std::string first = be(3, 2) + "\x00\x80"s + be(12, 3) + be(2, 2) + be(2, 2) + "\x01\x01";
    const std::string rest = be(3, 2) + "\x00\x40"s + "\x01\x01\x01\x01\x01\x01";
    const std::string bytes =
        segment(1, 0x16, pcs(0x80, 1)) + segment(1, 0x15, object(0)) + segment(1, 0x80, kEnd) +
        segment(4, 0x16, pcs(0x80, 1)) + segment(4, 0x15, first) + segment(4, 0x15, rest) + segment(4, 0x80, kEnd) +
        segment(6, 0x16, pcs(0x40, 1)) + segment(6, 0x80, kEnd);
    auto retimed = retime_pgs(bytes, Timeline::from_segments({kept(5, 10)}));
    ASSERT_TRUE(retimed.has_value()) << retimed.error();
    auto sets = read_pgs(*retimed).value();
    ASSERT_EQ(sets.size(), 2u);
    EXPECT_EQ(sets[0].pts(), 90000u);
    EXPECT_EQ(sets[0].composition.state, pgs::kEpochStart);
    ASSERT_EQ(sets[0].segments.size(), 4u);
    EXPECT_EQ(sets[0].segments[1].payload, first);
    EXPECT_EQ(sets[0].segments[2].payload, rest);
    EXPECT_TRUE(sets[1].composition.placements.empty());
    EXPECT_EQ(sets[1].pts(), 5u * 90000);  // the last picture ends with its kept stretch
}

}  // namespace
}  // namespace reel
