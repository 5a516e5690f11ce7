#pragma once
// Keyframe positions, frame counts and durations: one short tool query each.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tools/toolset.h"
#include "util/result.h"

namespace reel {

// "lo%hi" with three decimals each.
std::string keyframe_interval_text(double lo, double hi);
std::vector<std::string> keyframe_query_arguments(const std::string& path, double lo, double hi);
// Keyframe times of a packet listing ("pts,dts,flags" lines) within lo..hi
// (0.5 ms tolerance), sorted, without repeats.
std::vector<double> parse_keyframe_listing(std::string_view listing, double lo, double hi);
// The nearest of sorted times to `target`; ties go to the earlier one.
double nearest_time(const std::vector<double>& sorted_times, double target);

Result<double> find_keyframe_near(const ToolSet& tools, const std::string& path, double target, double limit);

std::vector<std::string> frame_count_arguments(const std::string& path);
// Reads ffprobe's packet count output ("1234,\n"); fails with the count message.
Result<std::int64_t> parse_frame_count(std::string_view output, const std::string& path);
Result<std::int64_t> count_video_frames(const ToolSet& tools, const std::string& path);

// Seconds from mkvmerge's "-J" identification.
Result<double> parse_mkvmerge_duration(std::string_view json_text);
Result<double> mkvmerge_duration(const ToolSet& tools, const std::string& path);

}  // namespace reel
