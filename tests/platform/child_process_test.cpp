#include "vy/platform/child_process.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <chrono>
#include <csignal>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "eventually.h"
#include "time_factor.h"

namespace vy::platform {
namespace {

using namespace std::chrono_literals;

// Generous: only the time-out tests are meant to reach it.
constexpr auto kLimit = 60s;

ChildProcessResult runShell(const std::string& script, std::chrono::milliseconds limit = kLimit)
{
    return runChildProcess({"/bin/sh", "-c", script}, limit);
}

// A process that is gone or a zombie waiting for its parent: either way it runs no more.
bool isRunning(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string pidText, name, state;
    if (!(stat >> pidText >> name >> state))
        return false;
    return state != "Z" && state != "X";
}

// A killed process that someone else reaps leaves the run queue a moment after the signal;
// on a loaded machine that moment can be long, so wait for it within a generous bound.
bool stopsRunning(pid_t pid)
{
    return vyai::test::eventually([pid] { return !isRunning(pid); });
}

// Time enough for the shell to start and print before it hangs.
const std::chrono::milliseconds kHangLimit = vyai::test::scaled(300ms);

TEST(ChildProcess, MissingProgramIsASpawnFailure)
{
    const auto result = runChildProcess({"vy-no-such-program-4711", "--help"}, kLimit);
    EXPECT_EQ(result.status, ChildProcessStatus::spawnFailed);
    EXPECT_EQ(result.errorNumber, ENOENT);
    EXPECT_EQ(result.exitCode, -1);
    EXPECT_EQ(result.output, "");
}

TEST(ChildProcess, EmptyArgumentListIsRefused)
{
    const auto result = runChildProcess({}, kLimit);
    EXPECT_EQ(result.status, ChildProcessStatus::spawnFailed);
    EXPECT_EQ(result.errorNumber, EINVAL);
}

TEST(ChildProcess, ExitCodesAndMergedOutput)
{
    const struct {
        const char* script;
        int exitCode;
        const char* output;
    } cases[] = {
        {"exit 3", 3, ""},
        {"echo out; echo err >&2; echo again", 0, "out\nerr\nagain\n"},
        {"printf 'no line end'; exit 255", 255, "no line end"},
        {"kill -TERM $$", 128 + SIGTERM, ""},
        // Standard input is empty, not the caller's: cat ends at once.
        {"cat", 0, ""},
    };
    for (const auto& c : cases) {
        const auto result = runShell(c.script);
        EXPECT_EQ(result.status, ChildProcessStatus::exited) << c.script;
        EXPECT_EQ(result.exitCode, c.exitCode) << c.script;
        EXPECT_EQ(result.output, c.output) << c.script;
    }
}

TEST(ChildProcess, ArgumentsReachTheProgramUnchanged)
{
    // No shell of ours in between: blanks, quotes, empty arguments and patterns stay as given.
    const auto result = runChildProcess(
        {"/bin/sh", "-c", "printf '%s|' \"$@\"", "sh", "a \"quoted\" arg", "", "*"}, kLimit);
    ASSERT_EQ(result.status, ChildProcessStatus::exited);
    EXPECT_EQ(result.output, "a \"quoted\" arg||*|");
}

TEST(ChildProcess, OutputLargerThanThePipeBufferIsReadWhole)
{
    const auto result = runShell("head -c 300000 /dev/zero; echo end >&2");
    ASSERT_EQ(result.status, ChildProcessStatus::exited);
    EXPECT_EQ(result.output.size(), 300000u + 4u);
    EXPECT_EQ(result.output.substr(300000), "end\n");
}

TEST(ChildProcess, HungChildIsKilledAndReaped)
{
    const auto result = runShell("echo $$; exec sleep 60", kHangLimit);
    EXPECT_EQ(result.status, ChildProcessStatus::timedOut);
    EXPECT_EQ(result.exitCode, -1);
    const pid_t child = std::stoi(result.output);
    // Reaped by the runner: no zombie is left for this process to collect.
    int status = 0;
    EXPECT_EQ(::waitpid(child, &status, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
    EXPECT_FALSE(isRunning(child));
}

TEST(ChildProcess, TimeOutAlsoKillsWhatTheChildStarted)
{
    const auto result = runShell("sleep 60 & echo $!; wait", kHangLimit);
    EXPECT_EQ(result.status, ChildProcessStatus::timedOut);
    const pid_t grandchild = std::stoi(result.output);
    EXPECT_TRUE(stopsRunning(grandchild));
}

TEST(ChildProcess, ChildThatClosesItsOutputButLingersTimesOut)
{
    const auto result = runShell("echo bye; exec >&- 2>&-; exec sleep 60", kHangLimit);
    EXPECT_EQ(result.status, ChildProcessStatus::timedOut);
    EXPECT_EQ(result.output, "bye\n");
}

// The runner's stop flag, set from another thread once the child runs: whether the child still
// writes to the pipe or has closed it, the child goes at once, long before its time limit.
TEST(ChildProcess, AStopEndsTheChildWellBeforeItsTimeLimit)
{
    const struct {
        const char* name;
        const char* tail; //< after the child wrote its id to the file
    } cases[] = {
        {"reading its output", "exec sleep 60"},
        {"waiting for its exit", "exec >&- 2>&-; exec sleep 60"},
    };
    for (const auto& c : cases) {
        const std::string started = ::testing::TempDir() + "stopped-child-" + std::to_string(::getpid());
        std::remove(started.c_str());
        std::atomic<bool> stop{false};
        std::chrono::steady_clock::time_point stopAt;
        bool written = false;
        std::thread stopper([&] {
            written = vyai::test::eventually(
                [&] { return std::ifstream(started).peek() != std::ifstream::traits_type::eof(); });
            stopAt = std::chrono::steady_clock::now();
            stop = true;
        });
        const auto result = runChildProcess(
            {"/bin/sh", "-c", "echo $$ > '" + started + "'; " + c.tail}, kLimit, &stop);
        const auto ended = std::chrono::steady_clock::now();
        stopper.join();
        EXPECT_TRUE(written) << c.name << ": the child never wrote its id";
        EXPECT_EQ(result.status, ChildProcessStatus::stopped) << c.name;
        EXPECT_LT(ended - stopAt, vyai::test::scaled(2s)) << c.name;
        std::ifstream idFile(started);
        pid_t child = 0;
        idFile >> child;
        EXPECT_GT(child, 0) << c.name;
        EXPECT_FALSE(isRunning(child)) << c.name;
        std::remove(started.c_str());
    }

    // Set before the call: nothing starts.
    std::atomic<bool> stop{true};
    const std::string marker = ::testing::TempDir() + "never-started-" + std::to_string(::getpid());
    const auto result = runChildProcess({"/bin/sh", "-c", "touch '" + marker + "'"}, kLimit, &stop);
    EXPECT_EQ(result.status, ChildProcessStatus::stopped);
    EXPECT_FALSE(std::ifstream(marker).is_open());
}

TEST(ChildProcess, ConcurrentRunsKeepTheirOwnOutput)
{
    std::vector<std::thread> threads;
    std::vector<int> mismatches(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &mismatches] {
            for (int i = 0; i < 10; ++i) {
                const std::string tag = std::to_string(t) + "-" + std::to_string(i);
                const auto result =
                    runChildProcess({"/bin/sh", "-c", "echo \"$0\"; exit 7", tag}, kLimit);
                if (result.status != ChildProcessStatus::exited || result.exitCode != 7
                    || result.output != tag + "\n") {
                    ++mismatches[t];
                }
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}

} // namespace
} // namespace vy::platform
