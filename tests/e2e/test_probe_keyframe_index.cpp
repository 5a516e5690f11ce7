// One listing of the whole file must answer keyframe lookups exactly as the
// per-lookup ffprobe queries do, on a real movie.
#include <gtest/gtest.h>

#include "probe/keyframes.h"
#include "support/media.h"

namespace reel {
namespace {

TEST(KeyframeIndexOnRealMovie, SameAnswersAsTheWindowedQueries) {
    auto tools = test::test_tools();
    ASSERT_TRUE(tools.has_value()) << tools.error();
    test::MovieSpec spec;
    spec.duration = 40;
    spec.keyframe_interval = 48;  // 1.92 s at 25 fps: keyframes between whole seconds
    auto movie = test::test_movie(spec);
    ASSERT_TRUE(movie.has_value()) << movie.error();

    const auto keyframes = list_keyframes(*tools, *movie);
    ASSERT_TRUE(keyframes.has_value()) << keyframes.error();
    EXPECT_EQ(keyframes->size(), 21u);  // frames 0, 48, ..., 960
    for (double target : {0.03, 0.5, 0.96, 3.0, 3.84, 7.7, 19.2, 20.16, 33.3, 38.5, 39.9}) {
        SCOPED_TRACE(target);
        const auto windowed = find_keyframe_near(*tools, *movie, target, 40);
        const auto indexed = keyframe_near_in(*keyframes, target, 40);
        ASSERT_TRUE(windowed.has_value()) << windowed.error();
        ASSERT_TRUE(indexed.has_value()) << indexed.error();
        EXPECT_DOUBLE_EQ(*indexed, *windowed);
    }
}

}  // namespace
}  // namespace reel
