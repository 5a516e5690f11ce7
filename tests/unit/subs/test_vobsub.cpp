#include <gtest/gtest.h>

#include <fmt/format.h>

#include "subs/vobsub.h"

namespace reel {
namespace {

using namespace std::string_literals;

// 60-70 s removed.
const Timeline gap = Timeline::from_segments({{false, 0, 60, 60}, {false, 70, 200, 130}});
const std::string kHeader = "# VobSub index file, v7 (do not modify this line!)\nsize: 720x480\npalette: 000000, ffffff\n\n";

TEST(RetimeIdx, TimestampLinesFollowTheTimeline) {
    const std::pair<std::string, std::string> cases[] = {
        {"timestamp: 00:00:05:250, filepos: 000000000", "timestamp: 00:00:05:250, filepos: 000000000"},
        {"timestamp: 00:01:15:500, filepos: 00000A800", "timestamp: 00:01:05:500, filepos: 00000A800"},
        // Shown from removed material on: what is left starts at the cut.
        {"timestamp: 00:01:05:000, filepos: 000000800", "timestamp: 00:01:00:000, filepos: 000000800"},
        {"timestamp: 01:00:00:000, filepos: 000001000", ""},  // after the end
        {"timestamp: 00:00:05:000, filepos: xyz", ""},        // cannot be placed
        {"timestamp: 00:00:05, filepos: 000000000", ""},
    };
    for (const auto& [line, expected] : cases) {
        EXPECT_EQ(retime_idx(kHeader + "id: en, index: 0\n" + line + "\n", gap).text,
                  kHeader + "id: en, index: 0\n" + (expected.empty() ? "" : expected + "\n"));
    }

    // A picture lasts until the next of its track, or as long as the .sub says;
    // delays count within their track; line ends stay.
    const std::string text = kHeader + "id: en, index: 0\r\ntimestamp: 00:00:58:000, filepos: 000000000\r\n"
                                       "timestamp: 00:01:02:000, filepos: 000000800\r\nid: de, index: 1\r\n"
                                       "delay: 00:00:01:000\r\ntimestamp: 00:00:59:500, filepos: 000001000\r\n"
                                       "timestamp: 00:01:11:000, filepos: 000001800";
    // Without their lengths the pictures shown when the removal begins last
    // into kept material and start again at the cut.
    EXPECT_EQ(retime_idx(text, gap).text,
              kHeader + "id: en, index: 0\r\ntimestamp: 00:00:58:000, filepos: 000000000\r\n"
                        "timestamp: 00:01:00:000, filepos: 000000800\r\nid: de, index: 1\r\n"
                        "timestamp: 00:01:00:000, filepos: 000001000\r\ntimestamp: 00:01:02:000, filepos: 000001800");
    EXPECT_TRUE(retime_idx(text, gap).shortened.empty());
    const std::string expected = kHeader + "id: en, index: 0\r\ntimestamp: 00:00:58:000, filepos: 000000000\r\n"
                                           "id: de, index: 1\r\ntimestamp: 00:01:02:000, filepos: 000001800";
    const auto lengths = retime_idx(text, gap, [](std::uint64_t pos) { return pos == 0x1800 ? std::nullopt : std::optional(3.0); });
    EXPECT_EQ(lengths.text, expected);
    EXPECT_EQ(lengths.shortened, (std::vector<ShortenedPicture>{{0, 2.0}}));
}

std::string be16(std::size_t v) { return {static_cast<char>(v >> 8), static_cast<char>(v & 0xFF)}; }
// A subpicture unit: 4 bytes of picture, a sequence that starts the display
// and one that stops it `stop_delay` units of 1024/90000 s later.
std::string unit(std::size_t stop_delay) {
    const std::string body = "\x11\x22\x33\x44"s + be16(0) + be16(14) + "\x01\xFF" + be16(stop_delay) + be16(14) + "\x02\xFF";
    return be16(4 + body.size()) + be16(8) + body;
}
std::string pack(const std::string& data, bool first = true) {
    const std::string body = (first ? "\x81\x80\x05\x21\x00\x01\x00\x01"s : "\x81\x00\x00"s) + "\x20" + data;
    return "\x00\x00\x01\xBA\x44\x00\x04\x00\x04\x01\x01\x89\xC3\xF8\x00\x00\x01\xBD"s + be16(body.size()) + body;
}

TEST(SpuLength, ReadsAndLimitsTheStopDelayOfUnitsSpreadOverPackets) {
    // The second unit is split after 10 bytes, inside its first sequence.
    const std::size_t second = pack(unit(264)).size();
    const std::string sub = pack(unit(264)) + pack(unit(88).substr(0, 10)) + pack(unit(88).substr(10), false);
    EXPECT_NEAR(spu_length(sub, 0).value_or(-1), 264 * 1024 / 90000.0, 1e-9);
    EXPECT_NEAR(spu_length(sub, second).value_or(-1), 88 * 1024 / 90000.0, 1e-9);

    std::string limited = sub;
    ASSERT_TRUE(limit_spu_length(limited, second, 0.5));
    EXPECT_NEAR(spu_length(limited, second).value_or(-1), 43 * 1024 / 90000.0, 1e-9);  // whole units, not longer
    ASSERT_TRUE(limit_spu_length(limited, 0, 10));                                      // never longer than it was
    EXPECT_EQ(limited.substr(0, second), sub.substr(0, second));
    EXPECT_EQ(limited.size(), sub.size());

    const std::pair<std::string, std::uint64_t> bad[] = {
        {sub, sub.size()}, {sub, 1}, {sub.substr(0, sub.size() - 3), second},
        {pack(unit(5).substr(0, 12) + "\x09" + unit(5).substr(13)), 0},     // unknown command
        {pack(unit(5).substr(0, 10) + be16(2) + unit(5).substr(12)), 0},    // sequence pointing back
    };
    for (const auto& [bytes, filepos] : bad) {
        EXPECT_FALSE(spu_length(bytes, filepos).has_value()) << filepos;
        std::string copy = bytes;
        EXPECT_FALSE(limit_spu_length(copy, filepos, 1));
        EXPECT_EQ(copy, bytes);
    }
}

TEST(RetimeVobSub, PictureAcrossACutStopsAtTheCut) {
    const std::string one = pack(unit(264));  // shown for 3.004 s
    const std::string second = fmt::format("{:09X}", one.size());
    const std::string idx = kHeader + "id: en, index: 0\ntimestamp: 00:00:58:000, filepos: 000000000\n" +
                            "timestamp: 00:01:10:500, filepos: " + second + "\n";
    auto files = retime_vobsub(idx, one + one, gap);
    ASSERT_TRUE(files.has_value()) << files.error();
    EXPECT_EQ(files->idx, kHeader + "id: en, index: 0\ntimestamp: 00:00:58:000, filepos: 000000000\n" +
                              "timestamp: 00:01:00:500, filepos: " + second + "\n");
    EXPECT_NEAR(spu_length(files->sub, 0).value_or(-1), 175 * 1024 / 90000.0, 1e-9);  // 2 s
    EXPECT_EQ(files->sub.substr(one.size()), one);
    EXPECT_FALSE(retime_vobsub("size: 720x480\n", one, gap).has_value());
}

}  // namespace
}  // namespace reel
