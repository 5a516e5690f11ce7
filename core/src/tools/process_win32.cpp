// Windows side of the operating-system seam: CreateProcessW with piped outputs
// and a kill-on-close job, reader threads for both pipes, GetExitCodeProcess,
// TerminateJobObject, GetEnvironmentVariableW and reparse-aware file metadata.
// Texts are UTF-8 inside the program; they become UTF-16 only in this file.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// After windows.h, which they depend on.
#include <fcntl.h>
#include <io.h>
#include <aclapi.h>
#include <sddl.h>
#include <shellapi.h>

#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "tools/process.h"
#include "tools/toolset.h"
#include "tools/win_quote.h"

namespace reel {
namespace {

std::wstring widen(std::string_view text) {
    if (text.empty()) return {};
    const int size = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
    return wide;
}

std::string narrow(std::wstring_view wide) {
    if (wide.empty()) return {};
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string text(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), size, nullptr,
                          nullptr);
    return text;
}

// The system's wording for an error code, without the line break it ends with.
std::string system_text(DWORD error) {
    wchar_t buffer[1024];
    const DWORD length = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                                          MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), buffer,
                                          static_cast<DWORD>(std::size(buffer)), nullptr);
    std::wstring_view text(buffer, length);
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' '))
        text.remove_suffix(1);
    if (text.empty()) return fmt::format("system error {}", error);
    return narrow(text);
}

std::string last_error_text() { return system_text(::GetLastError()); }

// An owned kernel handle.
class Handle {
public:
    Handle() = default;
    explicit Handle(HANDLE handle) : handle_(handle == INVALID_HANDLE_VALUE ? nullptr : handle) {}
    Handle(Handle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    Handle& operator=(Handle&& other) noexcept {
        if (this != &other) {
            reset();
            handle_ = std::exchange(other.handle_, nullptr);
        }
        return *this;
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() { reset(); }

    HANDLE get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }
    void reset() {
        if (handle_ != nullptr) ::CloseHandle(handle_);
        handle_ = nullptr;
    }

private:
    HANDLE handle_ = nullptr;
};

// A pipe whose read end stays with us (not inheritable) and whose write end the
// child inherits.
Result<std::pair<Handle, Handle>> make_pipe() {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE read_end = nullptr;
    HANDLE write_end = nullptr;
    if (!::CreatePipe(&read_end, &write_end, &inherit, 64 * 1024)) return fail(last_error_text());
    Handle reader(read_end);
    Handle writer(write_end);
    if (!::SetHandleInformation(reader.get(), HANDLE_FLAG_INHERIT, 0)) return fail(last_error_text());
    return std::pair<Handle, Handle>(std::move(reader), std::move(writer));
}

// The list of handles a child may inherit. With it, a child started at the same
// time by another thread cannot pick up our pipe ends (and keep them open).
class InheritList {
public:
    explicit InheritList(std::vector<HANDLE> handles) : handles_(std::move(handles)) {
        SIZE_T size = 0;
        ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        storage_.resize(size);
        auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data());
        if (!::InitializeProcThreadAttributeList(list, 1, 0, &size)) return;
        if (!::UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles_.data(),
                                         handles_.size() * sizeof(HANDLE), nullptr, nullptr)) {
            ::DeleteProcThreadAttributeList(list);
            return;
        }
        list_ = list;
    }
    ~InheritList() {
        if (list_ != nullptr) ::DeleteProcThreadAttributeList(list_);
    }
    InheritList(const InheritList&) = delete;
    InheritList& operator=(const InheritList&) = delete;

    // Absent when the system refused the list; the child then inherits every
    // inheritable handle, which still are only its own three.
    LPPROC_THREAD_ATTRIBUTE_LIST get() const { return list_; }

private:
    std::vector<HANDLE> handles_;
    std::vector<unsigned char> storage_;
    LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
};

// Anonymous pipes have no readiness notification, so each pipe gets a thread
// that reads it to its end and queues what it read; `pump` hands the queue out.
// The threads read whether or not anyone pumps, so the child never stalls.
class Win32Child final : public ChildProcess {
public:
    Win32Child(Handle process, Handle job, std::uint32_t pid, Handle out, Handle err)
        : process_(std::move(process)), job_(std::move(job)), pid_(pid), out_(std::move(out)), err_(std::move(err)) {
        readers_[0] = std::thread([this] { read_all(out_, 0); });
        readers_[1] = std::thread([this] { read_all(err_, 1); });
    }

    // Kill-on-abandon: a child nobody waited for is terminated with exit code 1.
    // Closing the job ends whatever the child left running, too, so the pipes'
    // last writers are gone and the reader threads reach the end.
    ~Win32Child() override {
        if (!waited_) {
            ::TerminateJobObject(job_.get(), 1);
            ::WaitForSingleObject(process_.get(), INFINITE);
        }
        job_.reset();
        for (auto& reader : readers_)
            if (reader.joinable()) reader.join();
    }

    std::uint32_t pid() const override { return pid_; }

    Result<bool> pump(const std::function<void(std::string_view)>& on_stdout,
                      const std::function<void(std::string_view)>& on_stderr) override {
        std::optional<std::string> taken[2];
        bool open = false;
        std::optional<std::string> error;
        {
            std::unique_lock lock(mutex_);
            ready_.wait(lock, [&] {
                return !queues_[0].empty() || !queues_[1].empty() || open_streams_ == 0 || read_error_;
            });
            // One buffer per pipe and call, as a single read would give.
            for (int stream = 0; stream < 2; ++stream) {
                if (queues_[stream].empty()) continue;
                taken[stream] = std::move(queues_[stream].front());
                queues_[stream].pop_front();
            }
            open = open_streams_ > 0 || !queues_[0].empty() || !queues_[1].empty();
            error = std::exchange(read_error_, std::nullopt);
        }
        if (taken[0] && on_stdout) on_stdout(*taken[0]);
        if (taken[1] && on_stderr) on_stderr(*taken[1]);
        if (error) return fail(*error);
        return open;
    }

    Result<ExitStatus> wait() override {
        if (!waited_) {
            if (::WaitForSingleObject(process_.get(), INFINITE) == WAIT_FAILED) return fail(last_error_text());
            DWORD code = 0;
            if (!::GetExitCodeProcess(process_.get(), &code)) return fail(last_error_text());
            status_.code = code;
            waited_ = true;
        }
        return status_;
    }

    void kill() override { ::TerminateJobObject(job_.get(), 1); }

private:
    void read_all(Handle& pipe, int stream) {
        char buffer[8192];
        for (;;) {
            DWORD got = 0;
            if (!::ReadFile(pipe.get(), buffer, sizeof buffer, &got, nullptr)) {
                const DWORD error = ::GetLastError();
                // Closed at once, so a child writing on cannot block on a pipe
                // that nobody reads any more.
                pipe.reset();
                std::lock_guard lock(mutex_);
                // A broken pipe is the normal end: every writer has closed it.
                if (error != ERROR_BROKEN_PIPE) read_error_ = system_text(error);
                --open_streams_;
                ready_.notify_all();
                return;
            }
            if (got == 0) continue;  // a writer wrote zero bytes; not the end
            std::lock_guard lock(mutex_);
            queues_[stream].emplace_back(buffer, got);
            ready_.notify_all();
        }
    }

    Handle process_;
    Handle job_;
    std::uint32_t pid_;
    Handle out_;
    Handle err_;
    bool waited_ = false;
    ExitStatus status_;

    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::string> queues_[2];  // standard output, standard error
    int open_streams_ = 2;
    std::optional<std::string> read_error_;
    std::thread readers_[2];
};

// A job whose closing kills every process in it. The handle is not inheritable,
// so only we hold it and dropping the child object is what ends the job.
Result<Handle> make_kill_on_close_job() {
    Handle job(::CreateJobObjectW(nullptr, nullptr));
    if (!job) return fail(last_error_text());
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    // A crashing tool ends with its exception code instead of waiting on an
    // error-report window nobody sees.
    limits.BasicLimitInformation.LimitFlags =
        JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION;
    if (!::SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits))
        return fail(last_error_text());
    return job;
}

bool has_nul(std::string_view text) { return text.find('\0') != std::string_view::npos; }

}  // namespace

Result<std::unique_ptr<ChildProcess>> start_child(const std::string& program, const std::vector<std::string>& args) {
    // A NUL would silently cut the text short at the system boundary.
    bool nul = has_nul(program);
    for (const auto& arg : args) nul = nul || has_nul(arg);
    if (nul) return fail(system_text(ERROR_INVALID_PARAMETER));

    auto job = make_kill_on_close_job();
    if (!job) return fail(job.error());
    auto out = make_pipe();
    if (!out) return fail(out.error());
    auto err = make_pipe();
    if (!err) return fail(err.error());
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    Handle null_input(::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!null_input) return fail(last_error_text());

    InheritList inherited({null_input.get(), out->second.get(), err->second.get()});
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = null_input.get();
    startup.StartupInfo.hStdOutput = out->second.get();
    startup.StartupInfo.hStdError = err->second.get();
    // Suspended until it is in the job, so nothing it starts can escape the job.
    DWORD flags = CREATE_NO_WINDOW | CREATE_SUSPENDED;
    if (inherited.get() != nullptr) {
        startup.lpAttributeList = inherited.get();
        flags |= EXTENDED_STARTUPINFO_PRESENT;
    } else {
        startup.StartupInfo.cb = sizeof startup.StartupInfo;
    }

    // The application name is the path as discovery found it: no search, and no
    // ".exe" is added. The command line carries the arguments, quoted so that
    // the child's splitting gives each one back unchanged.
    const std::wstring application = widen(program);
    std::wstring command_line = widen(windows_command_line(program, args));
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(application.c_str(), command_line.data(), nullptr, nullptr, TRUE, flags, nullptr, nullptr,
                          &startup.StartupInfo, &info))
        return fail(last_error_text());
    Handle process(info.hProcess);
    Handle thread(info.hThread);

    // Only the child keeps the write ends; end of stream then means the child
    // (and whatever it passed them on to) is done writing.
    out->second.reset();
    err->second.reset();
    null_input.reset();

    if (!::AssignProcessToJobObject(job->get(), process.get())) {
        const std::string message = last_error_text();
        ::TerminateProcess(process.get(), 1);
        ::WaitForSingleObject(process.get(), INFINITE);
        return fail(message);
    }
    if (::ResumeThread(thread.get()) == static_cast<DWORD>(-1)) {
        const std::string message = last_error_text();
        ::TerminateJobObject(job->get(), 1);
        ::WaitForSingleObject(process.get(), INFINITE);
        return fail(message);
    }
    return std::unique_ptr<ChildProcess>(new Win32Child(std::move(process), std::move(*job), info.dwProcessId,
                                                        std::move(out->first), std::move(err->first)));
}

void kill_process(std::uint32_t pid) {
    if (pid == 0) return;
    Handle process(::OpenProcess(PROCESS_TERMINATE, FALSE, pid));
    if (process) ::TerminateProcess(process.get(), 1);
}

std::optional<std::string> get_env(const std::string& name) {
    if (name.empty() || has_nul(name)) return std::nullopt;
    const std::wstring wide_name = widen(name);
    std::wstring value(256, L'\0');
    for (;;) {
        ::SetLastError(ERROR_SUCCESS);
        const DWORD length = ::GetEnvironmentVariableW(wide_name.c_str(), value.data(), static_cast<DWORD>(value.size()));
        if (length == 0) {
            // Zero is both "not set" and "set to nothing"; the error tells them apart.
            if (::GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
            return std::string();
        }
        if (length < value.size()) {
            value.resize(length);
            return narrow(value);
        }
        value.resize(length);  // too small: `length` counts the terminating zero
    }
}

std::uint32_t current_process_id() { return ::GetCurrentProcessId(); }

bool process_running(std::uint32_t pid) {
    if (pid == 0) return false;
    Handle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, pid));
    // Access denied: it exists, but belongs to someone else.
    if (!process) return ::GetLastError() == ERROR_ACCESS_DENIED;
    return ::WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
}

Result<void> create_private_folder(const std::string& path) {
    if (path.empty() || has_nul(path)) return fail(system_text(ERROR_INVALID_PARAMETER));
    // A protected access list with one entry: full access for the folder's
    // owner, inherited by everything created inside. Nothing comes from the
    // parent folder, which may be shared.
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;OICI;FA;;;OW)", SDDL_REVISION_1, &descriptor,
                                                                nullptr))
        return fail(last_error_text());
    SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), descriptor, FALSE};
    // CreateDirectoryW fails on any existing name, a link or junction included.
    const bool created = ::CreateDirectoryW(widen(path).c_str(), &attributes) != 0;
    const DWORD error = ::GetLastError();
    ::LocalFree(descriptor);
    if (!created) return fail(system_text(error));
    return {};
}

bool is_own_plain_folder(const std::string& path) {
    if (path.empty() || has_nul(path)) return false;
    const std::wstring wide = widen(path);
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        return false;
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetNamedSecurityInfoW(wide.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                                nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    bool own = false;
    HANDLE raw_token = nullptr;
    if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw_token)) {
        Handle token(raw_token);
        DWORD size = 0;
        ::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
        std::vector<unsigned char> user(size);
        if (size > 0 && ::GetTokenInformation(token.get(), TokenUser, user.data(), size, &size))
            own = ::EqualSid(owner, reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid) != 0;
    }
    ::LocalFree(descriptor);
    return own;
}

bool standard_error_is_terminal() {
    DWORD mode = 0;
    return ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

std::optional<FileInfo> file_info(const std::string& path) {
    if (path.empty() || has_nul(path)) return std::nullopt;
    const std::wstring wide = widen(path);
    DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return std::nullopt;
    bool link = false;
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        // Opening without FILE_FLAG_OPEN_REPARSE_POINT follows symbolic links
        // and junctions to their target; a dangling one cannot be opened.
        Handle target(::CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (!target) return std::nullopt;
        FILE_ATTRIBUTE_TAG_INFO tag{};
        if (!::GetFileInformationByHandleEx(target.get(), FileAttributeTagInfo, &tag, sizeof tag)) return std::nullopt;
        attributes = tag.FileAttributes;
        // Only name surrogates (links) count as links; other reparse points
        // (deduplicated or cloud files) are ordinary files to a reader.
        link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && IsReparseTagNameSurrogate(tag.ReparseTag);
    }
    FileInfo info;
    info.isDirectory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    info.isRegular = !info.isDirectory && !link;
    info.executable = true;
    return info;
}

std::vector<std::string> program_arguments(int argc, char** argv) {
    // The C runtime's argv went through the ANSI code page, which loses every
    // character outside it; the UTF-16 command line has them all.
    int count = 0;
    if (LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count); wide != nullptr) {
        std::vector<std::string> args;
        for (int i = 1; i < count; ++i) args.push_back(narrow(wide[i]));
        ::LocalFree(wide);
        return args;
    }
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    return args;
}

void prepare_standard_streams() {
    std::fflush(stdout);
    std::fflush(stderr);
    ::_setmode(::_fileno(stdout), _O_BINARY);
    ::_setmode(::_fileno(stderr), _O_BINARY);
}

std::string signal_name(int signal) {
    // The C runtime's signals; a Windows child never ends by one, but the
    // names stay defined for the platform-neutral status text.
    static constexpr std::pair<int, const char*> names[] = {
        {SIGINT, "SIGINT"}, {SIGILL, "SIGILL"},     {SIGFPE, "SIGFPE"},    {SIGSEGV, "SIGSEGV"},
        {SIGTERM, "SIGTERM"}, {SIGBREAK, "SIGBREAK"}, {SIGABRT, "SIGABRT"},
    };
    for (const auto& [number, name] : names)
        if (number == signal) return name;
    return fmt::format("SIG{}", signal);
}

PlatformRules host_rules() { return windows_rules(); }

}  // namespace reel
