#include "probe/matroska.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <functional>

#include <fmt/core.h>

#include "probe/matroska_ids.h"
#include "util/files.h"

namespace reel {

namespace {

using namespace matroska_id;

// One element header: its id, where its content starts (offset into the
// bytes) and its size; no size when the writer left it open ("unknown").
struct Element {
    std::uint64_t id = 0;
    std::size_t content = 0;
    std::optional<std::uint64_t> size;
    bool whole(std::string_view bytes) const { return size && *size <= bytes.size() - content; }
    std::string_view body(std::string_view bytes) const { return bytes.substr(content, *size); }
    std::optional<std::size_t> next(std::string_view bytes) const {
        if (!size || *size > bytes.size() - content) return std::nullopt;
        return content + static_cast<std::size_t>(*size);
    }
};

std::uint8_t byte_at(std::string_view bytes, std::size_t i) { return static_cast<std::uint8_t>(bytes[i]); }

// A variable-length number: ids keep their length marker, sizes lose it.
std::optional<std::pair<std::uint64_t, std::size_t>> read_vint(std::string_view bytes, std::size_t at, bool keep_marker,
                                                               std::size_t max_length, bool& all_ones) {
    if (at >= bytes.size()) return std::nullopt;
    const std::uint8_t first = byte_at(bytes, at);
    std::size_t length = 1;
    while (length <= max_length && !(first & (0x80 >> (length - 1)))) ++length;
    if (length > max_length || at + length > bytes.size()) return std::nullopt;
    std::uint64_t value = keep_marker ? first : (first & (0xFF >> length));
    bool ones = (first & (0xFF >> length)) == (0xFF >> length);
    for (std::size_t k = 1; k < length; ++k) {
        value = (value << 8) | byte_at(bytes, at + k);
        ones = ones && byte_at(bytes, at + k) == 0xFF;
    }
    all_ones = ones;
    return std::pair{value, length};
}

std::optional<Element> read_element(std::string_view bytes, std::size_t at) {
    bool ones = false;
    const auto id = read_vint(bytes, at, true, 4, ones);
    if (!id) return std::nullopt;
    const auto size = read_vint(bytes, at + id->second, false, 8, ones);
    if (!size) return std::nullopt;
    Element element;
    element.id = id->first;
    element.content = at + id->second + size->second;
    if (!ones) element.size = size->first;
    return element;
}

std::optional<std::uint64_t> read_uint(std::string_view body);

std::optional<double> read_float(std::string_view body) {
    const auto bits = read_uint(body);
    if (!bits) return std::nullopt;
    if (body.size() == 4) {
        const auto narrow = static_cast<std::uint32_t>(*bits);
        float value = 0;
        std::memcpy(&value, &narrow, sizeof value);
        return value;
    }
    if (body.size() != 8) return std::nullopt;
    double value = 0;
    std::memcpy(&value, &*bits, sizeof value);
    return value;
}

std::optional<std::uint64_t> read_uint(std::string_view body) {
    if (body.size() > 8) return std::nullopt;
    std::uint64_t value = 0;
    for (char c : body) value = (value << 8) | static_cast<std::uint8_t>(c);
    return value;
}

// Calls `each` for every whole child of a master element's body; stops at
// the first child that is not whole.
template <typename Each>
void children(std::string_view body, Each&& each) {
    std::size_t at = 0;
    while (at < body.size()) {
        const auto child = read_element(body, at);
        if (!child || !child->whole(body)) return;
        each(child->id, child->body(body));
        at = *child->next(body);
    }
}

void read_info(std::string_view body, MatroskaHead& head) {
    std::optional<double> duration_units;
    children(body, [&](std::uint64_t id, std::string_view value) {
        if (id == kTimestampScale) {
            if (auto scale = read_uint(value); scale && *scale > 0) head.timestampScale = *scale;
        } else if (id == kDuration) {
            duration_units = read_float(value);
        } else if (id == kMuxingApp) {
            head.muxingApp = std::string(value);
        } else if (id == kWritingApp) {
            head.writingApp = std::string(value);
        }
    });
    if (duration_units && std::isfinite(*duration_units) && *duration_units >= 0)
        head.duration = *duration_units * static_cast<double>(head.timestampScale) / 1e9;
}

void read_tracks(std::string_view body, MatroskaHead& head) {
    children(body, [&](std::uint64_t id, std::string_view entry) {
        if (id != kTrackEntry) return;
        MatroskaTrack track;
        children(entry, [&](std::uint64_t field, std::string_view value) {
            if (field == kTrackNumber) track.number = read_uint(value).value_or(0);
            if (field == kTrackType) track.type = read_uint(value).value_or(0);
            if (field == kCodecDelay) track.codecDelay = read_uint(value).value_or(0);
            if (field == kDefaultDuration) track.defaultDuration = read_uint(value).value_or(0);
            if (field == kTrackUid) track.uid = read_uint(value).value_or(0);
        });
        track.entry = std::string(entry);
        head.tracks.push_back(track);
    });
}

// Reads `length` bytes from `offset` into `bytes` (fewer at the end), reusing
// its room: a reader of every cluster would otherwise clear and give back
// megabytes for each.
bool read_range_into(std::ifstream& file, std::uint64_t offset, std::size_t length, std::string& bytes) {
    file.clear();
    file.seekg(static_cast<std::streamoff>(offset));
    if (!file) return false;
    bytes.resize(length);
    file.read(bytes.data(), static_cast<std::streamsize>(length));
    bytes.resize(static_cast<std::size_t>(file.gcount()));
    return true;
}

// The bytes from `offset` on, up to `length` of them (fewer at the end).
std::optional<std::string> read_range(std::ifstream& file, std::uint64_t offset, std::size_t length) {
    std::string bytes;
    if (!read_range_into(file, offset, length, bytes)) return std::nullopt;
    return bytes;
}

std::uint64_t file_size(std::ifstream& file) {
    file.clear();
    file.seekg(0, std::ios::end);
    return static_cast<std::uint64_t>(file.tellg());
}

// The header of the element at `at` among a segment's children, nothing
// where the file (of `size` bytes) ends there. Fails for an element of
// unknown size and one that runs past the end, which would cut what is read
// short.
Result<std::optional<Element>> child_at(std::ifstream& file, const std::string& path, std::uint64_t at,
                                        std::uint64_t size) {
    const auto header = read_range(file, at, 12);
    if (!header) return fail("cannot read " + path);
    if (header->empty()) {
        if (at != size) return fail("the elements of " + path + " run past its end");
        return std::optional<Element>{};
    }
    const auto element = read_element(*header, 0);
    if (!element || !element->size) return fail("an element of unknown size in " + path);
    if (element->content + *element->size > size - at) return fail("an element runs past the end of " + path);
    return std::optional<Element>{*element};
}

// The whole element at `offset`, within `limit` bytes.
std::optional<std::string> read_element_at(std::ifstream& file, std::uint64_t offset, std::size_t limit) {
    const auto header = read_range(file, offset, 12);
    if (!header) return std::nullopt;
    const auto element = read_element(*header, 0);
    if (!element || !element->size || *element->size > limit) return std::nullopt;
    auto bytes = read_range(file, offset, element->content + static_cast<std::size_t>(*element->size));
    if (!bytes || !read_element(*bytes, 0)->whole(*bytes)) return std::nullopt;
    return bytes;
}

// The start of a file up to its first cluster: a small read first, a larger
// one only where that does not hold what is needed (a run with hundreds of
// pieces reads each one's start).
Result<MatroskaHead> read_head(std::ifstream& file, const std::string& path) {
    constexpr std::size_t kMost = std::size_t{1} << 20;
    std::optional<MatroskaHead> head;
    for (std::size_t length = std::size_t{64} << 10;; length *= 4) {
        const auto start = read_range(file, 0, length);
        if (!start) return fail("cannot read " + path);
        head = parse_matroska_head(*start);
        if ((head && head->duration && head->firstCluster) || start->size() < length || length >= kMost) break;
    }
    if (!head) return fail("not Matroska: " + path);
    return std::move(*head);
}

// The track starts of a file's first cluster, and whether it was read whole.
struct FirstCluster {
    std::vector<TrackStart> starts;
    bool whole = false;

    std::vector<TrackStart>::const_iterator track(std::uint64_t number) const {
        return std::ranges::find(starts, number, &TrackStart::number);
    }
};

// Reads the first cluster in growing pieces and hands each read to `take`
// (with whether it holds the whole cluster) until `take` has enough, the
// cluster is whole, or 16 MiB were read. The last read handed over is what
// was read; false when the file cannot be read.
bool read_first_cluster_bytes(std::ifstream& file, const MatroskaHead& head,
                              const std::function<bool(std::string_view, bool)>& take) {
    constexpr std::size_t kMostBytes = std::size_t{16} << 20;
    for (std::size_t length = std::size_t{256} << 10;; length *= 4) {
        const auto bytes = read_range(file, *head.firstCluster, length);
        if (!bytes) return false;
        const auto element = read_element(*bytes, 0);
        const bool whole = element && element->whole(*bytes);
        if (take(*bytes, whole) || whole || bytes->size() < length || length >= kMostBytes) return true;
    }
}

// The first cluster's track starts, read as far as `enough` asks.
std::optional<FirstCluster> read_first_cluster(std::ifstream& file, const MatroskaHead& head,
                                               const std::function<bool(const FirstCluster&)>& enough) {
    FirstCluster cluster;
    const bool read = read_first_cluster_bytes(file, head, [&](std::string_view bytes, bool whole) {
        cluster = FirstCluster{parse_cluster_starts(bytes, head.timestampScale), whole};
        return enough(cluster);
    });
    if (!read) return std::nullopt;
    return cluster;
}

}  // namespace

std::pair<std::optional<std::uint64_t>, std::optional<std::uint64_t>> parse_seek_head(std::string_view bytes,
                                                                                     std::uint64_t segment_data) {
    std::pair<std::optional<std::uint64_t>, std::optional<std::uint64_t>> found;
    const auto element = read_element(bytes, 0);
    if (!element || element->id != kSeekHead || !element->whole(bytes)) return found;
    children(element->body(bytes), [&](std::uint64_t id, std::string_view seek) {
        if (id != kSeek) return;
        std::optional<std::uint64_t> target;
        std::optional<std::uint64_t> position;
        children(seek, [&](std::uint64_t field, std::string_view value) {
            if (field == kSeekId) target = read_uint(value);
            if (field == kSeekPosition) position = read_uint(value);
        });
        if (!target || !position || *position > UINT64_MAX - segment_data) return;
        if (*target == kCues) found.first = segment_data + *position;
        if (*target == kSeekHead) found.second = segment_data + *position;
    });
    return found;
}

std::optional<MatroskaHead> parse_matroska_head(std::string_view bytes) {
    const auto ebml = read_element(bytes, 0);
    if (!ebml || ebml->id != kEbml) return std::nullopt;
    const auto after_ebml = ebml->next(bytes);
    if (!after_ebml) return std::nullopt;
    const auto segment = read_element(bytes, *after_ebml);
    if (!segment || segment->id != kSegment) return std::nullopt;

    MatroskaHead head;
    head.segmentData = segment->content;
    std::size_t at = segment->content;
    while (at < bytes.size()) {
        const auto child = read_element(bytes, at);
        if (child && child->id == kCluster) head.firstCluster = at;
        if (!child || !child->size || child->id == kCluster) break;
        if (child->whole(bytes)) {
            const std::string_view body = child->body(bytes);
            if (child->id == kSeekHead) {
                auto [cues, more] = parse_seek_head(bytes.substr(at, child->content - at + body.size()), head.segmentData);
                if (cues && !head.cues) head.cues = cues;
                if (more && !head.moreSeeks && *more != at) head.moreSeeks = more;
            } else if (child->id == kInfo) {
                read_info(body, head);
            } else if (child->id == kTracks) {
                read_tracks(body, head);
            }
        }
        if (*child->size > bytes.size()) break;  // the rest lies beyond what was read
        at = child->content + static_cast<std::size_t>(*child->size);
    }
    return head;
}

std::optional<std::vector<CuePoint>> parse_cue_points(std::string_view bytes, std::uint64_t number,
                                                     std::uint64_t timestamp_scale) {
    const auto element = read_element(bytes, 0);
    if (!element || element->id != kCues || !element->whole(bytes)) return std::nullopt;
    std::vector<CuePoint> points;
    const double unit = static_cast<double>(timestamp_scale) / 1e9;
    children(element->body(bytes), [&](std::uint64_t id, std::string_view point) {
        if (id != kCuePoint) return;
        std::optional<std::uint64_t> time;
        bool ours = false;
        std::optional<std::uint64_t> cluster;
        children(point, [&](std::uint64_t field, std::string_view value) {
            if (field == kCueTime) time = read_uint(value);
            if (field != kCueTrackPositions) return;
            std::optional<std::uint64_t> track;
            std::optional<std::uint64_t> position;
            children(value, [&](std::uint64_t inner, std::string_view v) {
                if (inner == kCueTrack) track = read_uint(v);
                if (inner == kCueClusterPosition) position = read_uint(v);
            });
            if (track == number) {
                ours = true;
                cluster = position;
            }
        });
        if (time && ours) points.push_back({static_cast<double>(*time) * unit, cluster});
    });
    std::ranges::stable_sort(points, {}, &CuePoint::seconds);
    return points;
}

namespace {

// The keyframe times of cue points sorted by time, without repeats.
std::vector<double> cue_times(const std::vector<CuePoint>& points) {
    std::vector<double> times;
    for (const auto& point : points) times.push_back(point.seconds);
    times.erase(std::unique(times.begin(), times.end()), times.end());
    return times;
}

}  // namespace

std::optional<std::vector<double>> parse_cue_times(std::string_view bytes, std::uint64_t number,
                                                   std::uint64_t timestamp_scale) {
    const auto points = parse_cue_points(bytes, number, timestamp_scale);
    if (!points) return std::nullopt;
    return cue_times(*points);
}

bool cues_list_every_keyframe(const MatroskaHead& head) {
    return head.writingApp.starts_with("mkvmerge") || head.muxingApp.starts_with("Lavf") ||
           head.writingApp == "reelmender";
}

namespace {

struct CuedTrack {
    MatroskaHead head;
    std::vector<CuePoint> points;
};

// The head of the file and the cues of the picture track ffprobe numbers
// `stream`, where its writer is trusted to cue every keyframe.
Result<CuedTrack> read_cues(std::ifstream& file, const std::string& path, std::uint64_t stream) {
    if (!file) return fail("cannot open " + path);
    // Info and Tracks come first; 1 MiB leaves room for fonts and cover art
    // stored before them.
    const auto start = read_range(file, 0, 1 << 20);
    if (!start) return fail("cannot read " + path);
    auto head = parse_matroska_head(*start);
    if (!head) return fail("not Matroska: " + path);
    if (!cues_list_every_keyframe(*head)) return fail("cues not trusted: " + head->writingApp);
    if (stream >= head->tracks.size() || head->tracks[stream].type != 1) return fail("no such picture track");
    if (!head->cues && head->moreSeeks) {
        if (auto seeks = read_element_at(file, *head->moreSeeks, 1 << 20))
            head->cues = parse_seek_head(*seeks, head->segmentData).first;
    }
    if (!head->cues) return fail("no cues in " + path);
    // A cue takes some 20 bytes: 64 MiB hold millions of keyframes.
    const auto cues = read_element_at(file, *head->cues, std::size_t{64} << 20);
    if (!cues) return fail("unreadable cues in " + path);
    auto points = parse_cue_points(*cues, head->tracks[stream].number, head->timestampScale);
    if (!points || points->empty()) return fail("no cues for the picture in " + path);
    return CuedTrack{std::move(*head), std::move(*points)};
}

}  // namespace

Result<std::vector<double>> read_cue_keyframes(const std::string& path, std::uint64_t stream) {
    std::ifstream file(path_from_text(path), std::ios::binary);
    auto cued = read_cues(file, path, stream);
    if (!cued) return fail(cued.error());
    return cue_times(cued->points);
}

namespace {

// One block of a cluster: its track, its time and how many frames it holds
// (0 where the read ended inside its header).
struct ClusterBlock {
    std::uint64_t track = 0;
    double seconds = 0;
    std::size_t frames = 0;
    std::string_view bytes;  // the block from its track number on
    bool keyframe = false;
    // In a BlockGroup with more than its references (a duration, additions):
    // what a copy of the frame alone would lose.
    bool more = false;
};

// Calls `each` with every block of a Cluster element at the start of
// `bytes`, in file order, until it returns false.
void for_each_cluster_block(std::string_view bytes, std::uint64_t timestamp_scale,
                            const std::function<bool(const ClusterBlock&)>& each) {
    const auto cluster = read_element(bytes, 0);
    if (!cluster || cluster->id != kCluster) return;
    const std::size_t end =
        cluster->size && *cluster->size < bytes.size() - cluster->content ? cluster->content + *cluster->size : bytes.size();
    const std::string_view body = bytes.substr(cluster->content, end - cluster->content);
    std::optional<std::uint64_t> base;
    // False once `each` has had enough.
    const auto note_block = [&](std::string_view block, std::optional<bool> keyframe, bool more) {
        bool ones = false;
        const auto track = read_vint(block, 0, false, 8, ones);
        if (!base || !track || block.size() < track->second + 2) return true;
        const auto relative = static_cast<std::int16_t>((byte_at(block, track->second) << 8) | byte_at(block, track->second + 1));
        ClusterBlock found{track->first, (static_cast<double>(*base) + relative) * static_cast<double>(timestamp_scale) / 1e9, 0,
                           block};
        found.more = more;
        // The flags byte, and with lacing the count of frames less one.
        const std::size_t flags = track->second + 2;
        // A SimpleBlock says so in its flags, a Block by having no reference.
        found.keyframe = keyframe.value_or(block.size() > flags && (byte_at(block, flags) & 0x80) != 0);
        if (block.size() > flags) {
            const bool laced = (byte_at(block, flags) & 0x06) != 0;
            if (!laced) found.frames = 1;
            else if (block.size() > flags + 1) found.frames = static_cast<std::size_t>(byte_at(block, flags + 1)) + 1;
        }
        return each(found);
    };
    std::size_t at = 0;
    while (at < body.size()) {
        const auto child = read_element(body, at);
        if (!child || !child->size) break;
        const std::string_view rest = body.substr(child->content);
        if (child->id == kClusterTimestamp && child->whole(body)) base = read_uint(child->body(body));
        if (child->id == kSimpleBlock &&
            !note_block(rest.substr(0, std::min<std::uint64_t>(*child->size, rest.size())), std::nullopt, false))
            return;
        if (child->id == kBlockGroup) {
            const std::string_view group = rest.substr(0, std::min<std::uint64_t>(*child->size, rest.size()));
            // The Block alone: a duration or references may follow it.
            bool referring = false;
            bool more = false;
            children(group, [&](std::uint64_t id, std::string_view) {
                referring = referring || id == kReferenceBlock;
                more = more || (id != kReferenceBlock && id != kBlock);
            });
            if (const auto block = read_element(group, 0);
                block && block->id == kBlock &&
                !note_block(block->whole(group) ? block->body(group) : group.substr(block->content), !referring, more))
                return;
        }
        if (*child->size >= body.size() - child->content) break;
        at = child->content + static_cast<std::size_t>(*child->size);
    }
}

}  // namespace

std::optional<std::vector<std::string_view>> block_frames(std::string_view block) {
    bool ones = false;
    const auto track = read_vint(block, 0, false, 8, ones);
    if (!track || block.size() < track->second + 3) return std::nullopt;
    const std::size_t flags = track->second + 2;
    const int lacing = (byte_at(block, flags) >> 1) & 3;  // none, Xiph, fixed size, EBML
    if (lacing == 0) return std::vector<std::string_view>{block.substr(flags + 1)};
    if (block.size() < flags + 2) return std::nullopt;
    const std::size_t count = static_cast<std::size_t>(byte_at(block, flags + 1)) + 1;
    std::size_t at = flags + 2;
    std::vector<std::size_t> sizes;
    if (lacing == 1) {
        for (std::size_t k = 0; k + 1 < count; ++k) {
            std::size_t size = 0;
            for (;;) {
                if (at >= block.size()) return std::nullopt;
                const std::uint8_t part = byte_at(block, at++);
                size += part;
                if (part != 0xFF) break;
            }
            sizes.push_back(size);
        }
    } else if (lacing == 3) {
        auto first = read_vint(block, at, false, 8, ones);
        if (!first) return std::nullopt;
        at += first->second;
        auto size = static_cast<std::int64_t>(first->first);
        sizes.push_back(static_cast<std::size_t>(size));
        for (std::size_t k = 1; k + 1 < count; ++k) {
            const auto difference = read_vint(block, at, false, 8, ones);
            if (!difference) return std::nullopt;
            at += difference->second;
            // Signed: the raw number less half its range.
            size += static_cast<std::int64_t>(difference->first) - ((std::int64_t{1} << (7 * difference->second - 1)) - 1);
            if (size < 0) return std::nullopt;
            sizes.push_back(static_cast<std::size_t>(size));
        }
    }
    if (at > block.size()) return std::nullopt;
    const std::size_t data = block.size() - at;
    if (lacing == 2) {
        if (data % count != 0) return std::nullopt;
        sizes.assign(count - 1, data / count);
    }
    std::size_t laced = 0;
    for (const auto size : sizes) laced += size;
    if (laced > data) return std::nullopt;
    sizes.push_back(data - laced);
    std::vector<std::string_view> frames;
    for (const auto size : sizes) {
        frames.push_back(block.substr(at, size));
        at += size;
    }
    return frames;
}

namespace {

// The frames of `block` with their times: frames stored together follow the
// first one `frame_seconds` apart. Nothing when the block is damaged, or holds
// several frames and `frame_seconds` is 0.
std::optional<std::vector<FrameView>> timed_frames(const ClusterBlock& block, double frame_seconds) {
    const auto frames = block_frames(block.bytes);
    if (!frames || (frames->size() > 1 && frame_seconds <= 0)) return std::nullopt;
    std::vector<FrameView> timed;
    timed.reserve(frames->size());
    for (std::size_t k = 0; k < frames->size(); ++k)
        timed.push_back({block.seconds + static_cast<double>(k) * frame_seconds, block.keyframe, (*frames)[k]});
    return timed;
}

}  // namespace

std::vector<TrackStart> parse_cluster_starts(std::string_view bytes, std::uint64_t timestamp_scale) {
    std::vector<TrackStart> starts;
    for_each_cluster_block(bytes, timestamp_scale, [&starts](const ClusterBlock& block) {
        const auto known = std::ranges::find(starts, block.track, &TrackStart::number);
        if (known == starts.end()) {
            starts.push_back({block.track, block.seconds, 1});
        } else {
            known->earliest = std::min(known->earliest, block.seconds);
            ++known->blocks;
        }
        return true;
    });
    return starts;
}

std::optional<std::vector<double>> parse_cluster_frame_times(std::string_view bytes, std::uint64_t timestamp_scale,
                                                             std::uint64_t number, std::size_t count,
                                                             double frame_seconds) {
    std::vector<double> times;
    bool readable = true;
    for_each_cluster_block(bytes, timestamp_scale, [&](const ClusterBlock& block) {
        if (block.track != number) return true;
        if (block.frames == 0) return false;
        if (block.frames > 1 && frame_seconds <= 0) {
            readable = false;
            return false;
        }
        for (std::size_t k = 0; k < block.frames && times.size() < count; ++k)
            times.push_back(block.seconds + static_cast<double>(k) * frame_seconds);
        return times.size() < count;
    });
    if (!readable) return std::nullopt;
    return times;
}

Result<MatroskaHead> read_matroska_head(const std::string& path) {
    std::ifstream file(path_from_text(path), std::ios::binary);
    if (!file) return fail("cannot open " + path);
    return read_head(file, path);
}

double duration_ends_at(std::string_view muxing_app, double earliest, double duration) {
    return muxing_app.starts_with("Lavf") ? duration : earliest + duration;
}

Result<FileExtent> read_matroska_extent(const std::string& path, std::uint64_t stream) {
    std::ifstream file(path_from_text(path), std::ios::binary);
    if (!file) return fail("cannot open " + path);
    auto head = read_head(file, path);
    if (!head) return fail(head.error());
    if (!head->duration || !head->firstCluster) return fail("no duration or cluster in " + path);
    if (stream >= head->tracks.size() || head->tracks[stream].type != 1) return fail("no such picture track");
    // Pictures shown before the keyframe (open GOPs) follow it closely in the
    // file: the first pictures of the first cluster hold the earliest time.
    // Where even those do not fit, mkvmerge is asked instead.
    // Eight pictures of a film's scene start can exceed a mebibyte (4K: many).
    constexpr std::size_t kEnough = 8;
    const auto number = head->tracks[stream].number;
    const auto cluster = read_first_cluster(file, *head, [&](const FirstCluster& read) {
        const auto picture = read.track(number);
        return picture != read.starts.end() && picture->blocks >= kEnough;
    });
    if (!cluster) return fail("cannot read " + path);
    const auto picture = cluster->track(number);
    if (picture == cluster->starts.end()) return fail("no picture in the first cluster of " + path);
    if (picture->blocks < kEnough && !cluster->whole) return fail("too few pictures read in " + path);
    double earliest = picture->earliest;
    for (const auto& s : cluster->starts) earliest = std::min(earliest, s.earliest);
    return FileExtent{duration_ends_at(head->muxingApp, earliest, *head->duration), picture->earliest};
}

namespace {

// The head of a file whose track `stream` (ffprobe's number) is read for the
// times ffprobe would give its packets.
Result<MatroskaHead> head_for_times(std::ifstream& file, const std::string& path, std::uint64_t stream) {
    if (!file) return fail("cannot open " + path);
    auto head = read_head(file, path);
    if (!head) return fail(head.error());
    if (!head->firstCluster || stream >= head->tracks.size()) return fail("no such track in " + path);
    // ffmpeg takes a codec delay off the times it reports; the blocks keep it.
    if (head->tracks[stream].codecDelay != 0) return fail("codec delay in " + path);
    return head;
}

}  // namespace

Result<double> read_matroska_first_time(const std::string& path, std::uint64_t stream) {
    std::ifstream file(path_from_text(path), std::ios::binary);
    auto head = head_for_times(file, path, stream);
    if (!head) return fail(head.error());
    const auto number = head->tracks[stream].number;
    const auto cluster = read_first_cluster(file, *head, [&](const FirstCluster& read) {
        return read.track(number) != read.starts.end();
    });
    if (!cluster) return fail("cannot read " + path);
    const auto track = cluster->track(number);
    if (track == cluster->starts.end()) return fail("track not in the first cluster of " + path);
    return track->earliest;
}

namespace {

// The head of a file whose sound track `stream` (ffprobe's number) is read for
// its packets' times, the track's number in the blocks and its frame length
// (0 where the track gives none).
struct SoundHead {
    MatroskaHead head;
    std::uint64_t number = 0;
    double frameSeconds = 0;
};
Result<SoundHead> sound_head(std::ifstream& file, const std::string& path, std::uint64_t stream) {
    auto head = head_for_times(file, path, stream);
    if (!head) return fail(head.error());
    const MatroskaTrack track = head->tracks[stream];
    // A numbering that does not match ffprobe's would name another track.
    if (track.type != 2) return fail("no sound track " + std::to_string(stream) + " in " + path);
    return SoundHead{std::move(*head), track.number, static_cast<double>(track.defaultDuration) / 1e9};
}

}  // namespace

Result<std::vector<double>> read_matroska_packet_times(const std::string& path, std::uint64_t stream,
                                                       std::size_t count) {
    std::ifstream file(path_from_text(path), std::ios::binary);
    const auto sound = sound_head(file, path, stream);
    if (!sound) return fail(sound.error());
    std::optional<std::vector<double>> times;
    const bool read = read_first_cluster_bytes(file, sound->head, [&](std::string_view bytes, bool) {
        times = parse_cluster_frame_times(bytes, sound->head.timestampScale, sound->number, count, sound->frameSeconds);
        return !times || times->size() >= count;
    });
    if (!read) return fail("cannot read " + path);
    if (!times) return fail("frames stored together without a frame length in " + path);
    return std::move(*times);
}

namespace {

// The segment's children from file offset `from` on, passed by their sizes to
// the end of the file: each element with id `wanted` is read whole (up to
// `limit` bytes) and handed to `take`, which returns false when it has had
// enough. The movie is never held at once.
Result<void> each_element(std::ifstream& file, const std::string& path, std::uint64_t from, std::uint64_t wanted,
                          std::size_t limit, const std::function<Result<bool>(std::string_view)>& take) {
    for (std::uint64_t at = from;;) {
        const auto header = read_range(file, at, 12);
        if (!header) return fail("cannot read " + path);
        if (header->empty()) return {};
        const auto element = read_element(*header, 0);
        if (!element || !element->size) return fail("an element of unknown size in " + path);
        if (element->id == wanted) {
            const auto whole = read_element_at(file, at, limit);
            if (!whole) return fail("an unreadable element in " + path);
            auto more = take(*whole);
            if (!more) return fail(more.error());
            if (!*more) return {};
        }
        at += element->content + *element->size;
    }
}

constexpr std::size_t kLargestCluster = std::size_t{64} << 20;

}  // namespace

Result<std::vector<std::string>> read_matroska_track_tags(const std::string& path,
                                                         const std::vector<std::uint64_t>& streams) {
    std::ifstream file(path_from_text(path), std::ios::binary);
    std::vector<std::uint64_t> uids;
    std::optional<MatroskaHead> head;
    // Any track: a codec delay, which matters to times, does not to tags.
    if (!streams.empty()) {
        if (!file) return fail("cannot open " + path);
        auto read = read_head(file, path);
        if (!read) return fail(read.error());
        for (const auto stream : streams) {
            if (stream >= read->tracks.size()) return fail("no such track in " + path);
            uids.push_back(read->tracks[stream].uid);
        }
        head = std::move(*read);
    }
    std::vector<std::string> tags(streams.size());
    if (!head) return tags;
    constexpr std::size_t kLargestTags = std::size_t{16} << 20;
    const auto take = [&](std::string_view whole) -> Result<bool> {
        const auto tags_element = read_element(whole, 0);
        if (!tags_element || !tags_element->whole(whole)) return true;
        const std::string_view body = tags_element->body(whole);
        for (std::size_t pos = 0; pos < body.size();) {
            const auto tag = read_element(body, pos);
            const auto next = tag ? tag->next(body) : std::nullopt;
            if (!next) break;
            // The track the tag names, where it names one alone.
            std::vector<std::uint64_t> targets;
            if (tag->id == kTag) {
                children(tag->body(body), [&](std::uint64_t id, std::string_view value) {
                    if (id != kTargets) return;
                    children(value, [&](std::uint64_t field, std::string_view target) {
                        if (field == kTagTrackUid) targets.push_back(read_uint(target).value_or(0));
                    });
                });
            }
            const bool one = !targets.empty() && std::ranges::count(targets, targets.front()) ==
                                                     static_cast<std::ptrdiff_t>(targets.size());
            const auto track = std::ranges::find(uids, one ? targets.front() : 0);
            if (one && track != uids.end())
                tags[static_cast<std::size_t>(track - uids.begin())].append(body.substr(pos, *next - pos));
            pos = *next;
        }
        return true;
    };
    if (auto read = each_element(file, path, head->segmentData, kTags, kLargestTags, take); !read)
        return fail(read.error());
    return tags;
}

Result<void> read_matroska_sound_frames(const std::string& path, const std::vector<std::uint64_t>& streams,
                                        const std::function<bool(std::size_t, double, std::string_view)>& each) {
    std::ifstream file(path_from_text(path), std::ios::binary);
    std::vector<SoundHead> sounds;
    for (const auto stream : streams) {
        auto sound = sound_head(file, path, stream);
        if (!sound) return fail(sound.error());
        sounds.push_back(std::move(*sound));
    }
    if (sounds.empty()) return {};
    const MatroskaHead& head = sounds.front().head;
    const auto take = [&](std::string_view cluster) -> Result<bool> {
        bool damaged = false;
        bool enough = false;
        for_each_cluster_block(cluster, head.timestampScale, [&](const ClusterBlock& block) {
            const auto sound = std::ranges::find(sounds, block.track, &SoundHead::number);
            if (sound == sounds.end()) return true;
            const auto frames = timed_frames(block, sound->frameSeconds);
            if (!frames) {
                damaged = true;
                return false;
            }
            for (std::size_t k = 0; k < frames->size() && !enough; ++k)
                enough = !each(static_cast<std::size_t>(sound - sounds.begin()), (*frames)[k].seconds, (*frames)[k].bytes);
            return !enough;
        });
        if (damaged) return fail("a damaged sound block in " + path);
        return !enough;
    };
    return each_element(file, path, *head.firstCluster, kCluster, kLargestCluster, take);
}

std::vector<std::pair<std::uint64_t, std::string_view>> matroska_children(std::string_view body) {
    std::vector<std::pair<std::uint64_t, std::string_view>> found;
    children(body, [&](std::uint64_t id, std::string_view value) { found.emplace_back(id, value); });
    return found;
}

Result<MatroskaExtras> read_matroska_extras(const std::string& path) {
    std::ifstream file(path_from_text(path), std::ios::binary);
    if (!file) return fail("cannot open " + path);
    auto head = read_head(file, path);
    if (!head) return fail(head.error());
    const std::uint64_t size = file_size(file);
    MatroskaExtras extras;
    // Fonts and cover art are the largest of them.
    constexpr std::size_t kLargest = std::size_t{256} << 20;
    for (std::uint64_t at = head->segmentData;;) {
        const auto element = child_at(file, path, at, size);
        if (!element) return fail(element.error());
        if (!*element) break;
        const std::uint64_t id = (*element)->id;
        if (id == kChapters || id == kAttachments || id == kTags) {
            const auto whole = read_element_at(file, at, kLargest);
            if (!whole) return fail("an unreadable element in " + path);
            const std::string_view body = read_element(*whole, 0)->body(*whole);
            if (id == kChapters) extras.chapters += body;
            if (id == kAttachments) extras.attachments += body;
            if (id == kTags) {
                for (std::size_t pos = 0; pos < body.size();) {
                    const auto tag = read_element(body, pos);
                    const auto next = tag ? tag->next(body) : std::nullopt;
                    if (!next) break;
                    // What the tag names: a track, chapters or attachments, or nothing (the movie).
                    bool track = tag->id != kTag;
                    bool chapters = false;
                    bool attachments = false;
                    children(tag->body(body), [&](std::uint64_t field, std::string_view targets) {
                        if (field != kTargets) return;
                        children(targets, [&](std::uint64_t target, std::string_view value) {
                            if (read_uint(value).value_or(0) == 0) return;
                            track = track || target == kTagTrackUid;
                            chapters = chapters || target == kTagEditionUid || target == kTagChapterUid;
                            attachments = attachments || target == kTagAttachmentUid;
                        });
                    });
                    const std::string_view whole_tag = body.substr(pos, *next - pos);
                    if (!track && chapters) extras.chapterTags += whole_tag;
                    else if (!track && attachments) extras.attachmentTags += whole_tag;
                    else if (!track) extras.globalTags += whole_tag;
                    pos = *next;
                }
            }
        }
        at += (*element)->content + *(*element)->size;
    }
    return extras;
}

Result<MatroskaFrameReader> MatroskaFrameReader::open(const std::string& path, std::uint64_t stream) {
    MatroskaFrameReader reader;
    reader.path_ = path;
    reader.file_ = std::make_unique<std::ifstream>(path_from_text(path), std::ios::binary);
    if (!*reader.file_) return fail("cannot open " + path);
    auto head = read_head(*reader.file_, path);
    if (!head) return fail(head.error());
    if (!head->firstCluster || stream >= head->tracks.size()) return fail("no such track in " + path);
    reader.head_ = std::move(*head);
    reader.track_ = reader.head_.tracks[stream];
    reader.at_ = *reader.head_.firstCluster;
    reader.size_ = file_size(*reader.file_);
    return reader;
}

Result<std::optional<FrameView>> MatroskaFrameReader::next() {
    while (next_ == frames_.size()) {
        auto more = read_cluster();
        if (!more) return fail(more.error());
        if (!*more) return std::optional<FrameView>{};
    }
    return std::optional<FrameView>{frames_[next_++]};
}

// The next cluster that holds frames of the track; false at the end of the file.
Result<bool> MatroskaFrameReader::read_cluster() {
    frames_.clear();
    next_ = 0;
    const double frame_seconds = static_cast<double>(track_.defaultDuration) / 1e9;
    while (frames_.empty()) {
        const auto element = child_at(*file_, path_, at_, size_);
        if (!element) return fail(element.error());
        if (!*element) return false;
        const std::uint64_t length = (*element)->content + *(*element)->size;
        if ((*element)->id != kCluster) {
            at_ += length;
            continue;
        }
        if (length > kLargestCluster) return fail("a cluster too large in " + path_);
        if (!read_range_into(*file_, at_, static_cast<std::size_t>(length), cluster_) || cluster_.size() < length)
            return fail("a cluster cut short in " + path_);
        at_ += length;
        std::string problem;
        for_each_cluster_block(cluster_, head_.timestampScale, [&](const ClusterBlock& block) {
            if (block.track != track_.number) return true;
            const auto frames = timed_frames(block, frame_seconds);
            if (!frames || block.more) {
                problem = "a damaged block, frames stored together without a length, or a block with a duration or "
                          "additions in " + path_;
                return false;
            }
            frames_.insert(frames_.end(), frames->begin(), frames->end());
            return true;
        });
        if (!problem.empty()) return fail(problem);
    }
    return true;
}

Result<std::vector<double>> read_matroska_track_times(const std::string& path, std::uint64_t stream) {
    std::vector<double> times;
    auto read = read_matroska_sound_frames(path, {stream}, [&times](std::size_t, double t, std::string_view) {
        times.push_back(t);
        return true;
    });
    if (!read) return fail(read.error());
    return times;
}

namespace {

// Every frame of the cued picture track from the cluster of its last cue at or
// before `from` on, as read_matroska_picture_frames gives them.
Result<void> each_picture(std::ifstream& file, const std::string& path, const CuedTrack& cued, std::uint64_t number,
                          double from, const std::function<bool(const FrameView&)>& each) {
    // A file may start after its first cue's time.
    auto cue = std::ranges::find_if(cued.points, [from](const CuePoint& p) { return p.seconds > from + kListedTimeTolerance; });
    if (cue != cued.points.begin()) --cue;
    if (!cue->cluster) return fail(fmt::format("no cluster cued at {:.3f} s in {}", cue->seconds, path));
    std::string problem;
    bool enough = false;
    const auto take = [&](std::string_view cluster) -> Result<bool> {
        for_each_cluster_block(cluster, cued.head.timestampScale, [&](const ClusterBlock& block) {
            if (block.track != number) return true;
            const auto frames = timed_frames(block, 0);
            if (!frames || frames->size() != 1 || block.more) {
                problem = "a laced or damaged picture block, or one with a duration or additions, in " + path;
                return false;
            }
            enough = !each(frames->front());
            return !enough;
        });
        if (!problem.empty()) return fail(problem);
        return !enough;
    };
    return each_element(file, path, cued.head.segmentData + *cue->cluster, kCluster, kLargestCluster, take);
}

}  // namespace

Result<MatroskaTrack> read_matroska_picture_frames(const std::string& path, std::uint64_t stream, double from,
                                                   const std::function<bool(const FrameView&)>& each) {
    std::ifstream file(path_from_text(path), std::ios::binary);
    auto cued = read_cues(file, path, stream);
    if (!cued) return fail(cued.error());
    const MatroskaTrack& track = cued->head.tracks[stream];
    if (auto r = each_picture(file, path, *cued, track.number, from, each); !r) return fail(r.error());
    return track;
}

Result<std::vector<double>> read_matroska_times_before(const std::string& path, std::uint64_t stream,
                                                      const std::vector<double>& keyframes, double window) {
    std::ifstream file(path_from_text(path), std::ios::binary);
    auto cued = read_cues(file, path, stream);
    if (!cued) return fail(cued.error());
    std::vector<double> times;
    for (const double keyframe : keyframes) {
        const double from = keyframe - window;
        bool reached = false;
        auto read = each_picture(file, path, *cued, cued->head.tracks[stream].number, from, [&](const FrameView& frame) {
            reached = frame.keyframe && frame.seconds >= keyframe - kListedTimeTolerance;
            if (!reached && frame.seconds >= from - kListedTimeTolerance && frame.seconds < keyframe - kListedTimeTolerance)
                times.push_back(frame.seconds);
            return !reached;
        });
        if (!read) return fail(read.error());
        if (!reached) return fail(fmt::format("no keyframe at {:.3f} s in {}", keyframe, path));
    }
    std::ranges::sort(times);
    const auto repeats = std::ranges::unique(times);
    times.erase(repeats.begin(), repeats.end());
    return times;
}

Result<StoredPictures> read_matroska_pictures(const std::string& path, std::uint64_t stream, double keyframe,
                                              std::size_t count) {
    StoredPictures read;
    std::string problem;
    auto track = read_matroska_picture_frames(path, stream, keyframe, [&](const FrameView& frame) {
        // The cue's cluster may begin before the keyframe.
        if (read.frames.empty() && frame.seconds < keyframe - kListedTimeTolerance) return true;
        if (read.frames.empty() && (!frame.keyframe || frame.seconds > keyframe + kListedTimeTolerance)) {
            problem = fmt::format("no keyframe at {:.3f} s in {}", keyframe, path);
            return false;
        }
        read.frames.push_back({frame.seconds, frame.keyframe, std::string(frame.bytes)});
        return read.frames.size() < count;
    });
    if (!track) return fail(track.error());
    if (!problem.empty()) return fail(problem);
    if (read.frames.size() < count) return fail(fmt::format("fewer pictures than listed after {:.3f} s in {}", keyframe, path));
    read.track = std::move(*track);
    return read;
}

}  // namespace reel
