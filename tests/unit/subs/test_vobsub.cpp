#include <gtest/gtest.h>

#include <fmt/format.h>

#include "subs/vobsub.h"

namespace reel {
namespace {

using namespace std::string_literals;

TimelineSegment kept(double start, double end) { return {false, start, end, end - start}; }

// 60-70 s removed.
const Timeline gap = Timeline::from_segments({kept(0, 60), kept(70, 200)});

const std::string kHeader =
    "# VobSub index file, v7 (do not modify this line!)\n"
    "size: 720x480\n"
    "palette: 000000, 0000ff, 00ff00, ff0000, ffff00, ff00ff, 00ffff, ffffff, 808000, 8080ff, 800080, 80ff80, "
    "008080, ff8080, 555555, aaaaaa\n\n";

TEST(RetimeIdx, TimestampLinesFollowTheTimeline) {
    struct Case {
        std::string line;
        std::string expected;  // "" when dropped
    };
    const Case cases[] = {
        {"timestamp: 00:00:05:250, filepos: 000000000", "timestamp: 00:00:05:250, filepos: 000000000"},
        {"timestamp: 00:01:05:000, filepos: 000000800", ""},  // in removed material
        {"timestamp: 00:01:15:500, filepos: 00000A800", "timestamp: 00:01:05:500, filepos: 00000A800"},
        {"timestamp: 01:00:00:000, filepos: 000001000", ""},  // after the end
        {"timestamp: 00:00:05:000, filepos: xyz", ""},        // unreadable: cannot be placed
        {"timestamp: 00:00:05, filepos: 000000000", ""},
    };
    for (const auto& c : cases) {
        const std::string text = kHeader + "id: en, index: 0\n" + c.line + "\n";
        const std::string expected = kHeader + "id: en, index: 0\n" + (c.expected.empty() ? "" : c.expected + "\n");
        EXPECT_EQ(retime_idx(text, gap).text, expected) << c.line;
    }
}

TEST(RetimeIdx, SpansEndAtTheNextPictureOfTheTrackOrTheirKnownLength) {
    const std::string text = kHeader +
                             "id: en, index: 0\r\n"
                             "timestamp: 00:00:58:000, filepos: 000000000\r\n"
                             "timestamp: 00:01:02:000, filepos: 000000800\r\n"
                             "id: de, index: 1\r\n"
                             "delay: 00:00:01:000\r\n"
                             "timestamp: 00:00:59:500, filepos: 000001000\r\n"
                             "timestamp: 00:01:11:000, filepos: 000001800";
    const std::string expected = kHeader +
                                 "id: en, index: 0\r\n"
                                 "timestamp: 00:00:58:000, filepos: 000000000\r\n"
                                 "id: de, index: 1\r\n"
                                 "timestamp: 00:01:02:000, filepos: 000001800";
    // Without lengths only the next picture bounds a span, so nothing is known to be cut short.
    const auto plain = retime_idx(text, gap);
    EXPECT_EQ(plain.text, expected);
    EXPECT_TRUE(plain.shortened.empty());

    const auto with_lengths = retime_idx(text, gap, [](std::uint64_t filepos) -> std::optional<double> {
        if (filepos == 0x1800) return std::nullopt;
        return 3.0;
    });
    EXPECT_EQ(with_lengths.text, expected);
    EXPECT_EQ(with_lengths.shortened, (std::vector<ShortenedPicture>{{0, 2.0}}));
}

std::string be16(std::size_t v) { return {static_cast<char>(v >> 8), static_cast<char>(v & 0xFF)}; }

// One subpicture unit: 4 bytes of picture, a sequence that starts the display
// and one that stops it `stop_delay` units later.
std::string unit(std::size_t stop_delay) {
    const std::string start = be16(0) + be16(14) + "\x01\xFF";
    const std::string stop = be16(stop_delay) + be16(14) + "\x02\xFF";
    const std::string body = "\x11\x22\x33\x44"s + start + stop;
    return be16(4 + body.size()) + be16(8) + body;
}

std::string pack(const std::string& pes) { return "\x00\x00\x01\xBA\x44\x00\x04\x00\x04\x01\x01\x89\xC3\xF8"s + pes; }
std::string pes(const std::string& data, bool first) {
    const std::string header = first ? "\x81\x80\x05\x21\x00\x01\x00\x01"s : "\x81\x00\x00"s;
    const std::string body = header + "\x20" + data;
    return "\x00\x00\x01\xBD"s + be16(body.size()) + body;
}

TEST(SpuLength, ReadsAndLimitsTheStopDelayOfUnitsSpreadOverPackets) {
    const std::string whole = unit(264);  // 264 x 1024 / 90000 = 3.004 s
    // The second unit is split after 10 bytes, inside its first sequence.
    const std::string sub = pack(pes(whole, true)) + pack(pes(unit(88).substr(0, 10), true)) +
                            pack(pes(unit(88).substr(10), false));
    const std::size_t second = pack(pes(whole, true)).size();
    EXPECT_NEAR(spu_length(sub, 0).value_or(-1), 264 * 1024 / 90000.0, 1e-9);
    EXPECT_NEAR(spu_length(sub, second).value_or(-1), 88 * 1024 / 90000.0, 1e-9);

    std::string limited = sub;
    ASSERT_TRUE(limit_spu_length(limited, second, 0.5));
    EXPECT_NEAR(spu_length(limited, second).value_or(-1), 43 * 1024 / 90000.0, 1e-9);  // floor(0.5 s / unit)
    EXPECT_EQ(limited.size(), sub.size());
    EXPECT_EQ(limited.substr(0, second), sub.substr(0, second));
    ASSERT_TRUE(limit_spu_length(limited, 0, 10));  // never longer than it was
    EXPECT_EQ(limited.substr(0, second), sub.substr(0, second));

    struct Bad {
        std::string name, bytes;
        std::uint64_t filepos;
    };
    const Bad bad[] = {
        {"past the end", sub, sub.size()},
        {"not a pack", sub, 1},
        {"unit cut short", sub.substr(0, sub.size() - 3), second},
        {"unknown command", pack(pes(unit(5).substr(0, 12) + "\x09" + unit(5).substr(13), true)), 0},
        {"sequence pointing back", pack(pes(unit(5).substr(0, 10) + be16(2) + unit(5).substr(12), true)), 0},
    };
    for (const auto& b : bad) {
        EXPECT_FALSE(spu_length(b.bytes, b.filepos).has_value()) << b.name;
        std::string copy = b.bytes;
        EXPECT_FALSE(limit_spu_length(copy, b.filepos, 1)) << b.name;
        EXPECT_EQ(copy, b.bytes) << b.name;
    }
}

TEST(RetimeVobSub, PictureAcrossACutStopsAtTheCut) {
    const std::string one = pack(pes(unit(264), true));  // shown for 3.004 s
    const std::string sub = one + one;
    const std::string second = fmt::format("{:09X}", one.size());
    const std::string idx = kHeader + "id: en, index: 0\n" + "timestamp: 00:00:58:000, filepos: 000000000\n" +
                            "timestamp: 00:01:10:500, filepos: " + second + "\n";
    auto files = retime_vobsub(idx, sub, gap);
    ASSERT_TRUE(files.has_value()) << files.error();
    EXPECT_EQ(files->idx, kHeader + "id: en, index: 0\n" + "timestamp: 00:00:58:000, filepos: 000000000\n" +
                              "timestamp: 00:01:00:500, filepos: " + second + "\n");
    EXPECT_NEAR(spu_length(files->sub, 0).value_or(-1), 175 * 1024 / 90000.0, 1e-9);  // 2 s, in whole units
    EXPECT_EQ(files->sub.substr(one.size()), one);

    EXPECT_FALSE(retime_vobsub("size: 720x480\n", sub, gap).has_value());
}

}  // namespace
}  // namespace reel
