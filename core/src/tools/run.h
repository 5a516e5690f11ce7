#pragma once
// Running the tools: captured runs, progress runs, command-line rendering for
// the log, the tools' progress lines and the wording of every failure.
#include <atomic>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "tools/toolset.h"
#include "util/result.h"

namespace reel {

struct ProgressEvent {
    std::string stage;
    std::string message;
    double percent = 0;
};

// How far one tool run has come, 0 to 1, from the progress the tool writes.
using ToolProgress = std::function<void(double fraction)>;

struct ProgressSink {
    std::function<void(const ProgressEvent&)> progress;
    std::function<void(const std::string&)> log;
};

// Shared by the pipeline and every tool run of one edit run. Where a run
// stands in the whole is the pipeline's business; tool runs report only how
// far they themselves have come.
struct RunContext {
    ToolSet tools;
    ProgressSink sink;
    // Shared with other threads: another party may set the flag at any time and
    // may terminate the child named by the slot (0: none).
    std::shared_ptr<std::atomic<bool>> cancelled = std::make_shared<std::atomic<bool>>(false);
    std::shared_ptr<std::atomic<std::uint32_t>> current_child =
        std::make_shared<std::atomic<std::uint32_t>>(0);

    void emit(const ProgressEvent& event) const;
    void log(const std::string& line) const;
};

// Whether someone has cancelled the run.
bool is_cancelled(const RunContext& ctx);

enum class ToolKind { Ffmpeg, Mkvmerge };
// Exit codes besides 0 that a progress run counts as success.
std::vector<std::int64_t> accepted_exit_codes(ToolKind kind);

// How an ffmpeg argument list starts. Every run: no banner, errors only.
// Writing: an output file of the work folder is replaced. Progress: also the
// machine-readable progress on standard output that run_ffmpeg reads.
enum class FfmpegRun { Captured, Writing, Progress };
std::vector<std::string> ffmpeg_prefix(FfmpegRun run);

// Arguments joined by blanks; one with a blank, or with both ":" and "\", in quotes.
std::string format_command_line(const std::vector<std::string>& args);

// Line handlers of the progress runs (pure apart from the callbacks). True when
// the line was the tool's own message and went to the log: such lines of
// standard output belong in a failure's tail (mkvmerge writes its errors there).
// ffmpeg's progress is its frame count against `expected_frames` (it may pass
// 1), mkvmerge's its own percent.
bool handle_ffmpeg_line(const RunContext& ctx, const std::string& line, std::optional<std::int64_t> expected_frames,
                        const ToolProgress& progress);
bool handle_mkvmerge_line(const RunContext& ctx, const std::string& line, const ToolProgress& progress);

// The last `count` lines of standard-error text ("\r\n" and "\n" line ends; no
// empty last line for a final "\n"), joined with "\n".
std::string capture_tail(std::string_view stderr_text, std::size_t count);
// The tail of a failed captured run: of standard error, or of standard output
// when standard error holds nothing but blanks (mkvmerge reports there).
std::string failure_tail(std::string_view stdout_text, std::string_view stderr_text, std::size_t count);

Result<std::string> run_capture(const std::string& program, const std::vector<std::string>& args);
Result<std::string> run_capture_bytes(const std::string& program, const std::vector<std::string>& args);
Result<void> run_ffmpeg(RunContext& ctx, const std::vector<std::string>& args,
                        std::optional<std::int64_t> expected_frames, const ToolProgress& progress = {});
Result<void> run_mkvmerge(RunContext& ctx, const std::vector<std::string>& args, const ToolProgress& progress = {});

// Work with tool runs of its own, on a thread beside the run's, while the
// run goes on with its next tool: two tools reading the same movie at once.
// The work gets a context of its own (its own child slot, so an interrupt
// that stops the run's child does not miss it); the run's cancellation
// reaches it while the run collects it, and its log lines reach the run's
// log then. Leaving it uncollected stops its tool and waits for it.
class BackgroundRun {
public:
    using Work = std::function<Result<void>(RunContext&)>;
    BackgroundRun(RunContext& ctx, Work work);
    ~BackgroundRun();
    BackgroundRun(const BackgroundRun&) = delete;
    BackgroundRun& operator=(const BackgroundRun&) = delete;

    // Waits for the work and gives its verdict; once only.
    Result<void> collect();

private:
    void stop();
    void replay_log();

    RunContext& ctx_;
    RunContext own_;
    std::shared_ptr<std::mutex> lock_ = std::make_shared<std::mutex>();
    std::shared_ptr<std::vector<std::string>> lines_ = std::make_shared<std::vector<std::string>>();
    std::future<Result<void>> done_;
    std::optional<Result<void>> ranInline_;
};

}  // namespace reel
