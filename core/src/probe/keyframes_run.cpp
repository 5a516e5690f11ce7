// The tool runs of the keyframe, frame-count and duration queries.
#include <algorithm>
#include <cmath>

#include <fmt/format.h>

#include "util/files.h"
#include "probe/keyframes.h"
#include "tools/run.h"

namespace reel {

namespace {
// A target this close to the start is answered with the start itself.
constexpr double kStartThreshold = 0.05;
// Windows of growing size around the target: most movies have a keyframe
// every few seconds, so the first, cheap query nearly always suffices.
constexpr double kSearchRadii[] = {15, 60, 300};
}  // namespace

Result<double> find_keyframe_near(const ToolSet& tools, const std::string& path, double target, double limit) {
    if (target <= kStartThreshold) return 0.0;
    for (double radius : kSearchRadii) {
        const double hi = std::isnan(limit) ? target + radius : std::min(target + radius, limit);
        const double lo = std::max(target - radius, 0.0);
        if (!(lo < hi)) continue;
        auto listing = run_capture(tools.ffprobe, keyframe_query_arguments(path, lo, hi));
        if (!listing) return fail(listing.error());
        const auto times = parse_keyframe_listing(*listing, lo, hi);
        if (!times.empty()) return nearest_time(times, target);
    }
    return fail(fmt::format("No keyframe found near {:.2f}s", target));
}

Result<std::int64_t> count_video_frames(const ToolSet& tools, const std::string& path) {
    auto output = run_capture(tools.ffprobe, frame_count_arguments(path));
    if (!output) return fail(output.error());
    return parse_frame_count(*output, path);
}

Result<double> mkvmerge_duration(const ToolSet& tools, const std::string& path) {
    auto mkvmerge = require_mkvmerge(tools);
    if (!mkvmerge) return fail(mkvmerge.error());
    auto output = run_capture(*mkvmerge, {"-J", tool_path_argument(path)});
    if (!output) return fail(output.error());
    return parse_mkvmerge_duration(*output);
}

}  // namespace reel
