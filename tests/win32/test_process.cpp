// The Win32 child process: both outputs drained, exit codes, the null input,
// the process id, killing, and kill-on-abandon through the job object.
#include <gtest/gtest.h>

#include "support/temp_dir.h"
#include "tools/process.h"
#include "win32_support.h"

namespace reel {
namespace {

using test::run_helper;

TEST(Win32Child, CapturesBothOutputsBeyondThePipeBuffers) {
    // 1 MiB each, written alternately: a parent that read one pipe after the
    // other would leave the child blocked on the other.
    const std::size_t size = 1 << 20;
    const auto run = run_helper({"outputs", std::to_string(size), "o", "e"});
    EXPECT_EQ(run.status.code, 0);
    EXPECT_EQ(run.out, std::string(size, 'o'));
    EXPECT_EQ(run.err, std::string(size, 'e'));
}

TEST(Win32Child, PumpHandsOverAtMostOneBufferPerPipeAndCall) {
    auto child = start_child(test::child_helper_path(), {"outputs", "100000", "o", "e"});
    ASSERT_TRUE(child) << child.error();
    std::size_t out = 0;
    std::size_t err = 0;
    for (;;) {
        std::size_t out_calls = 0;
        std::size_t err_calls = 0;
        auto more = (*child)->pump(
            [&](std::string_view bytes) {
                ++out_calls;
                EXPECT_LE(bytes.size(), 8192u);
                out += bytes.size();
            },
            [&](std::string_view bytes) {
                ++err_calls;
                EXPECT_LE(bytes.size(), 8192u);
                err += bytes.size();
            });
        ASSERT_TRUE(more) << more.error();
        EXPECT_LE(out_calls, 1u);
        EXPECT_LE(err_calls, 1u);
        if (!*more) break;
    }
    EXPECT_EQ(out, 100000u);
    EXPECT_EQ(err, 100000u);
    ASSERT_TRUE((*child)->wait());
}

TEST(Win32Child, ReportsTheExitCodeAsAnUnsigned32BitValue) {
    const struct {
        const char* arg;
        std::int64_t code;
        const char* text;
    } cases[] = {
        {"0", 0, "exit code: 0"},
        {"1", 1, "exit code: 1"},
        {"2", 2, "exit code: 2"},
        {"255", 255, "exit code: 255"},
        {"0x7fffffff", 0x7fffffff, "exit code: 2147483647"},
        {"0xC0000005", 0xC0000005, "exit code: 0xc0000005"},
        {"0xC000013A", 0xC000013A, "exit code: 0xc000013a"},
        {"0xFFFFFFFF", 0xFFFFFFFF, "exit code: 0xffffffff"},
    };
    for (const auto& c : cases) {
        const auto run = run_helper({"exit", c.arg});
        EXPECT_FALSE(run.status.signaled) << c.arg;
        EXPECT_EQ(run.status.code, c.code) << c.arg;
        EXPECT_EQ(exit_status_text(run.status), c.text) << c.arg;
    }
}

TEST(Win32Child, StandardInputIsTheNullDevice) {
    // A child reading its input must see the end at once, not wait for a keyboard.
    const auto run = run_helper({"stdin"});
    EXPECT_EQ(run.status.code, 0);
    EXPECT_EQ(run.out, "0");
}

TEST(Win32Child, KnowsTheChildsProcessId) {
    auto child = start_child(test::child_helper_path(), {"pid"});
    ASSERT_TRUE(child) << child.error();
    std::string out;
    while (true) {
        auto more = (*child)->pump([&](std::string_view bytes) { out += bytes; }, {});
        ASSERT_TRUE(more);
        if (!*more) break;
    }
    ASSERT_TRUE((*child)->wait());
    EXPECT_NE((*child)->pid(), 0u);
    EXPECT_EQ(out, std::to_string((*child)->pid()));
    EXPECT_NE((*child)->pid(), current_process_id());
}

TEST(Win32Child, StandardStreamsWriteLineEndsUnchanged) {
    const auto run = run_helper({"lines"});
    EXPECT_EQ(run.status.code, 0);
    EXPECT_EQ(run.out, "one\ntwo\n");
    EXPECT_EQ(run.err, "three\n");
}

TEST(Win32Child, StartFailureCarriesTheSystemsDescription) {
    test::TempDir dir;
    for (const auto& program : {test::to_utf8((dir.path() / "missing.exe").wstring()),
                                test::to_utf8(dir.path().wstring())}) {
        auto child = start_child(program, {});
        ASSERT_FALSE(child) << program;
        EXPECT_FALSE(child.error().empty());
        EXPECT_NE(child.error().back(), '\n');
    }
}

// Waits for the "ready" line of a sleeping helper, so it is known to run.
std::string first_line(ChildProcess& child) {
    std::string out;
    while (out.find('\n') == std::string::npos) {
        auto more = child.pump([&](std::string_view bytes) { out += bytes; }, {});
        if (!more || !*more) break;
    }
    return out.substr(0, out.find('\n'));
}

TEST(Win32Child, KillEndsTheChildWithExitCodeOne) {
    auto child = start_child(test::child_helper_path(), {"sleep"});
    ASSERT_TRUE(child) << child.error();
    ASSERT_EQ(first_line(**child), "ready");
    (*child)->kill();
    auto status = (*child)->wait();
    ASSERT_TRUE(status) << status.error();
    EXPECT_EQ(status->code, 1);
}

TEST(Win32Child, KillProcessEndsTheChildById) {
    auto child = start_child(test::child_helper_path(), {"sleep"});
    ASSERT_TRUE(child) << child.error();
    ASSERT_EQ(first_line(**child), "ready");
    kill_process((*child)->pid());
    auto status = (*child)->wait();
    ASSERT_TRUE(status) << status.error();
    EXPECT_EQ(status->code, 1);
    kill_process(0);  // the empty slot: nothing happens
}

TEST(Win32Child, DroppingAnUnwaitedChildKillsItAndWhatItStarted) {
    std::uint32_t child_pid = 0;
    std::uint32_t grandchild_pid = 0;
    {
        auto child = start_child(test::child_helper_path(), {"sleep-with-grandchild"});
        ASSERT_TRUE(child) << child.error();
        child_pid = (*child)->pid();
        grandchild_pid = static_cast<std::uint32_t>(std::stoul(first_line(**child)));
        ASSERT_FALSE(test::process_ended(grandchild_pid, 0));
    }
    // The owner waited for the child before it was gone; the grandchild dies
    // with the job. The limit only keeps a broken build from hanging.
    DWORD code = 0;
    EXPECT_TRUE(test::process_ended(child_pid, 0));
    EXPECT_TRUE(test::process_ended(grandchild_pid, 30000, &code));
    EXPECT_EQ(code, 1u);
}

TEST(Win32Child, DroppingAWaitedChildKeepsItsResult) {
    auto child = start_child(test::child_helper_path(), {"exit", "7"});
    ASSERT_TRUE(child) << child.error();
    auto status = (*child)->wait();
    ASSERT_TRUE(status);
    EXPECT_EQ(status->code, 7);
    auto again = (*child)->wait();
    ASSERT_TRUE(again);
    EXPECT_EQ(again->code, 7);
    child->reset();
}

TEST(Win32Child, ArgumentsWithNulAreRefused) {
    auto child = start_child(test::child_helper_path(), {"args", std::string("a\0b", 3)});
    EXPECT_FALSE(child);
}

}  // namespace
}  // namespace reel
