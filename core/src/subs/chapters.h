#pragma once
// The chapter list of the edited movie, as a Matroska chapters XML file.
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "edits/timeline.h"
#include "probe/media_info.h"
#include "util/result.h"

namespace reel {

using ChapterArgs = std::vector<std::string>;

std::string format_chapter_time(double t);
std::string escape_chapter_title(const std::string& title);
// The whole XML text, or absent when no chapter is kept.
std::optional<std::string> chapters_xml(const std::vector<ChapterInfo>& chapters, const Timeline& timeline);
Result<ChapterArgs> build_chapters(const std::vector<ChapterInfo>& chapters, const Timeline& timeline,
                                   const std::filesystem::path& work_folder);

}  // namespace reel
