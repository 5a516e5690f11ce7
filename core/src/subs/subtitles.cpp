// Extracting, retiming and writing the movie's subtitle tracks: text tracks
// as text, Blu-ray (PGS) and DVD (VobSub) pictures as they are, moved.
#include "subs/subtitles.h"

#include <cstdint>
#include <initializer_list>
#include <optional>

#include <fmt/format.h>

#include "subs/pgs.h"
#include "subs/vobsub.h"
#include "tools/run.h"
#include "util/files.h"

namespace reel {

namespace {

namespace fs = std::filesystem;

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

// ffmpeg reading track `index` of `source`, then `output` options.
std::vector<std::string> track_arguments(const std::string& source, std::uint64_t index,
                                         std::initializer_list<std::string> output) {
    auto args = ffmpeg_prefix(FfmpegRun::Writing);
    args.insert(args.end(), {"-i", source, "-map", fmt::format("0:{}", index)});
    args.insert(args.end(), output);
    return args;
}

void append_track_args(SubtitleArgs& args, const SubtitleStreamInfo& track, const fs::path& file) {
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

// One track to rebuild, and where its warnings go.
struct TrackJob {
    const ToolSet& tools;
    const std::string& source;
    const Timeline& timeline;
    const fs::path& work;
    std::vector<std::string>& warnings;
    const SubtitleExtras& extras;
    const SubtitleStreamInfo& track;
    std::size_t number;  // 1-based among the subtitle tracks

    fs::path file(const char* extension) const { return work / fmt::format("sub-{:02}.{}", number - 1, extension); }
    // ffmpeg reading the track from the source, then `output` options.
    std::vector<std::string> extract_arguments(std::initializer_list<std::string> output) const {
        return track_arguments(source, track.index, output);
    }
    // The file an earlier run read this track into; absent when there is none.
    std::optional<fs::path> extracted() const {
        if (!extras.extracted) return std::nullopt;
        for (const auto& extract : *extras.extracted)
            if (extract.index == track.index) return extract.file;
        return std::nullopt;
    }
    void drop(const char* what, const std::string& why) const {
        warnings.push_back(fmt::format("Subtitle track {} could not be {} and was dropped: {}", number, what, why));
    }
};

// The rebuilt file; absent when the track was dropped with a warning; a
// failure only when the work folder cannot be written.
using Rebuilt = Result<std::optional<fs::path>>;

// The track's text: what an earlier run read out, or read from the source now.
Result<TrackText> track_text(const TrackJob& job) {
    const auto file = job.extracted();
    if (!file) return extract_text_track(job.tools, job.source, job.track);
    auto read = read_file(*file);
    if (!read) return fail(read.error());
    return TrackText{.ass = file->extension() == ".ass", .text = std::move(*read)};
}

// The track alone in a Matroska file of its own, every packet as it was: the
// copy an earlier run made, or one made now.
Result<fs::path> matroska_copy(const TrackJob& job) {
    if (const auto file = job.extracted()) return *file;
    const fs::path copy = job.file("mkv");
    auto copied = run_capture(job.tools.ffmpeg, job.extract_arguments({"-c:s", "copy", path_text(copy)}));
    if (!copied) return fail(copied.error());
    return copy;
}

Rebuilt rebuild_text(const TrackJob& job) {
    auto text = track_text(job);
    if (!text) {
        job.drop("extracted", text.error());
        return std::nullopt;
    }
    if (const WordList* words = job.extras.words)
        text->text = text->ass ? scan_ass_words(text->text, *words).masked : scan_srt_words(text->text, *words).masked;
    // On a still timeline the cues keep their times as written.
    if (!job.extras.stillTimeline)
        text->text = text->ass ? retime_ass(text->text, job.timeline, job.extras.linked)
                                : retime_srt(text->text, job.timeline, job.extras.linked);
    const auto file = job.file(text->ass ? "ass" : "srt");
    if (auto written = write_file(file, text->text); !written) return fail(written.error());
    return file;
}

Rebuilt copy_track(const TrackJob& job) {
    auto copy = matroska_copy(job);
    if (!copy) {
        job.drop("copied", copy.error());
        return std::nullopt;
    }
    return *copy;
}

Rebuilt rebuild_pgs(const TrackJob& job) {
    const auto file = job.extracted();
    auto sup = file ? read_file(*file) : run_capture_bytes(job.tools.ffmpeg, job.extract_arguments({"-c:s", "copy", "-f", "sup", "-"}));
    if (!sup) {
        job.drop("extracted", sup.error());
        return std::nullopt;
    }
    auto retimed = retime_pgs(*sup, job.timeline);
    if (!retimed) {
        job.drop("read", retimed.error());
        return std::nullopt;
    }
    const auto retimed_file = job.file("sup");
    if (auto written = write_file(retimed_file, *retimed); !written) return fail(written.error());
    return retimed_file;
}

// ffmpeg copies the track into Matroska, whatever the source's container;
// mkvextract turns that into the .idx and .sub pair, named alike.
Rebuilt rebuild_vobsub(const TrackJob& job) {
    const auto& mkvextract = job.tools.mkvextract;
    if (!mkvextract) {
        job.drop("extracted", "mkvextract was not found beside mkvmerge");
        return std::nullopt;
    }
    const fs::path idx = job.file("idx");
    const fs::path sub = job.file("sub");
    const auto copy = matroska_copy(job);
    if (!copy) {
        job.drop("extracted", copy.error());
        return std::nullopt;
    }
    auto split = run_capture(*mkvextract, {path_text(*copy), "tracks", "0:" + path_text(idx)});
    auto idx_text = split ? read_file(idx) : fail(split.error());
    auto sub_bytes = idx_text ? read_file(sub) : fail(idx_text.error());
    if (!sub_bytes) {
        job.drop("extracted", sub_bytes.error());
        return std::nullopt;
    }
    auto retimed = retime_vobsub(*idx_text, std::move(*sub_bytes), job.timeline);
    if (!retimed) {
        job.drop("read", retimed.error());
        return std::nullopt;
    }
    if (auto written = write_file(idx, retimed->idx); !written) return fail(written.error());
    if (auto written = write_file(sub, retimed->sub); !written) return fail(written.error());
    return idx;
}

bool is_picture_kind(const std::string& codec) { return codec == "hdmv_pgs_subtitle" || codec == "dvd_subtitle"; }

}  // namespace

bool readable_text(const SubtitleStreamInfo& track) { return track.text && extraction_for(track.codec).has_value(); }

Result<std::size_t> words_track(const std::vector<SubtitleStreamInfo>& tracks, std::optional<std::size_t> asked) {
    if (asked) {
        const std::size_t n = *asked;
        if (n < 1 || n > tracks.size())
            return fail(fmt::format("--words-track {}: the movie has {} subtitle track{}.", n, tracks.size(),
                                    tracks.size() == 1 ? "" : "s"));
        if (!readable_text(tracks[n - 1]))
            return fail(fmt::format("--words-track {}: subtitle track {} ({}) holds no text to find the words in.", n,
                                    n, tracks[n - 1].codec));
        return n - 1;
    }
    for (const bool default_only : {true, false}) {
        for (std::size_t i = 0; i < tracks.size(); ++i)
            if (readable_text(tracks[i]) && (tracks[i].isDefault || !default_only)) return i;
    }
    return fail("The movie has no text subtitles to find the listed words in.");
}

Result<TrackText> extract_text_track(const ToolSet& tools, const std::string& source, const SubtitleStreamInfo& track) {
    const auto extraction = track.text ? extraction_for(track.codec) : std::nullopt;
    if (!extraction) return fail(fmt::format("{} subtitles hold no text that can be read", track.codec));
    auto text = run_capture(tools.ffmpeg, track_arguments(source, track.index,
                                                          {"-c:s", extraction->codec, "-f", extraction->format, "-"}));
    if (!text) return fail(text.error());
    return TrackText{.ass = std::string_view(extraction->format) == "ass", .text = std::move(*text)};
}

std::vector<SubtitleExtract> subtitle_extracts(const MediaInfo& info, const fs::path& work_folder, bool pictures,
                                               bool still_timeline) {
    std::vector<SubtitleExtract> extracts;
    for (std::size_t i = 0; i < info.subtitles.size(); ++i) {
        const auto& track = info.subtitles[i];
        const auto named = [&](const char* format) { return work_folder / fmt::format("source-{:02}.{}", i, format); };
        if (readable_text(track)) {
            const auto extraction = *extraction_for(track.codec);
            const auto file = named(extraction.format);
            extracts.push_back({track.index, {"-c:s", extraction.codec, "-f", extraction.format, path_text(file)}, file});
        } else if (!output_holds_subtitle(track, pictures)) {
            continue;
        } else if (track.codec == "hdmv_pgs_subtitle" && !still_timeline) {
            const auto file = named("sup");
            extracts.push_back({track.index, {"-c:s", "copy", "-f", "sup", path_text(file)}, file});
        } else if (track.codec == "dvd_subtitle" || still_timeline) {
            // The copy in Matroska that copy_track and rebuild_vobsub make.
            const auto file = named("mkv");
            extracts.push_back({track.index, {"-c:s", "copy", path_text(file)}, file});
        }
    }
    return extracts;
}

bool output_holds_subtitle(const SubtitleStreamInfo& track, bool pictures) {
    return pictures || track.text;
}

std::string left_out_of_mp4_warning(std::size_t number, const SubtitleStreamInfo& track) {
    return fmt::format("Subtitle track {} ({}) is image based ({}) and was left out because MP4 cannot hold it.",
                       number, track.language.value_or("und"), track.codec);
}

Result<SubtitleArgs> retime_subtitles(const ToolSet& tools, const MediaInfo& info, const std::string& source,
                                      const Timeline& timeline, const std::filesystem::path& work_folder,
                                      bool pictures, std::vector<std::string>& warnings,
                                      const SubtitleExtras& extras) {
    SubtitleArgs args;
    for (std::size_t i = 0; i < info.subtitles.size(); ++i) {
        const SubtitleStreamInfo& track = info.subtitles[i];
        const TrackJob job{tools, source, timeline, work_folder, warnings, extras, track, i + 1};
        Rebuilt rebuilt = std::nullopt;
        if (readable_text(track)) {
            rebuilt = rebuild_text(job);
        } else if ((is_picture_kind(track.codec) || extras.stillTimeline) && !output_holds_subtitle(track, pictures)) {
            warnings.push_back(left_out_of_mp4_warning(job.number, track));
        } else if (extras.stillTimeline) {
            rebuilt = copy_track(job);
        } else if (track.codec == "hdmv_pgs_subtitle") {
            rebuilt = rebuild_pgs(job);
        } else if (track.codec == "dvd_subtitle") {
            rebuilt = rebuild_vobsub(job);
        } else {
            warnings.push_back(fmt::format(
                "Subtitle track {} ({}) is image based ({}) and was dropped because the timeline changed.",
                job.number, track.language.value_or("und"), track.codec));
        }
        if (!rebuilt) return fail(rebuilt.error());
        if (*rebuilt) append_track_args(args, track, **rebuilt);
    }
    return args;
}

}  // namespace reel
