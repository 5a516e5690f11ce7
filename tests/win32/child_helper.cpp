// A small Windows program that the Win32 tests start as a child, standing in for
// a tool: it writes to its outputs, reads its input, reports its arguments and
// process id, exits with a chosen code, or sleeps (alone or with a grandchild)
// until it is killed.
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "tools/process.h"
#include "win32_support.h"

namespace {

void write_all(HANDLE handle, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD wrote = 0;
        if (!::WriteFile(handle, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &wrote, nullptr))
            ::ExitProcess(90);
        done += wrote;
    }
}

void write_out(const std::string& bytes) { write_all(::GetStdHandle(STD_OUTPUT_HANDLE), bytes); }

// Sleeps in short steps for at most a minute, so a failed kill leaves no
// process behind for long.
[[noreturn]] void sleep_then_exit() {
    for (int i = 0; i < 600; ++i) ::Sleep(100);
    ::ExitProcess(70);
}

// Starts this program again in "sleep" mode, inheriting nothing, and returns its id.
DWORD start_sleeper() {
    const std::wstring path = reel::test::own_program_path();
    std::wstring command = L"\"" + path + L"\" sleep";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(path.c_str(), command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                          &startup, &info))
        ::ExitProcess(91);
    ::CloseHandle(info.hThread);
    ::CloseHandle(info.hProcess);
    return info.dwProcessId;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args = reel::program_arguments(argc, argv);
    const std::string mode = args.empty() ? "" : args[0];

    if (mode == "args") {
        // Every argument after the mode, each ended by a NUL (arguments may hold
        // line breaks but never a NUL).
        std::string out;
        for (std::size_t i = 1; i < args.size(); ++i) out += args[i] + '\0';
        write_out(out);
        return 0;
    }
    if (mode == "outputs" && args.size() == 4) {
        // outputs BYTES_EACH STDOUT_CHAR STDERR_CHAR: alternating 4 KiB blocks on
        // both pipes, far more than a pipe buffer holds.
        const std::size_t total = std::strtoul(args[1].c_str(), nullptr, 10);
        const HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
        for (std::size_t done = 0; done < total; done += 4096) {
            const std::size_t block = std::min<std::size_t>(4096, total - done);
            write_out(std::string(block, args[2][0]));
            write_all(err, std::string(block, args[3][0]));
        }
        return 0;
    }
    if (mode == "exit" && args.size() == 2) {
        // The full 32-bit range, exception statuses included.
        ::ExitProcess(static_cast<UINT>(std::strtoul(args[1].c_str(), nullptr, 0)));
    }
    if (mode == "stdin") {
        std::string input;
        char buffer[4096];
        DWORD got = 0;
        while (::ReadFile(::GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &got, nullptr) && got > 0)
            input.append(buffer, got);
        write_out(std::to_string(input.size()));
        return 0;
    }
    if (mode == "pid") {
        write_out(std::to_string(::GetCurrentProcessId()));
        return 0;
    }
    if (mode == "lines") {
        // Through the C++ streams, as the command-line program writes.
        reel::prepare_standard_streams();
        std::cout << "one\ntwo\n" << std::flush;
        std::cerr << "three\n" << std::flush;
        return 0;
    }
    if (mode == "sleep") {
        write_out("ready\n");
        sleep_then_exit();
    }
    if (mode == "sleep-with-grandchild") {
        write_out(std::to_string(start_sleeper()) + "\n");
        sleep_then_exit();
    }
    std::fputs("child_helper: unknown mode\n", stderr);
    return 64;
}
