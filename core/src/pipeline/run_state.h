#pragma once
// What one run carries from stage to stage, and the stage runners. Private to
// the pipeline: the front end only sees run_pipeline.
//
// The data flow: `prepare` reads the movie and the edits into RunInputs, which
// no stage changes afterwards. Each stage then reads the inputs and the
// products so far and replaces what it makes: the carrier of the picture or
// of a sound track, the timeline, the subtitle and chapter files, and what it
// adds to the report.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cards/card.h"
#include "pipeline/audio_cut.h"
#include "pipeline/pipeline.h"
#include "pipeline/plan.h"
#include "pipeline/progress.h"
#include "pipeline/tracks.h"
#include "pipeline/video_cut.h"
#include "probe/media_info.h"
#include "subs/chapters.h"
#include "subs/subtitles.h"
#include "subs/words.h"
#include "tools/run.h"
#include "util/result.h"

namespace reel {

// What the run has read: the options, the movie, the edits snapped to it.
struct RunInputs {
    const PipelineOptions& options;
    std::filesystem::path work;

    MediaInfo info;        // the movie as the user gave it
    MediaInfo sourceInfo;  // the file the tools read: the movie or its remuxed copy
    std::string source;    // that file, as a tool argument
    VideoStreamInfo video;
    double fps = 0;
    SnappedGroups groups;
    DrawtextForm drawtext = DrawtextForm::PerLine;  // asked of ffmpeg when a card is to be drawn
    std::optional<WordList> words{};                 // the word list, when the user gave one
    // Cuts on exact frames, with the card encoder's settings for the stretches
    // encoded again (false when the codec has no such encoder).
    bool exact = false;
    std::vector<std::string> stretchSettings;

    // True once remove or card edits move the timeline.
    bool timeline_moves() const { return !groups.cut.empty(); }
    // The mute ranges, as snapped.
    std::vector<std::pair<double, double>> mute_ranges() const {
        std::vector<std::pair<double, double>> ranges;
        for (const auto& edit : groups.mute) ranges.emplace_back(edit.snappedStart, edit.snappedEnd);
        return ranges;
    }
    // Where the timeline moves, the sound is reassembled once, for the cuts
    // and the mutes together: the mute stage leaves it to the join.
    bool mutes_join_the_cut() const { return !groups.mute.empty() && timeline_moves(); }
    // The subtitles are written anew: retimed, or with listed words masked.
    bool rebuilds_subtitles() const { return timeline_moves() || words.has_value(); }
    std::filesystem::path in_work(const std::string& name) const { return work / name; }
    // Keyframes are looked up on `picture`, limited by the movie's duration,
    // in `cues` (its keyframes as its cues list them, read_cue_keyframes)
    // where they could be read; `frames`: the carrier's pictures, for exact cuts.
    GapContext gap_context(const RunContext& ctx, const TrackSource& picture, const Result<std::vector<double>>& cues,
                           const FrameIndex* frames = nullptr) const;
    // For exact cuts at `edits`, the pictures of the carrier `picture` that
    // their plan needs (all of them where `cues` could not be read);
    // absent otherwise.
    Result<std::optional<FrameIndex>> frames_for_exact(const RunContext& ctx, const TrackSource& picture,
                                                       const std::vector<SnappedEdit>& edits,
                                                       const Result<std::vector<double>>& cues) const;
    // A card of `frames` frames in the movie's picture format, written to the
    // work folder as `name`; without sound unless the caller adds it.
    CardSpec card_spec(const std::string& text, const std::string& name, std::int64_t frames) const;
};

// What the stages have made so far.
struct RunProducts {
    explicit RunProducts(std::vector<std::string>& warning_list) : warnings(warning_list) {}

    // Where the picture and each sound track come from now.
    Carriers carriers;
    // Where every moment of the source is in the edited movie.
    Timeline timeline;
    SubtitleArgs subtitleArgs;
    ChapterArgs chapterArgs;
    // Subtitle tracks read out of the source along with its sound; absent
    // until a run has read them.
    std::optional<std::vector<SubtitleExtract>> subtitleExtracts;

    // Text cards that wait for the cut (per text edit): when the cut splits
    // the source anyway, it takes the text ranges out with its own and makes
    // these cards, beside the split, for their place.
    std::optional<std::vector<CardSpec>> textCards;

    std::vector<AppliedEdit> applied;
    double secondsEncoded = 0;
    std::vector<std::string>& warnings;
};

// What a stage is handed.
struct StageRun {
    RunContext& ctx;
    StageProgress& progress;
    const RunInputs& in;
    RunProducts& out;
};

// One reassembly of every sound track: the stretches each track is cut into
// (built from the track's packet length, which decides where a mute must start
// so that no syllable of it is heard) and the silence added for cards. The
// sound carriers become the files "{name}-{k}.mka" of the work folder.
struct AudioRebuild {
    std::string name;
    std::function<std::vector<AudioStretch>(double frame_seconds)> stretches;
    std::vector<SilenceSlot> silence;
};
// Runs within the slice [from, to] of the current stage; returns the seconds of
// silence one track received in place of muted packets (a card's silence is
// counted with the card).
Result<double> rebuild_audio(StageRun& run, const AudioRebuild& rebuild, double from, double to);

// rebuild_audio in two halves. The first runs the tools: it reads the
// sound's carriers, cuts them into stretches and joins each track. It reads
// the run's inputs only and changes nothing of its products, so it may run
// beside another stage's tool run, on a context of its own. `progress` gives
// the progress of track k of n (none: no progress). The second makes the
// result the run's: the sound's carriers and the subtitle tracks read along.
struct RebuiltSound {
    std::vector<TrackSource> carriers;
    double silence = 0;  // seconds one track received in place of muted packets
    std::optional<std::vector<SubtitleExtract>> subtitleExtracts;
    // The times of every carrier's packets as stored, where the run wrote
    // them itself (copy_kept_sound); empty otherwise.
    std::vector<std::vector<double>> packetTimes;
};
using TrackProgress = std::function<ToolProgress(std::size_t track, std::size_t tracks)>;
// `copying`: the progress of the whole, where the run copies the sound itself.
Result<RebuiltSound> make_sound(RunContext& ctx, const RunInputs& in, const std::vector<TrackSource>& carriers,
                                const AudioRebuild& rebuild, bool read_subtitles, const TrackProgress& progress,
                                const ToolProgress& copying = {});
double use_sound(RunProducts& out, RebuiltSound sound);
// make_sound without ffmpeg, for the source's own Matroska tracks in codecs
// whose times ffmpeg gives as stored: the kept packets of every track are
// copied into a file of their own in one read of the movie, with silence
// encoded like the track where a mute or a card asks for it, every packet
// where ffmpeg's cut and join would put it; the subtitle tracks are read out
// beside (where `read_subtitles`). Fails for anything else; make_sound tries
// it first and then cuts with ffmpeg.
Result<RebuiltSound> copy_kept_sound(RunContext& ctx, const RunInputs& in, const std::vector<TrackSource>& carriers,
                                     const AudioRebuild& rebuild, bool read_subtitles, const ToolProgress& progress = {});
// Whether every sound track is in a codec whose packet times ffmpeg gives as
// stored (not Opus, whose codec delay it takes off) and mkvmerge splits (not
// FLAC).
bool sound_times_as_stored(const MediaInfo& info);
// Whether a run that reads the source should read its subtitle tracks too.
bool wants_subtitles(const StageRun& run);

// A file of the joined picture as mkvmerge sees it (its first frame and end);
// the caller sets its position.
Result<VideoPiece> measure_piece(const RunContext& ctx, const std::filesystem::path& file);
// Where the first frame of a piece cut from its carrier at `range_start` lands
// when that moment goes to `output_start`: a piece cut at a keyframe starts
// with that keyframe, a piece from the very start of the carrier with its
// first frame, wherever that sits.
double first_frame_position(double range_start, double output_start, const VideoPiece& piece);
// The same for a piece of a plan, whose first picture may be a leading one.
double piece_position(const PieceRange& range, double output_start, const VideoPiece& piece);

// Renders `spec` and returns the file that joins the picture (H.264 and HEVC
// cards carry their parameter sets at every keyframe). Reads the run's inputs
// only, so it may run beside another stage's tool run; the caller counts the
// frames as encoded.
Result<std::filesystem::path> make_card(RunContext& ctx, const RunInputs& in, const CardSpec& spec,
                                        const ToolProgress& progress);

// A file for each kept range of the picture; none for a range from the file's
// start that ends at its first keyframe (a picture that starts late, after a
// cut there, has nothing before it).
using PartFiles = std::vector<std::optional<std::filesystem::path>>;
// The carrier's picture cut at `ranges` (keyframe times) into a file for each,
// named as mkvmerge's split of `output` names them (split_part_paths). The run
// copies the pictures itself where the carrier is a Matroska file it can read
// so; otherwise mkvmerge splits it. Fills the slice `progress`.
Result<PartFiles> split_picture(StageRun& run, const TrackSource& carrier, const std::vector<PieceRange>& ranges,
                                const std::filesystem::path& output, const ToolProgress& progress);

// split_picture's own copy into `paths`, without mkvmerge: fails (for the log)
// where the carrier cannot be read so. `duration` (the movie's) paces the
// progress.
Result<PartFiles> split_in_process(RunContext& ctx, const TrackSource& carrier, const std::vector<PieceRange>& ranges,
                                   const std::vector<std::filesystem::path>& paths, double duration,
                                   const ToolProgress& progress);

// A file for each slot of a plan, where it has one.
using SlotFiles = std::vector<std::optional<std::filesystem::path>>;
// Encodes each stretch of `plan` that holds pictures into `files` (same slot,
// "{stem}-{slot}.mkv"), several to one ffmpeg run, beside what the caller runs
// next; null when the plan has no stretch. A copied stretch is copied out of
// the carrier instead, and encoded only where that fails. `plan`, `carrier`,
// `files` and `encoded_frames` must outlive the run; once it is collected,
// `encoded_frames` holds the pictures encoded.
std::unique_ptr<BackgroundRun> encode_stretches_beside(StageRun& run, const CutPlan& plan, const TrackSource& carrier,
                                                       std::string stem, SlotFiles& files,
                                                       std::int64_t& encoded_frames);
// `files` (the encoded stretches) with the file each piece slot joins with:
// the carrier's split part, through the filters it asks for. The passes fill
// the slice [from, to] of the current stage.
Result<SlotFiles> slot_files(StageRun& run, const CutPlan& plan, const PartFiles& parts,
                             SlotFiles files, double from, double to);
// Renders every card of `specs` into `files` (same index) beside what the
// caller runs next, at most two side by side (card_groups). `specs` and
// `files` must outlive the runs; collect them all before reading `files`.
std::vector<std::unique_ptr<BackgroundRun>> make_cards_beside(StageRun& run,
                                                              const std::vector<std::optional<CardSpec>>& specs,
                                                              std::vector<std::filesystem::path>& files);
// Waits for every run; the first failure.
Result<void> collect_all(std::vector<std::unique_ptr<BackgroundRun>>& runs);
// Where the first picture of an encoded stretch lands when its start lands at `position`.
Result<VideoPiece> placed_stretch(const RunContext& ctx, const std::filesystem::path& file,
                                  const EncodedStretch& stretch, double position);

Result<void> run_mute_stage(StageRun& run);
Result<void> run_overlay_stage(StageRun& run);
// "split", "cards" and "join".
Result<void> run_cut_stages(StageRun& run);
Result<void> run_subs_stage(StageRun& run);
Result<void> run_mux_stage(StageRun& run);
Result<void> run_mp4_stage(StageRun& run);

}  // namespace reel
