// Reassembling the sound tracks: each track is cut by stream copy into
// stretches, kept stretches are placed where the plan puts them, muted
// stretches and cards get silence encoded like the track.
#include <algorithm>
#include <cmath>
#include <map>
#include <memory>

#include <fmt/format.h>

#include "encode/silence.h"
#include "pipeline/progress.h"
#include "pipeline/run_state.h"
#include "probe/keyframes.h"
#include "probe/matroska.h"
#include "probe/matroska_write.h"
#include "util/files.h"

namespace reel {

namespace {

// A sound track cut into stretches, and what joining them needs of it.
struct SoundTrackCut {
    std::vector<AudioStretch> stretches;
    SilenceSource silence;
    std::filesystem::path list;  // the segmenter's list of what it wrote
    double firstPacket = 0;      // in the carrier
    double codecDelay = 0;
};
struct SoundCut {
    std::vector<SoundTrackCut> tracks;
    std::optional<std::vector<SubtitleExtract>> subtitleExtracts;
};

// ffmpeg writes Matroska times in whole milliseconds; a track that lands within
// one of where it should has landed.
constexpr double kTimestampPrecision = 0.0011;
// ffmpeg's Matroska writer moves a track that starts before 0; the joined track
// is written this much later and mkvmerge takes it back off (whole
// milliseconds, so nothing is rounded).
constexpr double kLift = 1.0;
constexpr int kLiftMs = 1000;
// Sound tracks joined at once beside the split; a movie with many language
// tracks would otherwise start all their tool runs together.
constexpr std::size_t kJoinsAtOnce = 3;

// The time of the first packet of `file`'s only sound track, read from the
// file itself where it is Matroska.
Result<double> first_packet_of(const RunContext& ctx, const std::filesystem::path& file) {
    if (auto read = read_matroska_first_time(path_text(file), 0)) return *read;
    auto listing = run_capture(ctx.tools.ffprobe, first_packets_arguments(TrackSource{path_text(file), 0}));
    if (!listing) return fail(listing.error());
    const auto first = first_packet_time(*listing);
    if (!first) return fail(fmt::format("ffprobe found no sound in {}", path_text(file)));
    return *first;
}

// The first packets of every track: read from a Matroska carrier's first
// cluster where it holds them (ffprobe's start costs more than the sound's cut
// gains from starting late), else one listing per carrier file, and one of the
// track alone where the shared listing holds too few of its packets (a track
// that starts late).
Result<std::vector<std::string>> first_packet_listings(const RunContext& ctx, const std::vector<TrackSource>& carriers) {
    constexpr std::size_t kEnoughPackets = 16;
    constexpr std::size_t kListed = 32;
    std::vector<std::optional<std::string>> read(carriers.size());
    std::map<std::string, std::size_t> tracks_in;
    for (std::size_t k = 0; k < carriers.size(); ++k) {
        const auto times = read_matroska_packet_times(carriers[k].file, carriers[k].id, kListed);
        if (times && times->size() >= kEnoughPackets) {
            std::string listing;
            for (const double t : *times) listing += fmt::format("{:.6f}\n", t);
            read[k] = std::move(listing);
        } else {
            ++tracks_in[carriers[k].file];
        }
    }
    std::map<std::string, std::string> shared;
    for (const auto& [file, count] : tracks_in) {
        auto listing = run_capture(ctx.tools.ffprobe, sound_packets_arguments(file, count));
        if (!listing) return fail(listing.error());
        shared.emplace(file, std::move(*listing));
    }
    std::vector<std::string> listings;
    for (std::size_t k = 0; k < carriers.size(); ++k) {
        if (read[k]) {
            listings.push_back(std::move(*read[k]));
            continue;
        }
        const auto& carrier = carriers[k];
        auto own = packets_of_stream(shared[carrier.file], carrier.id);
        if (std::ranges::count(own, '\n') < static_cast<std::ptrdiff_t>(kEnoughPackets)) {
            auto alone = run_capture(ctx.tools.ffprobe, first_packets_arguments(carrier));
            if (!alone) return fail(alone.error());
            own = std::move(*alone);
        }
        listings.push_back(std::move(own));
    }
    return listings;
}

// The length of a track's packets, from a listing of its first packets; the
// silence encoder's where they are not evenly spaced.
double packet_seconds_of(const AudioStreamInfo& track, std::string_view listing) {
    const auto source_samples = samples_per_packet(listing, track.sampleRate);
    return static_cast<double>(source_samples.value_or(silence_frame_samples(track, source_samples))) /
           static_cast<double>(track.sampleRate);
}

// Silence for `track`, in packets as long as the source's where a listing of
// its first packets shows them evenly spaced.
SilenceSource silence_source(const AudioStreamInfo& track, std::string_view listing) {
    SilenceSource silence;
    silence.frameSamples = silence_frame_samples(track, samples_per_packet(listing, track.sampleRate));
    silence.sampleRate = track.sampleRate;
    return silence;
}

// What a carrier file tells of its tracks' codec delays, read once per file
// (most tracks share one): its Matroska head, else mkvmerge's identification.
struct DelaySource {
    std::optional<MatroskaHead> head;
    std::optional<std::string> identified;
};

Result<double> codec_delay_of(const RunContext& ctx, const TrackSource& carrier,
                              std::map<std::string, DelaySource>& known) {
    auto [at, first] = known.try_emplace(carrier.file);
    DelaySource& source = at->second;
    if (first) {
        if (auto head = read_matroska_head(carrier.file)) source.head = std::move(*head);
    }
    if (source.head && carrier.id < source.head->tracks.size())
        return static_cast<double>(source.head->tracks[carrier.id].codecDelay) / 1e9;
    if (!source.identified) {
        auto report = mkvmerge_identify(ctx.tools, carrier.file);
        if (!report) return fail(report.error());
        source.identified = std::move(*report);
    }
    return parse_mkvmerge_codec_delay(*source.identified, carrier.id);
}

// The subtitle tracks the subtitle stage will want, and the outputs that
// write them from input `input` (the source) of an ffmpeg run.
std::vector<SubtitleExtract> source_subtitle_extracts(const RunInputs& in) {
    return subtitle_extracts(in.sourceInfo, in.work, in.options.container.holdsPictureSubtitles, !in.timeline_moves());
}
void add_subtitle_outputs(std::vector<std::string>& args, std::ptrdiff_t input,
                          const std::vector<SubtitleExtract>& extracts) {
    for (const auto& extract : extracts) {
        args.insert(args.end(), {"-map", fmt::format("{}:{}", input, extract.index)});
        args.insert(args.end(), extract.options.begin(), extract.options.end());
    }
}

// Cuts the sound; where `read_subtitles`, a run that reads the source reads
// its subtitle tracks too, where the subtitle stage will want them.
Result<void> run_segmenting(RunContext& ctx, const RunInputs& in, bool read_subtitles,
                            const std::vector<SegmentJob>& jobs, SoundCut& cut) {
    const auto sound_only = segment_arguments(jobs);
    const auto inputs = segment_inputs(jobs);
    const auto source = std::ranges::find(inputs, in.source);
    if (!read_subtitles || source == inputs.end()) return run_ffmpeg(ctx, sound_only, std::nullopt);
    auto extracts = source_subtitle_extracts(in);
    if (extracts.empty()) return run_ffmpeg(ctx, sound_only, std::nullopt);
    auto args = sound_only;
    add_subtitle_outputs(args, source - inputs.begin(), extracts);
    auto r = run_ffmpeg(ctx, args, std::nullopt);
    if (r) {
        cut.subtitleExtracts = std::move(extracts);
        return r;
    }
    if (is_cancelled(ctx)) return r;
    // A subtitle track ffmpeg cannot read must not cost the sound: the
    // subtitle stage reads each track again and drops the broken one.
    ctx.log(fmt::format("cutting the sound without the subtitles: {}", r.error()));
    return run_ffmpeg(ctx, sound_only, std::nullopt);
}

Result<SoundCut> cut_sound(RunContext& ctx, const RunInputs& in, const std::vector<TrackSource>& carriers,
                          const AudioRebuild& rebuild, bool read_subtitles) {
    const auto& tracks = in.info.audio;
    SoundCut cut;
    std::vector<SegmentJob> jobs;
    for (const auto& carrier : carriers) {
        if (carrier.syncMs != 0) return fail("A sound track still to be shifted cannot be cut again.");
    }
    auto listings = first_packet_listings(ctx, carriers);
    if (!listings) return fail(listings.error());
    std::map<std::string, DelaySource> delays;
    for (std::size_t k = 0; k < tracks.size(); ++k) {
        const auto& track = tracks[k];
        const TrackSource carrier = carriers[k];
        const auto& listing = (*listings)[k];
        SoundTrackCut w;
        w.firstPacket = first_packet_time(listing).value_or(0);
        w.silence = silence_source(track, listing);
        w.silence.file = in.in_work(fmt::format("{}-silence-{}.nut", rebuild.name, k));
        w.stretches = rebuild.stretches(packet_seconds_of(track, listing));
        w.list = in.in_work(fmt::format("{}-{}.csv", rebuild.name, k));
        // The segmenter goes by the times as stored, before a codec delay is
        // taken off (Opus): it is told and it answers in those.
        auto delay = codec_delay_of(ctx, carrier, delays);
        if (!delay) return fail(delay.error());
        w.codecDelay = *delay;
        std::vector<double> times = stretch_boundaries(w.stretches);
        for (double& t : times) t += w.codecDelay;
        jobs.push_back({carrier, times, in.in_work(fmt::format("{}-{}-%03d.nut", rebuild.name, k)), w.list});
        cut.tracks.push_back(std::move(w));
    }
    if (auto r = run_segmenting(ctx, in, read_subtitles, jobs, cut); !r) return fail(r.error());
    return cut;
}

// One track of a join: its carrier, and the seconds of silence it received
// in place of muted packets.
struct JoinedTrack {
    TrackSource carrier;
    double silence = 0;
};

Result<JoinedTrack> join_track(RunContext& ctx, const RunInputs& in, const AudioRebuild& rebuild, SoundTrackCut& w,
                               std::size_t k, const ToolProgress& progress) {
    const auto& track = in.info.audio[k];
    JoinedTrack done;
    auto list = read_file(w.list);
    if (!list) return fail(list.error());
    auto segments = parse_segment_list(*list, in.work);
    if (!segments) return fail(segments.error());
    for (auto& segment : *segments) {
        segment.start -= w.codecDelay;
        segment.end -= w.codecDelay;
    }
    // The silence is made first: where its packets start decides where the
    // entries that use it are opened.
    const double packet = packet_seconds(w.silence);
    const auto longest = longest_silence(*segments, w.stretches, rebuild.silence, w.silence);
    if (longest > 0) {
        // Three packets to spare: the encoder's priming and the outpoints'
        // half-packet margin.
        auto args = silence_file_arguments(track, w.silence.frameSamples, longest + 3 * packet, w.silence.file);
        if (!args) return fail(args.error());
        if (auto r = run_ffmpeg(ctx, *args, std::nullopt); !r) return fail(r.error());
        auto first = first_packet_of(ctx, w.silence.file);
        if (!first) return fail(first.error());
        w.silence.firstPacket = *first;
    }
    const auto entries = plan_audio_entries(*segments, w.stretches, rebuild.silence, w.silence, w.firstPacket);
    if (entries.empty()) return fail(fmt::format("Audio track {} has no sound left to write.", k + 1));
    done.silence = silence_seconds(plan_audio_entries(*segments, w.stretches, {}, w.silence, w.firstPacket), w.silence);

    const auto script = in.in_work(fmt::format("{}-{}.ffconcat", rebuild.name, k));
    if (auto written = write_file(script, concat_script(entries)); !written) return fail(written.error());
    const auto joined = in.in_work(fmt::format("{}-{}-joined.mka", rebuild.name, k));
    const auto output = in.in_work(fmt::format("{}-{}.mka", rebuild.name, k));
    // ffmpeg joins. Where a codec stores a delay (Opus), ffmpeg and
    // mkvmerge read the track's times differently: mkvmerge writes the
    // track the way it will read it in the final mux. Otherwise the final
    // mux takes the lift off as it reads ffmpeg's file. Either way the
    // track is checked where it starts and, if it moved, joined once more
    // with the shift taken off.
    const bool rewrite = w.codecDelay != 0;
    const double expected = entries.front().position;
    double offset = entries.front().inpointAt;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (auto r = run_ffmpeg(ctx, concat_arguments(script, "0:a", offset + kLift, joined), std::nullopt); !r)
            return fail(r.error());
        if (rewrite) {
            if (auto r = run_mkvmerge(ctx, {"-o", path_text(output), "--sync", fmt::format("0:{}", -kLiftMs),
                                            path_text(joined)},
                                      progress);
                !r)
                return fail(r.error());
        }
        auto actual = first_packet_of(ctx, rewrite ? output : joined);
        if (!actual) return fail(actual.error());
        // Times in ffmpeg's Matroska files are whole milliseconds.
        const double moved = *actual - (rewrite ? expected : expected + kLift);
        if (std::abs(moved) <= kTimestampPrecision) break;
        offset -= moved;
    }
    done.carrier = rewrite ? TrackSource{path_text(output), 0} : TrackSource{path_text(joined), 0, -kLiftMs};
    return done;
}

Result<RebuiltSound> join_sound(RunContext& ctx, const RunInputs& in, const AudioRebuild& rebuild, SoundCut cut,
                                const TrackProgress& track_progress) {
    const std::size_t count = in.info.audio.size();
    RebuiltSound rebuilt;
    rebuilt.subtitleExtracts = std::move(cut.subtitleExtracts);
    std::vector<std::optional<JoinedTrack>> joined(count);
    const auto join = [&](RunContext& on, std::size_t k, const ToolProgress& progress) -> Result<void> {
        auto track = join_track(on, in, rebuild, cut.tracks[k], k, progress);
        if (!track) return fail(track.error());
        joined[k] = std::move(*track);
        return {};
    };
    // Without progress to show, a few tracks are joined side by side: a join
    // is a few short tool runs that mostly wait for the tool to start.
    const std::size_t at_once = track_progress ? 1 : kJoinsAtOnce;
    for (std::size_t first = 0; first < count; first += at_once) {
        std::vector<std::unique_ptr<BackgroundRun>> beside;
        for (std::size_t k = first + 1; k < std::min(first + at_once, count); ++k)
            beside.push_back(std::make_unique<BackgroundRun>(ctx, [&join, k](RunContext& own) { return join(own, k, {}); }));
        if (auto r = join(ctx, first, track_progress ? track_progress(first, count) : ToolProgress{}); !r)
            return fail(r.error());
        for (auto& run : beside) {
            if (auto r = run->collect(); !r) return fail(r.error());
        }
    }
    for (auto& track : joined) rebuilt.carriers.push_back(track->carrier);
    rebuilt.silence = joined.empty() ? 0 : joined.front()->silence;
    return rebuilt;
}

}  // namespace

bool sound_times_as_stored(const MediaInfo& info) {
    return std::ranges::all_of(info.audio, [](const AudioStreamInfo& a) {
        return a.codec == "aac" || a.codec == "ac3" || a.codec == "eac3" || a.codec == "mp3";
    });
}

namespace {

// Silent packets encoded like `track`, enough for the longest silence that
// `stretches` and the cards' slots ask for; none where they ask for none.
Result<std::vector<std::string>> silent_packets(RunContext& ctx, const RunInputs& in, const AudioRebuild& rebuild,
                                                std::size_t k, const std::vector<AudioStretch>& stretches,
                                                const SilenceSource& silence) {
    double longest = 0;
    for (const auto& stretch : stretches) {
        if (stretch.kind == AudioStretch::Kind::Silence)
            longest = std::max(longest, stretch.to.value_or(in.info.duration) - stretch.from);
    }
    for (const auto& slot : rebuild.silence) longest = std::max(longest, slot.length);
    std::vector<std::string> packets;
    if (longest <= 0) return packets;
    // The silent packets are held while the movie is read: a few megabytes
    // for two minutes of 5.1 AC-3. ffmpeg's join reads longer silence from
    // its file.
    constexpr double kLongestHeld = 120;
    if (longest > kLongestHeld)
        return fail(fmt::format("{:.0f} s of silence are more than the copy holds", longest));
    // A few packets to spare: a muted stretch runs to the next kept packet.
    const double packet = packet_seconds(silence);
    const auto file = in.in_work(fmt::format("{}-silence-{}.mka", rebuild.name, k));
    auto args = silence_file_arguments(in.info.audio[k], silence.frameSamples, longest + 4 * packet, file, "matroska");
    if (!args) return fail(args.error());
    if (auto r = run_ffmpeg(ctx, *args, std::nullopt); !r) return fail(r.error());
    auto read = read_matroska_sound_frames(path_text(file), {0}, [&packets](std::size_t, double, std::string_view frame) {
        packets.emplace_back(frame);
        return true;
    });
    if (!read) return fail(read.error());
    return packets;
}

// One track's copy: where its packets and its silence go, and the file they
// are written to.
struct TrackCopy {
    SoundCopyLayout layout;
    SilenceSource silence;
    std::vector<std::string> silentPackets;
    double packet = 0;  // the length of the source's packets
    MatroskaTrackWriter writer;
    double end = 0;  // where the last packet read ends

    // Writes `runs` of silent packets, lifted as ffmpeg's join is (so that a
    // packet that starts a little before the edited 0 keeps its time), adding
    // their times to `times`; says why where more are asked for than were made.
    std::optional<std::string> write_silence(const std::vector<SilenceRun>& runs, std::vector<double>& times) {
        for (const auto& run : runs) {
            if (static_cast<std::size_t>(run.packets) > silentPackets.size())
                return fmt::format("{} silent packets asked for at {:.3f} s, {} made", run.packets, run.position,
                                   silentPackets.size());
            for (std::int64_t j = 0; j < run.packets; ++j) {
                const double at = run.position + static_cast<double>(j) * packet_seconds(silence) + kLift;
                times.push_back(writer.add(at, silentPackets[static_cast<std::size_t>(j)]));
            }
        }
        return std::nullopt;
    }
};

}  // namespace

Result<RebuiltSound> copy_kept_sound(RunContext& ctx, const RunInputs& in, const std::vector<TrackSource>& carriers,
                                     const AudioRebuild& rebuild, bool read_subtitles, const ToolProgress& progress) {
    if (!sound_times_as_stored(in.info)) return fail("a sound track's codec is not one the copy reads the times of");
    std::vector<std::uint64_t> streams;
    for (const auto& carrier : carriers) {
        if (carrier.file != in.source || carrier.syncMs != 0 || !carrier.timestamps.empty())
            return fail("a sound track is not the source's own");
        streams.push_back(carrier.id);
    }
    auto head = read_matroska_head(in.source);
    if (!head) return fail(head.error());
    // The track's own tags (an MP4's handler name among them) go along, as
    // ffmpeg's join takes them.
    auto tags = read_matroska_track_tags(in.source, streams);
    if (!tags) return fail(tags.error());
    // The packets' length from the first of them, as the segmenting run reads it.
    auto listings = first_packet_listings(ctx, carriers);
    if (!listings) return fail(listings.error());
    RebuiltSound kept;
    std::vector<TrackCopy> copies;
    for (std::size_t k = 0; k < carriers.size(); ++k) {
        const auto& track = in.info.audio[k];
        const auto& listing = (*listings)[k];
        const double packet = packet_seconds_of(track, listing);
        auto stretches = rebuild.stretches(packet);
        const auto silence = silence_source(track, listing);
        auto packets = silent_packets(ctx, in, rebuild, k, stretches, silence);
        if (!packets) return fail(packets.error());
        const auto file = in.in_work(fmt::format("{}-{}-kept.mka", rebuild.name, k));
        auto writer = MatroskaTrackWriter::open(file, head->tracks[streams[k]], (*tags)[k]);
        if (!writer) return fail(writer.error());
        copies.push_back({SoundCopyLayout(std::move(stretches), rebuild.silence, silence), silence, std::move(*packets),
                          packet, std::move(*writer)});
        kept.carriers.push_back(TrackSource{path_text(file), 0, -kLiftMs});
    }
    kept.packetTimes.resize(carriers.size());

    // The subtitles are read out while the sound is copied: both read the
    // whole movie, and the second read comes from the cache.
    const auto extracts = read_subtitles ? source_subtitle_extracts(in) : std::vector<SubtitleExtract>{};
    std::optional<BackgroundRun> reading;
    if (!extracts.empty()) {
        reading.emplace(ctx, [&in, &extracts](RunContext& own) {
            auto args = ffmpeg_prefix(FfmpegRun::Progress);
            args.insert(args.end(), {"-i", in.source});
            add_subtitle_outputs(args, 0, extracts);
            return run_ffmpeg(own, args, std::nullopt);
        });
    }
    std::optional<std::string> misplaced;
    const auto write_silence = [&](std::size_t k, const std::vector<SilenceRun>& runs) {
        misplaced = copies[k].write_silence(runs, kept.packetTimes[k]);
        return !misplaced;
    };
    // The read goes through the movie in time order: how far it is, is how
    // far the copy is.
    PercentSteps steps(progress);
    auto copied = read_matroska_sound_frames(in.source, streams, [&](std::size_t k, double exact, std::string_view frame) {
        // By ffmpeg's times, which give frames stored together whole
        // milliseconds, rounded down: the packets ffmpeg's cut would keep.
        const double t = std::floor(exact * 1000.0 + 1e-6) / 1000.0;
        auto& copy = copies[k];
        const auto step = copy.layout.packet(t);
        if (!write_silence(k, step.before)) return false;
        if (step.at) kept.packetTimes[k].push_back(copy.writer.add(*step.at + kLift, frame));
        copy.end = t + copy.packet;
        if (in.info.duration > 0) steps(t / in.info.duration);
        return !is_cancelled(ctx);
    });
    if (!copied) return fail(copied.error());
    if (is_cancelled(ctx)) return fail("Cancelled");
    for (std::size_t k = 0; k < copies.size() && !misplaced; ++k) write_silence(k, copies[k].layout.finish(copies[k].end));
    if (misplaced) return fail(*misplaced);

    for (std::size_t k = 0; k < copies.size(); ++k) {
        if (kept.packetTimes[k].empty()) return fail(fmt::format("Audio track {} has no sound left to write.", k + 1));
        if (auto r = copies[k].writer.finish(); !r) return fail(r.error());
    }
    kept.silence = copies.empty() ? 0 : copies.front().layout.mutedSeconds();
    if (reading) {
        if (auto r = reading->collect(); r) {
            kept.subtitleExtracts = extracts;
        } else {
            // As with the sound's cut by ffmpeg: the subtitle stage reads each
            // track again and drops one that cannot be read.
            if (is_cancelled(ctx)) return fail(r.error());
            ctx.log(fmt::format("reading the subtitles again later: {}", r.error()));
        }
    }
    return kept;
}

bool wants_subtitles(const StageRun& run) { return run.in.rebuilds_subtitles() && !run.out.subtitleExtracts; }

Result<RebuiltSound> make_sound(RunContext& ctx, const RunInputs& in, const std::vector<TrackSource>& carriers,
                                const AudioRebuild& rebuild, bool read_subtitles, const TrackProgress& progress,
                                const ToolProgress& copying) {
    // The run copies the packets itself where it can: ffmpeg's cut would read
    // the whole movie once more, and its join run twice a track.
    auto copied = copy_kept_sound(ctx, in, carriers, rebuild, read_subtitles, copying);
    if (copied || is_cancelled(ctx)) return copied;
    ctx.log("the sound is cut by ffmpeg: " + copied.error());
    auto cut = cut_sound(ctx, in, carriers, rebuild, read_subtitles);
    if (!cut) return fail(cut.error());
    return join_sound(ctx, in, rebuild, std::move(*cut), progress);
}

double use_sound(RunProducts& out, RebuiltSound sound) {
    out.carriers.audio = std::move(sound.carriers);
    if (sound.subtitleExtracts) out.subtitleExtracts = std::move(sound.subtitleExtracts);
    return sound.silence;
}

Result<double> rebuild_audio(StageRun& run, const AudioRebuild& rebuild, double from, double to) {
    // Cutting takes no progress; the joins share the second half of the slice.
    const TrackProgress progress = [&run, from, to](std::size_t k, std::size_t tracks) {
        const double share = (to - from) * 0.5 / static_cast<double>(tracks);
        return run.progress.slice(from + (to - from) * 0.5 + share * static_cast<double>(k),
                                  from + (to - from) * 0.5 + share * static_cast<double>(k + 1));
    };
    auto sound = make_sound(run.ctx, run.in, run.out.carriers.audio, rebuild, wants_subtitles(run), progress,
                            run.progress.slice(from, to));
    if (!sound) return fail(sound.error());
    return use_sound(run.out, std::move(*sound));
}

}  // namespace reel
