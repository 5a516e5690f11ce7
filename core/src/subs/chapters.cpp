// The chapter list of the edited movie as Matroska chapters XML.
#include "subs/chapters.h"

#include <algorithm>
#include <fmt/format.h>

#include "util/files.h"
#include "util/text.h"

namespace reel {

namespace {

constexpr std::string_view chapters_header =
    "<?xml version=\"1.0\"?>\n"
    "<!DOCTYPE Chapters SYSTEM \"matroskachapters.dtd\">\n"
    "<Chapters><EditionEntry>\n";
constexpr std::string_view chapters_footer = "</EditionEntry></Chapters>\n";

// The chapter's start in the edited file; absent when it lies in removed or
// replaced material.
std::optional<double> new_start(double start, const Timeline& timeline) {
    const std::size_t count = std::min(timeline.segments.size(), timeline.offsets.size());
    for (std::size_t i = 0; i < count; ++i) {
        const TimelineSegment& segment = timeline.segments[i];
        if (!segment.card && segment.sourceStart <= start && start < segment.sourceEnd) {
            return start - segment.sourceStart + timeline.offsets[i];
        }
    }
    return std::nullopt;
}

}  // namespace

std::string format_chapter_time(double t) {
    const std::int64_t m = t > 0 ? round_half_away(t * 1000.0) : 0;
    return fmt::format("{:02}:{:02}:{:02}.{:03}", m / 3600000, (m / 60000) % 60, (m / 1000) % 60, m % 1000);
}

std::string escape_chapter_title(const std::string& title) {
    std::string escaped = replace_all(title, "&", "&amp;");
    escaped = replace_all(escaped, "<", "&lt;");
    escaped = replace_all(escaped, ">", "&gt;");
    return replace_all(escaped, "\"", "&quot;");
}

std::optional<std::string> chapters_xml(const std::vector<ChapterInfo>& chapters, const Timeline& timeline) {
    std::string xml(chapters_header);
    bool kept = false;
    for (const auto& chapter : chapters) {
        const auto start = new_start(chapter.start, timeline);
        if (!start) continue;
        kept = true;
        xml += fmt::format(
            "<ChapterAtom><ChapterTimeStart>{}</ChapterTimeStart><ChapterDisplay><ChapterString>{}</ChapterString>"
            "<ChapterLanguage>eng</ChapterLanguage></ChapterDisplay></ChapterAtom>\n",
            format_chapter_time(*start), escape_chapter_title(chapter.title));
    }
    if (!kept) return std::nullopt;
    xml += chapters_footer;
    return xml;
}

Result<ChapterArgs> build_chapters(const std::vector<ChapterInfo>& chapters, const Timeline& timeline,
                                   const std::filesystem::path& work_folder) {
    const auto xml = chapters_xml(chapters, timeline);
    if (!xml) return ChapterArgs{};
    const auto file = work_folder / "chapters.xml";
    if (auto written = write_file(file, *xml); !written) return fail(written.error());
    return ChapterArgs{"--chapters", path_text(file)};
}

}  // namespace reel
