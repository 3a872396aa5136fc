#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

// Running a command-line tool ("nvidia-smi", "dxrt-cli") and capturing what it writes.

namespace vyai {

struct ProcessResult {
    int32_t exitCode = -1; // -1 when the process could not be run or ran out of time
    std::string output;    // standard output and standard error, merged in the order written
};

// A broken driver can hang its tool for good; the callers sit on engine creation and on the
// runtime manager loop, which the host's shut-down waits for.
inline constexpr std::chrono::milliseconds kDefaultProcessTimeLimit = std::chrono::seconds(60);

/**
 * Runs a program with its arguments (arguments[0] is looked up on PATH), never through a
 * shell, and returns its exit code with everything it wrote. A program still running after
 * timeLimit, or once `stop` (when given) is set, is killed together with whatever it started,
 * and gives exit code -1; a set `stop` starts nothing. Failures are logged ("Error creating
 * pipe: %d", "Error creating process: %d" with the error number).
 */
ProcessResult runProgram(const std::vector<std::string>& arguments,
    std::chrono::milliseconds timeLimit = kDefaultProcessTimeLimit, const std::atomic<bool>* stop = nullptr);

/**
 * runProgram of a command line split into arguments at blanks outside double quotes (quotes
 * group, and are dropped; "" inside quotes stands for one quote). No shell features: no
 * redirection, pipes, variables or patterns.
 */
ProcessResult runProcess(const std::string& commandLine,
    std::chrono::milliseconds timeLimit = kDefaultProcessTimeLimit, const std::atomic<bool>* stop = nullptr);

/** The arguments runProcess makes of a command line. */
std::vector<std::string> splitCommandLine(const std::string& commandLine);

} // namespace vyai
