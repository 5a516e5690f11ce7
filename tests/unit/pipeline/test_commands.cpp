#include "pipeline/commands.h"

#include <algorithm>

#include <gtest/gtest.h>

namespace reel {
namespace {

using Args = std::vector<std::string>;

struct SplitCase {
    std::vector<PieceRange> ranges;
    std::string expected;
};

class FormatSplitParts : public ::testing::TestWithParam<SplitCase> {};

TEST_P(FormatSplitParts, PlacesEveryBoundaryHalfAMillisecondEarly) {
    EXPECT_EQ(format_split_parts(GetParam().ranges), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FormatSplitParts,
    ::testing::Values(SplitCase{{{0, 10.0}, {25, std::nullopt}}, "parts:0.0000s-9.9995s,24.9995s-"},
                      SplitCase{{{0, 10.0}, {20, std::nullopt}}, "parts:0.0000s-9.9995s,19.9995s-"},
                      SplitCase{{{5, std::nullopt}}, "parts:4.9995s-"},
                      // At or below a millisecond the boundary is the start of the file.
                      SplitCase{{{0.001, 2.0}}, "parts:0.0000s-1.9995s"},
                      SplitCase{{{0.0011, 3661.25}}, "parts:0.0006s-3661.2495s"},
                      SplitCase{{}, "parts:"}));

TEST(SplitPartPaths, NumbersPartsLikeMkvmerge) {
    EXPECT_EQ(split_part_paths("/w/seg.mkv", 3),
              (std::vector<std::filesystem::path>{"/w/seg-001.mkv", "/w/seg-002.mkv", "/w/seg-003.mkv"}));
    EXPECT_EQ(split_part_paths("aud.mka", 2).front(), std::filesystem::path("aud-001.mka"));
    // No extension, or only a leading dot: mkvmerge writes Matroska.
    EXPECT_EQ(split_part_paths("/w/parts", 2).front(), std::filesystem::path("/w/parts-001.mkv"));
    EXPECT_EQ(split_part_paths("/w/.hidden", 2).front(), std::filesystem::path("/w/.hidden-001.mkv"));
    // A split that keeps one range is not numbered (trimming only the start or
    // only the end of a movie).
    EXPECT_EQ(split_part_paths("/w/seg.mkv", 1), std::vector<std::filesystem::path>{"/w/seg.mkv"});
    EXPECT_EQ(split_part_paths("/w/a.b.mkv", 2).back(), std::filesystem::path("/w/a.b-002.mkv"));
    EXPECT_EQ(split_part_paths("/w/seg.mkv", 1000).back(), std::filesystem::path("/w/seg-1000.mkv"));
    EXPECT_TRUE(split_part_paths("/w/seg.mkv", 0).empty());
}

TEST(BitstreamPass, OnlyH264AndHevcNeedIt) {
    EXPECT_EQ(annexb_filter("h264"), "h264_mp4toannexb");
    EXPECT_EQ(annexb_filter("hevc"), "hevc_mp4toannexb");
    EXPECT_EQ(annexb_filter("vp9"), std::nullopt);
    EXPECT_EQ(annexb_filter("H264"), std::nullopt);
    EXPECT_EQ(annexb_filter("mpeg4"), std::nullopt);
}

TEST(BitstreamPass, WritesBesideThePiece) {
    EXPECT_EQ(bitstream_pass_path("/w/seg-002.mkv"), std::filesystem::path("/w/seg-002-ib.mkv"));
    EXPECT_EQ(bitstream_pass_path("/w/card-1.mkv"), std::filesystem::path("/w/card-1-ib.mkv"));
    EXPECT_EQ(piece_pass_arguments({{"/w/card-1.mkv", "/w/card-1-ib.mkv", "hevc_mp4toannexb"}}),
              (Args{"-hide_banner", "-loglevel", "error", "-y", "-progress", "pipe:1", "-nostats", "-i", "/w/card-1.mkv",
                    "-map", "0", "-c", "copy", "-bsf:v", "hevc_mp4toannexb", "/w/card-1-ib.mkv"}));
}

TEST(PiecePass, DropsLeadingPicturesBeforeTheAnnexBFilter) {
    EXPECT_EQ(piece_filters("hevc", true, true), "noise=drop=(startpts-pts+abs(startpts-pts)),hevc_mp4toannexb");
    EXPECT_EQ(piece_filters("mpeg4", true, true), "noise=drop=(startpts-pts+abs(startpts-pts))");
    EXPECT_EQ(piece_filters("vp9", true, false), std::nullopt);
}

// One encoder for a batch: the segment muxer must split where each stretch
// begins, and must not read a '%' of the user's folder as its own.
TEST(StretchArguments, SplitsTheOneEncodedStreamWhereEachStretchBegins) {
    const std::vector<StretchJob> jobs{{{10.0, 10.5, 10.02, 12, {}, {}}, "a.mkv"},
                                       {{20.5, 22.0, 20.52, 38, {}, {}}, "b.mkv"},
                                       {{0.0, 0.4, 0.0, 10, {}, {}}, "c.mkv"}};
    const auto args = stretch_arguments("in.mkv", 2, jobs, {"-c:v", "libx264"}, "h264", "/w/100%/enc");
    const auto after = [&args](const std::string& option) {
        const auto at = std::ranges::find(args, option);
        return at == args.end() || at + 1 == args.end() ? std::string() : *(at + 1);
    };
    EXPECT_EQ(after("-segment_frames"), "12,50");
    EXPECT_EQ(args.back(), "/w/100%%/enc-%03d.mkv");
    EXPECT_EQ(stretch_segment("/w/100%/enc", 1), std::filesystem::path("/w/100%/enc-001.mkv"));
    EXPECT_EQ(after("-filter_complex"),
              "[0:2]trim=start=10.019500,setpts=PTS-STARTPTS,trim=end_frame=12[s0];"
              "[1:2]trim=start=20.519500,setpts=PTS-STARTPTS,trim=end_frame=38[s1];"
              "[2:2]trim=start=0.000000,setpts=PTS-STARTPTS,trim=end_frame=10[s2];"
              "[s0][s1][s2]concat=n=3:v=1:a=0[v]");
    // A single stretch is one file: nothing to split.
    EXPECT_EQ(std::ranges::count(stretch_arguments("in.mkv", 0, {jobs[0]}, {}, "h264", "enc"), "-segment_frames"), 0);
}

// The seek must land on the keyframe the stretch decodes from, whether or not
// ffmpeg takes its 3/23 s off, and never after the stretch's first picture.
TEST(StretchSeek, LandsOnTheKeyframeWithOrWithoutFfmpegsGuard) {
    const double guard = 3.0 / 23.0;
    const struct {
        EncodedStretch stretch;
        double lowest;   // the seek less ffmpeg's guard must not fall below it ...
        double highest;  // ... and the seek itself must stay below this
    } cases[] = {
        {{100.5, 102, 100.52, 38, 100.0, 102.0}, 100.0, 102.0},
        {{100.0, 100.5, 100.0, 12, 100.0, 102.0}, 100.0, 102.0},
        // A keyframe 0.1 s later: no seek lands on the first for both.
        {{5.02, 5.1, 5.04, 2, 5.0, 5.1}, 0.0, 5.1},
        {{0, 0.4, 0, 10, 0.0, 2.0}, 0.0, 2.0},
    };
    for (const auto& c : cases) {
        const double seek = stretch_seek(c.stretch);
        EXPECT_LT(seek, c.highest) << c.stretch.firstFrame;
        if (c.lowest > 0) {
            EXPECT_GE(seek - guard, c.lowest) << c.stretch.firstFrame;
        }
    }
    // Nothing listed: just before the first picture, as ever.
    EXPECT_DOUBLE_EQ(stretch_seek({20.5, 22, 20.52, 38, {}, {}}), 20.5195);
}

}  // namespace
}  // namespace reel
