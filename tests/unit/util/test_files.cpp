#include <gtest/gtest.h>

#include "preview/preview.h"
#include "probe/keyframes.h"
#include "probe/probe.h"
#include "support/temp_dir.h"
#include "util/files.h"

namespace reel {
namespace {

TEST(ToolPathArgument, OptionShapedRelativePathsGetADotSlash) {
    EXPECT_EQ(tool_path_argument("-x.mkv"), "./-x.mkv");
    EXPECT_EQ(tool_path_argument("-"), "./-");
    EXPECT_EQ(tool_path_argument("movie.mkv"), "movie.mkv");
    EXPECT_EQ(tool_path_argument("/films/-x.mkv"), "/films/-x.mkv");
    EXPECT_EQ(tool_path_argument("dir/-x.mkv"), "dir/-x.mkv");
}

TEST(ToolPathArgument, EveryQueryOfAMovieUsesIt) {
    // The movie is always the last argument of these queries.
    const std::vector<std::vector<std::string>> commands = {
        probe_arguments("-x.mkv"),
        keyframe_query_arguments("-x.mkv", 0, 10),
        frame_count_arguments("-x.mkv"),
    };
    for (const auto& args : commands) EXPECT_EQ(args.back(), "./-x.mkv");
    const auto frame = frame_grab_arguments("-x.mkv", 1, 1280, true);
    EXPECT_NE(std::find(frame.begin(), frame.end(), "./-x.mkv"), frame.end());
    EXPECT_EQ(std::find(frame.begin(), frame.end(), "-x.mkv"), frame.end());
    const auto clip = proxy_clip_arguments(MediaInfo{}, "-x.mkv", 0, 5, 360);
    EXPECT_NE(std::find(clip.begin(), clip.end(), "./-x.mkv"), clip.end());
}

TEST(Files, WriteThenReadAndTheSystemsWordingOnFailure) {
    test::TempDir dir;
    const auto file = dir / "a.bin";
    const std::string bytes("x\0y\r\n", 5);
    ASSERT_TRUE(write_file(file, bytes).has_value());
    EXPECT_EQ(read_file(file).value(), bytes);
    EXPECT_EQ(read_file(dir / "missing").error(), "No such file or directory");
    EXPECT_EQ(read_file(dir.path()).error(), "Is a directory");
    EXPECT_EQ(write_file(dir / "no" / "such" / "f", "x").error(), "No such file or directory");
}

TEST(Files, PathsRoundTripThroughUtf8Text) {
    const std::string name = "Fil\xC3\xA9 \xE2\x80\x94 (edited).mkv";
    EXPECT_EQ(path_text(path_from_text(name)), name);
}

}  // namespace
}  // namespace reel
