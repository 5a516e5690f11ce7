#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <limits>

#include "probe/keyframes.h"

namespace reel {
namespace {

// The whole-file listing must answer every lookup exactly as the windowed
// queries would: same windows, same tie rule, same failure.
TEST(KeyframeIndex, AnswersLikeTheWindowedQueries) {
    const std::vector<double> keys = {0, 2, 4, 12, 18, 100, 400, 5398};
    struct Case { double target, limit; std::optional<double> want; };
    const Case cases[] = {
        {0.05, 5400, 0.0},      // at the start: no query at all
        {0.06, 5400, 0.0},
        {15.0, 5400, 12.0},     // tie between 12 and 18 goes to the earlier
        {15.1, 5400, 18.0},
        {60, 5400, 100.0},      // nothing within 15 s: the 60 s window holds 18 and 100; 100 is nearer
        {250, 5400, 100.0},     // only the 300 s window reaches 100 and 400; 100 is nearer
        {5399, 5400, 5398.0},
        {17.9, 16.0, 12.0},     // the limit cuts the window before 18
        {2000, 5400, std::nullopt},
        {6000, 5400, std::nullopt},  // every window empty
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.target);
        const auto got = keyframe_near_in(keys, c.target, c.limit);
        if (c.want) {
            ASSERT_TRUE(got.has_value()) << got.error();
            EXPECT_DOUBLE_EQ(*got, *c.want);
        } else {
            ASSERT_FALSE(got.has_value());
            EXPECT_EQ(got.error(), "No keyframe found near " + std::string(c.target == 2000 ? "2000.00s" : "6000.00s"));
        }
    }
}

TEST(KeyframeIndex, WindowsAndWhenTheListingPaysOff) {
    EXPECT_TRUE(keyframe_search_windows(0.05, 100).empty());
    EXPECT_EQ(keyframe_search_windows(10, 5400),
              (std::vector<std::pair<double, double>>{{0, 25}, {0, 70}, {0, 310}}));
    EXPECT_EQ(keyframe_search_windows(5398, 5400),
              (std::vector<std::pair<double, double>>{{5383, 5400}, {5338, 5400}, {5098, 5400}}));
    EXPECT_TRUE(keyframe_search_windows(5800, 5400).empty());
    EXPECT_EQ(keyframe_search_windows(10, std::numeric_limits<double>::quiet_NaN()).size(), 3u);

    EXPECT_FALSE(whole_listing_pays_off(20, 1200));  // 20 windows of 30 s: half the movie
    EXPECT_TRUE(whole_listing_pays_off(40, 1200));
    EXPECT_TRUE(whole_listing_pays_off(400, 1200));
    EXPECT_EQ(keyframe_listing_arguments("-x.mkv").back(), "./-x.mkv");
    const auto args = keyframe_listing_arguments("m.mkv");
    EXPECT_EQ(std::count(args.begin(), args.end(), "-read_intervals"), 0);
}

}  // namespace
}  // namespace reel
