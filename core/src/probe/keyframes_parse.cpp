// Pure parts of the keyframe, frame-count and duration queries.
#include <algorithm>
#include <cmath>
#include <limits>

#include <fmt/format.h>

#include "edits/time.h"
#include "probe/json_members.h"
#include "probe/keyframes.h"
#include "probe/matroska.h"
#include "util/files.h"
#include "util/numbers.h"
#include "util/text.h"

namespace reel {

namespace {
// A target this close to the start is answered with the start itself.
constexpr double kStartThreshold = 0.05;
// Windows of growing size around the target: most movies have a keyframe
// every few seconds, so the first, cheap query nearly always suffices.
constexpr double kSearchRadii[] = {15, 60, 300};
}  // namespace

bool keyframe_at_start(double target) { return target <= kStartThreshold; }

std::vector<std::pair<double, double>> keyframe_search_windows(double target, double limit) {
    std::vector<std::pair<double, double>> windows;
    if (keyframe_at_start(target)) return windows;
    for (double radius : kSearchRadii) {
        const double hi = std::isnan(limit) ? target + radius : std::min(target + radius, limit);
        const double lo = std::max(target - radius, 0.0);
        if (lo < hi) windows.emplace_back(lo, hi);
    }
    return windows;
}

bool whole_listing_pays_off(std::size_t lookups, double duration) {
    return static_cast<double>(lookups) * 2 * kSearchRadii[0] >= duration;
}

std::vector<std::string> keyframe_listing_arguments(const std::string& path) {
    return {"-v", "error", "-select_streams", "v:0", "-show_entries", "packet=pts_time,dts_time,flags",
            "-of", "csv=p=0", tool_path_argument(path)};
}

Result<double> keyframe_near_in(const std::vector<double>& keyframes, double target, double limit) {
    if (keyframe_at_start(target)) return 0.0;
    for (const auto& [lo, hi] : keyframe_search_windows(target, limit)) {
        const auto first = std::lower_bound(keyframes.begin(), keyframes.end(), lo - kListedTimeTolerance);
        const auto last = std::upper_bound(keyframes.begin(), keyframes.end(), hi + kListedTimeTolerance);
        if (first != last) return nearest_time(std::vector<double>(first, last), target);
    }
    return fail(no_keyframe_message(target));
}

std::string no_keyframe_message(double target) { return fmt::format("No keyframe found near {:.2f}s", target); }

std::string keyframe_interval_text(double lo, double hi) { return fmt::format("{:.3f}%{:.3f}", lo, hi); }

std::vector<std::string> keyframe_query_arguments(const std::string& path, double lo, double hi) {
    return keyframe_query_arguments(path, {{lo, hi}});
}

std::vector<std::string> keyframe_query_arguments(const std::string& path,
                                                  const std::vector<std::pair<double, double>>& windows) {
    std::vector<std::string> intervals;
    for (const auto& [lo, hi] : windows) intervals.push_back(keyframe_interval_text(lo, hi));
    return {"-v",
            "error",
            "-select_streams",
            "v:0",
            "-show_entries",
            "packet=pts_time,dts_time,flags",
            "-read_intervals",
            fmt::format("{}", fmt::join(intervals, ",")),
            "-of",
            "csv=p=0",
            tool_path_argument(path)};
}

std::vector<double> parse_keyframe_listing(std::string_view listing, double lo, double hi) {
    std::vector<double> times;
    for (const std::string& line : split(listing, '\n')) {
        const auto fields = split(line, ',');
        if (fields.size() < 3) continue;
        if (!contains(fields[2], "K")) continue;
        auto time = read_number(fields[0]);
        if (!time) time = read_number(fields[1]);
        if (!time) continue;
        if (*time >= lo - kListedTimeTolerance && *time <= hi + kListedTimeTolerance) times.push_back(*time);
    }
    std::sort(times.begin(), times.end());
    times.erase(std::unique(times.begin(), times.end()), times.end());
    return times;
}

FrameIndex parse_frame_index(std::string_view listing) {
    FrameIndex index;
    // Keyframes in decode order, each with the pictures seen after it so far.
    std::vector<IndexedKeyframe> in_order;
    for (const std::string& line : split(listing, '\n')) {
        const auto fields = split(line, ',');
        if (fields.size() < 3) continue;
        auto time = read_number(fields[0]);
        if (!time) {
            time = read_number(fields[1]);
            index.everyPacketShown = false;
        }
        if (!time) continue;
        index.times.push_back(*time);
        index.decodeOrder.push_back(*time);
        if (contains(fields[2], "K")) {
            in_order.push_back({*time, *time, index.decodeOrder.size() - 1});
        } else if (!in_order.empty() && *time < in_order.back().time) {
            // Only the latest keyframe can lead: a picture shown before an
            // earlier keyframe would come before that one in decode order too.
            in_order.back().leadingFrom = std::min(in_order.back().leadingFrom, *time);
        }
    }
    std::sort(index.times.begin(), index.times.end());
    index.times.erase(std::unique(index.times.begin(), index.times.end()), index.times.end());
    std::sort(in_order.begin(), in_order.end(),
              [](const IndexedKeyframe& a, const IndexedKeyframe& b) { return a.time < b.time; });
    index.keyframes = std::move(in_order);
    return index;
}

std::int64_t frames_between(const FrameIndex& index, double start, double end) {
    const auto first = std::lower_bound(index.times.begin(), index.times.end(), start - kListedTimeTolerance);
    const auto last = std::lower_bound(index.times.begin(), index.times.end(), end - kListedTimeTolerance);
    return last > first ? last - first : 0;
}

std::optional<double> first_frame_from(const FrameIndex& index, double start) {
    const auto first = std::lower_bound(index.times.begin(), index.times.end(), start - kListedTimeTolerance);
    if (first == index.times.end()) return std::nullopt;
    return *first;
}

std::optional<CopyableHead> copyable_head(const FrameIndex& index, const IndexedKeyframe& keyframe, double end) {
    const auto& order = index.decodeOrder;
    if (!index.everyPacketShown || keyframe.decodePosition >= order.size()) return std::nullopt;
    // The run ends before the next keyframe; what may still be shown before
    // its pictures comes up to the keyframe after that (leading pictures).
    const auto later = std::ranges::find_if(index.keyframes, [&](const IndexedKeyframe& k) {
        return k.decodePosition > keyframe.decodePosition;
    });
    const std::size_t group_end = later == index.keyframes.end() ? order.size() : later->decodePosition;
    const auto after = later == index.keyframes.end() ? later : std::next(later);
    const std::size_t seen_end = after == index.keyframes.end() ? order.size() : after->decodePosition;
    // The earliest picture from each packet on.
    std::vector<double> earliest_from(seen_end - keyframe.decodePosition + 1, std::numeric_limits<double>::infinity());
    for (std::size_t i = seen_end; i-- > keyframe.decodePosition;)
        earliest_from[i - keyframe.decodePosition] = std::min(order[i], earliest_from[i + 1 - keyframe.decodePosition]);

    std::optional<CopyableHead> head;
    double latest = -std::numeric_limits<double>::infinity();
    for (std::size_t i = keyframe.decodePosition; i < group_end; ++i) {
        latest = std::max(latest, order[i]);
        if (latest >= end - kListedTimeTolerance) break;
        const double next = earliest_from[i + 1 - keyframe.decodePosition];
        if (latest < next - kListedTimeTolerance)
            head = CopyableHead{std::min(next, end), static_cast<std::int64_t>(i + 1 - keyframe.decodePosition)};
    }
    return head;
}

double nearest_time(const std::vector<double>& sorted_times, double target) {
    double best = sorted_times.front();
    for (double time : sorted_times)
        // Strictly nearer only: on a tie the earlier time, seen first, stays.
        if (std::abs(time - target) < std::abs(best - target)) best = time;
    return best;
}

std::vector<std::string> frame_count_arguments(const std::string& path) {
    return {"-v",          "error", "-select_streams", "v:0",     "-count_packets", "-show_entries",
            "stream=nb_read_packets", "-of",  "csv=p=0", tool_path_argument(path)};
}

Result<std::int64_t> parse_frame_count(std::string_view output, const std::string& path) {
    std::string_view text = trim(output);
    while (!text.empty() && text.back() == ',') text.remove_suffix(1);
    if (const auto count = parse_int64(text)) return *count;
    return fail(fmt::format("could not count frames in {}", path));
}

Result<double> parse_mkvmerge_duration(std::string_view json_text) {
    auto report = parse_json_document(json_text);
    if (!report) return fail(report.error());
    const nlohmann::json& root = *report;
    const auto missing = [] { return fail("mkvmerge did not report a duration"); };
    if (!root.is_object() || !root.contains("container")) return missing();
    const auto& container = root["container"];
    if (!container.is_object() || !container.contains("properties")) return missing();
    const auto& properties = container["properties"];
    if (!properties.is_object() || !properties.contains("duration")) return missing();
    const auto& duration = properties["duration"];
    if (!duration.is_number()) return missing();
    return duration.get<double>() / 1e9;
}

Result<FileExtent> parse_mkvmerge_extent(std::string_view json_text) {
    auto duration = parse_mkvmerge_duration(json_text);
    if (!duration) return fail(duration.error());
    // Already parsed once above; the document is valid JSON here.
    const nlohmann::json root = *parse_json_document(json_text);
    std::optional<double> earliest;
    std::optional<double> first_video;
    if (root.contains("tracks") && root["tracks"].is_array()) {
        for (const auto& track : root["tracks"]) {
            if (!track.is_object() || !track.contains("properties") || !track["properties"].is_object()) continue;
            const auto first = integer_member(track["properties"], "minimum_timestamp");
            if (!first) continue;
            const double seconds = static_cast<double>(*first) / 1e9;
            if (!earliest || seconds < *earliest) earliest = seconds;
            if (!first_video && track.value("type", "") == "video") first_video = seconds;
        }
    }
    std::string muxing_app;
    if (root.contains("container") && root["container"].is_object() && root["container"].contains("properties"))
        muxing_app = text_member(root["container"]["properties"], "muxing_application").value_or("");
    return FileExtent{duration_ends_at(muxing_app, earliest.value_or(0), *duration), first_video.value_or(0)};
}

double parse_mkvmerge_codec_delay(std::string_view json_text, std::uint64_t id) {
    auto report = parse_json_document(json_text);
    if (!report || !report->is_object() || !report->contains("tracks") || !(*report)["tracks"].is_array()) return 0;
    for (const auto& track : (*report)["tracks"]) {
        if (!track.is_object() || integer_member(track, "id") != static_cast<std::int64_t>(id)) continue;
        if (!track.contains("properties")) return 0;
        const auto delay = integer_member(track["properties"], "codec_delay");
        return delay && *delay > 0 ? static_cast<double>(*delay) / 1e9 : 0;
    }
    return 0;
}

}  // namespace reel
