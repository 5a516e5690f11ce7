// Keyframe listings, packet counts and mkvmerge identifications as the tools
// print them.
#include <gtest/gtest.h>

#include "probe/keyframes.h"

namespace reel {
namespace {

using Times = std::vector<double>;

TEST(KeyframeInterval, ThreeDecimalsJoinedByPercent) {
    EXPECT_EQ(keyframe_interval_text(45.5, 75.25), "45.500%75.250");
    EXPECT_EQ(keyframe_interval_text(0, 25), "0.000%25.000");
    EXPECT_EQ(keyframe_interval_text(5383, 5400), "5383.000%5400.000");
    EXPECT_EQ(keyframe_interval_text(1.0005, 2.0004), "1.000%2.000");
}

TEST(KeyframeInterval, QueryArgumentsInOrder) {
    EXPECT_EQ(keyframe_query_arguments("/m/x y.mkv", 0, 25),
              (std::vector<std::string>{"-v", "error", "-select_streams", "v:0", "-show_entries",
                                        "packet=pts_time,dts_time,flags", "-read_intervals", "0.000%25.000", "-of",
                                        "csv=p=0", "/m/x y.mkv"}));
}

// ffprobe starts an interval listing at the keyframe before it, so packets
// outside the window are normal and must be dropped.
constexpr const char* kListing =
    "0.023000,N/A,K_\n"
    "0.183000,N/A,__\n"
    "0.103000,0.023000,__\n"
    "2.023000,1.943000,K_\n"
    "4.023000,3.943000,K_\n"
    "6.023000,5.943000,KD\n"
    "8.023000,7.943000,K_\n";

TEST(KeyframeListing, KeepsKeyframesInsideTheWindow) {
    EXPECT_EQ(parse_keyframe_listing(kListing, 1.5, 6.5), (Times{2.023, 4.023, 6.023}));
    EXPECT_EQ(parse_keyframe_listing(kListing, 0, 100), (Times{0.023, 2.023, 4.023, 6.023, 8.023}));
    EXPECT_TRUE(parse_keyframe_listing(kListing, 8.1, 9).empty());
}

TEST(KeyframeListing, WindowEdgesHaveHalfAMillisecondTolerance) {
    const char* listing = "9.999500,N/A,K_\n20.000500,N/A,K_\n9.999400,N/A,K_\n20.000600,N/A,K_\n";
    EXPECT_EQ(parse_keyframe_listing(listing, 10, 20), (Times{9.9995, 20.0005}));
}

TEST(KeyframeListing, LineReadingRules) {
    struct Case {
        const char* listing;
        Times expected;
    };
    for (const Case& c : {
             Case{"N/A,3.5,K_\n", {3.5}},                  // pts missing: dts counts
             Case{"N/A,N/A,K_\n", {}},                     // neither reads
             Case{"4.0,4.0,__\n", {}},                     // no K: not a keyframe
             Case{"4.0,4.0,k_\n", {}},                     // lower-case k is no keyframe flag
             Case{"4.0,4.0\n", {}},                        // fewer than three fields
             Case{"4.0,4.0,K_\r\n5.0,5.0,K_\r\n", {4.0, 5.0}},  // "\r" stays in the flags, harmless
             Case{" 4.0, 4.0,K_\n", {}},                   // nothing is trimmed
             Case{" 4.0,6.0,K_\n", {6.0}},                 // ... so the dts stands in
             Case{"4.0,4.0,K_,side_data\n", {4.0}},        // extra fields are fine
             Case{"5.0,5.0,K_\n5.0,5.0,K_\n3.0,N/A,K_", {3.0, 5.0}},  // sorted, no repeats, last line unterminated
             Case{"", {}},
         }) {
        EXPECT_EQ(parse_keyframe_listing(c.listing, 0, 10), c.expected) << c.listing;
    }
}

TEST(NearestTime, TiesGoToTheEarlier) {
    const Times keys{12.0, 18.0};
    EXPECT_EQ(nearest_time(keys, 15.0), 12.0);
    EXPECT_EQ(nearest_time(keys, 15.1), 18.0);
    EXPECT_EQ(nearest_time(keys, 14.9), 12.0);
    EXPECT_EQ(nearest_time(keys, 100), 18.0);
    EXPECT_EQ(nearest_time(keys, -1), 12.0);
    EXPECT_EQ(nearest_time({7.5}, 1000), 7.5);
}

TEST(NearestTime, DuplicatesDoNotChangeTheAnswer) {
    const auto with = parse_keyframe_listing("12.0,N/A,K_\n12.0,N/A,K_\n18.0,N/A,K_\n18.0,N/A,K_\n", 0, 30);
    const auto without = parse_keyframe_listing("12.0,N/A,K_\n18.0,N/A,K_\n", 0, 30);
    EXPECT_EQ(with, without);
    EXPECT_EQ(nearest_time(with, 15.0), 12.0);
}

TEST(FrameCount, ArgumentsInOrder) {
    EXPECT_EQ(frame_count_arguments("m.mkv"),
              (std::vector<std::string>{"-v", "error", "-select_streams", "v:0", "-count_packets", "-show_entries",
                                        "stream=nb_read_packets", "-of", "csv=p=0", "m.mkv"}));
}

TEST(FrameCount, ReadsTheCountAfterStrippingBlanksAndCommas) {
    struct Case {
        const char* output;
        std::optional<std::int64_t> expected;
    };
    for (const Case& c : {Case{"1234,\n", 1234}, Case{"1234\n", 1234}, Case{"  250,,\r\n", 250},
                          Case{"0\n", 0}, Case{"N/A\n", std::nullopt}, Case{"", std::nullopt},
                          Case{",\n", std::nullopt}, Case{"12 34", std::nullopt}, Case{"12.0", std::nullopt},
                          Case{"1234 ,\n", std::nullopt}, Case{"99999999999999999999", std::nullopt}}) {
        const auto count = parse_frame_count(c.output, "/m/x.mkv");
        if (c.expected) {
            ASSERT_TRUE(count) << c.output;
            EXPECT_EQ(*count, *c.expected) << c.output;
        } else {
            ASSERT_FALSE(count) << c.output;
            EXPECT_EQ(count.error(), "could not count frames in /m/x.mkv");
        }
    }
}

TEST(MkvmergeDuration, NanosecondsBecomeSeconds) {
    const char* identification = R"({
      "attachments": [], "chapters": [],
      "container": {"properties": {"container_type": 17, "duration": 5400120000000,
                                   "is_providing_timestamps": true, "title": "Movie"},
                    "recognized": true, "supported": true, "type": "Matroska"},
      "errors": [], "file_name": "m.mkv", "tracks": [], "warnings": []})";
    const auto seconds = parse_mkvmerge_duration(identification);
    ASSERT_TRUE(seconds) << seconds.error();
    EXPECT_DOUBLE_EQ(*seconds, 5400.12);
    EXPECT_DOUBLE_EQ(*parse_mkvmerge_duration(R"({"container":{"properties":{"duration":1.5e9}}})"), 1.5);
}

TEST(MkvmergeDuration, MissingOrNonNumericDurationFails) {
    for (const char* report : {R"({"container":{"properties":{"duration":"5400120000000"}}})",
                               R"({"container":{"recognized":false}})", R"({"container":{"properties":[]}})",
                               R"({"container":[]})", R"({"tracks":[]})", R"([])",
                               R"({"container":{"properties":{"duration":null}}})"}) {
        const auto seconds = parse_mkvmerge_duration(report);
        ASSERT_FALSE(seconds) << report;
        EXPECT_EQ(seconds.error(), "mkvmerge did not report a duration") << report;
    }
}

TEST(MkvmergeDuration, NonJsonGivesTheParserMessageAlone) {
    const auto seconds = parse_mkvmerge_duration("Error: the file could not be opened");
    ASSERT_FALSE(seconds);
    EXPECT_NE(seconds.error(), "mkvmerge did not report a duration");
    EXPECT_NE(seconds.error().find("line 1"), std::string::npos) << seconds.error();
    EXPECT_EQ(seconds.error().find("ffprobe"), std::string::npos);
}

}  // namespace
}  // namespace reel
