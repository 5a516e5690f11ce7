#include "probe/matroska_write.h"

#include <cmath>
#include <cstring>

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
std::string uint_body(std::uint64_t value) {
    std::string body;
    for (int shift = 56; shift >= 0; shift -= 8)
        if ((value >> shift) != 0 || !body.empty() || shift == 0) body.push_back(static_cast<char>((value >> shift) & 0xFF));
    return body;
}
std::string float_body(double value) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    std::string body;
    for (int shift = 56; shift >= 0; shift -= 8) body.push_back(static_cast<char>((bits >> shift) & 0xFF));
    return body;
}
// Milliseconds, to the nanosecond: seconds added up in binary fall a hair short.
std::string duration_body(double seconds) { return float_body(std::round(seconds * 1e9) / 1e6); }
std::string track_number_vint(std::uint64_t number) {
    // Track numbers are small: one to two bytes.
    if (number < 0x7F) return std::string(1, static_cast<char>(0x80 | number));
    return {static_cast<char>(0x40 | (number >> 8)), static_cast<char>(number & 0xFF)};
}

}  // namespace

Result<MatroskaTrackWriter> MatroskaTrackWriter::open(const std::filesystem::path& path, const MatroskaTrack& track,
                                                      std::string_view tags, std::optional<double> duration) {
    if (track.number == 0 || track.number >= 0x3FFF) return fail("no track number to write in " + path_text(path));
    MatroskaTrackWriter writer;
    writer.path_ = path;
    writer.number_ = track.number;
    writer.out_.open(path, std::ios::binary | std::ios::trunc);
    if (!writer.out_) return fail("cannot write " + path_text(path));
    std::string head;
    std::string ebml;
    put_element(ebml, kEbmlVersion, uint_body(1));
    put_element(ebml, kEbmlReadVersion, uint_body(1));
    put_element(ebml, kEbmlMaxIdLength, uint_body(4));
    put_element(ebml, kEbmlMaxSizeLength, uint_body(8));
    put_element(ebml, kDocType, "matroska");
    put_element(ebml, kDocTypeVersion, uint_body(4));
    put_element(ebml, kDocTypeReadVersion, uint_body(2));
    put_element(head, kEbml, ebml);
    put_id(head, kSegment);
    put_size(head, 0);
    writer.segmentData_ = head.size();
    std::string info;
    put_element(info, kTimestampScale, uint_body(1000000));
    put_element(info, kMuxingApp, "reelmender");
    put_element(info, kWritingApp, "reelmender");
    if (duration) put_element(info, kDuration, duration_body(*duration));
    put_element(head, kInfo, info);
    // The duration is the info's last child: its value ends the element.
    if (duration) writer.durationAt_ = head.size() - 8;
    std::string entry;
    put_element(entry, kTrackEntry, track.entry);
    put_element(head, kTracks, entry);
    if (!tags.empty()) put_element(head, kTags, tags);
    writer.write(head);
    return writer;
}

double MatroskaTrackWriter::add(double seconds, std::string_view frame, bool keyframe) {
    const auto ms = static_cast<std::int64_t>(std::llround(std::max(seconds, 0.0) * 1000.0));
    // The time after the cluster's is signed: a picture shown before the one
    // decoded before it stays in the cluster.
    if (clusterStart_ < 0 || ms - clusterStart_ >= kClusterMs || ms - clusterStart_ < -kClusterMs ||
        cluster_.size() >= kClusterBytes) {
        flush_cluster();
        clusterStart_ = ms;
    }
    // Put together in place: the frames are most of what a picture's file
    // holds, and each copy of them costs.
    const std::string number = track_number_vint(number_);
    const auto relative = static_cast<std::uint16_t>(static_cast<std::int16_t>(ms - clusterStart_));
    put_id(cluster_, kSimpleBlock);
    put_size(cluster_, number.size() + 3 + frame.size());
    cluster_ += number;
    cluster_.push_back(static_cast<char>(relative >> 8));
    cluster_.push_back(static_cast<char>(relative & 0xFF));
    cluster_.push_back(static_cast<char>(keyframe ? 0x80 : 0x00));
    cluster_.append(frame);
    return static_cast<double>(ms) * 1e6 / 1e9;
}

void MatroskaTrackWriter::flush_cluster() {
    if (cluster_.empty()) return;
    std::string timestamp;
    put_element(timestamp, kClusterTimestamp, uint_body(static_cast<std::uint64_t>(clusterStart_)));
    std::string head;
    put_id(head, kCluster);
    put_size(head, timestamp.size() + cluster_.size());
    write(head + timestamp);
    write(cluster_);
    cluster_.clear();
}

void MatroskaTrackWriter::write(std::string_view bytes) {
    for (std::size_t at = 0; at < bytes.size(); at += kWriteBytes) {
        const auto piece = bytes.substr(at, kWriteBytes);
        out_.write(piece.data(), static_cast<std::streamsize>(piece.size()));
    }
}

Result<void> MatroskaTrackWriter::finish(std::optional<double> duration) {
    flush_cluster();
    if (duration && durationAt_ != 0) {
        const auto value = duration_body(*duration);
        const auto end_of_data = out_.tellp();
        out_.seekp(static_cast<std::streamoff>(durationAt_));
        out_.write(value.data(), static_cast<std::streamsize>(value.size()));
        out_.seekp(end_of_data);
    }
    const auto end = static_cast<std::uint64_t>(out_.tellp());
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

}  // namespace reel
