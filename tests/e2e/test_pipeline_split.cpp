// The run's own split of the picture against mkvmerge's, on pictures stored
// out of order: the final mux appends either, so each part must hold the same
// packets at the same times and be measured alike.
#include <gtest/gtest.h>

#include "pipeline/commands.h"
#include "pipeline/run_state.h"
#include "pipeline/video_cut.h"
#include "probe/matroska.h"
#include "support/temp_dir.h"
#include "test_pipeline_support.h"
#include "tools/run.h"

namespace reel {
namespace {

std::string packets(const std::string& file) {
    auto listing = run_capture(e2e::tools().ffprobe, {"-v", "error", "-select_streams", "v:0", "-show_entries",
                                                      "packet=pts_time,dts_time,duration_time,flags,size", "-of",
                                                      "csv=p=0", file});
    return listing.value_or("unreadable");
}

TEST(PictureSplit, PartsEqualMkvmergesOnBFramesAndOpenGops) {
    struct Shape {
        std::string name, codec;
        std::vector<std::string> args;
    };
    const Shape shapes[] = {
        {"B-frames", "h264", {"-bf", "3"}},
        {"open GOP", "hevc", {"-x265-params", "keyint=50:min-keyint=50:scenecut=0:open-gop=1:log-level=error"}},
    };
    // From the file's start, two ranges that meet, one to the end.
    const std::vector<PieceRange> ranges{{0, 4}, {8, 12}, {12, 16}, {18, std::nullopt}};
    for (const auto& shape : shapes) {
        SCOPED_TRACE(shape.name);
        auto spec = e2e::small_movie(20);
        spec.video_codec = shape.codec;
        spec.extra_video_args = shape.args;
        const TrackSource video{e2e::movie(spec), 0};
        test::TempDir dir;
        RunContext ctx;
        ctx.tools = e2e::tools();
        ASSERT_TRUE(run_mkvmerge(ctx, video_split_arguments(dir / "mkv.mkv", ranges, video), {}));
        const auto own = split_part_paths(dir / "own.mkv", ranges.size());
        const auto written = split_in_process(ctx, video, ranges, own, 20, {});
        ASSERT_TRUE(written) << written.error();
        EXPECT_EQ(*written, PartFiles(own.begin(), own.end()));
        const auto theirs = split_part_paths(dir / "mkv.mkv", ranges.size());
        for (std::size_t i = 0; i < ranges.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(packets(path_text(own[i])), packets(path_text(theirs[i])));
            const auto mine = read_matroska_extent(path_text(own[i]), 0);
            const auto told = read_matroska_extent(path_text(theirs[i]), 0);
            ASSERT_TRUE(mine && told);
            EXPECT_NEAR(mine->firstVideo, told->firstVideo, 1e-6);
            EXPECT_NEAR(mine->end, told->end, 1e-6);
        }
    }
}

}  // namespace
}  // namespace reel
