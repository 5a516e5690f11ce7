#include "run_slot.h"

#include <exception>

#include "tools/process.h"

namespace reel {

namespace {

// Enough for the command lines and warnings of a long run; a tool that keeps
// complaining must not grow the server without end.
constexpr std::size_t max_log_lines = 2000;

std::string event_text(const char* name, const nlohmann::json& data) {
    return std::string("event: ") + name + "\ndata: " + data.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) +
           "\n\n";
}

}  // namespace

RunSlot::~RunSlot() { shutdown(); }

void RunSlot::update(const std::function<void(View&)>& change) {
    {
        std::lock_guard lock(mutex_);
        change(view_);
        ++view_.revision;
    }
    changed_.notify_all();
}

bool RunSlot::start(const ToolSet& tools, Job job) {
    std::lock_guard serial(start_mutex_);
    RunContext ctx;
    ctx.tools = tools;
    {
        std::lock_guard lock(mutex_);
        if (closed_ || view_.running) return false;
        cancelled_ = ctx.cancelled;
        current_child_ = ctx.current_child;
    }
    update([](View& view) {
        ++view.run;
        view.running = true;
        view.progress.reset();
        view.log.clear();
        view.end.reset();
    });
    ctx.sink.progress = [this](const ProgressEvent& event) { update([&](View& view) { view.progress = event; }); };
    ctx.sink.log = [this](const std::string& line) {
        update([&](View& view) {
            if (view.log.size() < max_log_lines) view.log.push_back(line);
        });
    };
    // The previous run's thread has finished its work; only its end is left.
    if (thread_.joinable()) thread_.join();
    thread_ = std::thread([this, ctx = std::move(ctx), job = std::move(job)]() mutable {
        nlohmann::json end;
        try {
            end = job(ctx);
        } catch (const std::exception& e) {  // a report that JSON cannot carry, say
            end = {{"ok", false}, {"error", e.what()}};
        }
        update([&](View& view) {
            view.running = false;
            view.end = std::move(end);
        });
    });
    return true;
}

bool RunSlot::cancel() {
    std::lock_guard lock(mutex_);
    if (!view_.running) return false;
    // As an interrupt of the command line does: the flag ends the run at its
    // next tool boundary, the kill ends the tool that is running now.
    cancelled_->store(true);
    kill_process(current_child_->load());
    return true;
}

RunSlot::View RunSlot::wait(std::uint64_t seen, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, timeout, [&] { return view_.revision != seen; });
    return view_;
}

void RunSlot::shutdown() {
    std::lock_guard serial(start_mutex_);
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
    }
    cancel();
    if (thread_.joinable()) thread_.join();
}

std::string stream_events(const RunSlot::View& view, StreamState& state) {
    std::string events;
    if (view.revision == state.revision) return events;
    if (view.run != state.run) {
        state = StreamState{};
        state.run = view.run;
    }
    state.revision = view.revision;
    if (view.run == 0) return events;
    if (view.progress) {
        std::string progress = event_text("progress", {{"stage", view.progress->stage},
                                                       {"message", view.progress->message},
                                                       {"percent", view.progress->percent}});
        if (progress != state.progressSent) events += state.progressSent = std::move(progress);
    }
    for (; state.logSent < view.log.size(); ++state.logSent) events += event_text("log", view.log[state.logSent]);
    if (view.end && !state.endSent) {
        events += event_text("end", *view.end);
        state.endSent = true;
    }
    return events;
}

}  // namespace reel
