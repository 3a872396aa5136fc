#include "foundations/child_process.h"

#include <csignal>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "captured_log.h"
#include "time_factor.h"

namespace vyai {
namespace {

using namespace std::chrono_literals;

TEST(SplitCommandLine, BlanksSeparateQuotesGroup)
{
    using Arguments = std::vector<std::string>;
    const struct {
        const char* line;
        Arguments arguments;
    } cases[] = {
        {"nvidia-smi", {"nvidia-smi"}},
        {"  dxrt-cli   --status ", {"dxrt-cli", "--status"}},
        {"tar -xf \"/data/Generic CPU.tar.gz\" -C \"/data/inference_engine\"",
            {"tar", "-xf", "/data/Generic CPU.tar.gz", "-C", "/data/inference_engine"}},
        {"a\"b c\"d", {"ab cd"}},
        {"echo \"\"", {"echo", ""}},
        {"echo \"say \"\"hi\"\"\"", {"echo", "say \"hi\""}},
        {"nvidia-smi --query-gpu=count --format=csv,noheader",
            {"nvidia-smi", "--query-gpu=count", "--format=csv,noheader"}},
        {"", {}},
        {"   ", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(splitCommandLine(c.line), c.arguments) << c.line;
}

TEST(RunProcess, MissingCommandGivesMinusOneAndNoOutput)
{
    test::CapturedLog log;
    const ProcessResult result = runProcess("vy-no-such-tool-4711 --status");
    EXPECT_EQ(result.exitCode, -1);
    EXPECT_EQ(result.output, "");
    EXPECT_EQ(log.count("Error creating process: 2"), 1);

    EXPECT_EQ(runProcess("").exitCode, -1);
}

TEST(RunProcess, ExitCodeAndBothStreamsInOneText)
{
    const ProcessResult both = runProgram({"/bin/sh", "-c", "echo to-out; echo to-err >&2"});
    EXPECT_EQ(both.exitCode, 0);
    EXPECT_EQ(both.output, "to-out\nto-err\n");

    const ProcessResult three = runProcess("/bin/sh -c \"exit 3\"");
    EXPECT_EQ(three.exitCode, 3);
    EXPECT_EQ(three.output, "");
}

TEST(RunProcess, HungToolIsStoppedAtTheTimeLimit)
{
    test::CapturedLog log;
    // Time enough for the shell to start and print before it hangs.
    const std::chrono::milliseconds limit = test::scaled(200ms);
    const ProcessResult result = runProgram({"/bin/sh", "-c", "echo started; sleep 60"}, limit);
    EXPECT_EQ(result.exitCode, -1);
    EXPECT_EQ(result.output, "started\n");
    EXPECT_EQ(log.count("Error! Process /bin/sh did not finish within " + std::to_string(limit.count())
        + " ms and was killed."), 1);
}

} // namespace
} // namespace vyai

namespace vyai {
namespace {

// A host that ignores SIGCHLD has its children reaped by the kernel: their exit status is gone.
class IgnoredChildSignal
{
public:
    IgnoredChildSignal() { std::signal(SIGCHLD, SIG_IGN); }
    ~IgnoredChildSignal() { std::signal(SIGCHLD, m_previous); }
    IgnoredChildSignal(const IgnoredChildSignal&) = delete;
    IgnoredChildSignal& operator=(const IgnoredChildSignal&) = delete;

private:
    void (*m_previous)(int) = std::signal(SIGCHLD, SIG_DFL);
};

TEST(RunProcess, UnreadableExitStatusIsAFailureNotSuccess)
{
    test::CapturedLog log;
    IgnoredChildSignal ignored;
    const ProcessResult failing = runProcess("sh -c \"echo broken; exit 9\"");
    EXPECT_EQ(failing.exitCode, -1);
    EXPECT_EQ(failing.output, "broken\n");
    log.stop();
    EXPECT_TRUE(log.contains("Could not read the exit status of sh"));
}

} // namespace
} // namespace vyai
