// The tool runs of the keyframe, frame-count and duration queries.
#include <limits>

#include "util/files.h"
#include "probe/keyframes.h"
#include "tools/run.h"

namespace reel {

Result<double> find_keyframe_near(const ToolSet& tools, const std::string& path, double target, double limit) {
    if (keyframe_at_start(target)) return 0.0;
    for (const auto& [lo, hi] : keyframe_search_windows(target, limit)) {
        auto listing = run_capture(tools.ffprobe, keyframe_query_arguments(path, lo, hi));
        if (!listing) return fail(listing.error());
        const auto times = parse_keyframe_listing(*listing, lo, hi);
        if (!times.empty()) return nearest_time(times, target);
    }
    return fail(no_keyframe_message(target));
}

Result<std::vector<double>> list_keyframes(const ToolSet& tools, const std::string& path) {
    auto listing = run_capture(tools.ffprobe, keyframe_listing_arguments(path));
    if (!listing) return fail(listing.error());
    return parse_keyframe_listing(*listing, -std::numeric_limits<double>::infinity(),
                                  std::numeric_limits<double>::infinity());
}

Result<FrameIndex> index_frames(const ToolSet& tools, const std::string& path,
                                const std::vector<std::pair<double, double>>& windows) {
    auto listing = run_capture(tools.ffprobe, windows.empty() ? keyframe_listing_arguments(path)
                                                              : keyframe_query_arguments(path, windows));
    if (!listing) return fail(listing.error());
    FrameIndex index = parse_frame_index(*listing);
    if (index.keyframes.empty()) return fail(no_keyframe_message(0));
    return index;
}

Result<std::int64_t> count_video_frames(const ToolSet& tools, const std::string& path) {
    auto output = run_capture(tools.ffprobe, frame_count_arguments(path));
    if (!output) return fail(output.error());
    return parse_frame_count(*output, path);
}

Result<std::string> mkvmerge_identify(const ToolSet& tools, const std::string& path) {
    auto mkvmerge = require_mkvmerge(tools);
    if (!mkvmerge) return fail(mkvmerge.error());
    return run_capture(*mkvmerge, {"-J", tool_path_argument(path)});
}

Result<double> mkvmerge_duration(const ToolSet& tools, const std::string& path) {
    auto output = mkvmerge_identify(tools, path);
    if (!output) return fail(output.error());
    return parse_mkvmerge_duration(*output);
}

Result<FileExtent> mkvmerge_extent(const ToolSet& tools, const std::string& path) {
    auto output = mkvmerge_identify(tools, path);
    if (!output) return fail(output.error());
    return parse_mkvmerge_extent(*output);
}

}  // namespace reel
