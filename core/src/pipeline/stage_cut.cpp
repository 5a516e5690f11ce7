// Stages "split", "cards" and "join": the picture is cut at the kept ranges, a
// title card is rendered for every card edit, and pictures and sound are put
// back together with every piece at the place the layout gives it.
#include <algorithm>
#include <memory>

#include <fmt/format.h>

#include "cards/card.h"
#include "encode/encoder.h"
#include "pipeline/commands.h"
#include "pipeline/layout.h"
#include "pipeline/progress.h"
#include "pipeline/run_state.h"
#include "pipeline/stage_args.h"
#include "pipeline/video_cut.h"
#include "probe/keyframes.h"
#include "probe/matroska.h"
#include "probe/matroska_write.h"
#include "subs/subtitles.h"
#include "util/files.h"

namespace reel {

Result<VideoPiece> measure_piece(const RunContext& ctx, const std::filesystem::path& file) {
    // Read from the piece itself where it can be: one mkvmerge start per piece
    // adds up to seconds with hundreds of edits.
    auto extent = read_matroska_extent(path_text(file), 0);
    if (!extent) extent = mkvmerge_extent(ctx.tools, path_text(file));
    if (!extent) return fail(extent.error());
    return VideoPiece{file, 0, extent->firstVideo, extent->end};
}

double first_frame_position(double range_start, double output_start, const VideoPiece& piece) {
    return range_start > 0 ? output_start : output_start + piece.firstFrame;
}

double piece_position(const PieceRange& range, double output_start, const VideoPiece& piece) {
    return first_frame_position(range.start, output_start, piece) + (range.picturesStart.value_or(range.start) - range.start);
}

namespace {

// Stretches in one ffmpeg run. Each has its own decoder, which keeps its
// reference pictures until the run ends (about 14 MiB at 720p, beside the
// encoder's 30 and ffmpeg's own 50): at 720p and above a run encodes one.
std::size_t stretch_batch(const VideoStreamInfo& video) {
    const double pixels = static_cast<double>(std::max<std::int64_t>(video.width, 1) * std::max<std::int64_t>(video.height, 1));
    return static_cast<std::size_t>(std::clamp(1280.0 * 720.0 / pixels, 1.0, 8.0));
}
// Encoding runs at once: the encoder of source pictures works on one thread
// (see match_encoder), so two keep both cores of a small machine busy.
constexpr std::size_t kStretchRunsAtOnce = 2;
// Copies in one ffmpeg run.
constexpr std::size_t kPassBatch = 16;
// Cards rendered at once beside the split: a long text card alone would
// otherwise keep the join waiting after the split is done.
constexpr std::size_t kCardsAtOnce = 2;

template <typename Job>
std::vector<std::vector<Job>> batches(const std::vector<Job>& jobs, std::size_t size) {
    std::vector<std::vector<Job>> out;
    for (std::size_t i = 0; i < jobs.size(); i += size)
        out.emplace_back(jobs.begin() + static_cast<std::ptrdiff_t>(i),
                         jobs.begin() + static_cast<std::ptrdiff_t>(std::min(i + size, jobs.size())));
    return out;
}

// The head of a group of pictures, copied packet by packet out of the
// carrier into a file of its own whose first picture is at 0, as a split
// part's is. Its duration is where mkvmerge appends the next file: after its
// last picture.
Result<void> copy_head(const TrackSource& carrier, const EncodedStretch& stretch, const std::filesystem::path& output) {
    auto read = read_matroska_pictures(carrier.file, carrier.id, stretch.copyFrom, static_cast<std::size_t>(stretch.packets));
    if (!read) return fail(read.error());
    double last = stretch.start;
    for (const auto& frame : read->frames) {
        // The listing the plan was made from must have seen the same pictures.
        if (frame.seconds < stretch.start - kListedTimeTolerance || frame.seconds >= stretch.end - kListedTimeTolerance)
            return fail(fmt::format("a picture at {:.3f} s outside the copied {:.3f}-{:.3f} s", frame.seconds,
                                    stretch.start, stretch.end));
        last = std::max(last, frame.seconds);
    }
    const double frame_seconds = read->track.defaultDuration > 0 ? static_cast<double>(read->track.defaultDuration) / 1e9
                                                                   : stretch.end - last;
    auto writer = MatroskaTrackWriter::open(output, read->track, {}, last - stretch.start + frame_seconds);
    if (!writer) return fail(writer.error());
    for (const auto& frame : read->frames)
        writer->add(std::max(frame.seconds - stretch.start, 0.0), frame.bytes, frame.keyframe);
    return writer->finish();
}

// Pictures held at a part's start to find its earliest time: an open GOP's
// leading pictures follow their keyframe within the decoder's reorder depth.
constexpr std::size_t kPartHead = 32;

// One part of the split as it is written: timed from its earliest picture on,
// which the first pictures give, but for a part from the file's start, which
// keeps the file's times (a picture that starts late stays late).
struct PartWriter {
    PartWriter(MatroskaTrackWriter opened, bool from_start) : writer(std::move(opened)), fromStart(from_start) {}

    MatroskaTrackWriter writer;
    bool fromStart = false;
    std::vector<StoredFrame> head;
    std::optional<double> zero;
    double earliest = 0;
    double last = 0;

    bool add(double seconds, std::string_view bytes, bool keyframe) {
        if (!zero) {
            head.push_back({seconds, keyframe, std::string(bytes)});
            if (head.size() < kPartHead) return true;
            return start();
        }
        if (seconds < *zero - kListedTimeTolerance) return false;
        writer.add(seconds - *zero, bytes, keyframe);
        earliest = std::min(earliest, seconds);
        last = std::max(last, seconds);
        return true;
    }
    bool start() {
        if (head.empty()) return false;
        earliest = std::ranges::min(head, {}, &StoredFrame::seconds).seconds;
        zero = fromStart ? 0.0 : earliest;
        last = earliest;
        for (const auto& frame : head) add(frame.seconds, frame.bytes, frame.keyframe);
        head.clear();
        return true;
    }
    Result<void> finish(double frame_seconds) {
        if (!zero && !start()) return fail("a part without pictures");
        // As mkvmerge gives it: from the earliest picture on.
        return writer.finish(last + frame_seconds - earliest);
    }
};

}  // namespace

// The picture of the kept ranges copied out of the carrier into `outputs`,
// one file a range, as mkvmerge's split writes them. The run reads the movie
// once either way; writing it in small pieces saves most of the time that the
// file system spends taking mkvmerge's writes of megabytes. Files whose writer
// is not trusted to cue every keyframe, pictures without a frame length and
// laced pictures are left to mkvmerge (the caller's fallback).
Result<PartFiles> split_in_process(RunContext& ctx, const TrackSource& carrier, const std::vector<PieceRange>& ranges,
                                   const std::vector<std::filesystem::path>& paths, double duration,
                                   const ToolProgress& progress) {
    if (ranges.empty()) return PartFiles{};
    if (carrier.syncMs != 0 || !carrier.timestamps.empty()) return fail("the picture is shifted");
    auto head = read_matroska_head(carrier.file);
    if (!head) return fail(head.error());
    if (carrier.id >= head->tracks.size()) return fail("no such picture track");
    const MatroskaTrack& track = head->tracks[carrier.id];
    if (track.defaultDuration == 0) return fail("the picture gives no frame length");
    const double frame_seconds = static_cast<double>(track.defaultDuration) / 1e9;
    // The track's own tags (its encoder's name) go along, as mkvmerge's split takes them.
    auto tags = read_matroska_track_tags(carrier.file, {carrier.id});
    if (!tags) return fail(tags.error());

    SplitParts parting(ranges);
    std::vector<std::optional<PartWriter>> parts(ranges.size());
    std::string problem;
    const double from = ranges.front().start;
    const double span = std::max(ranges.back().end.value_or(duration) - from, 1e-3);
    PercentSteps steps(progress);
    const auto ended = [&](std::size_t i) {
        if (auto r = parts[i]->finish(frame_seconds); !r) problem = fmt::format("part {}: {}", i + 1, r.error());
        return problem.empty();
    };
    auto read = read_matroska_picture_frames(carrier.file, carrier.id, from, [&](const FrameView& frame) {
        const auto before = parting.current();
        const auto now = frame.keyframe ? parting.keyframe(frame.seconds) : before;
        if (before && before != now && !ended(*before)) return false;
        if (parting.done()) return false;
        if (!now) return true;
        auto& part = parts[*now];
        if (!part) {
            auto writer = MatroskaTrackWriter::open(paths[*now], track, tags->front(), 0.0);
            if (!writer) {
                problem = writer.error();
                return false;
            }
            part.emplace(std::move(*writer), ranges[*now].start <= 0);
        }
        if (!part->add(frame.seconds, frame.bytes, frame.keyframe)) {
            problem = fmt::format("a picture at {:.3f} s shown before its part's first", frame.seconds);
            return false;
        }
        steps((frame.seconds - from) / span);
        return !is_cancelled(ctx);
    });
    if (!read) return fail(read.error());
    if (!problem.empty()) return fail(problem);
    if (is_cancelled(ctx)) return fail("Cancelled");
    if (const auto open = parting.current(); open && !ended(*open)) return fail(problem);
    PartFiles written(paths.begin(), paths.end());
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (parts[i]) continue;
        if (i > 0 || ranges[0].start > 0) return fail(fmt::format("no pictures for part {}", i + 1));
        written[i].reset();
    }
    return written;
}

namespace {

// Encodes the stretches of `plan` that hold pictures into `files`, and copies
// the copied ones. Reads the run's inputs only.
Result<void> encode_stretches(RunContext& ctx, const RunInputs& in, const CutPlan& plan, const TrackSource& carrier,
                              const std::string& stem, SlotFiles& files, std::int64_t& encoded_frames) {
    std::vector<StretchJob> stretches;
    for (std::size_t i = 0; i < plan.slots.size(); ++i) {
        const auto& slot = plan.slots[i];
        if (slot.kind != PieceSlot::Kind::Encoded || plan.stretches[slot.index].frames == 0) continue;
        const auto& stretch = plan.stretches[slot.index];
        const auto output = in.in_work(fmt::format("{}-{}.mkv", stem, slot.index));
        files[i] = output;
        if (stretch.copied()) {
            auto copied = copy_head(carrier, stretch, output);
            if (copied) continue;
            ctx.log(fmt::format("the pictures at {:.3f}-{:.3f} s are encoded: {}", stretch.start, stretch.end, copied.error()));
        }
        // As a card, the stretch carries its parameter sets at every
        // keyframe already: it needs no pass of its own.
        stretches.push_back({stretch, output});
        encoded_frames += stretch.frames;
    }

    // Where the encoder cannot be made to start a stretch anew mid-stream,
    // each stretch gets an encoder of its own.
    const bool joins = forced_keyframe_options(in.video.codec, {}).has_value();
    const auto runs = batches(stretches, joins ? stretch_batch(in.video) : 1);
    // Encodes `jobs` in one run, named by `batch`, and moves each stretch to its place.
    const auto encode = [&](RunContext& on, const std::vector<StretchJob>& jobs, const std::string& batch) -> Result<void> {
        std::int64_t frames = 0;
        for (const auto& job : jobs) frames += job.stretch.frames;
        const auto segments = in.in_work(fmt::format("{}-batch{}", stem, batch));
        if (auto r = run_ffmpeg(on,
                                stretch_arguments(carrier.file, carrier.id, jobs, in.stretchSettings, in.video.codec,
                                                  segments),
                                frames);
            !r)
            return r;
        for (std::size_t i = 0; i < jobs.size(); ++i) {
            std::error_code error;
            std::filesystem::rename(stretch_segment(segments, i), jobs[i].output, error);
            if (error) return fail(fmt::format("ffmpeg wrote no encoded stretch {}: {}", path_text(jobs[i].output), error.message()));
        }
        return {};
    };
    // The batches from `first` on, every kStretchRunsAtOnce-th.
    const auto lane = [&](RunContext& on, std::size_t first) -> Result<void> {
        for (std::size_t b = first; b < runs.size(); b += kStretchRunsAtOnce) {
            const auto& jobs = runs[b];
            auto done = encode(on, jobs, fmt::format("{}", b));
            // Stretches are joined in one filter graph, which refuses pictures
            // whose size changes from one stretch to the next: each is then
            // encoded on its own.
            if (!done && jobs.size() > 1 && !is_cancelled(on)) {
                on.log(fmt::format("encoding the stretches one by one: {}", done.error()));
                done = {};
                for (std::size_t j = 0; j < jobs.size(); ++j) {
                    if (done = encode(on, {jobs[j]}, fmt::format("{}-{}", b, j)); !done) break;
                }
            }
            if (!done) return fail(done.error());
        }
        return {};
    };
    std::vector<std::unique_ptr<BackgroundRun>> beside;
    for (std::size_t first = 1; first < std::min(kStretchRunsAtOnce, runs.size()); ++first)
        beside.push_back(std::make_unique<BackgroundRun>(ctx, [&lane, first](RunContext& own) { return lane(own, first); }));
    auto done = lane(ctx, 0);
    // Every lane ends before the files are used or the state it shares goes.
    auto others = collect_all(beside);
    if (!done) return done;
    return others;
}

}  // namespace

Result<PartFiles> split_picture(StageRun& run, const TrackSource& carrier, const std::vector<PieceRange>& ranges,
                                const std::filesystem::path& output, const ToolProgress& progress) {
    const auto paths = split_part_paths(output, ranges.size());
    auto own = split_in_process(run.ctx, carrier, ranges, paths, run.in.info.duration, progress);
    if (own || is_cancelled(run.ctx)) return own;
    run.ctx.log("mkvmerge splits the picture: " + own.error());
    if (auto r = run_mkvmerge(run.ctx, video_split_arguments(output, ranges, carrier), progress); !r) return fail(r.error());
    PartFiles parts(paths.begin(), paths.end());
    // mkvmerge writes a file without a picture for a range before the first keyframe.
    if (ranges[0].start <= 0) {
        if (auto head = read_matroska_head(path_text(paths[0])); head && !head->firstCluster) parts[0].reset();
    }
    return parts;
}

std::unique_ptr<BackgroundRun> encode_stretches_beside(StageRun& run, const CutPlan& plan, const TrackSource& carrier,
                                                       std::string stem, SlotFiles& files,
                                                       std::int64_t& encoded_frames) {
    if (plan.stretches.empty()) return nullptr;
    return std::make_unique<BackgroundRun>(
        run.ctx, [&run, &plan, &carrier, &files, &encoded_frames, stem = std::move(stem)](RunContext& own) {
            return encode_stretches(own, run.in, plan, carrier, stem, files, encoded_frames);
        });
}

Result<SlotFiles> slot_files(StageRun& run, const CutPlan& plan, const PartFiles& parts, SlotFiles files, double from,
                             double to) {
    std::vector<FileJob> passes;
    for (std::size_t i = 0; i < plan.slots.size(); ++i) {
        const auto& slot = plan.slots[i];
        if (slot.kind != PieceSlot::Kind::Piece || !parts[slot.index]) continue;
        const auto& part = *parts[slot.index];
        files[i] = part;
        if (auto filters = piece_filters(run.in.video.codec, slot.needsBitstreamPass, slot.dropLeading)) {
            passes.push_back({part, bitstream_pass_path(part), *filters});
            files[i] = passes.back().output;
        }
    }
    const auto runs = batches(passes, kPassBatch);
    const double step = (to - from) / static_cast<double>(std::max<std::size_t>(runs.size(), 1));
    double at = from;
    for (const auto& jobs : runs) {
        if (auto r = run_ffmpeg(run.ctx, piece_pass_arguments(jobs), std::nullopt, run.progress.slice(at, at + step)); !r)
            return fail(r.error());
        at += step;
    }
    return files;
}

std::vector<std::unique_ptr<BackgroundRun>> make_cards_beside(StageRun& run,
                                                              const std::vector<std::optional<CardSpec>>& specs,
                                                              std::vector<std::filesystem::path>& files) {
    std::vector<std::optional<std::int64_t>> lengths(specs.size());
    for (std::size_t i = 0; i < specs.size(); ++i) {
        if (specs[i]) lengths[i] = specs[i]->frames;
    }
    std::vector<std::unique_ptr<BackgroundRun>> making;
    for (auto& group : card_groups(lengths, kCardsAtOnce)) {
        making.push_back(std::make_unique<BackgroundRun>(
            run.ctx, [&run, &specs, &files, group = std::move(group)](RunContext& own) -> Result<void> {
                for (const std::size_t i : group) {
                    auto file = make_card(own, run.in, *specs[i], {});
                    if (!file) return fail(file.error());
                    files[i] = std::move(*file);
                }
                return {};
            }));
    }
    return making;
}

Result<void> collect_all(std::vector<std::unique_ptr<BackgroundRun>>& runs) {
    for (auto& run : runs) {
        if (auto r = run->collect(); !r) return fail(r.error());
    }
    return {};
}

Result<VideoPiece> placed_stretch(const RunContext& ctx, const std::filesystem::path& file,
                                  const EncodedStretch& stretch, double position) {
    auto piece = measure_piece(ctx, file);
    if (!piece) return fail(piece.error());
    piece->position = position + (stretch.firstFrame - stretch.start);
    return piece;
}

namespace {

// The card of each card slot: a title card of the cut, or a text card that
// the overlay left to the cut.
std::vector<std::optional<CardSpec>> cards_to_make(const StageRun& run, const ComposedPlan& composed,
                                                   const CutLayout& layout) {
    std::vector<std::optional<CardSpec>> specs(composed.plan.slots.size());
    for (std::size_t i = 0; i < composed.plan.slots.size(); ++i) {
        const auto& slot = composed.plan.slots[i];
        if (slot.kind != PieceSlot::Kind::Card) continue;
        const auto& origin = composed.origins[i];
        specs[i] = origin.textCard ? (*run.out.textCards)[slot.index]
                                   : run.in.card_spec(run.in.groups.cut[slot.index].edit.text,
                                                      fmt::format("card-{}.mkv", slot.index),
                                                      layout.cardFrames[origin.cutSlot]);
    }
    return specs;
}

// Whether the final mux can cut the picture as it writes it: one pass over the
// movie instead of a split and then the mux. It can where the edited picture is
// source pieces that need nothing done to them, and every other track can be
// handed over placed for the cut: sound in files whose times are the times its
// packets play at, text subtitles, and chapters set in the written file.
bool mux_can_cut(const StageRun& run, const CutPlan& plan) {
    if (run.out.textCards || plan.ranges.empty() || !plan.stretches.empty() || run.out.carriers.video.syncMs != 0 ||
        !run.ctx.tools.mkvpropedit)
        return false;
    const bool plain_pieces = std::ranges::all_of(plan.slots, [](const PieceSlot& slot) {
        return slot.kind == PieceSlot::Kind::Piece && !slot.needsBitstreamPass && !slot.dropLeading;
    });
    const bool whole_ranges = std::ranges::all_of(plan.ranges, [](const PieceRange& range) {
        return !range.picturesStart && !range.picturesEnd;
    });
    return plain_pieces && whole_ranges && sound_times_as_stored(run.in.info) &&
           std::ranges::all_of(run.in.sourceInfo.subtitles, readable_text);
}

// Whether the picture runs on into every cut keyframe without a gap, asked of
// ffprobe for the pictures just before them.
bool pictures_run_into_cuts(const StageRun& run, const CutPlan& plan) {
    const auto cuts = cut_keyframes(plan.ranges);
    if (cuts.empty()) return true;
    const auto& video = run.out.carriers.video;
    // From the file itself where it can: a listing reads a second before every cut.
    auto times = read_matroska_times_before(video.file, video.id, cuts, kBeforeCut);
    if (!times) {
        const auto listing = run_capture(run.ctx.tools.ffprobe, keyframe_query_arguments(video.file, windows_before(cuts)));
        if (!listing) {
            run.ctx.log("the picture is split before the mux: " + listing.error());
            return false;
        }
        times = parse_frame_index(*listing).times;
    }
    if (pictures_meet_cuts(*times, cuts, 1.0 / run.in.fps)) return true;
    run.ctx.log("the picture is split before the mux: it has a gap before a cut");
    return false;
}

// The cut the mux makes, with a file of times for every sound track it
// carries; the carriers change only when every track has its file. The sound
// goes to the mux already cut, holding the kept packets only: given the
// source's own sound, even with times that moved every other packet deep
// into removed stretches, mkvmerge started each linked range by those packets
// and put the picture after every cut 11 ms early (a trial with a cut each
// 3 s, AAC and AC-3).
// `known`: the times of the carriers' packets where the run wrote them
// itself (empty: they are read from the carriers).
Result<LinkedSplit> link_sound(StageRun& run, const std::vector<PieceRange>& ranges,
                               const std::vector<std::vector<double>>& known) {
    LinkedSplit split = linked_split(ranges);
    auto audio = run.out.carriers.audio;
    for (std::size_t k = 0; k < audio.size(); ++k) {
        if (audio[k].file == run.in.source) return fail("sound track " + std::to_string(k) + " was not cut");
        auto times = k < known.size() ? Result<std::vector<double>>(known[k])
                                      : read_matroska_track_times(audio[k].file, audio[k].id);
        if (!times) return fail(times.error());
        const auto file = run.in.in_work(fmt::format("cut-{}-times.txt", k));
        const double sync = static_cast<double>(audio[k].syncMs) / 1000.0;
        if (auto written = write_file(file, linked_timestamps(*times, sync, split.cut)); !written)
            return fail(written.error());
        audio[k].timestamps = path_text(file);
        audio[k].syncMs = 0;
    }
    run.out.carriers.audio = std::move(audio);
    return split;
}

}  // namespace

Result<void> run_cut_stages(StageRun& run) {
    run.progress.begin(stages::split);
    const auto& cut = run.in.groups.cut;
    const double fps = run.in.fps;
    const TrackSource video = run.out.carriers.video;
    // The picture's cues, read once: they give its keyframes, and where the
    // exact cuts' pictures are listed.
    const auto cues = read_cue_keyframes(video.file, video.id);
    auto frames = run.in.frames_for_exact(run.ctx, video, cut, cues);
    if (!frames) return fail(frames.error());
    // Text cards still to be placed: the cut's pieces come from the source,
    // which holds other pictures where the cards go.
    const auto& text_cards = run.out.textCards;
    GapContext gap = run.in.gap_context(run.ctx, video, cues, *frames ? &**frames : nullptr);
    if (text_cards) {
        std::vector<std::pair<double, double>> text_ranges;
        for (const auto& edit : run.in.groups.text) text_ranges.emplace_back(edit.snappedStart, edit.snappedEnd);
        gap.lookup = keyframes_outside(std::move(gap.lookup), std::move(text_ranges));
    }
    auto plan = plan_pieces(cut, PlanKind::Cut, fps, gap);
    if (!plan) return fail(plan.error());
    const bool keeps_pictures = !plan->ranges.empty() || std::ranges::any_of(plan->stretches, [](const EncodedStretch& s) {
        return s.frames > 0;
    });
    if (!keeps_pictures) return fail("Everything would be removed; nothing left to write.");
    const CutLayout layout = layout_cut(*plan, cut, fps, run.in.info.duration);
    auto composed = text_cards ? compose_plans(run.in.groups.text, *plan, fps, gap) : compose_plans(*plan);
    if (!composed) return fail(composed.error());

    // Mutes in what is kept become silence in the join too: one pass over the
    // sound instead of one for the mutes and one for the cuts.
    const auto mutes = run.in.mutes_join_the_cut() ? run.in.mute_ranges() : std::vector<std::pair<double, double>>{};
    const AudioRebuild rebuild{"cut",
                               [&layout, &mutes](double frame) {
                                   auto stretches = straddle_by_halves(layout.stretches, frame);
                                   return mutes.empty() ? stretches : mute_within(stretches, mute_stretches(mutes, frame));
                               },
                               layout.silence};
    // The sound is cut and joined while mkvmerge splits the picture and the
    // cards are made: it needs the plan, not the pieces.
    const CutPlan& pieces_plan = composed->plan;
    RebuiltSound sound;
    std::optional<BackgroundRun> making_sound;
    if (!run.in.info.audio.empty()) {
        making_sound.emplace(run.ctx, [&run, &rebuild, &sound, carriers = run.out.carriers.audio,
                                       read_subtitles = wants_subtitles(run)](RunContext& own) -> Result<void> {
            auto made = make_sound(own, run.in, carriers, rebuild, read_subtitles, {});
            if (!made) return fail(made.error());
            sound = std::move(*made);
            return {};
        });
    }

    // The cards need the plan only: they are made beside the split too.
    const auto card_specs = cards_to_make(run, *composed, layout);
    std::vector<std::filesystem::path> card_files(pieces_plan.slots.size());
    auto making_cards = make_cards_beside(run, card_specs, card_files);

    // With --exact, the stretches are encoded from the source beside the split
    // as well: the encoder is busy with the processor while mkvmerge mostly
    // waits on the disk.
    SlotFiles encoded(pieces_plan.slots.size());
    std::int64_t encoded_frames = 0;
    auto encoding = encode_stretches_beside(run, pieces_plan, video, "enc", encoded, encoded_frames);

    // Where the mux can cut the picture itself, the split waits for the
    // sound: should its times not be read, the picture is split after all.
    const bool mux_cuts = mux_can_cut(run, pieces_plan) && pictures_run_into_cuts(run, pieces_plan);
    PartFiles parts;
    const auto split_pieces = [&]() -> Result<void> {
        if (pieces_plan.ranges.empty()) return {};
        auto split = split_picture(run, video, pieces_plan.ranges, run.in.in_work("seg.mkv"), run.progress.slice(0, 1));
        if (!split) return fail(split.error());
        parts = std::move(*split);
        return {};
    };
    if (!mux_cuts) {
        if (auto r = split_pieces(); !r) return r;
    }

    run.progress.begin(stages::cards);
    const auto title_cards = static_cast<std::size_t>(std::ranges::count_if(
        plan->slots, [](const PieceSlot& s) { return s.kind == PieceSlot::Kind::Card; }));
    // The stretches and passes take the share of one card, or all when there
    // is none; each title card is reported as it takes its place.
    const double share = 1.0 / static_cast<double>(title_cards + 1);
    if (encoding) {
        if (auto r = encoding->collect(); !r) return fail(r.error());
        run.out.secondsEncoded += static_cast<double>(encoded_frames) / fps;
    }
    // The picture becomes the pieces in their places, each measured, and the
    // cards with them.
    const auto place_pieces = [&]() -> Result<void> {
        auto files = slot_files(run, pieces_plan, parts, std::move(encoded), 0, title_cards == 0 ? 1.0 : share);
        if (!files) return fail(files.error());
        if (auto r = collect_all(making_cards); !r) return fail(r.error());

        std::vector<VideoPiece> pieces;
        std::size_t rendered = 0;
        for (std::size_t i = 0; i < pieces_plan.slots.size(); ++i) {
            const auto& slot = pieces_plan.slots[i];
            const auto& origin = composed->origins[i];
            const double position = layout.slotPositions[origin.cutSlot] + origin.offset;
            if (slot.kind == PieceSlot::Kind::Piece) {
                if (!(*files)[i]) continue;
                auto piece = measure_piece(run.ctx, *(*files)[i]);
                if (!piece) return fail(piece.error());
                piece->position = piece_position(pieces_plan.ranges[slot.index], position, *piece);
                pieces.push_back(*piece);
                continue;
            }
            if (slot.kind == PieceSlot::Kind::Encoded) {
                if (!(*files)[i]) continue;
                auto piece = placed_stretch(run.ctx, *(*files)[i], pieces_plan.stretches[slot.index], position);
                if (!piece) return fail(piece.error());
                pieces.push_back(*piece);
                continue;
            }
            auto piece = measure_piece(run.ctx, card_files[i]);
            if (!piece) return fail(piece.error());
            piece->position = position;
            pieces.push_back(*piece);
            run.out.secondsEncoded += static_cast<double>(card_specs[i]->frames) / fps;
            if (!origin.textCard) {
                run.out.applied.push_back(applied_from(cut[slot.index], static_cast<double>(card_specs[i]->frames) / fps));
                run.progress.report(share * static_cast<double>(++rendered + 1), std::string(stages::cards.label));
            }
        }
        run.out.carriers.use_pieces(std::move(pieces));
        return {};
    };
    if (!mux_cuts) {
        if (auto r = place_pieces(); !r) return r;
    }
    for (const auto& edit : cut) {
        if (!edit_kind(edit.edit.action).takesText) run.out.applied.push_back(applied_from(edit, std::nullopt));
    }
    run.out.timeline = layout.timeline;

    // The pieces are appended by the final mux; only the sound is joined here.
    run.progress.begin(stages::join);
    std::vector<std::vector<double>> known_times;
    if (making_sound) {
        if (auto r = making_sound->collect(); !r) return fail(r.error());
        known_times = std::move(sound.packetTimes);
        run.out.secondsEncoded += use_sound(run.out, std::move(sound));
    }
    if (!mux_cuts) return {};
    auto linked = link_sound(run, pieces_plan.ranges, known_times);
    if (linked) {
        run.out.carriers.linked = std::move(*linked);
        return {};
    }
    run.ctx.log("the picture is split before the mux: " + linked.error());
    if (auto r = split_pieces(); !r) return r;
    return place_pieces();
}

}  // namespace reel
