// The worker's view of the system: is a script there, run it with bash, wait for it with a
// time limit.
//
// Plain system calls, no Python: the worker calls these with the interpreter lock released,
// so the window's thread keeps running while a script starts, runs and ends.
//
// process_posix.cpp does the real work on Linux (and any POSIX system).  On Windows no script
// is ever run, so process_windows.cpp only answers the existence test and refuses to start.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>

namespace z47::process {

// 0 when something is at the path (links followed), -1 when nothing can be there (missing, a
// component that is no folder, a name the system cannot take), otherwise the errno that
// stopped the test.  The path is file-system bytes: UTF-8 on Windows, as Python gives them.
int probe(const std::string& path);

// How a started script ended.
struct Ending {
    // lost: the child ended but its status could not be read (someone else collected it).
    enum Kind { exited, signalled, timed_out, lost } kind;
    int value;  // exit status for `exited`, signal number for `signalled`, 0 otherwise
};

// What an attempt to start bash gave: the child's pid, or the system's error number.
struct Start {
    pid_t pid;  // valid when error == 0
    int error;  // errno of the failed start (ENOENT when bash is not on PATH, ...)
};

// Starts `bash <script>` as a child: bash is the first one found in PATH's absolute folders
// (the system's default search path when PATH is unset; empty and relative entries, which
// name the current folder, are never searched), the script path is its single argument
// exactly as given (file-system bytes), and the child inherits the environment, the working
// directory and the standard streams.  No other descriptor reaches the child, and SIGCHLD,
// SIGPIPE and SIGXFSZ are at their defaults in it.  The child leads a new session (no
// controlling terminal), so signals a script sends to its process group never reach the
// centre.  Fails with ENOENT when no such bash
// exists and with EACCES when the only ones found may not be executed.
//
// So that the script's status can be read, before each start a SIGCHLD ignored in this process
// is set back to its default and an SA_NOCLDWAIT on it is dropped: that changes the whole
// process, not only the child.
Start start_bash(const std::string& script);

// Waits until the child ends or `limit` has passed since `started`.  On time-out the child
// (bash itself, not what it started) is killed with SIGKILL and reaped before returning, so no
// zombie is ever left behind.  A child whose status could not be read is `lost`, never a
// clean exit.
Ending wait_for(pid_t pid, std::chrono::steady_clock::time_point started, std::chrono::milliseconds limit);

}  // namespace z47::process
