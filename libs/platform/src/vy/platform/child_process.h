#pragma once

#include <atomic>
#include <chrono>
#include <string>
#include <vector>

namespace vy::platform {

enum class ChildProcessStatus {
    exited,      // the child ran to its end; exitCode is valid
    pipeFailed,  // the output pipe could not be made; errorNumber says why
    spawnFailed, // the program could not be started (missing, not executable); errorNumber says why
    timedOut,    // the time limit passed; the child and its process group were killed and reaped
    statusLost,  // the child ended but its exit status could not be read (errorNumber: ECHILD
                 // when the host ignores SIGCHLD); how it ended is unknown
    stopped,     // the caller's stop flag was set; the child and its process group were killed
                 // and reaped
};

struct ChildProcessResult {
    ChildProcessStatus status = ChildProcessStatus::spawnFailed;
    int errorNumber = 0;
    // The child's exit status, or 128 + the signal number when a signal ended it; -1 unless exited.
    int exitCode = -1;
    // Everything the child wrote to standard output and standard error, merged in the order written.
    std::string output;
};

// Runs arguments[0] (looked up on PATH when it holds no '/') with the arguments that follow,
// directly, never through a shell. Standard input is /dev/null; standard output and standard
// error share one pipe, read until its end. The child runs in a process group of its own so
// that a time-out can kill whatever it started too. Blocks the caller for at most about
// timeLimit. A stop flag, when given, is read at least every 20 ms while the child runs: once
// set, the child is ended as on a time-out (a flag already set starts nothing).
// Safe to call from several threads at once.
ChildProcessResult runChildProcess(const std::vector<std::string>& arguments,
    std::chrono::milliseconds timeLimit, const std::atomic<bool>* stop = nullptr);

} // namespace vy::platform
