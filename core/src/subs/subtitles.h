#pragma once
// Rebuilding text subtitle tracks for the edited timeline.
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "edits/timeline.h"
#include "probe/media_info.h"
#include "tools/toolset.h"
#include "util/result.h"

namespace reel {

using SubtitleArgs = std::vector<std::string>;

std::string format_srt_time(double t);
std::string format_ass_time(double t);
std::string retime_srt(std::string_view text, const Timeline& timeline);
std::string retime_ass(std::string_view text, const Timeline& timeline);

// Rebuilds every subtitle track for a timeline that moved (the run has a remove
// or card edit; otherwise the caller does not call this at all). Text tracks
// become SubRip or ASS files, PGS tracks ".sup" files, VobSub tracks ".idx"
// files with their ".sub" beside them (extracted by mkvextract, which must sit
// beside mkvmerge). Where the output cannot hold `pictures` (MP4), picture
// tracks are left out with `left_out_of_mp4_warning`. Other picture kinds
// (DVB) and tracks that cannot be extracted or read are dropped with a
// warning. Fails only when the work folder cannot be written.
Result<SubtitleArgs> retime_subtitles(const ToolSet& tools, const MediaInfo& info, const std::string& source,
                                      const Timeline& timeline, const std::filesystem::path& work_folder,
                                      bool pictures, std::vector<std::string>& warnings);

// Whether an output that can or cannot hold `pictures` can carry the track.
bool output_holds_subtitle(const SubtitleStreamInfo& track, bool pictures);
// The warning for picture track `number` (1-based) that MP4 output leaves out.
std::string left_out_of_mp4_warning(std::size_t number, const SubtitleStreamInfo& track);

}  // namespace reel
