#pragma once
// Rebuilding text subtitle tracks for the edited timeline.
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "pipeline/plan.h"
#include "probe/media_info.h"
#include "tools/run.h"
#include "util/result.h"

namespace reel {

using SubtitleArgs = std::vector<std::string>;

std::string format_srt_time(double t);
std::string format_ass_time(double t);
std::string retime_srt(std::string_view text, const Timeline& timeline);
std::string retime_ass(std::string_view text, const Timeline& timeline);

// Rebuilds every subtitle track for a timeline that moved (the run has a remove
// or card edit; otherwise the caller does not call this at all).
Result<SubtitleArgs> retime_subtitles(RunContext& ctx, const MediaInfo& info, const std::string& source,
                                      const Timeline& timeline, const std::filesystem::path& work_folder,
                                      std::vector<std::string>& warnings);

}  // namespace reel
