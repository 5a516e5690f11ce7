#include "win32_support.h"

#include <gtest/gtest.h>

namespace reel::test {

std::wstring to_wide(const std::string& text) {
    if (text.empty()) return {};
    const int size = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), wide.data(), size);
    return wide;
}

std::string to_utf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
    return out;
}

std::string child_helper_path() {
    std::wstring path = own_program_path();
    path.resize(path.find_last_of(L"\\/") + 1);
    return to_utf8(path + L"child_helper.exe");
}

ChildRun run_helper(const std::vector<std::string>& args) {
    ChildRun run;
    auto child = start_child(child_helper_path(), args);
    if (!child) {
        ADD_FAILURE() << "could not start the helper: " << child.error();
        return run;
    }
    for (;;) {
        auto more = (*child)->pump([&](std::string_view bytes) { run.out += bytes; },
                                   [&](std::string_view bytes) { run.err += bytes; });
        if (!more) {
            ADD_FAILURE() << "reading the helper's output failed: " << more.error();
            break;
        }
        if (!*more) break;
    }
    auto status = (*child)->wait();
    if (!status) {
        ADD_FAILURE() << "waiting for the helper failed: " << status.error();
        return run;
    }
    run.status = *status;
    return run;
}

bool process_ended(std::uint32_t pid, DWORD limit_ms, DWORD* exit_code) {
    const HANDLE process = ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (process == nullptr) return true;  // gone entirely
    const bool ended = ::WaitForSingleObject(process, limit_ms) == WAIT_OBJECT_0;
    if (ended && exit_code != nullptr) ::GetExitCodeProcess(process, exit_code);
    ::CloseHandle(process);
    return ended;
}

bool make_symbolic_link(const std::string& link, const std::string& target) {
    const std::wstring wide_link = to_wide(link);
    if (!::CreateSymbolicLinkW(wide_link.c_str(), to_wide(target).c_str(), SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE))
        return false;
    WIN32_FIND_DATAW found{};
    const HANDLE search = ::FindFirstFileW(wide_link.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    ::FindClose(search);
    return (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

ScopedEnv::ScopedEnv(const std::string& name, const std::optional<std::string>& value) : name_(to_wide(name)) {
    std::wstring buffer(32767, L'\0');
    ::SetLastError(ERROR_SUCCESS);
    const DWORD length = ::GetEnvironmentVariableW(name_.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length > 0 || ::GetLastError() != ERROR_ENVVAR_NOT_FOUND) saved_ = buffer.substr(0, length);
    ::SetEnvironmentVariableW(name_.c_str(), value ? to_wide(*value).c_str() : nullptr);
}

ScopedEnv::~ScopedEnv() { ::SetEnvironmentVariableW(name_.c_str(), saved_ ? saved_->c_str() : nullptr); }

}  // namespace reel::test
