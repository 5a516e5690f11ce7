#include "probe/matroska_write.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include <fmt/format.h>

#include "probe/matroska_ids.h"
#include "util/files.h"

namespace reel {

namespace {

using namespace matroska_id;

// Blocks store their time as 16 bits after their cluster's.
constexpr std::int64_t kClusterMs = 5000;
// A cluster is held until it is written: five seconds of a 4K picture would
// be tens of megabytes.
constexpr std::size_t kClusterBytes = std::size_t{4} << 20;
// Written in pieces of this size: a file system that reserves room for each
// write works much longer on one write of megabytes than on many small ones
// (a 900 MB copy: 0.4 s in 64 KiB writes, 2.8 s in 1 MiB ones, on ext4).
constexpr std::size_t kWriteBytes = 64 * 1024;
// Room kept after the segment's start for the seek head, which is known at
// the end: six entries and the filler after them.
constexpr std::size_t kSeekRoom = 300;

void put_id(std::string& out, std::uint64_t id) {
    for (int shift = 24; shift >= 0; shift -= 8)
        if ((id >> shift) != 0) out.push_back(static_cast<char>((id >> shift) & 0xFF));
}
// Sizes always in eight bytes: the segment's is filled in at the end.
void put_size(std::string& out, std::uint64_t size) {
    out.push_back(0x01);
    for (int shift = 48; shift >= 0; shift -= 8) out.push_back(static_cast<char>((size >> shift) & 0xFF));
}
void put_element(std::string& out, std::uint64_t id, std::string_view body) {
    put_id(out, id);
    put_size(out, body.size());
    out.append(body);
}
// Milliseconds, to the nanosecond: seconds added up in binary fall a hair short.
std::string duration_body(double seconds) { return ebml_float(std::round(seconds * 1e9) / 1e6); }
std::string track_number_vint(std::uint64_t number) {
    // Track numbers are small: one to two bytes.
    if (number < 0x7F) return std::string(1, static_cast<char>(0x80 | number));
    return {static_cast<char>(0x40 | (number >> 8)), static_cast<char>(number & 0xFF)};
}
// A Void element of `total` bytes (at least 9).
std::string filler(std::size_t total) {
    std::string out;
    put_id(out, kVoid);
    put_size(out, total - 9);
    out.resize(total, '\0');
    return out;
}
std::string simple_tag(std::string_view name, std::string_view value) {
    return ebml_element(kSimpleTag, ebml_element(kTagName, name) + ebml_element(kTagString, value));
}

}  // namespace

std::string ebml_element(std::uint64_t id, std::string_view body) {
    std::string out;
    put_element(out, id, body);
    return out;
}

std::string ebml_uint(std::uint64_t value) {
    std::string body;
    for (int shift = 56; shift >= 0; shift -= 8)
        if ((value >> shift) != 0 || !body.empty() || shift == 0) body.push_back(static_cast<char>((value >> shift) & 0xFF));
    return body;
}

std::string ebml_float(double value) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    std::string body;
    for (int shift = 56; shift >= 0; shift -= 8) body.push_back(static_cast<char>((bits >> shift) & 0xFF));
    return body;
}

namespace {

// A picture's Video element with the projection's roll set to `roll`
// degrees: players and ffprobe read a rotation so. The projection's other
// fields (a 360° picture's) stay.
std::string rolled_video(std::string_view video, double roll) {
    std::string out;
    std::string projection;
    for (const auto& [field, value] : matroska_children(video)) {
        if (field != kProjection) {
            put_element(out, field, value);
            continue;
        }
        for (const auto& [part, setting] : matroska_children(value))
            if (part != kProjectionPoseRoll) put_element(projection, part, setting);
    }
    put_element(projection, kProjectionPoseRoll, ebml_float(roll));
    put_element(out, kProjection, projection);
    return out;
}

}  // namespace

std::string rewrite_track_entry(std::string_view entry, const EntryChanges& changes) {
    std::string out;
    put_element(out, kTrackNumber, ebml_uint(changes.number));
    put_element(out, kTrackUid, ebml_uint(changes.uid));
    std::optional<std::string> video;
    for (const auto& [id, body] : matroska_children(entry)) {
        // A language in both forms would let players read the old one.
        if (id == kTrackNumber || id == kTrackUid || id == kFlagDefault || id == kFlagForced || id == kFlagLacing ||
            id == kLanguage || id == kLanguageBcp47 || (id == kName && changes.name))
            continue;
        if (id == kVideo && changes.roll) video = rolled_video(body, *changes.roll);
        else put_element(out, id, body);
    }
    put_element(out, kFlagDefault, ebml_uint(changes.isDefault ? 1 : 0));
    put_element(out, kFlagForced, ebml_uint(changes.forced ? 1 : 0));
    put_element(out, kFlagLacing, ebml_uint(0));
    put_element(out, kLanguage, changes.language);
    if (changes.name) put_element(out, kName, *changes.name);
    // An entry without a Video element gets one for the roll alone.
    if (changes.roll) put_element(out, kVideo, video.value_or(rolled_video({}, *changes.roll)));
    return out;
}

std::string retarget_track_tags(std::string_view tags, std::uint64_t uid) {
    static constexpr std::string_view counted[] = {"BPS", "DURATION", "NUMBER_OF_FRAMES", "NUMBER_OF_BYTES"};
    std::string out;
    for (const auto& [id, tag] : matroska_children(tags)) {
        if (id != kTag) continue;
        std::string body;
        bool kept = false;
        for (const auto& [field, value] : matroska_children(tag)) {
            if (field == kTargets) {
                std::string targets;
                for (const auto& [target, number] : matroska_children(value))
                    put_element(targets, target, target == kTagTrackUid ? ebml_uint(uid) : std::string(number));
                put_element(body, kTargets, targets);
                continue;
            }
            if (field == kSimpleTag) {
                std::string_view name;
                for (const auto& [part, text] : matroska_children(value))
                    if (part == kTagName) name = text;
                if (name.starts_with("_STATISTICS_") || std::ranges::find(counted, name) != std::end(counted)) continue;
                kept = true;
            }
            put_element(body, field, value);
        }
        if (kept) put_element(out, kTag, body);
    }
    return out;
}

Result<MatroskaMuxer> MatroskaMuxer::open(const std::filesystem::path& path, const std::vector<MatroskaTrack>& tracks,
                                          const SegmentExtras& extras, std::optional<double> duration) {
    MatroskaMuxer muxer;
    muxer.path_ = path;
    muxer.tags_ = extras.tags;
    muxer.statistics_ = extras.statistics;
    for (const auto& track : tracks) {
        if (track.number == 0 || track.number >= 0x3FFF) return fail("no track number to write in " + path_text(path));
        TrackState state;
        state.number = track.number;
        state.type = track.type;
        state.uid = track.uid;
        state.frameNs = static_cast<std::int64_t>(track.defaultDuration);
        muxer.tracks_.push_back(state);
    }
    muxer.out_.open(path, std::ios::binary | std::ios::trunc);
    if (!muxer.out_) return fail("cannot write " + path_text(path));
    std::string head;
    std::string ebml;
    put_element(ebml, kEbmlVersion, ebml_uint(1));
    put_element(ebml, kEbmlReadVersion, ebml_uint(1));
    put_element(ebml, kEbmlMaxIdLength, ebml_uint(4));
    put_element(ebml, kEbmlMaxSizeLength, ebml_uint(8));
    put_element(ebml, kDocType, "matroska");
    put_element(ebml, kDocTypeVersion, ebml_uint(4));
    put_element(ebml, kDocTypeReadVersion, ebml_uint(2));
    put_element(head, kEbml, ebml);
    put_id(head, kSegment);
    put_size(head, 0);
    muxer.segmentData_ = head.size();
    muxer.seekHeadAt_ = head.size();
    head += filler(kSeekRoom);
    const auto place = [&](std::uint64_t id, std::string_view body) {
        muxer.seeks_.emplace_back(id, head.size() - muxer.segmentData_);
        put_element(head, id, body);
    };
    std::string info;
    put_element(info, kTimestampScale, ebml_uint(1000000));
    put_element(info, kMuxingApp, "reelmender");
    put_element(info, kWritingApp, "reelmender");
    if (extras.title) put_element(info, kTitle, *extras.title);
    if (extras.date) {
        // A date is stored in eight bytes, whatever its value.
        std::string date;
        for (int shift = 56; shift >= 0; shift -= 8)
            date.push_back(static_cast<char>((static_cast<std::uint64_t>(*extras.date) >> shift) & 0xFF));
        put_element(info, kDateUtc, date);
    }
    if (duration) put_element(info, kDuration, duration_body(*duration));
    place(kInfo, info);
    // The duration is the info's last child: its value ends the element.
    if (duration) muxer.durationAt_ = head.size() - 8;
    std::string entries;
    for (const auto& track : tracks) put_element(entries, kTrackEntry, track.entry);
    place(kTracks, entries);
    if (!extras.chapters.empty()) place(kChapters, extras.chapters);
    if (!extras.attachments.empty()) place(kAttachments, extras.attachments);
    muxer.write(head);
    return muxer;
}

void MatroskaMuxer::add(std::size_t place, std::int64_t ms, std::string_view frame, bool keyframe,
                        std::optional<std::int64_t> duration) {
    TrackState& track = tracks_[place];
    ms = std::max<std::int64_t>(ms, 0);
    const bool cued = (track.type == 1 && keyframe) || track.type == 17;
    // The time after the cluster's is signed: a picture shown before the one
    // decoded before it stays in the cluster. A cluster begins at each
    // picture keyframe, where a player that seeks starts to read.
    if (clusterStart_ < 0 || (track.type == 1 && keyframe && !cluster_.empty()) || ms - clusterStart_ >= kClusterMs ||
        ms - clusterStart_ < -kClusterMs || cluster_.size() >= kClusterBytes) {
        flush_cluster();
        clusterStart_ = ms;
    }
    if (cued) pendingCues_.push_back({ms, track.number, 0, cluster_.size()});
    // Put together in place: the frames are most of what a picture's file
    // holds, and each copy of them costs.
    const std::string number = track_number_vint(track.number);
    const auto relative = static_cast<std::uint16_t>(static_cast<std::int16_t>(ms - clusterStart_));
    const std::size_t block_size = number.size() + 3 + frame.size();
    if (duration) {
        const std::string length = ebml_element(kBlockDuration, ebml_uint(static_cast<std::uint64_t>(*duration)));
        put_id(cluster_, kBlockGroup);
        put_size(cluster_, 1 + 8 + block_size + length.size());
        put_id(cluster_, kBlock);
    } else {
        put_id(cluster_, kSimpleBlock);
    }
    put_size(cluster_, block_size);
    cluster_ += number;
    cluster_.push_back(static_cast<char>(relative >> 8));
    cluster_.push_back(static_cast<char>(relative & 0xFF));
    cluster_.push_back(static_cast<char>(keyframe && !duration ? 0x80 : 0x00));
    cluster_.append(frame);
    if (duration) cluster_ += ebml_element(kBlockDuration, ebml_uint(static_cast<std::uint64_t>(*duration)));

    ++track.frames;
    track.bytes += frame.size();
    track.first = std::min(track.first.value_or(ms), ms);
    // Without a frame length, a frame is taken to last as long as the gap
    // before it, as mkvmerge reckons the last one.
    std::int64_t length_ns = duration ? *duration * 1000000 : track.frameNs;
    if (!duration && track.frameNs == 0 && track.last) length_ns = std::max<std::int64_t>(ms - *track.last, 0) * 1000000;
    track.last = ms;
    track.end = std::max(track.end, ms * 1000000 + length_ns);
}

std::optional<double> MatroskaMuxer::span() const {
    std::optional<std::int64_t> first;
    std::int64_t end = 0;
    for (const auto& track : tracks_) {
        if (!track.first) continue;
        first = std::min(first.value_or(*track.first), *track.first);
        end = std::max(end, track.end);
    }
    if (!first) return std::nullopt;
    // In whole milliseconds, the file's unit of time.
    return static_cast<double>((end + 500000) / 1000000 - *first) / 1e3;
}

void MatroskaMuxer::flush_cluster() {
    if (cluster_.empty()) return;
    std::string timestamp;
    put_element(timestamp, kClusterTimestamp, ebml_uint(static_cast<std::uint64_t>(clusterStart_)));
    for (auto& cue : pendingCues_) {
        cue.cluster = written_ - segmentData_;
        cue.relative += timestamp.size();
        cues_.push_back(cue);
    }
    pendingCues_.clear();
    std::string head;
    put_id(head, kCluster);
    put_size(head, timestamp.size() + cluster_.size());
    write(head + timestamp);
    write(cluster_);
    cluster_.clear();
}

void MatroskaMuxer::write(std::string_view bytes) {
    for (std::size_t at = 0; at < bytes.size(); at += kWriteBytes) {
        const auto piece = bytes.substr(at, kWriteBytes);
        out_.write(piece.data(), static_cast<std::streamsize>(piece.size()));
    }
    written_ += bytes.size();
}

std::string MatroskaMuxer::statistics_tags() const {
    std::string tags;
    for (const auto& track : tracks_) {
        if (!track.first || track.uid == 0) continue;
        const std::int64_t ns = std::max<std::int64_t>(track.end - *track.first * 1000000, 0);
        const std::int64_t seconds = ns / 1000000000;
        const std::string length =
            fmt::format("{:02}:{:02}:{:02}.{:09}", seconds / 3600, seconds / 60 % 60, seconds % 60, ns % 1000000000);
        const auto rate = ns > 0 ? static_cast<std::uint64_t>(std::llround(static_cast<double>(track.bytes) * 8e9 /
                                                                            static_cast<double>(ns)))
                                 : 0;
        std::string tag = ebml_element(kTargets, ebml_element(kTagTrackUid, ebml_uint(track.uid)));
        tag += simple_tag("BPS", std::to_string(rate));
        tag += simple_tag("DURATION", length);
        tag += simple_tag("NUMBER_OF_FRAMES", std::to_string(track.frames));
        tag += simple_tag("NUMBER_OF_BYTES", std::to_string(track.bytes));
        tag += simple_tag("_STATISTICS_WRITING_APP", "reelmender");
        tag += simple_tag("_STATISTICS_TAGS", "BPS DURATION NUMBER_OF_FRAMES NUMBER_OF_BYTES");
        tags += ebml_element(kTag, tag);
    }
    return tags;
}

Result<void> MatroskaMuxer::finish(std::optional<double> duration) {
    flush_cluster();
    if (!cues_.empty()) {
        std::string points;
        for (const auto& cue : cues_) {
            std::string position = ebml_element(kCueTrack, ebml_uint(cue.track));
            position += ebml_element(kCueClusterPosition, ebml_uint(cue.cluster));
            position += ebml_element(kCueRelativePosition, ebml_uint(cue.relative));
            points += ebml_element(kCuePoint, ebml_element(kCueTime, ebml_uint(static_cast<std::uint64_t>(cue.ms))) +
                                                  ebml_element(kCueTrackPositions, position));
        }
        seeks_.emplace_back(kCues, written_ - segmentData_);
        write(ebml_element(kCues, points));
    }
    const std::string tags = tags_ + (statistics_ ? statistics_tags() : std::string());
    if (!tags.empty()) {
        seeks_.emplace_back(kTags, written_ - segmentData_);
        write(ebml_element(kTags, tags));
    }
    const auto end = written_;
    if (duration && durationAt_ != 0) {
        const auto value = duration_body(*duration);
        out_.seekp(static_cast<std::streamoff>(durationAt_));
        out_.write(value.data(), static_cast<std::streamsize>(value.size()));
    }
    std::string seeks;
    for (const auto& [id, position] : seeks_) {
        std::string target;
        put_id(target, id);
        seeks += ebml_element(kSeek, ebml_element(kSeekId, target) + ebml_element(kSeekPosition, ebml_uint(position)));
    }
    std::string room = ebml_element(kSeekHead, seeks);
    if (room.size() + 9 <= kSeekRoom) {
        room += filler(kSeekRoom - room.size());
        out_.seekp(static_cast<std::streamoff>(seekHeadAt_));
        out_.write(room.data(), static_cast<std::streamsize>(room.size()));
    }
    std::string size;
    put_size(size, end - segmentData_);
    out_.seekp(static_cast<std::streamoff>(segmentData_ - size.size()));
    out_.write(size.data(), static_cast<std::streamsize>(size.size()));
    out_.close();
    // A finished writer may be kept a while: its cluster's room (megabytes of
    // pictures) is not.
    std::string().swap(cluster_);
    if (!out_) return fail("cannot write " + path_text(path_));
    return {};
}

Result<MatroskaTrackWriter> MatroskaTrackWriter::open(const std::filesystem::path& path, const MatroskaTrack& track,
                                                      std::string_view tags, std::optional<double> duration) {
    SegmentExtras extras;
    extras.tags = std::string(tags);
    auto muxer = MatroskaMuxer::open(path, {track}, extras, duration);
    if (!muxer) return fail(muxer.error());
    MatroskaTrackWriter writer;
    writer.muxer_ = std::move(*muxer);
    return writer;
}

double MatroskaTrackWriter::add(double seconds, std::string_view frame, bool keyframe) {
    const auto ms = static_cast<std::int64_t>(std::llround(std::max(seconds, 0.0) * 1000.0));
    muxer_->add(0, ms, frame, keyframe);
    return static_cast<double>(ms) * 1e6 / 1e9;
}

}  // namespace reel
