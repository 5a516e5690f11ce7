// The POSIX side of the process seam, against small shell scripts.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <set>

#include "support/fake_tool.h"
#include "support/temp_dir.h"
#include "tools/process.h"
#include "util/text.h"

namespace reel {
namespace {

namespace fs = std::filesystem;

struct Output {
    std::string out;
    std::string err;
};

// Pumps both pipes to their ends.
Output drain(ChildProcess& child) {
    Output output;
    for (;;) {
        auto more = child.pump([&](std::string_view b) { output.out.append(b); },
                               [&](std::string_view b) { output.err.append(b); });
        if (!more) {
            ADD_FAILURE() << more.error();
            break;
        }
        if (!*more) break;
    }
    return output;
}

std::unique_ptr<ChildProcess> start(const fs::path& program, const std::vector<std::string>& args = {}) {
    auto child = start_child(program.string(), args);
    if (!child) throw std::runtime_error(child.error());
    return std::move(*child);
}

bool process_exists(std::uint32_t pid) { return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH; }

struct ProcessSeam : ::testing::Test {
    test::TempDir dir;
};

TEST_F(ProcessSeam, NullInputSeparateOutputsAndExitCode) {
    // cat ends at once on the null device instead of waiting for a keyboard.
    const auto tool = test::write_fake_tool(dir.path(), "tool", "cat\necho out\necho err >&2\nexit 3");
    auto child = start(tool);
    EXPECT_GT(child->pid(), 0u);
    const auto output = drain(*child);
    EXPECT_EQ(output.out, "out\n");
    EXPECT_EQ(output.err, "err\n");
    const auto status = child->wait();
    ASSERT_TRUE(status.has_value());
    EXPECT_FALSE(status->signaled);
    EXPECT_EQ(status->code, 3);
    EXPECT_EQ(child->wait()->code, 3);  // a second wait repeats the verdict
}

TEST_F(ProcessSeam, ArgumentsArriveUnchanged) {
    const auto tool = test::write_fake_tool(dir.path(), "args", R"(for a in "$@"; do printf '[%s]' "$a"; done)");
    auto child = start(tool, {"a b", "", "\"q\"", "*", "$HOME", "C:\\x y", "é"});
    EXPECT_EQ(drain(*child).out, "[a b][][\"q\"][*][$HOME][C:\\x y][é]");
    EXPECT_EQ(child->wait()->code, 0);
}

TEST_F(ProcessSeam, StartFailuresCarryTheSystemText) {
    dir.write("plain", "#!/bin/sh\n");
    fs::create_directories(dir / "folder");
    struct Case {
        fs::path program;
        std::string error;
    } const cases[] = {
        {dir / "missing", "No such file or directory"},
        {dir / "plain", "Permission denied"},
        {dir / "folder", "Permission denied"},
    };
    for (const auto& c : cases) {
        const auto child = start_child(c.program.string(), {});
        ASSERT_FALSE(child.has_value()) << c.program;
        EXPECT_EQ(child.error(), c.error) << c.program;
    }
    // An argument with a NUL cannot reach the child unchanged.
    const auto tool = test::write_fake_tool(dir.path(), "tool", "exit 0");
    const auto with_nul = start_child(tool.string(), {std::string("a\0b", 3)});
    ASSERT_FALSE(with_nul.has_value());
    EXPECT_EQ(with_nul.error(), "Invalid argument");
}

// The pipes this process holds, by their kernel names ("pipe:[1234]").
std::set<std::string> own_pipes() {
    std::set<std::string> pipes;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        const auto target = fs::read_symlink(entry.path(), ec).string();
        if (!ec && target.starts_with("pipe:")) pipes.insert(target);
    }
    return pipes;
}

TEST_F(ProcessSeam, ChildrenDoNotInheritEachOthersPipes) {
    const auto before = own_pipes();
    const auto sleeper = test::write_fake_tool(dir.path(), "sleeper", "exec sleep 30");
    auto first = start(sleeper);
    std::set<std::string> first_pipes;
    for (const auto& pipe : own_pipes())
        if (!before.contains(pipe)) first_pipes.insert(pipe);
    ASSERT_EQ(first_pipes.size(), 2u);

    // A second child must not hold the first one's pipes: if it did, the first
    // child's output would not end while the second runs.
    const auto lister = test::write_fake_tool(dir.path(), "lister", R"sh(for fd in /proc/$$/fd/*; do
  readlink "$fd"
done
exit 0)sh");
    auto second = start(lister);
    const auto listing = drain(*second).out;
    EXPECT_EQ(second->wait()->code, 0);
    EXPECT_TRUE(contains(listing, "/dev/null")) << listing;
    for (const auto& pipe : first_pipes) EXPECT_FALSE(contains(listing, pipe)) << listing;
}

TEST_F(ProcessSeam, AbandonedChildIsKilledAndReaped) {
    const auto sleeper = test::write_fake_tool(dir.path(), "sleeper", "exec sleep 30");
    const auto talker = test::write_fake_tool(dir.path(), "talker", "exec yes");
    for (const auto& tool : {sleeper, talker}) {
        std::uint32_t pid = 0;
        {
            auto child = start(tool);
            pid = child->pid();
            ASSERT_TRUE(process_exists(pid));
            if (tool == talker) {
                // Leave it blocked on a full pipe.
                ASSERT_TRUE(child->pump([](std::string_view) {}, [](std::string_view) {}).has_value());
            }
        }
        errno = 0;
        EXPECT_EQ(::kill(static_cast<pid_t>(pid), 0), -1) << tool;
        EXPECT_EQ(errno, ESRCH) << tool;  // neither running nor a zombie
    }
}

TEST_F(ProcessSeam, KilledChildReportsTheSignal) {
    const auto sleeper = test::write_fake_tool(dir.path(), "sleeper", "exec sleep 30");
    auto by_object = start(sleeper);
    by_object->kill();
    auto by_id = start(sleeper);
    kill_process(by_id->pid());
    const auto term = test::write_fake_tool(dir.path(), "term", "kill -TERM $$");
    auto by_itself = start(term);
    for (auto* child : {by_object.get(), by_id.get()}) {
        drain(*child);
        const auto status = child->wait();
        ASSERT_TRUE(status.has_value());
        EXPECT_TRUE(status->signaled);
        EXPECT_EQ(status->signal, SIGKILL);
        EXPECT_EQ(exit_status_text(*status), "signal: 9 (SIGKILL)");
    }
    drain(*by_itself);
    EXPECT_EQ(exit_status_text(*by_itself->wait()), "signal: 15 (SIGTERM)");
}

TEST_F(ProcessSeam, FileInfoFollowsLinks) {
    const auto tool = test::write_fake_tool(dir.path(), "tool", "exit 0");
    const auto plain = dir.write("plain", "x");
    fs::create_symlink(tool, dir / "link");
    fs::create_symlink(dir / "gone", dir / "dangling");
    fs::create_directories(dir / "folder");

    const auto t = file_info(tool.string());
    ASSERT_TRUE(t.has_value());
    EXPECT_TRUE(t->isRegular && t->executable && !t->isDirectory);
    const auto p = file_info(plain.string());
    ASSERT_TRUE(p.has_value());
    EXPECT_TRUE(p->isRegular && !p->executable);
    const auto l = file_info((dir / "link").string());
    ASSERT_TRUE(l.has_value());
    EXPECT_TRUE(l->isRegular && l->executable);
    const auto f = file_info((dir / "folder").string());
    ASSERT_TRUE(f.has_value());
    EXPECT_TRUE(f->isDirectory && !f->isRegular);
    EXPECT_FALSE(file_info((dir / "dangling").string()).has_value());
    EXPECT_FALSE(file_info((dir / "missing").string()).has_value());
}

TEST(ProcessEnvironment, EnvAndProcessId) {
    ::setenv("REELMENDER_TOOLS_TEST_VAR", "a:b c", 1);
    EXPECT_EQ(get_env("REELMENDER_TOOLS_TEST_VAR"), "a:b c");
    ::unsetenv("REELMENDER_TOOLS_TEST_VAR");
    EXPECT_EQ(get_env("REELMENDER_TOOLS_TEST_VAR"), std::nullopt);
    EXPECT_EQ(current_process_id(), static_cast<std::uint32_t>(::getpid()));
    EXPECT_EQ(signal_name(SIGKILL), "SIGKILL");
}

}  // namespace
}  // namespace reel
