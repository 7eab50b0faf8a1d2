// The worker's system calls on Linux: the existence test, starting bash for one script and
// waiting for it with a deadline (see process.hpp).
//
// In Python terms this file is what the worker would do with
//
//     proc = subprocess.Popen(["bash", script])          # start_bash
//     try:
//         status = proc.wait(timeout=limit)               # wait_for
//     except subprocess.TimeoutExpired:
//         proc.kill(); proc.wait(); raise
//
// but it never needs the interpreter lock, so a script starting or ending on a worker thread
// costs the window's thread nothing.  Two things differ on purpose: bash is looked up in
// absolute PATH folders only, and a status that cannot be read is reported as lost, never as
// a clean exit.
#include "process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>

extern char** environ;

namespace z47::process {
namespace {

using Clock = std::chrono::steady_clock;

// The attributes and file actions of one spawn, released however the spawn ends.
class SpawnSetup {
public:
    SpawnSetup();
    ~SpawnSetup();
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    int error = 0;  // errno of a failed set-up step
    posix_spawnattr_t attr;
    posix_spawn_file_actions_t actions;

private:
    bool have_attr = false;
    bool have_actions = false;
};

SpawnSetup::SpawnSetup()
{
    if ((error = posix_spawnattr_init(&attr)) != 0)
        return;
    have_attr = true;
    if ((error = posix_spawn_file_actions_init(&actions)) != 0)
        return;
    have_actions = true;

    // The worker thread's signal mask and Python's ignored SIGPIPE would otherwise be passed on
    // to bash and from it to every command of the script (a `yes | head` would then never end
    // by SIGPIPE).  An ignored SIGCHLD, inherited from whatever started the centre, would reach
    // the script's commands too: bash hands an ignored signal on to what it runs, and a
    // command that waits for its own children then gets no status for them.  Give the script
    // the clean signal state a shell started from a terminal has.
    sigset_t none, to_default;
    sigemptyset(&none);
    sigemptyset(&to_default);
    sigaddset(&to_default, SIGPIPE);
    sigaddset(&to_default, SIGXFSZ);
    sigaddset(&to_default, SIGCHLD);
    //
    // The script also leads a session of its own.  A script that signals its process group
    // (`kill 0`, or the common `trap 'kill 0' EXIT`) then reaches only itself and what it
    // started, never the centre.  A new session rather than only a new process group: in a
    // group of its own under the centre's terminal, a script that reads the terminal would be
    // stopped by job control (SIGTTIN) until its time ran out; without a controlling terminal
    // it reads the inherited standard input as any other file.
    if ((error = posix_spawnattr_setsigmask(&attr, &none)) != 0 ||
        (error = posix_spawnattr_setsigdefault(&attr, &to_default)) != 0 ||
        (error = posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF |
                                                     POSIX_SPAWN_SETSID)) != 0)
        return;

#if defined(__GLIBC__) && __GLIBC_PREREQ(2, 34)
    // Only the standard streams are the script's business.  Python opens its descriptors
    // close-on-exec, but a library in the process may not have; the installer should not keep
    // the centre's files, sockets or pipes open for as long as the tool runs.
    error = posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
#endif
}

SpawnSetup::~SpawnSetup()
{
    if (have_actions)
        posix_spawn_file_actions_destroy(&actions);
    if (have_attr)
        posix_spawnattr_destroy(&attr);
}

// Milliseconds until the deadline, rounded up so that a poll never wakes before it.
int ms_left(Clock::time_point deadline)
{
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<decltype(left)>(left, 0, 60'000));
}

// The end of a wait: the child's wait status, or `lost` when the child is gone and its status
// with it.
struct Reaped {
    bool lost;
    int status;  // from waitpid, when not lost
};

// Collects the child's status once it has ended; nullopt while it still runs.
std::optional<Reaped> reap(pid_t pid, bool block)
{
    int status = 0;
    for (;;) {
        pid_t got = waitpid(pid, &status, block ? 0 : WNOHANG);
        if (got == pid)
            return Reaped{false, status};
        if (got == 0)
            return std::nullopt;
        if (errno == EINTR)
            continue;
        // ECHILD: the child is no longer ours to wait for; the kernel collected it itself
        // (SIGCHLD ignored or SA_NOCLDWAIT in the process) or another part of the process
        // waited for it.  How it ended is unknown, and an unknown ending is no success.
        return Reaped{true, 0};
    }
}

enum class PidfdWait { ended, deadline, unusable };

// Sleeps in poll() until the child ends or the deadline passes; the kernel wakes us, no spin.
PidfdWait wait_on_pidfd(int pidfd, Clock::time_point deadline)
{
    for (;;) {
        pollfd entry{pidfd, POLLIN, 0};
        int ready = poll(&entry, 1, ms_left(deadline));
        if (ready > 0)
            return PidfdWait::ended;
        if (ready == 0 && Clock::now() >= deadline)
            return PidfdWait::deadline;
        if (ready < 0 && errno != EINTR)
            return PidfdWait::unusable;
        // EINTR, or poll's clock ran slightly ahead of ours: wait for what is left.
    }
}

// For kernels without pidfd_open (before 5.3): ask waitpid at growing intervals up to 50 ms.
std::optional<Reaped> poll_waitpid(pid_t pid, Clock::time_point deadline)
{
    auto pause = std::chrono::milliseconds(1);
    for (;;) {
        if (std::optional<Reaped> reaped = reap(pid, false))
            return reaped;
        if (Clock::now() >= deadline)
            return std::nullopt;
        std::this_thread::sleep_for(std::min<Clock::duration>(pause, deadline - Clock::now()));
        pause = std::min(pause * 2, std::chrono::milliseconds(50));
    }
}

// How the child ended once it has, or nullopt when the deadline passed first.
std::optional<Reaped> wait_until(pid_t pid, Clock::time_point deadline)
{
    // A pidfd is always close-on-exec, so a process started meanwhile by another thread of the
    // centre never inherits it.
    int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (pidfd < 0)
        return poll_waitpid(pid, deadline);
    PidfdWait result = wait_on_pidfd(pidfd, deadline);
    close(pidfd);
    switch (result) {
    case PidfdWait::ended:
        return reap(pid, true);
    case PidfdWait::deadline:
        return reap(pid, false);  // it may have ended in the very last moment
    case PidfdWait::unusable:
        break;
    }
    return poll_waitpid(pid, deadline);
}

Ending ending_of(const Reaped& reaped)
{
    if (reaped.lost)
        return {Ending::lost, 0};
    const int status = reaped.status;
    if (WIFSIGNALED(status))
        return {Ending::signalled, WTERMSIG(status)};
    return {Ending::exited, WIFEXITED(status) ? WEXITSTATUS(status) : 0};
}

// Makes sure the kernel keeps the statuses of the centre's children until they are read.
// With SIGCHLD ignored, or SA_NOCLDWAIT set on it, the kernel throws every child's status
// away, and waitpid finds no child.  A parent that ignores SIGCHLD (some session managers do)
// passes that on across exec, so the centre can start out that way.  The centre must read
// every script's status, and nothing in it relies on SIGCHLD being ignored, so SIGCHLD gets
// its default back.  A handler someone installed stays; only its SA_NOCLDWAIT is dropped.
// Returns 0, or the errno of the failed sigaction.
int keep_child_statuses()
{
    struct sigaction current;
    if (sigaction(SIGCHLD, nullptr, &current) != 0)
        return errno;
    const bool ignored = current.sa_handler == SIG_IGN;
    if (!ignored && !(current.sa_flags & SA_NOCLDWAIT))
        return 0;
    struct sigaction wanted = current;
    if (ignored) {
        wanted = {};
        wanted.sa_handler = SIG_DFL;
        sigemptyset(&wanted.sa_mask);
    }
    wanted.sa_flags &= ~SA_NOCLDWAIT;
    return sigaction(SIGCHLD, &wanted, nullptr) == 0 ? 0 : errno;
}

// Where bash is, or why it cannot be started.
struct Found {
    std::string path;  // set when error == 0
    int error;
};

// Looks bash up as execvp would, but in absolute PATH folders only.  An empty entry (a leading,
// doubled or trailing ':') and a relative one ('.', 'bin') name the current folder or one
// below it: whatever folder the centre happens to run from.  A `bash` placed there must never
// be run with the user's rights, so those entries are passed over.  Without PATH the system's
// default search path is used.  A candidate the process may not execute (no execute bit, a
// folder, a folder on the way that may not be searched, a file system mounted noexec) is
// passed over too; when nothing runnable is found the error is EACCES if such a candidate was
// seen and ENOENT otherwise, the errors execvp gives.
Found find_bash()
{
    std::string search;
    if (const char* path = getenv("PATH")) {
        search = path;
    } else if (std::size_t size = confstr(_CS_PATH, nullptr, 0); size > 0) {
        search.resize(size);
        confstr(_CS_PATH, search.data(), size);
        search.resize(size - 1);  // confstr counts the terminating NUL
    }
    // With no default at all there is no folder to look in: bash is not found (ENOENT).

    bool refused = false;
    const std::string_view entries(search);
    for (std::size_t begin = 0;;) {
        const std::size_t colon = entries.find(':', begin);
        const std::string_view entry =
            entries.substr(begin, colon == std::string_view::npos ? std::string_view::npos : colon - begin);
        if (!entry.empty() && entry.front() == '/') {
            std::string candidate(entry);
            if (candidate.back() != '/')
                candidate += '/';
            candidate += "bash";
            struct stat info;
            if (stat(candidate.c_str(), &info) == 0) {
                // AT_EACCESS: checked with the effective ids, the ones exec checks.
                if (S_ISREG(info.st_mode) && faccessat(AT_FDCWD, candidate.c_str(), X_OK, AT_EACCESS) == 0)
                    return {std::move(candidate), 0};
                refused = true;
            } else if (errno == EACCES) {
                refused = true;
            }
            // Any other error (nothing there, a file used as a folder, a name too long, ...)
            // just means no bash in this entry.
        }
        if (colon == std::string_view::npos)
            break;
        begin = colon + 1;
    }
    return {{}, refused ? EACCES : ENOENT};
}

// The errors after which nothing can be at the path: the script is missing, not unreadable.
// (A name too long for the system cannot name a file either.)
bool means_missing(int error)
{
    return error == ENOENT || error == ENOTDIR || error == ELOOP || error == EBADF || error == ENAMETOOLONG;
}

}  // namespace

int probe(const std::string& path)
{
    if (path.find('\0') != std::string::npos)
        return -1;  // no file can have such a name
    struct stat info;
    if (stat(path.c_str(), &info) == 0)
        return 0;
    return means_missing(errno) ? -1 : errno;
}

Start start_bash(const std::string& script)
{
    Found bash = find_bash();
    if (bash.error != 0)
        return {-1, bash.error};
    SpawnSetup setup;
    if (setup.error != 0)
        return {-1, setup.error};
    char* argv[] = {const_cast<char*>("bash"), const_cast<char*>(script.c_str()), nullptr};
    pid_t pid = -1;
    // One start at a time in this process.  Each start briefly runs a child inside the
    // centre's own address space until it execs bash; many of them at once (a burst of runs)
    // contend with the window's thread for the address space and froze it for tens of
    // milliseconds.  One at a time, a start costs about a millisecond of a worker's time.
    static std::mutex one_at_a_time;
    std::lock_guard<std::mutex> lock(one_at_a_time);
    // Before each start, not once: the disposition is the process's, and anything in it may
    // have changed it since the last script.
    if (int error = keep_child_statuses(); error != 0)
        return {-1, error};
    int error = posix_spawn(&pid, bash.path.c_str(), &setup.actions, &setup.attr, argv, environ);
    return {pid, error};
}

Ending wait_for(pid_t pid, Clock::time_point started, std::chrono::milliseconds limit)
{
    if (std::optional<Reaped> reaped = wait_until(pid, started + limit))
        return ending_of(*reaped);
    // Only bash is stopped: what it started belongs to the tool's installer, not to us.  Its
    // status does not matter any more, so a lost one changes nothing here.
    kill(pid, SIGKILL);
    reap(pid, true);
    return {Ending::timed_out, 0};
}

}  // namespace z47::process
