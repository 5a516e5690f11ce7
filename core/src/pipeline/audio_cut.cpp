#include "pipeline/audio_cut.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "edits/time.h"
#include "encode/silence.h"
#include "tools/run.h"
#include "util/files.h"
#include "util/numbers.h"
#include "util/text.h"

namespace reel {

namespace {

// A packet that ends less than this after a mute's start is not counted as
// sounding inside it (timestamps are stored in whole milliseconds).
constexpr double kMuteStartSlack = 0.001;
// Every file is opened this long before its first packet could lie, so that
// the demuxer's seek to the inpoint drops nothing.
constexpr double kInpointLead = 1.0;

void append(std::vector<std::string>& args, std::initializer_list<std::string> more) {
    args.insert(args.end(), more);
}

std::string seconds_text(double t) { return fmt::format("{:.6f}", t); }

// Times the segmenter is given go to it in whole microseconds; the stretches
// are drawn at the same times, so that a packet exactly on a boundary is
// counted on the same side by both.
double to_microseconds(double t) { return std::round(t * 1e6) / 1e6; }

}  // namespace

std::string concat_quote(const std::filesystem::path& path) {
    std::error_code ec;
    const auto whole = std::filesystem::absolute(path, ec);
    return fmt::format("'{}'", replace_all(path_text(ec ? path : whole), "'", "'\\''"));
}

Result<std::vector<AudioSegment>> parse_segment_list(std::string_view csv, const std::filesystem::path& folder) {
    std::vector<AudioSegment> segments;
    for (const auto& raw : split(csv, '\n')) {
        const std::string_view line = trim(raw);
        if (line.empty()) continue;
        // The name may itself hold commas; the two times never do.
        const auto last = line.rfind(',');
        const auto middle = last == std::string_view::npos ? last : line.rfind(',', last - 1);
        if (middle == std::string_view::npos || middle == 0)
            return fail(fmt::format("ffmpeg wrote an unreadable segment list line '{}'", line));
        const auto start = read_number(line.substr(middle + 1, last - middle - 1));
        const auto end = read_number(line.substr(last + 1));
        std::string_view name = line.substr(0, middle);
        if (name.size() >= 2 && name.front() == '"' && name.back() == '"') name = name.substr(1, name.size() - 2);
        if (!start || !end || !std::isfinite(*start) || !std::isfinite(*end))
            return fail(fmt::format("ffmpeg wrote an unreadable segment list line '{}'", line));
        segments.push_back({folder / path_from_text(name), *start, *end});
    }
    return segments;
}

std::string numbered_pattern(const std::filesystem::path& pattern) {
    // The segment muxer reads every '%' of the name as its own: the folder's
    // are written twice.
    std::string folder;
    for (const char c : path_text(pattern.parent_path())) {
        folder += c;
        if (c == '%') folder += '%';
    }
    return path_text(path_from_text(folder) / pattern.filename());
}

std::vector<std::string> segment_inputs(const std::vector<SegmentJob>& jobs) {
    std::vector<std::string> inputs;
    for (const auto& job : jobs) {
        if (std::find(inputs.begin(), inputs.end(), job.track.file) == inputs.end()) inputs.push_back(job.track.file);
    }
    return inputs;
}

std::vector<std::string> segment_arguments(const std::vector<SegmentJob>& jobs) {
    // -copyts: the cut times and the list's times are the carrier's own;
    // without it ffmpeg would count from the carrier's first packet.
    auto args = ffmpeg_prefix(FfmpegRun::Progress);
    args.emplace_back("-copyts");
    const auto inputs = segment_inputs(jobs);
    for (const auto& input : inputs) append(args, {"-i", input});
    for (const auto& job : jobs) {
        const auto input = std::find(inputs.begin(), inputs.end(), job.track.file) - inputs.begin();
        append(args, {"-map", fmt::format("{}:{}", input, job.track.id), "-c", "copy", "-f", "segment"});
        if (!job.times.empty()) {
            std::vector<std::string> times;
            for (double t : job.times) times.push_back(seconds_text(t));
            append(args, {"-segment_times", fmt::format("{}", fmt::join(times, ","))});
        }
        // NUT keeps every packet's time exactly as ffmpeg read it, for every
        // codec; each stretch keeps the carrier's times.
        append(args, {"-segment_format", "nut", "-segment_list", path_text(job.list), "-segment_list_type", "csv",
                      numbered_pattern(job.pattern)});
    }
    return args;
}

std::vector<AudioStretch> mute_stretches(const std::vector<std::pair<double, double>>& mutes, double frame_seconds) {
    std::vector<AudioStretch> stretches;
    double cursor = 0;
    for (const auto& [start, end] : mutes) {
        // From the packet that holds the start: no syllable of a muted word
        // is heard. To the last packet that lies mostly before the end: with
        // the decoder's overlap of neighbouring packets, the sound comes back
        // within a packet of the end.
        const double from = to_microseconds(std::max(0.0, start - frame_seconds + kMuteStartSlack));
        const double to = to_microseconds(std::max(end - frame_seconds / 2, start + kMuteStartSlack));
        if (!stretches.empty() && stretches.back().kind == AudioStretch::Kind::Silence && from <= cursor) {
            stretches.back().to = to;  // touches the previous mute: one silence
        } else {
            if (from > cursor) stretches.push_back({AudioStretch::Kind::Keep, cursor, from, 0});
            stretches.push_back({AudioStretch::Kind::Silence, std::max(from, cursor), to, 0});
        }
        cursor = to;
    }
    stretches.push_back({AudioStretch::Kind::Keep, cursor, std::nullopt, 0});
    return stretches;
}

std::vector<AudioStretch> straddle_by_halves(std::vector<AudioStretch> stretches, double frame_seconds) {
    for (auto& stretch : stretches) {
        if (stretch.from > 0) stretch.from = to_microseconds(std::max(0.0, stretch.from - frame_seconds / 2));
        if (stretch.to) stretch.to = to_microseconds(std::max(0.0, *stretch.to - frame_seconds / 2));
    }
    return stretches;
}

std::vector<AudioStretch> mute_within(const std::vector<AudioStretch>& cut, const std::vector<AudioStretch>& muted) {
    static constexpr double kOpen = std::numeric_limits<double>::infinity();
    const auto end_of = [](const AudioStretch& s) { return s.to.value_or(kOpen); };
    const auto closed = [](double t) { return std::isinf(t) ? std::nullopt : std::optional<double>(t); };
    std::vector<AudioStretch> out;
    for (const auto& stretch : cut) {
        if (stretch.kind != AudioStretch::Kind::Keep) {
            out.push_back(stretch);
            continue;
        }
        double at = stretch.from;
        const double end = end_of(stretch);
        for (const auto& mute : muted) {
            if (mute.kind != AudioStretch::Kind::Silence || end_of(mute) <= at || mute.from >= end) continue;
            if (mute.from > at) out.push_back({AudioStretch::Kind::Keep, at, mute.from, stretch.offset});
            at = std::max(at, mute.from);
            const double until = std::min(end, end_of(mute));
            out.push_back({AudioStretch::Kind::Silence, at, closed(until), stretch.offset});
            at = until;
        }
        if (at < end) out.push_back({AudioStretch::Kind::Keep, at, closed(end), stretch.offset});
    }
    return out;
}

std::vector<double> stretch_boundaries(const std::vector<AudioStretch>& stretches) {
    std::vector<double> times;
    for (const auto& stretch : stretches) {
        if (stretch.from > 0 && (times.empty() || stretch.from > times.back())) times.push_back(stretch.from);
    }
    return times;
}

std::int64_t silence_packets(double seconds, const SilenceSource& silence, bool nearest) {
    const double frames = seconds * static_cast<double>(silence.sampleRate) / static_cast<double>(silence.frameSamples);
    if (!(frames > 0)) return 0;
    // A hair of tolerance: lengths come from millisecond timestamps.
    return nearest ? round_half_away(frames) : static_cast<std::int64_t>(std::floor(frames + 1e-3));
}

double packet_seconds(const SilenceSource& silence) {
    return static_cast<double>(silence.frameSamples) / static_cast<double>(silence.sampleRate);
}

namespace {

AudioEntry silence_entry(const SilenceSource& silence, double position, std::int64_t packets) {
    // Half a packet below the end of the last wanted packet: timestamps in the
    // silence file are rounded to milliseconds.
    const double inpoint = silence.firstPacket - kInpointLead;
    return AudioEntry{silence.file, position, inpoint, position - kInpointLead,
                      silence.firstPacket + (static_cast<double>(packets) - 0.5) * packet_seconds(silence)};
}

// The stretches ascend; a copy of the sound asks for every packet's.
const AudioStretch* stretch_of(const std::vector<AudioStretch>& stretches, double t) {
    const auto after = std::ranges::upper_bound(stretches, t, {}, &AudioStretch::from);
    if (after == stretches.begin()) return nullptr;
    const AudioStretch* found = &*(after - 1);
    if (found->to && !(t < *found->to)) return nullptr;
    return found;
}

}  // namespace

std::vector<AudioEntry> plan_audio_entries(const std::vector<AudioSegment>& segments,
                                           const std::vector<AudioStretch>& stretches,
                                           const std::vector<SilenceSlot>& extra, const SilenceSource& silence,
                                           double carrier_first_packet) {
    std::vector<AudioEntry> entries;
    for (std::size_t i = 0; i < segments.size(); ++i) {
        const auto& segment = segments[i];
        // Packets before 0 (an Opus track's codec delay) belong with the start.
        const AudioStretch* stretch = stretch_of(stretches, std::max(segment.start, 0.0));
        if (!stretch || stretch->kind == AudioStretch::Kind::Drop) continue;
        // A stretch begins with a packet at its start, but the carrier's first
        // stretch with the carrier's first packet, wherever that lies (the
        // list counts the first stretch from 0).
        const double first_packet = i == 0 ? carrier_first_packet : segment.start;
        const double position = first_packet + stretch->offset;
        if (stretch->kind == AudioStretch::Kind::Keep) {
            // The stretch's own times, moved: no packet time is taken from
            // anywhere but the packet.
            const double inpoint = stretch->from - kInpointLead;
            entries.push_back({segment.file, position, inpoint, inpoint + stretch->offset, std::nullopt});
            continue;
        }
        // The muted packets run up to the first packet of the next stretch.
        const double end = i + 1 < segments.size() ? segments[i + 1].start : segment.end;
        const auto packets = silence_packets(end - first_packet, silence, true);
        if (packets > 0) entries.push_back(silence_entry(silence, position, packets));
    }
    for (const auto& slot : extra) {
        const auto packets = silence_packets(slot.length, silence, false);
        if (packets > 0) entries.push_back(silence_entry(silence, slot.position, packets));
    }
    std::stable_sort(entries.begin(), entries.end(),
                     [](const AudioEntry& a, const AudioEntry& b) { return a.position < b.position; });
    return entries;
}

SoundCopyLayout::SoundCopyLayout(std::vector<AudioStretch> stretches, std::vector<SilenceSlot> extra,
                                 const SilenceSource& silence)
    : stretches_(std::move(stretches)), silence_(silence) {
    for (const auto& slot : extra) {
        const auto packets = silence_packets(slot.length, silence_, false);
        if (packets > 0) slots_.push_back({slot.position, packets});
    }
    std::ranges::stable_sort(slots_, {}, &SilenceRun::position);
}

void SoundCopyLayout::slots_before(double position, std::vector<SilenceRun>& out) {
    // The join sorts its entries by position, a stretch's before a card's
    // at the same place.
    while (nextSlot_ < slots_.size() && slots_[nextSlot_].position < position) out.push_back(slots_[nextSlot_++]);
}

void SoundCopyLayout::close_segment(double next_first, std::vector<SilenceRun>& out) {
    if (!segment_ || segment_->kind != AudioStretch::Kind::Silence) return;
    // The muted packets run up to the first packet of the next stretch.
    const double position = segmentFirst_ + segment_->offset;
    const auto packets = silence_packets(next_first - segmentFirst_, silence_, true);
    slots_before(position, out);
    if (packets > 0) {
        out.push_back({position, packets});
        muted_ += static_cast<double>(packets) * packet_seconds(silence_);
    }
}

SoundCopyLayout::Step SoundCopyLayout::packet(double t) {
    Step step;
    // As the segmenter's stretches: a packet before 0 goes with the start.
    const AudioStretch* stretch = stretch_of(stretches_, std::max(t, 0.0));
    if (!started_ || stretch != segment_) {
        if (started_) close_segment(t, step.before);
        segment_ = stretch;
        segmentFirst_ = t;
        started_ = true;
        if (stretch && stretch->kind == AudioStretch::Kind::Keep) slots_before(t + stretch->offset, step.before);
    }
    if (stretch && stretch->kind == AudioStretch::Kind::Keep) step.at = t + stretch->offset;
    return step;
}

std::vector<SilenceRun> SoundCopyLayout::finish(double end) {
    std::vector<SilenceRun> out;
    if (started_) close_segment(end, out);
    segment_ = nullptr;
    while (nextSlot_ < slots_.size()) out.push_back(slots_[nextSlot_++]);
    return out;
}

double longest_silence(const std::vector<AudioSegment>& segments, const std::vector<AudioStretch>& stretches,
                       const std::vector<SilenceSlot>& extra, const SilenceSource& silence) {
    double longest = 0;
    for (const auto& entry : plan_audio_entries(segments, stretches, extra, silence, 0)) {
        if (entry.file == silence.file && entry.outpoint) longest = std::max(longest, *entry.outpoint - silence.firstPacket);
    }
    return longest;
}

double silence_seconds(const std::vector<AudioEntry>& entries, const SilenceSource& silence) {
    double total = 0;
    for (const auto& entry : entries) {
        if (entry.file == silence.file && entry.outpoint)
            total += *entry.outpoint - silence.firstPacket + 0.5 * packet_seconds(silence);
    }
    return total;
}

std::string concat_script(const std::vector<AudioEntry>& entries) {
    std::string script = "ffconcat version 1.0\n";
    const double origin = entries.empty() ? 0.0 : entries.front().inpointAt;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const auto& entry = entries[i];
        script += fmt::format("file {}\n", concat_quote(entry.file));
        script += fmt::format("inpoint {}\n", seconds_text(entry.inpoint));
        if (entry.outpoint) script += fmt::format("outpoint {}\n", seconds_text(*entry.outpoint));
        // The next entry starts exactly where the plan puts it, whatever this
        // one's packets add up to.
        if (i + 1 < entries.size()) {
            const double next = entries[i + 1].inpointAt - origin;
            const double here = entry.inpointAt - origin;
            script += fmt::format("duration {}\n", seconds_text(std::max(next - here, 0.000001)));
        }
    }
    return script;
}

std::vector<std::string> concat_arguments(const std::filesystem::path& script, const std::string& streams,
                                          double offset, const std::filesystem::path& output) {
    // -copyts: the demuxer's times stand; ffmpeg would otherwise start the
    // output at zero.
    auto args = ffmpeg_prefix(FfmpegRun::Progress);
    append(args, {"-copyts", "-f", "concat", "-safe", "0", "-i", path_text(script), "-map", streams, "-c", "copy"});
    if (offset != 0) append(args, {"-output_ts_offset", seconds_text(offset)});
    args.push_back(path_text(output));
    return args;
}

Result<std::vector<std::string>> silence_file_arguments(const AudioStreamInfo& track, std::int64_t frame_samples,
                                                        double seconds, const std::filesystem::path& output,
                                                        const std::string& format) {
    auto silence = silent_tracks({track}, 0, frame_samples);
    if (!silence) return fail(silence.error());
    auto args = ffmpeg_prefix(FfmpegRun::Writing);
    args.insert(args.end(), silence->inputs.begin(), silence->inputs.end());
    args.insert(args.end(), silence->maps.begin(), silence->maps.end());
    append(args, {"-t", seconds_text(seconds)});
    args.insert(args.end(), silence->encoders.begin(), silence->encoders.end());
    append(args, {"-f", format, path_text(output)});
    return args;
}

std::optional<std::int64_t> samples_per_packet(std::string_view listing, std::int64_t sample_rate) {
    std::vector<double> times;
    for (const auto& line : split(listing, '\n')) {
        const auto field = trim(std::string_view(line).substr(0, std::string_view(line).find(',')));
        if (const auto t = read_number(field); t && std::isfinite(*t)) times.push_back(*t);
    }
    if (times.size() < 3) return std::nullopt;
    std::sort(times.begin(), times.end());
    // Millisecond timestamps wobble; the span over many packets does not.
    const double per_packet = (times.back() - times.front()) / static_cast<double>(times.size() - 1);
    const double samples = per_packet * static_cast<double>(sample_rate);
    for (std::size_t i = 1; i < times.size(); ++i) {
        const double step = (times[i] - times[i - 1]) * static_cast<double>(sample_rate);
        if (std::fabs(step - samples) > 0.0035 * static_cast<double>(sample_rate)) return std::nullopt;
    }
    if (!(samples >= 1)) return std::nullopt;
    // Millisecond times blur the estimate by a few samples; codecs use a
    // handful of packet sizes, and the nearest is the one.
    for (std::int64_t size : {120, 192, 240, 256, 480, 512, 576, 960, 1024, 1152, 1536, 1920, 2048, 2304, 2880, 4096,
                              4608, 8192, 16384}) {
        if (std::abs(samples - static_cast<double>(size)) <= 0.01 * static_cast<double>(size)) return size;
    }
    return round_half_away(samples);
}

std::optional<double> first_packet_time(std::string_view listing) {
    std::optional<double> first;
    for (const auto& line : split(listing, '\n')) {
        const auto field = trim(std::string_view(line).substr(0, std::string_view(line).find(',')));
        if (const auto t = read_number(field); t && std::isfinite(*t) && (!first || *t < *first)) first = *t;
    }
    return first;
}

std::vector<std::string> first_packets_arguments(const TrackSource& track) {
    return {"-v", "error", "-select_streams", std::to_string(track.id), "-read_intervals", "%+#32", "-show_entries",
            "packet=pts_time", "-of", "csv=p=0", track.file};
}

std::vector<std::string> sound_packets_arguments(const std::string& file, std::size_t tracks) {
    // The count goes over all the tracks read: ffprobe stops at that many
    // packets of any of them.
    return {"-v", "error", "-select_streams", "a", "-read_intervals", fmt::format("%+#{}", 32 * std::max<std::size_t>(tracks, 1)),
            "-show_entries", "packet=stream_index,pts_time", "-of", "csv=p=0", file};
}

std::string packets_of_stream(std::string_view listing, std::uint64_t stream) {
    std::string times;
    for (const auto& line : split(listing, '\n')) {
        const auto comma = line.find(',');
        if (comma == std::string::npos) continue;
        if (read_number(trim(std::string_view(line).substr(0, comma))) != static_cast<double>(stream)) continue;
        times += line.substr(comma + 1);
        times += '\n';
    }
    return times;
}

}  // namespace reel
