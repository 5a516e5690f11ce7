#pragma once
// Reading a movie's stream information through ffprobe.
#include <string>
#include <string_view>
#include <vector>

#include "probe/media_info.h"
#include "tools/toolset.h"
#include "util/result.h"

namespace reel {

// The ffprobe arguments for the full report of `path`.
std::vector<std::string> probe_arguments(const std::string& path);
// Condenses ffprobe's JSON report; `path` fills path and fileName.
Result<MediaInfo> parse_probe_report(std::string_view json_text, const std::string& path);
Result<MediaInfo> probe_media(const ToolSet& tools, const std::string& path);

}  // namespace reel
