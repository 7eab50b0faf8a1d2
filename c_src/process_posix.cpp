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
// costs the window's thread nothing.
#include "process.hpp"

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
    // by SIGPIPE).  Give the script the clean signal state a shell started from a terminal has.
    sigset_t none, to_default;
    sigemptyset(&none);
    sigemptyset(&to_default);
    sigaddset(&to_default, SIGPIPE);
    sigaddset(&to_default, SIGXFSZ);
    if ((error = posix_spawnattr_setsigmask(&attr, &none)) != 0 ||
        (error = posix_spawnattr_setsigdefault(&attr, &to_default)) != 0 ||
        (error = posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF)) != 0)
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

// Collects the child's status once it has ended; nullopt while it still runs.
std::optional<int> reap(pid_t pid, bool block)
{
    int status = 0;
    for (;;) {
        pid_t got = waitpid(pid, &status, block ? 0 : WNOHANG);
        if (got == pid)
            return status;
        if (got == 0)
            return std::nullopt;
        if (errno == EINTR)
            continue;
        // ECHILD: somebody else collected the child (SIGCHLD set to SIG_IGN in the process does
        // that).  Its status is lost; like Python's subprocess, count it as a clean exit.
        return 0;
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
std::optional<int> poll_waitpid(pid_t pid, Clock::time_point deadline)
{
    auto pause = std::chrono::milliseconds(1);
    for (;;) {
        if (std::optional<int> status = reap(pid, false))
            return status;
        if (Clock::now() >= deadline)
            return std::nullopt;
        std::this_thread::sleep_for(std::min<Clock::duration>(pause, deadline - Clock::now()));
        pause = std::min(pause * 2, std::chrono::milliseconds(50));
    }
}

// The child's wait status once it has ended, or nullopt when the deadline passed first.
std::optional<int> wait_until(pid_t pid, Clock::time_point deadline)
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

Ending ending_of(int status)
{
    if (WIFSIGNALED(status))
        return {Ending::signalled, WTERMSIG(status)};
    return {Ending::exited, WIFEXITED(status) ? WEXITSTATUS(status) : 0};
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
    int error = posix_spawnp(&pid, "bash", &setup.actions, &setup.attr, argv, environ);
    return {pid, error};
}

Ending wait_for(pid_t pid, Clock::time_point started, std::chrono::milliseconds limit)
{
    if (std::optional<int> status = wait_until(pid, started + limit))
        return ending_of(*status);
    // Only bash is stopped: what it started belongs to the tool's installer, not to us.
    kill(pid, SIGKILL);
    reap(pid, true);
    return {Ending::timed_out, 0};
}

}  // namespace z47::process
