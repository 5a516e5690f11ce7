// How much the tool runner adds to starting a program: the median wall time of
// running one trivial script through run_capture and run_ffmpeg, against
// starting the same script bare (fork/exec + waitpid, and posix_spawn + waitpid)
// in the same process, interleaved so that drift hits all ways alike.
//
//   runner_overhead [runs]    (default 300)
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "tools/run.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double median_ms(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    const std::size_t n = samples.size();
    return n % 2 == 1 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2;
}

bool run_bare_fork(const std::string& program) {
    const pid_t pid = ::fork();
    if (pid < 0) return false;
    if (pid == 0) {
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 0);
        ::dup2(null, 1);
        ::dup2(null, 2);
        char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
        ::execv(program.c_str(), argv);
        ::_exit(127);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool run_bare_spawn(const std::string& program) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int fd : {0, 1, 2}) posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", O_RDWR, 0);
    char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
    pid_t pid = 0;
    const int rc = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return false;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 300;

    std::string folder = (std::filesystem::temp_directory_path() / "reelmender-bench-XXXXXX").string();
    if (::mkdtemp(folder.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    // A stand-in for ffmpeg that writes two progress lines and a little error
    // text, so that the runner's reading and line handling are part of the cost.
    const std::string tool = folder + "/ffmpeg";
    {
        std::ofstream script(tool);
        script << "#!/bin/sh\necho frame=1\necho progress=end\necho done >&2\n";
    }
    ::chmod(tool.c_str(), 0755);

    reel::RunContext ctx;
    ctx.tools.ffmpeg = tool;
    std::size_t events = 0;
    const reel::ToolProgress count = [&](double) { ++events; };
    ctx.sink.log = [](const std::string&) {};

    struct Way {
        const char* name;
        std::function<bool()> run;
        std::vector<double> samples;
    };
    std::vector<Way> ways = {
        {"bare fork/exec + waitpid", [&] { return run_bare_fork(tool); }, {}},
        {"bare posix_spawn + waitpid", [&] { return run_bare_spawn(tool); }, {}},
        {"run_capture", [&] { return reel::run_capture(tool, {"-version"}).has_value(); }, {}},
        {"run_ffmpeg", [&] { return reel::run_ffmpeg(ctx, {"-progress", "pipe:1"}, 10, count).has_value(); }, {}},
    };

    int failures = 0;
    for (int warmup = 0; warmup < 5; ++warmup)
        for (auto& way : ways) way.run();
    for (int i = 0; i < runs; ++i) {
        for (auto& way : ways) {
            const auto start = Clock::now();
            if (!way.run()) ++failures;
            way.samples.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        }
    }
    std::filesystem::remove_all(folder);

    fmt::print("runner overhead, {} runs each, median wall time per run\n", runs);
    const double fork_exec = median_ms(ways[0].samples);
    const double spawn = median_ms(ways[1].samples);
    for (const auto& way : ways) {
        const double median = median_ms(way.samples);
        fmt::print("  {:<28} {:7.3f} ms  ({:+.3f} ms against fork/exec, {:+.3f} ms against posix_spawn)\n", way.name,
                   median, median - fork_exec, median - spawn);
    }
    // Judged against the faster of the two bare starts, the stricter measure.
    const double bare = std::min(fork_exec, spawn);
    const double worst = std::max(median_ms(ways[2].samples), median_ms(ways[3].samples)) - bare;
    fmt::print("largest runner overhead against the faster bare start: {:.3f} ms per run (budget 2 ms): {}\n", worst,
               worst < 2.0 ? "within budget" : "OVER BUDGET");
    if (failures > 0 || events != static_cast<std::size_t>(runs + 5)) {
        fmt::print(stderr, "{} runs failed, {} progress events for {} ffmpeg runs\n", failures, events, runs + 5);
        return 1;
    }
    return 0;
}
