#include "pipeline/final_mux.h"

#include <algorithm>
#include <chrono>
#include <random>

#include <fmt/format.h>

#include "edits/time.h"
#include "pipeline/progress.h"
#include "probe/matroska.h"
#include "probe/matroska_ids.h"
#include "probe/matroska_write.h"
#include "subs/cue_layout.h"
#include "util/files.h"
#include "util/numbers.h"

namespace reel {

namespace {

using namespace matroska_id;

bool iso_639_2(const std::string& code) {
    return code.size() == 3 && std::ranges::all_of(code, [](char c) { return c >= 'a' && c <= 'z'; });
}

std::string value_of(const std::string& option) { return option.size() > 2 ? option.substr(2) : std::string(); }

// One file a track is read from, and where its time 0 lands (ms).
struct FeedFile {
    std::string path;
    std::uint64_t stream = 0;
    std::int64_t offsetMs = 0;
};

struct TextCue {
    std::int64_t ms = 0;
    std::int64_t duration = 0;
    std::string text;
};

// One track of the edited movie as its frames come, at their place in it.
class Feed {
public:
    explicit Feed(std::vector<FeedFile> files) : files_(std::move(files)) {}
    explicit Feed(std::vector<TextCue> cues) : cues_(std::move(cues)), text_(true) {}

    // The first file's track (opens it).
    Result<MatroskaTrack> track() {
        if (auto r = open_current(); !r) return fail(r.error());
        return reader_->track();
    }
    // Moves on to the next frame; false at the end, from when the feed is no
    // longer live.
    Result<bool> advance() {
        auto more = next_frame();
        if (!more) return more;
        live_ = *more;
        return more;
    }
    bool live() const { return live_; }
    std::int64_t ms() const { return text_ ? cues_[cue_ - 1].ms : ms_; }
    std::string_view bytes() const { return text_ ? std::string_view(cues_[cue_ - 1].text) : frame_.bytes; }
    bool keyframe() const { return text_ || frame_.keyframe; }
    std::optional<std::int64_t> duration() const {
        if (text_) return cues_[cue_ - 1].duration;
        return std::nullopt;
    }

private:
    Result<void> open_current() {
        if (reader_) return {};
        auto opened = MatroskaFrameReader::open(files_[file_].path, files_[file_].stream);
        if (!opened) return fail(opened.error());
        reader_.emplace(std::move(*opened));
        return {};
    }
    Result<bool> next_frame() {
        if (text_) return ++cue_ <= cues_.size();
        while (file_ < files_.size()) {
            if (auto r = open_current(); !r) return fail(r.error());
            auto frame = reader_->next();
            if (!frame) return fail(frame.error());
            if (!*frame) {
                reader_.reset();
                ++file_;
                continue;
            }
            frame_ = **frame;
            ms_ = static_cast<std::int64_t>(std::llround(frame_.seconds * 1000.0)) + files_[file_].offsetMs;
            // mkvmerge drops what a shift puts before the start.
            if (ms_ < 0) continue;
            return true;
        }
        return false;
    }

    std::vector<FeedFile> files_;
    std::size_t file_ = 0;
    std::optional<MatroskaFrameReader> reader_;
    FrameView frame_;
    std::int64_t ms_ = 0;
    std::vector<TextCue> cues_;
    std::size_t cue_ = 0;
    bool text_ = false;
    bool live_ = false;
};

Result<std::vector<TextCue>> read_subrip(const std::filesystem::path& file) {
    auto document = read_file(file);
    if (!document) return fail(document.error());
    std::vector<TextCue> cues;
    for (const auto& cue : read_srt_cues(*document)) {
        const auto start = parse_time(cue.startText);
        const auto end = parse_time(cue.endText);
        if (!start || !end || cue.text.empty()) continue;
        std::string text;
        // Lines end as mkvmerge ends them, which players expect of the track.
        for (const auto line : cue.text) text += (text.empty() ? "" : "\r\n") + std::string(line);
        const std::int64_t from = round_half_away(*start * 1000.0);
        cues.push_back({from, std::max<std::int64_t>(round_half_away(*end * 1000.0) - from, 0), text});
    }
    std::ranges::stable_sort(cues, {}, &TextCue::ms);
    return cues;
}

std::string chapters_body(const std::vector<KeptChapter>& chapters, std::mt19937_64& random) {
    std::string atoms = ebml_element(kEditionUid, ebml_uint(random() | 1));
    for (const auto& chapter : chapters) {
        const auto ms = static_cast<std::uint64_t>(chapter_milliseconds(chapter.start));
        std::string atom = ebml_element(kChapterUid, ebml_uint(random() | 1));
        atom += ebml_element(kChapterTimeStart, ebml_uint(ms * 1000000));
        atom += ebml_element(kChapterFlagHidden, ebml_uint(0));
        atom += ebml_element(kChapterFlagEnabled, ebml_uint(1));
        atom += ebml_element(kChapterDisplay, ebml_element(kChapString, chapter.title) + ebml_element(kChapLanguage, "eng"));
        atoms += ebml_element(kChapterAtom, atom);
    }
    return ebml_element(kEditionEntry, atoms);
}

const std::string subrip_entry = ebml_element(kTrackType, ebml_uint(17)) + ebml_element(kCodecId, "S_TEXT/UTF8");

}  // namespace

std::optional<std::vector<TextTrack>> subrip_tracks(const SubtitleArgs& args) {
    std::vector<TextTrack> tracks;
    TextTrack track;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool valued = arg == "--language" || arg == "--track-name" || arg == "--default-track-flag" ||
                            arg == "--forced-display-flag";
        if (valued && i + 1 < args.size()) {
            const std::string value = value_of(args[++i]);
            if (arg == "--language") track.language = value;
            if (arg == "--track-name") track.title = value;
            if (arg == "--default-track-flag") track.isDefault = value == "yes";
            if (arg == "--forced-display-flag") track.forced = value == "yes";
            continue;
        }
        if (arg.starts_with("--") || path_from_text(arg).extension() != ".srt") return std::nullopt;
        track.file = path_from_text(arg);
        tracks.push_back(std::move(track));
        track = TextTrack{};
    }
    return tracks;
}

bool own_mux_fits(const MuxInputs& in, const std::vector<TextTrack>& subtitles, bool source_subtitles) {
    if (!in.splitParts.empty() || source_subtitles) return false;
    if (!std::ranges::all_of(subtitles, [](const TextTrack& text) { return iso_639_2(text.language); })) return false;
    // Each track is read on its own: two from one file would read the whole
    // movie twice where mkvmerge reads it once.
    for (std::size_t i = 0; i < in.tracks.size(); ++i)
        for (std::size_t j = 0; j < i; ++j)
            if (in.tracks[i].source.file == in.tracks[j].source.file) return false;
    return std::ranges::all_of(in.tracks, [&](const MuxTrack& track) {
        const bool pieces = track.video && !in.videoPieces.empty();
        return !track.ownProperties && track.source.timestamps.empty() && !(pieces && track.source.syncMs != 0) &&
               iso_639_2(track.language.value_or("und"));
    });
}

Result<void> write_final_matroska(const RunContext& ctx, const MuxInputs& in, const std::vector<TextTrack>& subtitles,
                                  const std::vector<KeptChapter>& chapters, const ToolProgress& progress,
                                  double duration) {
    std::mt19937_64 random{std::random_device{}()};
    std::vector<const MuxTrack*> ordered;
    for (const auto& track : in.tracks) ordered.push_back(&track);
    std::ranges::stable_sort(ordered, {}, &MuxTrack::order);

    std::vector<Feed> feeds;
    std::vector<MatroskaTrack> entries;
    for (const MuxTrack* track : ordered) {
        std::vector<FeedFile> files;
        if (track->video && !in.videoPieces.empty()) {
            for (const auto& piece : in.videoPieces)
                files.push_back({path_text(piece.file), 0, round_half_away((piece.position - piece.firstFrame) * 1000.0)});
        } else {
            files.push_back({track->source.file, track->source.id, track->source.syncMs});
        }
        feeds.emplace_back(std::move(files));
        auto carried = feeds.back().track();
        if (!carried) return fail(carried.error());
        // A numbering of the carrier's tracks other than ffprobe's would name another one.
        if (carried->type != (track->video ? 1u : 2u))
            return fail(fmt::format("track {} of {} is not the {} expected", track->source.id, track->source.file,
                                    track->video ? "picture" : "sound"));
        MatroskaTrack entry = *carried;
        entry.number = entries.size() + 1;
        entry.uid = random() | 1;
        entry.entry = rewrite_track_entry(carried->entry, {entry.number, entry.uid, track->language.value_or("und"),
                                                           track->title, track->isDefault, track->forced,
                                                           track->video ? track->rotation : std::nullopt});
        entries.push_back(std::move(entry));
    }
    for (const auto& text : subtitles) {
        auto cues = read_subrip(text.file);
        if (!cues) return fail(cues.error());
        feeds.emplace_back(std::move(*cues));
        MatroskaTrack entry;
        entry.number = entries.size() + 1;
        entry.uid = random() | 1;
        entry.type = 17;
        entry.entry = rewrite_track_entry(subrip_entry, {entry.number, entry.uid, text.language, text.title,
                                                               text.isDefault, text.forced, std::nullopt});
        entries.push_back(std::move(entry));
    }

    SegmentExtras extras;
    extras.title = in.title;
    // Stamped with the time of writing, as mkvmerge stamps a file; a movie
    // with a date of its own gets that one afterwards.
    constexpr std::int64_t kMatroskaEpoch = 978307200;  // 2001-01-01 in Unix time
    extras.date = (std::chrono::system_clock::now().time_since_epoch() / std::chrono::seconds(1) - kMatroskaEpoch) *
                  std::int64_t{1000000000};
    extras.statistics = true;
    auto source = read_matroska_extras(in.source);
    if (!source) return fail(source.error());
    extras.attachments = std::move(source->attachments);
    extras.tags = source->globalTags + source->attachmentTags;
    // The tags of the source's chapters name them by their uids, which
    // chapters made anew do not have.
    if (in.sourceChapters) {
        extras.chapters = std::move(source->chapters);
        extras.tags += source->chapterTags;
    } else if (!chapters.empty()) {
        extras.chapters = chapters_body(chapters, random);
    }
    for (std::size_t k = 0; k < ordered.size(); ++k) {
        // The picture's pieces all come from one track: the first one's tags
        // are the track's.
        auto tags = read_matroska_track_tags(ordered[k]->source.file, {ordered[k]->source.id});
        if (!tags) return fail(tags.error());
        extras.tags += retarget_track_tags(tags->front(), entries[k].uid);
    }

    auto muxer = MatroskaMuxer::open(in.target, entries, extras, 0.0);
    if (!muxer) return fail(muxer.error());
    for (std::size_t k = 0; k < feeds.size(); ++k) {
        auto more = feeds[k].advance();
        if (!more) return fail(more.error());
        // mkvmerge writes a track without frames; this writer would leave it out of the count.
        if (!*more && k < ordered.size()) return fail(fmt::format("no frames in {}", ordered[k]->source.file));
    }
    PercentSteps steps(progress);
    while (true) {
        std::optional<std::size_t> earliest;
        for (std::size_t k = 0; k < feeds.size(); ++k)
            if (feeds[k].live() && (!earliest || feeds[k].ms() < feeds[*earliest].ms())) earliest = k;
        if (!earliest) break;
        if (is_cancelled(ctx)) return fail("Cancelled");
        Feed& feed = feeds[*earliest];
        muxer->add(*earliest, feed.ms(), feed.bytes(), feed.keyframe(), feed.duration());
        if (duration > 0) steps(static_cast<double>(feed.ms()) / 1000.0 / duration);
        if (auto more = feed.advance(); !more) return fail(more.error());
    }
    return muxer->finish(muxer->span());
}

}  // namespace reel
