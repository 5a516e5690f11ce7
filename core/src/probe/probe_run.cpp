// Running ffprobe for the full report; the reading is in probe_reader.cpp.
#include "probe/probe.h"
#include "tools/run.h"

namespace reel {

Result<MediaInfo> probe_media(const ToolSet& tools, const std::string& path) {
    auto output = run_capture(tools.ffprobe, probe_arguments(path));
    if (!output) return fail(output.error());
    return parse_probe_report(*output, path);
}

}  // namespace reel
