#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "run_slot.h"

namespace reel {
namespace {

using namespace std::chrono_literals;

// Waits (bounded) for the slot's current run to end.
RunSlot::View wait_for_end(RunSlot& slot) {
    RunSlot::View view = slot.wait(0, 0ms);
    for (int i = 0; i < 600 && !view.end; ++i) view = slot.wait(view.revision, 100ms);
    return view;
}

TEST(RunSlot, OneRunAtATimeAndCancelReachesIt) {
    RunSlot slot;
    const auto waits_for_cancel = [](RunContext& ctx) {
        ctx.emit({"probe", "Reading the movie", 1.5});
        ctx.log("> ffmpeg -i movie.mkv");
        for (int i = 0; i < 600 && !ctx.cancelled->load(); ++i) std::this_thread::sleep_for(10ms);
        return nlohmann::json{{"ok", false}, {"error", ctx.cancelled->load() ? "Cancelled" : "never cancelled"}};
    };
    ASSERT_TRUE(slot.start(ToolSet{}, waits_for_cancel));
    EXPECT_FALSE(slot.start(ToolSet{}, waits_for_cancel));

    RunSlot::View view = slot.wait(0, 0ms);
    for (int i = 0; i < 600 && view.log.empty(); ++i) view = slot.wait(view.revision, 100ms);
    EXPECT_TRUE(view.running);
    EXPECT_EQ(view.run, 1u);
    ASSERT_TRUE(view.progress);
    EXPECT_EQ(view.progress->message, "Reading the movie");
    EXPECT_EQ(view.log, std::vector<std::string>{"> ffmpeg -i movie.mkv"});

    EXPECT_TRUE(slot.cancel());
    view = wait_for_end(slot);
    ASSERT_TRUE(view.end);
    EXPECT_EQ((*view.end)["error"], "Cancelled");
    EXPECT_FALSE(view.running);
    EXPECT_FALSE(slot.cancel());  // nothing left to cancel

    // The next run starts afresh.
    ASSERT_TRUE(slot.start(ToolSet{}, [](RunContext&) { return nlohmann::json{{"ok", true}}; }));
    view = wait_for_end(slot);
    EXPECT_EQ(view.run, 2u);
    EXPECT_TRUE(view.log.empty());
    EXPECT_FALSE(view.progress);
    EXPECT_EQ((*view.end)["ok"], true);

    slot.shutdown();
    EXPECT_FALSE(slot.start(ToolSet{}, [](RunContext&) { return nlohmann::json{}; }));
}

TEST(RunSlot, StreamsSendWhatIsNewAndTheEndOnce) {
    RunSlot::View view;
    StreamState state;
    EXPECT_EQ(stream_events(view, state), "");  // no run yet

    view.run = 1;
    view.revision = 1;
    view.running = true;
    view.progress = ProgressEvent{"snap", "Finding keyframes", 10};
    view.log = {"> ffprobe a", "Warning: \"odd\""};
    EXPECT_EQ(stream_events(view, state),
              "event: progress\ndata: {\"message\":\"Finding keyframes\",\"percent\":10.0,\"stage\":\"snap\"}\n\n"
              "event: log\ndata: \"> ffprobe a\"\n\n"
              "event: log\ndata: \"Warning: \\\"odd\\\"\"\n\n");
    EXPECT_EQ(stream_events(view, state), "");  // same revision

    view.revision = 2;  // one more log line, the same progress
    view.log.push_back("> mkvmerge b");
    EXPECT_EQ(stream_events(view, state), "event: log\ndata: \"> mkvmerge b\"\n\n");

    view.revision = 3;
    view.running = false;
    view.end = nlohmann::json{{"ok", false}, {"error", "Cancelled"}};
    EXPECT_EQ(stream_events(view, state), "event: end\ndata: {\"error\":\"Cancelled\",\"ok\":false}\n\n");
    view.revision = 4;
    EXPECT_EQ(stream_events(view, state), "");

    // A new run: its log is sent from its first line.
    view = RunSlot::View{};
    view.run = 2;
    view.revision = 5;
    view.running = true;
    view.log = {"> ffprobe c"};
    EXPECT_EQ(stream_events(view, state), "event: log\ndata: \"> ffprobe c\"\n\n");
}

}  // namespace
}  // namespace reel
