#pragma once
// The chapter list of the edited movie, as a Matroska chapters XML file.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "edits/timeline.h"
#include "probe/media_info.h"
#include "util/result.h"

namespace reel {

using ChapterArgs = std::vector<std::string>;

// A chapter's start in whole milliseconds, as chapters store it (none before 0).
std::int64_t chapter_milliseconds(double t);
std::string format_chapter_time(double t);
// A chapter of the edited movie: where it starts there, and its title.
struct KeptChapter {
    double start = 0;
    std::string title;
};
// The chapters of which some part is kept, each from its first kept moment.
std::vector<KeptChapter> kept_chapters(const std::vector<ChapterInfo>& chapters, const Timeline& timeline);
std::string escape_chapter_title(const std::string& title);
// The whole XML text, or absent when no chapter is kept.
std::optional<std::string> chapters_xml(const std::vector<ChapterInfo>& chapters, const Timeline& timeline);
Result<ChapterArgs> build_chapters(const std::vector<ChapterInfo>& chapters, const Timeline& timeline,
                                   const std::filesystem::path& work_folder);

}  // namespace reel
