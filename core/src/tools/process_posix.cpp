// POSIX side of the operating-system seam: fork and exec with piped outputs and
// the parent-death signal, poll() over both pipes, waitpid, SIGKILL, getenv,
// stat and access.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <pthread.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <system_error>
#include <utility>

#include <fmt/format.h>

#include "tools/interrupts.h"
#include "tools/process.h"
#include "tools/toolset.h"

extern char** environ;

namespace reel {
namespace {

// strerror wording without strerror's shared buffer.
std::string system_text(int error) { return std::generic_category().message(error); }

// An owned file descriptor.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { reset(); }

    int get() const { return fd_; }
    bool open() const { return fd_ >= 0; }
    void reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
};

// A pipe whose both ends are close-on-exec, so that no child inherits another
// child's pipe (which would keep it open after that child ended).
Result<std::pair<Fd, Fd>> make_pipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return fail(system_text(errno));
    return std::pair<Fd, Fd>(Fd(fds[0]), Fd(fds[1]));
}

ExitStatus decode_wait_status(int raw) {
    ExitStatus status;
    if (WIFSIGNALED(raw)) {
        status.signaled = true;
        status.signal = WTERMSIG(raw);
    } else if (WIFEXITED(raw)) {
        status.code = WEXITSTATUS(raw);
    }
    return status;
}

// Every child that is running or not yet reaped, so that a second interrupt can
// end them all before the program exits. Lock-free: read from a signal handler.
constexpr std::size_t kChildSlots = 64;
std::array<std::atomic<pid_t>, kChildSlots> live_children{};

void register_child(pid_t pid) {
    for (auto& slot : live_children) {
        pid_t expected = 0;
        if (slot.compare_exchange_strong(expected, pid)) return;
    }
}

void unregister_child(pid_t pid) {
    for (auto& slot : live_children) {
        pid_t expected = pid;
        if (slot.compare_exchange_strong(expected, 0)) return;
    }
}

class PosixChild final : public ChildProcess {
public:
    PosixChild(pid_t pid, Fd out, Fd err) : pid_(pid), out_(std::move(out)), err_(std::move(err)) {}

    // Kill-on-abandon: a child nobody waited for is killed and reaped here, so
    // it neither lingers as a zombie nor runs on as an orphan.
    ~PosixChild() override {
        if (!reaped_) {
            ::kill(pid_, SIGKILL);
            int raw = 0;
            while (::waitpid(pid_, &raw, 0) < 0 && errno == EINTR) {
            }
            unregister_child(pid_);
        }
    }

    std::uint32_t pid() const override { return static_cast<std::uint32_t>(pid_); }

    Result<bool> pump(const std::function<void(std::string_view)>& on_stdout,
                      const std::function<void(std::string_view)>& on_stderr) override {
        std::array<pollfd, 2> polled{};
        std::array<Fd*, 2> owners{};
        std::array<const std::function<void(std::string_view)>*, 2> sinks{};
        nfds_t count = 0;
        for (auto [fd, sink] : {std::pair{&out_, &on_stdout}, std::pair{&err_, &on_stderr}}) {
            if (!fd->open()) continue;
            polled[count] = pollfd{fd->get(), POLLIN, 0};
            owners[count] = fd;
            sinks[count] = sink;
            ++count;
        }
        if (count == 0) return false;

        int ready;
        do {
            ready = ::poll(polled.data(), count, -1);
        } while (ready < 0 && errno == EINTR);
        if (ready < 0) {
            const int error = errno;
            out_.reset();
            err_.reset();
            return fail(system_text(error));
        }

        for (nfds_t i = 0; i < count; ++i) {
            if (polled[i].revents == 0) continue;
            char buffer[8192];
            ssize_t got;
            do {
                got = ::read(owners[i]->get(), buffer, sizeof buffer);
            } while (got < 0 && errno == EINTR);
            if (got < 0) {
                const int error = errno;
                owners[i]->reset();
                return fail(system_text(error));
            }
            if (got == 0) {
                owners[i]->reset();
                continue;
            }
            if (*sinks[i]) (*sinks[i])(std::string_view(buffer, static_cast<std::size_t>(got)));
        }
        return out_.open() || err_.open();
    }

    Result<ExitStatus> wait() override {
        if (reaped_) return status_;
        int raw = 0;
        pid_t got;
        do {
            got = ::waitpid(pid_, &raw, 0);
        } while (got < 0 && errno == EINTR);
        if (got < 0) return fail(system_text(errno));
        reaped_ = true;
        unregister_child(pid_);
        status_ = decode_wait_status(raw);
        return status_;
    }

    void kill() override {
        // Until it is reaped the id cannot have been reused, so this hits our child.
        if (!reaped_) ::kill(pid_, SIGKILL);
    }

private:
    pid_t pid_;
    Fd out_;
    Fd err_;
    bool reaped_ = false;
    ExitStatus status_;
};

// Between fork and exec only async-signal-safe calls are allowed: another
// thread may have held a lock (malloc's, stdio's) at the moment of the fork, and
// the child would wait for it forever. Everything is prepared before the fork.
struct ExecPlan {
    const char* program;
    char* const* argv;
    int out;     // write ends of the output pipes
    int err;
    int report;  // close-on-exec pipe that carries errno of a failed start
    pid_t parent;
};

[[noreturn]] void report_and_exit(int report, int error) {
    while (::write(report, &error, sizeof error) < 0 && errno == EINTR) {
    }
    ::_exit(127);
}

// A copy of `fd` at 3 or above, so that placing the standard descriptors
// cannot overwrite a source that happens to be 0, 1 or 2.
int above_standard(int fd) { return ::fcntl(fd, F_DUPFD_CLOEXEC, 3); }

[[noreturn]] void exec_child(const ExecPlan& plan) {
    // The child dies with us however we end, also by SIGKILL, which no handler
    // of ours would see. A parent that died before this took effect is caught
    // by the check after it.
    if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0) report_and_exit(plan.report, errno);
    if (::getppid() != plan.parent) ::_exit(127);

    const int null_input = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (null_input < 0) report_and_exit(plan.report, errno);
    const int sources[3] = {above_standard(null_input), above_standard(plan.out), above_standard(plan.err)};
    for (int target = 0; target < 3; ++target) {
        if (sources[target] < 0 || ::dup2(sources[target], target) < 0) report_and_exit(plan.report, errno);
    }

    // The child starts with default handlers (our interrupt handler must not
    // run in it), a default SIGPIPE and no blocked signals, whatever the host
    // program (or a test runner) did to its own.
    struct sigaction defaults {};
    defaults.sa_handler = SIG_DFL;
    sigemptyset(&defaults.sa_mask);
    for (int signal = 1; signal < NSIG; ++signal) {
        struct sigaction current {};
        if (::sigaction(signal, nullptr, &current) != 0) continue;
        if (current.sa_handler != SIG_DFL && current.sa_handler != SIG_IGN) ::sigaction(signal, &defaults, nullptr);
    }
    ::sigaction(SIGPIPE, &defaults, nullptr);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);

    // execve, not execvpe: the path is used as given, as discovery found it.
    ::execve(plan.program, plan.argv, environ);
    report_and_exit(plan.report, errno);
}

// fork with every signal blocked, so that no handler of ours runs in the child
// before it has put the defaults back. Returns the child's id, or -1 with errno.
pid_t fork_quietly() {
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &previous);
    const pid_t pid = ::fork();
    const int error = errno;
    if (pid != 0) ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    errno = error;
    return pid;
}

// Reads the errno a child reports when it could not exec; 0 when the exec
// succeeded (the pipe closed without a word).
int start_error(int report) {
    int error = 0;
    ssize_t got;
    do {
        got = ::read(report, &error, sizeof error);
    } while (got < 0 && errno == EINTR);
    return got == static_cast<ssize_t>(sizeof error) ? error : 0;
}

}  // namespace

Result<std::unique_ptr<ChildProcess>> start_child(const std::string& program, const std::vector<std::string>& args) {
    // A NUL would silently cut an argument short instead of passing it unchanged.
    const auto has_nul = [](const std::string& text) { return text.find('\0') != std::string::npos; };
    if (has_nul(program) || std::ranges::any_of(args, has_nul)) return fail(system_text(EINVAL));

    auto out = make_pipe();
    if (!out) return fail(out.error());
    auto err = make_pipe();
    if (!err) return fail(err.error());
    auto report = make_pipe();
    if (!report) return fail(report.error());

    std::vector<char*> argv;
    argv.reserve(args.size() + 2);
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);

    const ExecPlan plan{program.c_str(), argv.data(), out->second.get(), err->second.get(), report->second.get(),
                        ::getpid()};
    const pid_t pid = fork_quietly();
    if (pid < 0) return fail(system_text(errno));
    if (pid == 0) exec_child(plan);

    // Only the child keeps the write ends; end of stream then means the child
    // (and whatever it passed them on to) is done writing.
    out->second.reset();
    err->second.reset();
    report->second.reset();
    // A failed exec (missing or non-executable program) is reported as its
    // error number instead of a child that exits with 127.
    if (const int error = start_error(report->first.get()); error != 0) {
        int raw = 0;
        while (::waitpid(pid, &raw, 0) < 0 && errno == EINTR) {
        }
        return fail(system_text(error));
    }
    register_child(pid);
    return std::unique_ptr<ChildProcess>(new PosixChild(pid, std::move(out->first), std::move(err->first)));
}

void kill_process(std::uint32_t pid) {
    // 0 would address our own process group and ids above INT_MAX turn into
    // negative pid_t values, which address groups or every process.
    if (pid == 0 || pid > static_cast<std::uint32_t>(INT_MAX)) return;
    ::kill(static_cast<pid_t>(pid), SIGKILL);
}

std::optional<std::string> get_env(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    if (value == nullptr) return std::nullopt;
    return std::string(value);
}

std::uint32_t current_process_id() { return static_cast<std::uint32_t>(::getpid()); }

bool process_running(std::uint32_t pid) {
    // Ids beyond INT_MAX would address process groups.
    if (pid == 0 || pid > static_cast<std::uint32_t>(INT_MAX)) return false;
    // EPERM: it exists, but belongs to someone else.
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

Result<void> create_private_folder(const std::string& path) {
    // mkdir never follows a link in the last component: a planted link is
    // EEXIST like any other name that is taken.
    if (::mkdir(path.c_str(), S_IRWXU) != 0) return fail(system_text(errno));
    return {};
}

bool is_own_plain_folder(const std::string& path) {
    struct stat meta {};
    return ::lstat(path.c_str(), &meta) == 0 && S_ISDIR(meta.st_mode) && meta.st_uid == ::geteuid();
}

bool standard_error_is_terminal() { return ::isatty(STDERR_FILENO) == 1; }

std::optional<FileInfo> file_info(const std::string& path) {
    struct stat meta {};
    if (::stat(path.c_str(), &meta) != 0) return std::nullopt;
    FileInfo info;
    info.isDirectory = S_ISDIR(meta.st_mode);
    info.isRegular = S_ISREG(meta.st_mode);
    // Effective ids, as exec itself checks them.
    info.executable = ::faccessat(AT_FDCWD, path.c_str(), X_OK, AT_EACCESS) == 0;
    return info;
}

std::string signal_name(int signal) {
    static constexpr std::pair<int, const char*> names[] = {
        {SIGHUP, "SIGHUP"},   {SIGINT, "SIGINT"},     {SIGQUIT, "SIGQUIT"}, {SIGILL, "SIGILL"},
        {SIGTRAP, "SIGTRAP"}, {SIGABRT, "SIGABRT"},   {SIGBUS, "SIGBUS"},   {SIGFPE, "SIGFPE"},
        {SIGKILL, "SIGKILL"}, {SIGUSR1, "SIGUSR1"},   {SIGSEGV, "SIGSEGV"}, {SIGUSR2, "SIGUSR2"},
        {SIGPIPE, "SIGPIPE"}, {SIGALRM, "SIGALRM"},   {SIGTERM, "SIGTERM"}, {SIGCHLD, "SIGCHLD"},
        {SIGCONT, "SIGCONT"}, {SIGSTOP, "SIGSTOP"},   {SIGTSTP, "SIGTSTP"}, {SIGTTIN, "SIGTTIN"},
        {SIGTTOU, "SIGTTOU"}, {SIGURG, "SIGURG"},     {SIGXCPU, "SIGXCPU"}, {SIGXFSZ, "SIGXFSZ"},
        {SIGVTALRM, "SIGVTALRM"}, {SIGPROF, "SIGPROF"}, {SIGSYS, "SIGSYS"},
    };
    for (const auto& [number, name] : names)
        if (number == signal) return name;
    return fmt::format("SIG{}", signal);
}

PlatformRules host_rules() { return posix_rules(); }

namespace {

// Kills every child started through start_child that has not been reaped yet.
// Safe to call from a signal handler.
void kill_all_children() {
    for (auto& slot : live_children) {
        const pid_t pid = slot.load();
        if (pid > 0) ::kill(pid, SIGKILL);
    }
}

// Only async-signal-safe work: atomic loads and stores, kill and _exit.
extern "C" void on_interrupt(int) {
    if (record_interrupt()) {
        kill_all_children();
        ::_exit(1);
    }
}

}  // namespace

void install_interrupt_handler(bool install) {
    struct sigaction action {};
    action.sa_handler = install ? on_interrupt : SIG_DFL;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal, &action, nullptr);
}

}  // namespace reel
