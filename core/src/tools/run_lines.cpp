// The pure half of running tools: command-line rendering, the tools' progress
// lines, output splitting and the standard-error tails of failure messages.
#include <cmath>

#include "tools/lines.h"
#include "tools/run.h"
#include "util/numbers.h"
#include "util/text.h"

namespace reel {

void RunContext::emit(const ProgressEvent& event) const {
    if (sink.progress) sink.progress(event);
}

void RunContext::log(const std::string& line) const {
    if (sink.log) sink.log(line);
}

std::vector<std::int64_t> accepted_exit_codes(ToolKind kind) {
    // mkvmerge exits with 1 when it finished but had warnings to report.
    if (kind == ToolKind::Mkvmerge) return {1};
    return {};
}

std::vector<std::string> ffmpeg_prefix(FfmpegRun run) {
    std::vector<std::string> args{"-hide_banner", "-loglevel", "error"};
    if (run != FfmpegRun::Captured) args.emplace_back("-y");
    if (run == FfmpegRun::Progress) args.insert(args.end(), {"-progress", "pipe:1", "-nostats"});
    return args;
}

std::string format_command_line(const std::vector<std::string>& args) {
    std::string line;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (i > 0) line += ' ';
        // Blanks and Windows paths ("C:\...") are quoted so that the logged line
        // can be pasted into a shell; "pipe:1" and the like stay bare.
        const bool quote = contains(arg, " ") || (contains(arg, ":") && contains(arg, "\\"));
        if (quote) {
            line += '"';
            line += arg;
            line += '"';
        } else {
            line += arg;
        }
    }
    return line;
}

bool handle_ffmpeg_line(const RunContext& ctx, const std::string& line, std::optional<std::int64_t> expected_frames,
                        const ToolProgress& progress) {
    static constexpr std::string_view frame_key = "frame=";
    if (starts_with(line, frame_key)) {
        const auto frames = parse_int64(trim(std::string_view(line).substr(frame_key.size())));
        if (!frames || !expected_frames || *expected_frames <= 0 || !progress) return false;
        progress(static_cast<double>(*frames) / static_cast<double>(*expected_frames));
        return false;
    }
    // The remaining keys of ffmpeg's "-progress" output.
    static constexpr std::string_view progress_keys[] = {"out_time", "bitrate", "total_size", "speed",   "fps",
                                                         "stream_",  "dup_",    "drop_",      "progress"};
    for (const auto key : progress_keys)
        if (starts_with(line, key)) return false;
    ctx.log(line);
    return true;
}

bool handle_mkvmerge_line(const RunContext& ctx, const std::string& line, const ToolProgress& progress) {
    static constexpr std::string_view progress_key = "Progress: ";
    if (starts_with(line, progress_key)) {
        std::string_view rest = std::string_view(line).substr(progress_key.size());
        while (!rest.empty() && rest.back() == '%') rest.remove_suffix(1);
        const auto value = read_number(trim(rest));
        // Infinities and NaN are not progress.
        if (!value || !std::isfinite(*value) || !progress) return false;
        progress(*value / 100.0);
        return false;
    }
    // Appending pieces whose encoder settings differ slightly makes mkvmerge warn
    // about the codec private data on every join; cards are built to be
    // compatible, so that warning is noise.
    if ((contains(line, "Error") || contains(line, "Warning")) &&
        !contains(line, "codec's private data does not match")) {
        ctx.log(line);
        return true;
    }
    return false;
}

std::string capture_tail(std::string_view stderr_text, std::size_t count) {
    const std::string text = utf8_lossy(stderr_text);
    std::vector<std::string> lines;
    for (const std::string_view line : split_lines(text)) lines.emplace_back(line);
    return join_last_lines(lines, count);
}

std::string failure_tail(std::string_view stdout_text, std::string_view stderr_text, std::size_t count) {
    return trim(stderr_text).empty() ? capture_tail(stdout_text, count) : capture_tail(stderr_text, count);
}

std::string join_last_lines(const std::vector<std::string>& lines, std::size_t count) {
    const std::size_t first = lines.size() > count ? lines.size() - count : 0;
    std::string joined;
    for (std::size_t i = first; i < lines.size(); ++i) {
        if (i > first) joined += '\n';
        joined += lines[i];
    }
    return joined;
}

void LineSplitter::feed(std::string_view bytes, const LineHandler& on_line) {
    std::size_t pos = 0;
    if (after_cr_ && !bytes.empty() && bytes.front() == '\n') pos = 1;
    if (!bytes.empty()) after_cr_ = false;
    while (pos < bytes.size()) {
        std::size_t end = bytes.find_first_of("\r\n", pos);
        if (end == std::string_view::npos) {
            partial_.append(bytes.substr(pos));
            return;
        }
        partial_.append(bytes.substr(pos, end - pos));
        on_line(partial_);
        partial_.clear();
        if (bytes[end] == '\r') {
            if (end + 1 == bytes.size())
                after_cr_ = true;
            else if (bytes[end + 1] == '\n')
                ++end;
        }
        pos = end + 1;
    }
}

void LineSplitter::finish(const LineHandler& on_line) {
    if (!partial_.empty()) on_line(partial_);
    partial_.clear();
    after_cr_ = false;
}

void for_each_stderr_line(std::string_view stderr_bytes, const LineHandler& on_line) {
    const std::string text = utf8_lossy(stderr_bytes);
    std::size_t pos = 0;
    while (pos <= text.size()) {
        std::size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string::npos) end = text.size();
        const std::string_view line = trim(std::string_view(text).substr(pos, end - pos));
        if (!line.empty()) on_line(line);
        pos = end + 1;
    }
}

}  // namespace reel
