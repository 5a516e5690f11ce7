// The chapter list of the edited movie as Matroska chapters XML.
#include "subs/chapters.h"

#include <algorithm>
#include <limits>
#include <fmt/format.h>

#include "util/files.h"
#include "util/numbers.h"
#include "util/text.h"

namespace reel {

namespace {

constexpr std::string_view chapters_header =
    "<?xml version=\"1.0\"?>\n"
    "<!DOCTYPE Chapters SYSTEM \"matroskachapters.dtd\">\n"
    "<Chapters><EditionEntry>\n";
constexpr std::string_view chapters_footer = "</EditionEntry></Chapters>\n";

// The chapter's start in the edited file: where the first kept part of it
// begins, so that a chapter whose opening was cut away begins at the cut;
// absent when none of it is kept.
std::optional<double> new_start(const ChapterInfo& chapter, const Timeline& timeline) {
    // A chapter without a usable end runs to the end of the movie.
    const double end = chapter.end > chapter.start ? chapter.end : std::numeric_limits<double>::infinity();
    const auto kept = map_range(timeline, chapter.start, end);
    if (!kept) return std::nullopt;
    return kept->first;
}

}  // namespace

std::int64_t chapter_milliseconds(double t) { return t > 0 ? round_half_away(t * 1000.0) : 0; }

std::string format_chapter_time(double t) {
    const std::int64_t m = chapter_milliseconds(t);
    return fmt::format("{:02}:{:02}:{:02}.{:03}", m / 3600000, (m / 60000) % 60, (m / 1000) % 60, m % 1000);
}

std::string escape_chapter_title(const std::string& title) {
    std::string escaped = replace_all(title, "&", "&amp;");
    escaped = replace_all(escaped, "<", "&lt;");
    escaped = replace_all(escaped, ">", "&gt;");
    return replace_all(escaped, "\"", "&quot;");
}

std::vector<KeptChapter> kept_chapters(const std::vector<ChapterInfo>& chapters, const Timeline& timeline) {
    std::vector<KeptChapter> kept;
    for (const auto& chapter : chapters)
        if (const auto start = new_start(chapter, timeline)) kept.push_back({*start, chapter.title});
    return kept;
}

std::optional<std::string> chapters_xml(const std::vector<ChapterInfo>& chapters, const Timeline& timeline) {
    const auto kept = kept_chapters(chapters, timeline);
    if (kept.empty()) return std::nullopt;
    std::string xml(chapters_header);
    for (const auto& chapter : kept) {
        xml += fmt::format(
            "<ChapterAtom><ChapterTimeStart>{}</ChapterTimeStart><ChapterDisplay><ChapterString>{}</ChapterString>"
            "<ChapterLanguage>eng</ChapterLanguage></ChapterDisplay></ChapterAtom>\n",
            format_chapter_time(chapter.start), escape_chapter_title(chapter.title));
    }
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
