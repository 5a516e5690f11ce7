// Running the tools: captured runs and progress runs over the process seam.
#include <algorithm>
#include <chrono>
#include <deque>
#include <filesystem>
#include <system_error>
#include <utility>

#include <fmt/format.h>

#include "tools/lines.h"
#include "tools/process.h"
#include "tools/run.h"
#include "util/files.h"
#include "util/text.h"

namespace reel {
namespace {

// "ffprobe" of "/usr/bin/ffprobe"; empty when the path ends in a separator.
std::string file_name_of(const std::string& program) {
    return path_text(path_from_text(program).filename());
}

std::string could_not_start(const std::string& program, const std::string& reason) {
    return fmt::format("could not start {}: {}", program, reason);
}

bool exited_cleanly(const ExitStatus& status, const std::vector<std::int64_t>& accepted) {
    if (status.signaled) return false;
    return status.code == 0 || std::ranges::find(accepted, status.code) != accepted.end();
}

// Lines of the tool's own output that a failure message ends with.
constexpr std::size_t kCaptureTailLines = 12;
constexpr std::size_t kProgressTailLines = 15;

struct Captured {
    std::string out;
    std::string err;
    ExitStatus status;
};

// Reads both pipes to their ends, then reaps the child. Every failure is worded
// as a failure to start, as the captured runs report it.
Result<Captured> capture(const std::string& program, const std::vector<std::string>& args) {
    auto child = start_child(program, args);
    if (!child) return fail(could_not_start(program, child.error()));
    Captured captured;
    const auto on_out = [&](std::string_view bytes) { captured.out.append(bytes); };
    const auto on_err = [&](std::string_view bytes) { captured.err.append(bytes); };
    for (;;) {
        // On failure the child is killed and reaped when `child` goes away.
        const auto more = (*child)->pump(on_out, on_err);
        if (!more) return fail(could_not_start(program, more.error()));
        if (!*more) break;
    }
    const auto status = (*child)->wait();
    if (!status) return fail(could_not_start(program, status.error()));
    captured.status = *status;
    return captured;
}

// Steps shared by run_ffmpeg and run_mkvmerge once the cancellation check and
// the program path are settled.
Result<void> run_with_progress(RunContext& ctx, const std::string& program, std::string_view tool_word,
                               const std::vector<std::string>& args,
                               const std::function<bool(const std::string&)>& handle_line,
                               const std::vector<std::int64_t>& accepted) {
    ctx.log(fmt::format("> {} {}", tool_word, format_command_line(args)));

    auto started = start_child(program, args);
    if (!started) return fail(could_not_start(program, started.error()));
    ChildProcess& child = **started;
    if (ctx.current_child) ctx.current_child->store(child.pid());
    // A cancellation that came between the check before the start and the slot
    // being filled found no child to stop; stop it here instead.
    if (is_cancelled(ctx)) child.kill();

    // The failure message ends with the tool's own last lines, from whichever
    // stream carried them: mkvmerge writes its errors on standard output.
    std::deque<std::string> tail;
    const auto keep = [&tail](std::string line) {
        tail.push_back(std::move(line));
        if (tail.size() > kProgressTailLines) tail.pop_front();
    };

    // Standard output is handled line by line as it arrives; standard error is
    // only kept. A line that is not UTF-8 ends the line handling, but both pipes
    // are still drained so that the child can never block on a full pipe.
    bool handling_lines = true;
    const LineHandler on_line = [&](std::string_view line) {
        if (!handling_lines) return;
        if (!is_valid_utf8(line)) {
            handling_lines = false;
            return;
        }
        std::string text(line);
        if (handle_line(text)) keep(std::move(text));
    };
    LineSplitter splitter;
    std::string err;
    const auto on_out = [&](std::string_view bytes) {
        if (handling_lines) splitter.feed(bytes, on_line);
    };
    const auto on_err = [&](std::string_view bytes) { err.append(bytes); };
    for (;;) {
        const auto more = child.pump(on_out, on_err);
        // A read error closes the failing pipe; the other is still drained. Which
        // one failed is not told, so the line handling stops either way.
        if (!more) {
            handling_lines = false;
            continue;
        }
        if (!*more) break;
    }
    if (handling_lines) splitter.finish(on_line);

    const auto status = child.wait();
    // Once reaped, the id may be handed to an unrelated process: never leave it
    // in the slot, whatever the verdict.
    if (ctx.current_child) ctx.current_child->store(0);
    if (!status) return fail(status.error());

    // Error lines reach the log once the child has ended; every one of them
    // belongs to the tail, logged or not.
    for_each_stderr_line(err, [&](std::string_view line) {
        std::string text(line);
        handle_line(text);
        keep(std::move(text));
    });

    // A cancelled run reports the cancellation, not the exit status of the child
    // that was stopped because of it.
    if (is_cancelled(ctx)) return fail("Cancelled");
    if (exited_cleanly(*status, accepted)) return {};
    return fail(fmt::format("{} exited with {}\n{}", file_name_of(program), exit_status_text(*status),
                            join_last_lines(std::vector<std::string>(tail.begin(), tail.end()), kProgressTailLines)));
}

}  // namespace

bool is_cancelled(const RunContext& ctx) { return ctx.cancelled && ctx.cancelled->load(); }

BackgroundRun::BackgroundRun(RunContext& ctx, Work work) : ctx_(ctx), own_(ctx) {
    own_.cancelled = std::make_shared<std::atomic<bool>>(false);
    own_.current_child = std::make_shared<std::atomic<std::uint32_t>>(0);
    own_.sink.progress = [](const ProgressEvent&) {};
    own_.sink.log = [lock = lock_, lines = lines_](const std::string& line) {
        const std::lock_guard guard(*lock);
        lines->push_back(line);
    };
    try {
        // Copied, not moved: the work must still be there if no thread starts.
        done_ = std::async(std::launch::async, [this, work] { return work(own_); });
    } catch (const std::system_error&) {
        // No thread to be had: the work runs now, before the run goes on.
        ranInline_ = work(own_);
    }
}

BackgroundRun::~BackgroundRun() {
    if (done_.valid()) {
        stop();
        done_.wait();
    }
    replay_log();
}

void BackgroundRun::stop() {
    // The flag first: a child started after the slot was read sees it.
    own_.cancelled->store(true);
    kill_process(own_.current_child->load());
}

void BackgroundRun::replay_log() {
    const std::lock_guard guard(*lock_);
    for (const auto& line : *lines_) ctx_.log(line);
    lines_->clear();
}

Result<void> BackgroundRun::collect() {
    if (ranInline_) {
        replay_log();
        return *std::exchange(ranInline_, std::nullopt);
    }
    if (!done_.valid()) return fail("Background work collected twice.");
    while (done_.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready) {
        if (is_cancelled(ctx_)) stop();
    }
    auto verdict = done_.get();
    replay_log();
    if (is_cancelled(ctx_)) return fail("Cancelled");
    return verdict;
}

Result<std::string> run_capture(const std::string& program, const std::vector<std::string>& args) {
    auto captured = capture(program, args);
    if (!captured) return fail(captured.error());
    if (!exited_cleanly(captured->status, {}))
        return fail(fmt::format("{} exited with {}:\n{}", file_name_of(program), exit_status_text(captured->status),
                                failure_tail(captured->out, captured->err, kCaptureTailLines)));
    return utf8_lossy(captured->out);
}

Result<std::string> run_capture_bytes(const std::string& program, const std::vector<std::string>& args) {
    auto captured = capture(program, args);
    if (!captured) return fail(captured.error());
    if (!exited_cleanly(captured->status, {}))
        return fail(fmt::format("{} failed:\n{}", program, capture_tail(captured->err, kCaptureTailLines)));
    return std::move(captured->out);
}

Result<void> run_ffmpeg(RunContext& ctx, const std::vector<std::string>& args,
                        std::optional<std::int64_t> expected_frames, const ToolProgress& progress) {
    if (is_cancelled(ctx)) return fail("Cancelled");
    return run_with_progress(
        ctx, ctx.tools.ffmpeg, "ffmpeg", args,
        [&](const std::string& line) { return handle_ffmpeg_line(ctx, line, expected_frames, progress); },
        accepted_exit_codes(ToolKind::Ffmpeg));
}

Result<void> run_mkvmerge(RunContext& ctx, const std::vector<std::string>& args, const ToolProgress& progress) {
    if (is_cancelled(ctx)) return fail("Cancelled");
    const auto mkvmerge = require_mkvmerge(ctx.tools);
    if (!mkvmerge) return fail(mkvmerge.error());
    return run_with_progress(
        ctx, *mkvmerge, "mkvmerge", args,
        [&](const std::string& line) { return handle_mkvmerge_line(ctx, line, progress); },
        accepted_exit_codes(ToolKind::Mkvmerge));
}

}  // namespace reel
