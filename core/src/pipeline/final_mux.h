#pragma once
// The edited movie written by the run itself: every track read from its
// carriers side by side and written once, in small pieces. mkvmerge writes in
// pieces of megabytes, which costs a file system like ext4 several times what
// a copy costs (1.5 s against 0.4 s for a 900 MB movie); a run with cards
// wrote the movie that way after copying the picture out once already.
// mkvmerge still writes what this writer does not take (own_mux_fits), and
// whatever it cannot read frame by frame: a block stored with more than its
// frame (Opus keeps its end padding so), a file that is not Matroska.
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "pipeline/stage_args.h"
#include "subs/chapters.h"
#include "subs/subtitles.h"
#include "tools/run.h"

namespace reel {

// A rebuilt SubRip track as the edited movie carries it.
struct TextTrack {
    std::filesystem::path file;
    std::string language = "und";
    std::optional<std::string> title;
    bool isDefault = false;
    bool forced = false;
};
// The rebuilt subtitle tracks that `args` hand mkvmerge, read back; nothing
// where any of them is not a SubRip file.
std::optional<std::vector<TextTrack>> subrip_tracks(const SubtitleArgs& args);

// Whether the run's own writer can write `in` with `subtitles` (rebuilt
// SubRip tracks): no cut of the carrier, no timestamp files, no shifted
// picture pieces, no two tracks from one file, no track that keeps its file's own properties (a second
// picture), languages as ISO 639-2 codes, and no subtitles of the source to
// bring along (`source_subtitles`: the source has subtitle tracks that `in`
// takes).
bool own_mux_fits(const MuxInputs& in, const std::vector<TextTrack>& subtitles, bool source_subtitles);

// Writes `in.target` from `in`'s tracks (a picture of pieces each at its
// place), `subtitles`, `chapters` (or the source's own where `in` takes
// them), and the source's attachments and global tags. Fails (for the log,
// the caller then lets mkvmerge write it) where a carrier cannot be read
// frame by frame, and with "Cancelled" when `ctx` is cancelled. `duration`:
// the edited movie's length, which the progress is reckoned against.
Result<void> write_final_matroska(const RunContext& ctx, const MuxInputs& in, const std::vector<TextTrack>& subtitles,
                                  const std::vector<KeptChapter>& chapters, const ToolProgress& progress,
                                  double duration);

}  // namespace reel
