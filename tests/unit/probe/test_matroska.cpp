// The Matroska index reader on hand-built files: the cues of the picture only,
// in seconds by the file's own scale, and nothing from a broken or foreign file.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>

#include "probe/matroska.h"

namespace reel {
namespace {

std::string id_bytes(std::uint32_t id) {
    std::string out;
    for (int shift = 24; shift >= 0; shift -= 8)
        if (id >> shift || !out.empty()) out.push_back(static_cast<char>((id >> shift) & 0xFF));
    return out;
}
std::string uint_bytes(std::uint64_t v) {
    std::string out;
    for (int shift = 56; shift >= 0; shift -= 8)
        if (v >> shift || !out.empty() || shift == 0) out.push_back(static_cast<char>((v >> shift) & 0xFF));
    return out;
}
// Sizes are written in eight bytes, as writers that fill them in later do.
std::string el(std::uint32_t id, const std::string& body) {
    std::string size{"\x01"};
    for (int shift = 48; shift >= 0; shift -= 8) size.push_back(static_cast<char>((body.size() >> shift) & 0xFF));
    return id_bytes(id) + size + body;
}
std::string cue(std::uint64_t time, std::uint64_t track) {
    return el(0xBB, el(0xB3, uint_bytes(time)) + el(0xB7, el(0xF7, uint_bytes(track)) + el(0xF1, uint_bytes(9))));
}

TEST(MatroskaCues, HeadAndCuesOfThePicture) {
    const std::string tracks = el(0x1654AE6B, el(0xAE, el(0xD7, uint_bytes(2)) + el(0x83, uint_bytes(2))) +
                                                  el(0xAE, el(0xD7, uint_bytes(1)) + el(0x83, uint_bytes(1))));
    const std::string info = el(0x1549A966, el(0x2AD7B1, uint_bytes(100000)) + el(0x4D80, "Lavf59.27.100"));
    const std::string cues = el(0x1C53BB6B, cue(20000, 1) + cue(5, 2) + cue(0, 1) + cue(20000, 1));
    // The seek head points past itself, the info and the tracks to the cues
    // (a position in two bytes, as the size of the seek head must not change).
    const auto seek_to = [](std::uint64_t at) {
        return el(0x114D9B74, el(0x4DBB, el(0x53AB, id_bytes(0x1C53BB6B)) +
                                             el(0x53AC, std::string{static_cast<char>(at >> 8), static_cast<char>(at & 0xFF)})));
    };
    const std::string seek = seek_to(seek_to(0).size() + info.size() + tracks.size());
    const std::string children = seek + info + tracks + cues;
    // An open ("unknown") segment size, as live recordings leave it.
    const std::string file = el(0x1A45DFA3, el(0x4282, "matroska")) + "\x18\x53\x80\x67\x01\xFF\xFF\xFF\xFF\xFF\xFF\xFF" + children;

    const auto head = parse_matroska_head(file);
    ASSERT_TRUE(head);
    ASSERT_EQ(head->tracks.size(), 2u);
    EXPECT_EQ(head->tracks[1].number, 1u);
    EXPECT_EQ(head->timestampScale, 100000u);
    EXPECT_TRUE(cues_list_every_keyframe(*head));
    ASSERT_TRUE(head->cues);
    const std::uint64_t at = head->segmentData + seek.size() + info.size() + tracks.size();
    EXPECT_EQ(*head->cues, at);

    const auto times = parse_cue_times(std::string_view(file).substr(at), 1, head->timestampScale);
    ASSERT_TRUE(times);
    EXPECT_EQ(*times, (std::vector<double>{0.0, 2.0}));

    EXPECT_FALSE(parse_cue_times(std::string_view(file).substr(at, cues.size() - 1), 1, 1000000));
    EXPECT_FALSE(parse_matroska_head("RIFF....AVI LIST"));
    MatroskaHead other;
    other.writingApp = "SomeRecorder 1.0";
    other.muxingApp = "libebml v1.4.2 + libmatroska v1.6.4";
    EXPECT_FALSE(cues_list_every_keyframe(other));
}

// Pictures shown before the keyframe carry negative times relative to the
// cluster; sound may come in block groups.
TEST(MatroskaCues, EarliestBlockOfEachTrackInTheFirstCluster) {
    const auto block = [](char track, std::int16_t relative) {
        return std::string{static_cast<char>(0x80 | track), static_cast<char>(relative >> 8),
                           static_cast<char>(relative & 0xFF), '\x80', 'x', 'y'};
    };
    const std::string cluster = el(0x1F43B675, el(0xE7, uint_bytes(100)) + el(0xA3, block(1, 0)) +
                                                   el(0xA3, block(1, -40)) + el(0xA0, el(0xA1, block(2, 5))));
    const auto starts = parse_cluster_starts(cluster, 1000000);
    ASSERT_EQ(starts.size(), 2u);
    EXPECT_EQ(starts[0].number, 1u);
    EXPECT_DOUBLE_EQ(starts[0].earliest, 0.06);
    EXPECT_EQ(starts[0].blocks, 2u);
    EXPECT_DOUBLE_EQ(starts[1].earliest, 0.105);
    // Cut inside the second block: its header still counts, the rest is not read.
    EXPECT_EQ(parse_cluster_starts(std::string_view(cluster).substr(0, 50), 1000000).front().blocks, 2u);
}

// Sound stored several frames to a block (as mkvmerge does) has one time per
// block: the others follow at the track's frame length.
TEST(MatroskaCues, FrameTimesOfOneTrackWithFramesStoredTogether) {
    const auto block = [](char track, std::int16_t relative, std::string laces) {
        const char flags = laces.empty() ? '\x80' : '\x82';
        return std::string{static_cast<char>(0x80 | track), static_cast<char>(relative >> 8),
                           static_cast<char>(relative & 0xFF), flags} + laces + "xyz";
    };
    // Track 2: three frames at 100 ms, one at 160 ms; track 1 between them.
    const std::string cluster = el(0x1F43B675, el(0xE7, uint_bytes(100)) + el(0xA3, block(2, 0, "\x02")) +
                                                   el(0xA3, block(1, 0, "")) + el(0xA0, el(0xA1, block(2, 60, ""))));
    const auto near = [](std::optional<std::vector<double>> got, std::vector<double> want) {
        if (!got || got->size() != want.size()) return false;
        for (std::size_t k = 0; k < want.size(); ++k)
            if (std::abs((*got)[k] - want[k]) > 1e-9) return false;
        return true;
    };
    EXPECT_TRUE(near(parse_cluster_frame_times(cluster, 1000000, 2, 10, 0.02), {0.1, 0.12, 0.14, 0.16}));
    EXPECT_TRUE(near(parse_cluster_frame_times(cluster, 1000000, 2, 2, 0.02), {0.1, 0.12}));
    EXPECT_TRUE(near(parse_cluster_frame_times(cluster, 1000000, 1, 10, 0), {0.1}));
    // Frames stored together in a track without a frame length: not guessed.
    EXPECT_FALSE(parse_cluster_frame_times(cluster, 1000000, 2, 10, 0));
    // The read ends inside the first block's header: nothing of it is listed.
    EXPECT_EQ(parse_cluster_frame_times(std::string_view(cluster).substr(0, 35), 1000000, 2, 10, 0.02),
              std::vector<double>{});
}

}  // namespace
}  // namespace reel
