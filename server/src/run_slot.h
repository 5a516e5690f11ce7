#pragma once
// The one edit run the page may have going: started on a thread of its own,
// watched by any number of event streams, cancelled like an interrupted
// command line (flag set, current child killed).
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "tools/run.h"

namespace reel {

class RunSlot {
public:
    // Runs on the slot's thread with a context whose sink feeds the slot;
    // returns the run's end as the page shows it.
    using Job = std::function<nlohmann::json(RunContext&)>;

    // What a watcher sees. `revision` grows with every change of any run.
    struct View {
        std::uint64_t run = 0;  // 0 before the first run
        std::uint64_t revision = 0;
        bool running = false;
        std::optional<ProgressEvent> progress;  // the latest
        std::vector<std::string> log;           // the run's log lines, oldest first
        std::optional<nlohmann::json> end;      // once the run is over
    };

    RunSlot() = default;
    RunSlot(const RunSlot&) = delete;
    RunSlot& operator=(const RunSlot&) = delete;
    ~RunSlot();

    // False while a run is going (one at a time) or after shutdown.
    bool start(const ToolSet& tools, Job job);
    // Cancels the run that is going; false when none is.
    bool cancel();
    // The view once its revision differs from `seen`, or after `timeout`.
    View wait(std::uint64_t seen, std::chrono::milliseconds timeout);
    // Cancels a run, waits for it, and refuses new ones.
    void shutdown();

private:
    void update(const std::function<void(View&)>& change);

    std::mutex start_mutex_;  // start and shutdown, one at a time
    std::mutex mutex_;        // everything below
    std::condition_variable changed_;
    View view_;
    bool closed_ = false;
    std::shared_ptr<std::atomic<bool>> cancelled_;
    std::shared_ptr<std::atomic<std::uint32_t>> current_child_;
    std::thread thread_;
};

// The server-sent events for what a watcher has not seen yet of `view`:
// "progress" (the latest event), "log" (one per new line) and "end" (once).
// `state` remembers what was sent.
struct StreamState {
    std::uint64_t run = 0;
    std::uint64_t revision = 0;
    std::string progressSent;
    std::size_t logSent = 0;
    bool endSent = false;
};
std::string stream_events(const RunSlot::View& view, StreamState& state);

}  // namespace reel
