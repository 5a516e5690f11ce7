#pragma once
// The operating-system seam: child processes, environment, file metadata and the
// process id. One header, one implementation file per platform
// (process_posix.cpp, process_win32.cpp); nothing above it knows the platform.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "util/result.h"

namespace reel {

// How a child ended.
struct ExitStatus {
    bool signaled = false;   // POSIX: ended by a signal
    std::int64_t code = 0;   // exit code (Windows: the DWORD, top bit = exception)
    int signal = 0;          // signal number when `signaled`
};

// "exit code: N"; an exception status (top bit of a 32-bit code set) in hex
// ("exit code: 0xc0000005"); a signal as "signal: 9 (SIGKILL)".
std::string exit_status_text(const ExitStatus& status);
// The platform's name of a signal ("SIGKILL"); "SIG" + number when it has none.
std::string signal_name(int signal);

// A running child with standard input from the null device and both outputs
// piped. Destroying it before `wait` kills and reaps the child (kill-on-abandon).
class ChildProcess {
public:
    virtual ~ChildProcess() = default;
    virtual std::uint32_t pid() const = 0;

    // Reads whatever is available on both pipes, blocking until at least one has
    // data or has ended, and hands the bytes to the callbacks (at most 8 KiB per
    // pipe and call). Returns false once both pipes have ended. Fails with the
    // system's description of a read error; the pipe that failed is closed first,
    // so the child cannot block on it and pumping may go on with the other.
    virtual Result<bool> pump(const std::function<void(std::string_view)>& on_stdout,
                              const std::function<void(std::string_view)>& on_stderr) = 0;

    // Waits for the exit; fails with the system's description of the failure.
    virtual Result<ExitStatus> wait() = 0;

    // Terminates the child at once (SIGKILL / TerminateJobObject).
    virtual void kill() = 0;
};

// Starts `program` with `args` (without the program name); each argument reaches
// the child unchanged. Fails with the system's description (strerror on POSIX).
// The child dies with this program, even when it is killed outright: on Linux
// through the parent-death signal (sent when the thread that started the child
// ends, so children are started from threads that outlive them), on Windows
// through the kill-on-close job.
Result<std::unique_ptr<ChildProcess>> start_child(const std::string& program,
                                                  const std::vector<std::string>& args);

// Kills a process by id (the current-child slot's way of stopping a child).
// 0 (the empty slot) and ids that would address a whole group are ignored.
void kill_process(std::uint32_t pid);

std::optional<std::string> get_env(const std::string& name);
std::uint32_t current_process_id();
// True while a process with this id exists, also one of another user.
bool process_running(std::uint32_t pid);

// Creates the folder `path` for this user alone (POSIX: mode 0700; Windows: an
// access list naming the owner only). Fails with the system's description when
// anything already has that name, a link included: nothing is created through a
// link, and an existing folder is never taken over.
Result<void> create_private_folder(const std::string& path);

// True for a folder (not a link to one, nor a junction) that this user owns.
bool is_own_plain_folder(const std::string& path);

// Whether standard error is a terminal (Windows: a console).
bool standard_error_is_terminal();

// Metadata after following links; absent when it cannot be read (missing,
// dangling link, no access).
struct FileInfo {
    bool isDirectory = false;
    bool isRegular = false;
    bool executable = false;  // POSIX: executable by this user; Windows: always true
};
std::optional<FileInfo> file_info(const std::string& path);

// The program's arguments as UTF-8 texts, without the program name. POSIX takes
// argv as it is; Windows reads the UTF-16 command line from the system and splits
// it by the platform's rules, so names outside the ANSI code page survive.
std::vector<std::string> program_arguments(int argc, char** argv);

// Puts standard output and standard error into binary mode, so "\n" is written
// as it is on every platform (Windows would otherwise write "\r\n").
void prepare_standard_streams();

// Interrupts of a run (Ctrl+C, a termination request, a closed terminal). The
// first one sets `cancelled` and stops the child named by `current_child`, so the
// run fails with "Cancelled" and cleans up as after any failure. A second one
// kills every child this program still has and ends the program at once with
// status 1. Both pointers must outlive the handler; pass null to remove it.
void handle_interrupts(std::atomic<bool>* cancelled, std::atomic<std::uint32_t>* current_child);

}  // namespace reel
