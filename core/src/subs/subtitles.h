#pragma once
// Rebuilding text subtitle tracks for the edited timeline.
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "edits/timeline.h"
#include "probe/media_info.h"
#include "subs/words.h"
#include "tools/toolset.h"
#include "util/result.h"

namespace reel {

using SubtitleArgs = std::vector<std::string>;

std::string format_srt_time(double t);
std::string format_ass_time(double t);
// `linked`: the cut the final mux makes; the cues are then written in the
// source's time (see LinkedCut).
std::string retime_srt(std::string_view text, const Timeline& timeline, const LinkedCut* linked = nullptr);
std::string retime_ass(std::string_view text, const Timeline& timeline, const LinkedCut* linked = nullptr);

// A subtitle track read out of the source by one more output of an ffmpeg run
// that reads the whole source anyway (the sound's cut), so that the rebuild
// reads `file` instead of the whole movie once more.
struct SubtitleExtract {
    std::uint64_t index = 0;           // the track's stream index in the source
    std::vector<std::string> options;  // ffmpeg's output options after its "-map", `file` last
    std::filesystem::path file;
};
// The extracts a rebuild of `info`'s tracks can read: text tracks, and PGS
// tracks on a timeline that moves where the output holds `pictures`.
std::vector<SubtitleExtract> subtitle_extracts(const MediaInfo& info, const std::filesystem::path& work_folder,
                                               bool pictures, bool still_timeline);

// What a rebuild does besides retiming.
struct SubtitleExtras {
    // Listed words to mask in every text track; null: none.
    const WordList* words = nullptr;
    // The timeline stands still (the tracks are rebuilt only to mask words):
    // text tracks keep their cues' times as written, picture tracks are copied
    // as they are.
    bool stillTimeline = false;
    // Tracks already read out of the source (subtitle_extracts, written with
    // the source's own times); null: every track is read here.
    const std::vector<SubtitleExtract>* extracted = nullptr;
    // The cut the final mux makes, which text tracks are written for; null:
    // none. The run makes such a cut only where every track is text.
    const LinkedCut* linked = nullptr;
};

// Rebuilds every subtitle track for a timeline that moved (the run has a remove
// or card edit), or for masking words. Text tracks become SubRip or ASS files,
// PGS tracks ".sup" files, VobSub tracks ".idx" files with their ".sub" beside
// them (extracted by mkvextract, which must sit beside mkvmerge); on a still
// timeline every picture track becomes a Matroska copy of itself. Where the
// output cannot hold `pictures` (MP4), picture tracks are left out with
// `left_out_of_mp4_warning`. Other picture kinds (DVB) on a moved timeline and
// tracks that cannot be extracted or read are dropped with a warning. Fails
// only when the work folder cannot be written.
Result<SubtitleArgs> retime_subtitles(const ToolSet& tools, const MediaInfo& info, const std::string& source,
                                      const Timeline& timeline, const std::filesystem::path& work_folder,
                                      bool pictures, std::vector<std::string>& warnings,
                                      const SubtitleExtras& extras = {});

// Whether the run can read the track's cues as text: SubRip, ASS and SSA, MP4
// timed text and WebVTT.
bool readable_text(const SubtitleStreamInfo& track);

// The text track a word list is matched against, as an index into `tracks`:
// track `asked` (1-based among the subtitle tracks, as the probe lists them and
// messages count them), else the first default track with readable text, else
// the first track with readable text. Fails when there is no such track.
Result<std::size_t> words_track(const std::vector<SubtitleStreamInfo>& tracks, std::optional<std::size_t> asked);

// A text track's cues as one document.
struct TrackText {
    bool ass = false;  // ASS (or SSA) text; else SubRip
    std::string text;
};
// Reads track `track` of `source` (a tool argument) with ffmpeg: ASS and SSA
// as ASS, the other readable kinds as SubRip.
Result<TrackText> extract_text_track(const ToolSet& tools, const std::string& source, const SubtitleStreamInfo& track);

// Whether an output that can or cannot hold `pictures` can carry the track.
bool output_holds_subtitle(const SubtitleStreamInfo& track, bool pictures);
// The warning for picture track `number` (1-based) that MP4 output leaves out.
std::string left_out_of_mp4_warning(std::size_t number, const SubtitleStreamInfo& track);

}  // namespace reel
