#pragma once
// Keyframe positions, frame counts and durations: one short tool query each.
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <string_view>
#include <vector>

#include "tools/toolset.h"
#include "util/result.h"

namespace reel {

// "lo%hi" with three decimals each.
std::string keyframe_interval_text(double lo, double hi);
std::vector<std::string> keyframe_query_arguments(const std::string& path, double lo, double hi);
// The same listing over several windows in one run.
std::vector<std::string> keyframe_query_arguments(const std::string& path,
                                                  const std::vector<std::pair<double, double>>& windows);
// Keyframe times of a packet listing ("pts,dts,flags" lines) within lo..hi
// (0.5 ms tolerance), sorted, without repeats.
std::vector<double> parse_keyframe_listing(std::string_view listing, double lo, double hi);
// The nearest of sorted times to `target`; ties go to the earlier one.
double nearest_time(const std::vector<double>& sorted_times, double target);

Result<double> find_keyframe_near(const ToolSet& tools, const std::string& path, double target, double limit);

// The windows find_keyframe_near queries for `target`, in order (empty ones
// left out); none when the target is at the very start.
std::vector<std::pair<double, double>> keyframe_search_windows(double target, double limit);

// True for targets answered with 0 without any query.
bool keyframe_at_start(double target);
std::string no_keyframe_message(double target);

// Many lookups on one file: one listing of all its keyframes answers them all,
// where each lookup would otherwise start ffprobe again. Worth it once the
// lookups' first windows together would read at least the whole file.
bool whole_listing_pays_off(std::size_t lookups, double duration);
std::vector<std::string> keyframe_listing_arguments(const std::string& path);
// Sorted keyframe times of the whole file.
Result<std::vector<double>> list_keyframes(const ToolSet& tools, const std::string& path);
// find_keyframe_near answered from such a listing: the same windows, the same
// choice and the same failure message.
Result<double> keyframe_near_in(const std::vector<double>& keyframes, double target, double limit);

// Listed times are whole milliseconds, printed rounded: times within half of
// one name the same picture.
constexpr double kListedTimeTolerance = 0.0005;

// Every picture of a file, for cutting on exact frames. Read from the same
// listing as list_keyframes (packets in decode order).
struct IndexedKeyframe {
    double time = 0;
    // The earliest picture that comes after the keyframe in decode order but is
    // shown before it (an open GOP's leading pictures); `time` when there is none.
    // Such pictures belong to the part of the file before the keyframe.
    double leadingFrom = 0;
    std::size_t decodePosition = 0;  // its place in FrameIndex::decodeOrder
};
struct FrameIndex {
    std::vector<double> times;  // every picture's time, sorted
    std::vector<IndexedKeyframe> keyframes;  // sorted by time
    std::vector<double> decodeOrder;  // every packet's time, as the file stores them
    // False where some packet was listed by its decode time alone (a second
    // field, say): where it is shown is not known.
    bool everyPacketShown = true;
};
FrameIndex parse_frame_index(std::string_view listing);
// Only the pictures in `windows` ("lo%hi" intervals, sorted, apart) where
// there are any: a cut needs those near it, not a listing of the whole movie.
Result<FrameIndex> index_frames(const ToolSet& tools, const std::string& path,
                                const std::vector<std::pair<double, double>>& windows = {});
// The pictures whose time lies in [start, end) (times on the millisecond grid
// of the listing: a picture on `end` is not counted, one on `start` is).
std::int64_t frames_between(const FrameIndex& index, double start, double end);
// The first picture at or after `start`; absent when there is none.
std::optional<double> first_frame_from(const FrameIndex& index, double start);

// The start of the keyframe's group of pictures that can be copied as stored
// for a cut at `end`: the longest run of its packets from the keyframe on, in
// decode order, that holds every picture from the group's first (the
// keyframe's leading pictures where it has any) up to some time and none at or
// after `end`. A picture refers only to pictures decoded before it, so such a
// run decodes by itself where what comes before the keyframe in the file comes
// before it (leading pictures refer to the group before). `until` is where the
// run's pictures end: the first picture left out, or `end`. Absent where a
// packet's shown time is not known, or where no such run lies before `end`.
struct CopyableHead {
    double until = 0;
    std::int64_t packets = 0;
};
std::optional<CopyableHead> copyable_head(const FrameIndex& index, const IndexedKeyframe& keyframe, double end);

std::vector<std::string> frame_count_arguments(const std::string& path);
// Reads ffprobe's packet count output ("1234,\n"); fails with the count message.
Result<std::int64_t> parse_frame_count(std::string_view output, const std::string& path);
Result<std::int64_t> count_video_frames(const ToolSet& tools, const std::string& path);

// Seconds from mkvmerge's "-J" identification.
Result<double> parse_mkvmerge_duration(std::string_view json_text);
Result<double> mkvmerge_duration(const ToolSet& tools, const std::string& path);

// Where a file's picture starts and where the file ends (the end of its latest
// track), in the file's own seconds, from mkvmerge's identification: what
// mkvmerge goes by when it appends the next file.
struct FileExtent {
    double end = 0;
    double firstVideo = 0;
};
Result<FileExtent> parse_mkvmerge_extent(std::string_view json_text);
Result<FileExtent> mkvmerge_extent(const ToolSet& tools, const std::string& path);

// The codec delay (seconds) of track `id` from mkvmerge's identification: Opus
// stores one, and ffmpeg reads the track's times with it taken off; 0 when
// there is none.
double parse_mkvmerge_codec_delay(std::string_view json_text, std::uint64_t id);

// mkvmerge's "-J" identification of a file, as JSON text.
Result<std::string> mkvmerge_identify(const ToolSet& tools, const std::string& path);

}  // namespace reel
