// Extracting, retiming and writing the movie's text subtitle tracks.
#include "subs/subtitles.h"

#include <fmt/format.h>
#include <optional>

#include "util/files.h"

namespace reel {

namespace {

struct Extraction {
    const char* codec;   // "-c:s" value
    const char* format;  // "-f" value, also the file extension
};

std::optional<Extraction> extraction_for(const std::string& codec) {
    if (codec == "ass" || codec == "ssa") return Extraction{"copy", "ass"};
    if (codec == "srt" || codec == "subrip") return Extraction{"copy", "srt"};
    // WebVTT and MP4 timed text become SubRip on the way out.
    if (codec == "text" || codec == "webvtt" || codec == "mov_text") return Extraction{"subrip", "srt"};
    return std::nullopt;
}

void append_track_args(SubtitleArgs& args, const SubtitleStreamInfo& track, const std::filesystem::path& file) {
    args.emplace_back("--language");
    args.push_back(fmt::format("0:{}", track.language.value_or("und")));
    if (track.title) {
        args.emplace_back("--track-name");
        args.push_back(fmt::format("0:{}", *track.title));
    }
    args.emplace_back("--default-track-flag");
    args.emplace_back(track.isDefault ? "0:yes" : "0:no");
    args.emplace_back("--forced-display-flag");
    args.emplace_back(track.forced ? "0:yes" : "0:no");
    args.push_back(path_text(file));
}

}  // namespace

Result<SubtitleArgs> retime_subtitles(RunContext& ctx, const MediaInfo& info, const std::string& source,
                                      const Timeline& timeline, const std::filesystem::path& work_folder,
                                      std::vector<std::string>& warnings) {
    SubtitleArgs args;
    for (std::size_t i = 0; i < info.subtitles.size(); ++i) {
        const SubtitleStreamInfo& track = info.subtitles[i];
        const std::size_t number = i + 1;
        const auto extraction = track.text ? extraction_for(track.codec) : std::nullopt;
        if (!extraction) {
            warnings.push_back(fmt::format(
                "Subtitle track {} ({}) is image based ({}) and was dropped because the timeline changed.", number,
                track.language.value_or("und"), track.codec));
            continue;
        }
        auto text = run_capture(ctx.tools.ffmpeg, {"-hide_banner", "-loglevel", "error", "-i", source, "-map",
                                                   fmt::format("0:{}", track.index), "-c:s", extraction->codec, "-f",
                                                   extraction->format, "-"});
        if (!text) {
            warnings.push_back(
                fmt::format("Subtitle track {} could not be extracted and was dropped: {}", number, text.error()));
            continue;
        }
        const bool ass = std::string_view(extraction->format) == "ass";
        const std::string retimed = ass ? retime_ass(*text, timeline) : retime_srt(*text, timeline);
        const auto file = work_folder / fmt::format("sub-{:02}.{}", i, extraction->format);
        if (auto written = write_file(file, retimed); !written) return fail(written.error());
        append_track_args(args, track, file);
    }
    return args;
}

}  // namespace reel
