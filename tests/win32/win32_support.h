#pragma once
// Shared by the Win32 tests (this header by the child helper, too): program
// paths, running a child to its end, UTF-16 conversion and process checks by id.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/process.h"

namespace reel::test {

std::wstring to_wide(const std::string& text);
std::string to_utf8(const std::wstring& text);

// The running program's own path (the child helper starts itself again with it).
inline std::wstring own_program_path() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

// child_helper.exe, built next to the test program.
std::string child_helper_path();

struct ChildRun {
    std::string out;
    std::string err;
    ExitStatus status;
};
// Starts the helper with the arguments, pumps both outputs to their ends and
// waits; a failure to start or read fails the current test.
ChildRun run_helper(const std::vector<std::string>& args);

// True once the process with this id has ended (or no longer exists), waiting
// at most `limit_ms` for it; `exit_code` receives its code when it is known.
bool process_ended(std::uint32_t pid, DWORD limit_ms, DWORD* exit_code = nullptr);

// Makes a file symbolic link and checks that the link itself is there (wine
// reports success without making one); false when either fails.
bool make_symbolic_link(const std::string& link, const std::string& target);

// Sets (or with no value, removes) an environment variable for this test and
// restores the old value at the end of the scope.
class ScopedEnv {
public:
    ScopedEnv(const std::string& name, const std::optional<std::string>& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::wstring name_;
    std::optional<std::wstring> saved_;
};

}  // namespace reel::test
