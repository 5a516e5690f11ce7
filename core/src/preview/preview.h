#pragma once
// Preview helpers for a graphical front end: one frame as JPEG, a small proxy
// clip as fragmented MP4; both returned as base64 text.
#include <string>
#include <vector>

#include "probe/media_info.h"
#include "tools/toolset.h"
#include "util/result.h"

namespace reel {

std::vector<std::string> frame_grab_arguments(const std::string& movie, double time, unsigned width, bool exact);
Result<std::string> grab_frame(const ToolSet& tools, const std::string& movie, double time, unsigned width, bool exact);

std::vector<std::string> proxy_clip_arguments(const MediaInfo& info, const std::string& movie, double start,
                                              double length, unsigned height);
Result<std::string> make_proxy_clip(const ToolSet& tools, const std::string& movie, double start, double length,
                                    unsigned height);

}  // namespace reel
