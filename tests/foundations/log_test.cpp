#include "foundations/log.h"

#include <csignal>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "foundations/log_test_hooks.h"
#include "log_test_fixture.h"
#include "test_files.h"

namespace vyai {
namespace {

using test::readFile;
using test::writeFile;
namespace fs = std::filesystem;

constexpr uint64_t kLimit = 200;

class LogTest: public test::LogFixture
{
};

TEST_F(LogTest, HeaderCarriesMillisecondsAndDeltaSinceThePreviousLine)
{
    start(1);
    logError("one\n");
    const std::string first = header(0) + "one\n";
    s_nowMicros += 1500;
    logError("two %d\n", 2);
    const std::string second = header(1500) + "two 2\n";
    s_nowMicros -= 1000; //< The clock steps back: the delta must not wrap.
    logError("three\n");
    const std::string third = header(0) + "three\n";
    shutdownLogging();

    EXPECT_EQ(readFile(startPath), first + second + third);
    EXPECT_EQ(first, "P: 1700000000123 000000000: one\n");
}

TEST_F(LogTest, FirstLineAfterARestartHasNoDelta)
{
    start(1);
    logError("earlier session\n");
    shutdownLogging();
    s_nowMicros += 5'000'000;
    start(1);
    logError("first\n");
    shutdownLogging();

    EXPECT_EQ(readFile(startPath), header(0) + "first\n");
}

struct LevelCase
{
    int32_t level;
    bool errorWritten;
    bool infoWritten;
};

class LogLevelTest: public test::LogFixture, public ::testing::WithParamInterface<LevelCase>
{
};

TEST_P(LogLevelTest, GatesFileAndConsoleAlike)
{
    const LevelCase& c = GetParam();
    writeFile(startPath, "previous session\n");
    writeFile(mainPath, "previous session\n");

    ::testing::internal::CaptureStdout();
    start(c.level, /*logToConsole*/ true);
    logError("error line\n");
    logInfo("info line\n");
    shutdownLogging();
    const std::string console = ::testing::internal::GetCapturedStdout();

    const std::string expected = (c.errorWritten ? header() + "error line\n" : "")
        + (c.infoWritten ? header() + "info line\n" : "");
    EXPECT_EQ(readFile(startPath), expected);
    EXPECT_EQ(console, expected);
    // Both files are truncated at start, even when nothing is written to them.
    EXPECT_TRUE(fs::exists(mainPath));
    EXPECT_EQ(readFile(mainPath), "");
}

INSTANTIATE_TEST_SUITE_P(Levels, LogLevelTest,
    ::testing::Values(LevelCase{0, false, false}, LevelCase{1, true, false},
        LevelCase{2, true, true}, LevelCase{3, true, true}),
    [](const auto& info) { return "Level" + std::to_string(info.param.level); });

TEST_F(LogTest, ConsoleOnlyWritesTheSameLinesToStdoutAndCreatesNoFile)
{
    ::testing::internal::CaptureStdout();
    start(1, /*logToConsole*/ true, /*logToFile*/ false);
    logError("only %s\n", "console");
    const std::string console = ::testing::internal::GetCapturedStdout();

    EXPECT_EQ(console, header() + "only console\n");
    EXPECT_FALSE(fs::exists(startPath));
    EXPECT_FALSE(fs::exists(mainPath));
}

TEST_F(LogTest, ConsoleAndFileBothReceiveTheFormattedArguments)
{
    ::testing::internal::CaptureStdout();
    start(1, /*logToConsole*/ true);
    logError("%s=%d;%s;%.1f\n", "alpha", 42, "beta", 2.5);
    shutdownLogging();
    const std::string console = ::testing::internal::GetCapturedStdout();

    const std::string expected = header() + "alpha=42;beta;2.5\n";
    EXPECT_EQ(console, expected);
    EXPECT_EQ(readFile(startPath), expected);
}

TEST_F(LogTest, LineWithoutItsOwnLineEndGetsOneAndTheNextLineStartsApart)
{
    ::testing::internal::CaptureStdout();
    start(1, /*logToConsole*/ true);
    logError("Error creating pipe: %d", 24);
    logError("%s", "");
    logError("next\n");
    shutdownLogging();
    const std::string console = ::testing::internal::GetCapturedStdout();

    const std::string expected = header() + "Error creating pipe: 24\n" + header() + "\n" + header() + "next\n";
    EXPECT_EQ(console, expected);
    EXPECT_EQ(readFile(startPath), expected);
}

TEST_F(LogTest, LogErrorToStderrPrintsThenLogsTheSameText)
{
    start(1);
    ::testing::internal::CaptureStderr();
    logErrorToStderr("bad file %s (%d)\n", "model.vye", 27);
    const std::string err = ::testing::internal::GetCapturedStderr();
    shutdownLogging();

    EXPECT_EQ(err, "bad file model.vye (27)\n");
    EXPECT_EQ(readFile(startPath), header() + "bad file model.vye (27)\n");
}

TEST_F(LogTest, LevelTwoFlushesEveryLine)
{
    start(2);
    logInfo("visible at once\n");

    EXPECT_EQ(readFile(startPath), header() + "visible at once\n");
}

TEST_F(LogTest, WarningSurvivesAKillOfTheProcess)
{
    start(1);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0)
    {
        logError("Warning! written just before the kill\n");
        raise(SIGKILL);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));

    EXPECT_EQ(readFile(startPath), header() + "Warning! written just before the kill\n");
}

TEST_F(LogTest, FailedWritesAreReportedOnceOnStandardError)
{
    // Every write to /dev/full fails as on a full disk.
    initLogFiles("/dev/full", mainPath.c_str(), kPrefix, false, true, 1);
    ::testing::internal::CaptureStderr();
    logError("first\n");
    logError("second\n");
    const std::string err = ::testing::internal::GetCapturedStderr();

    EXPECT_EQ(err, "Failed to write to log file!\n");
}

struct StartLogCase
{
    const char* name;
    uint64_t bytesBefore;
    bool crossingLineInStartLog;
};

class StartLogSwitchTest: public test::LogFixture,
                          public ::testing::WithParamInterface<StartLogCase>
{
};

TEST_P(StartLogSwitchTest, StartLogTakesLinesUntilItReachesTheLimit)
{
    const StartLogCase& c = GetParam();
    test_hooks::setLogSizeLimit(kLimit);
    start(1);
    const std::string filler = logLineOfSize(c.bytesBefore);
    logError("%s\n", std::string(150, 'c').c_str()); //< However long, it may still go in.
    const std::string crossing = header() + std::string(150, 'c') + "\n";
    logError("next\n");
    shutdownLogging();

    if (c.crossingLineInStartLog)
    {
        EXPECT_EQ(readFile(startPath), filler + crossing);
        EXPECT_EQ(readFile(mainPath), header() + "next\n");
    }
    else
    {
        EXPECT_EQ(readFile(startPath), filler);
        EXPECT_EQ(readFile(mainPath), crossing + header() + "next\n");
    }
}

INSTANTIATE_TEST_SUITE_P(Thresholds, StartLogSwitchTest,
    ::testing::Values(StartLogCase{"OneBelowLimit", kLimit - 1, true},
        StartLogCase{"AtLimit", kLimit, false}),
    [](const auto& info) { return std::string(info.param.name); });

struct RotationCase
{
    const char* name;
    uint64_t mainBytes;
    bool rotated;
};

class RotationTest: public test::LogFixture, public ::testing::WithParamInterface<RotationCase>
{
};

TEST_P(RotationTest, MainLogIsRotatedOnlyWhenStrictlyAboveTheLimit)
{
    const RotationCase& c = GetParam();
    test_hooks::setLogSizeLimit(kLimit);
    writeFile(oldPath, "older generation\n");
    start(1);
    logLineOfSize(kLimit); //< Fills the start log.
    const std::string mainContent = logLineOfSize(c.mainBytes); //< First line of the main log.
    logError("after\n");
    shutdownLogging();

    if (c.rotated)
    {
        EXPECT_EQ(readFile(oldPath), mainContent);
        EXPECT_EQ(readFile(mainPath), header() + "after\n");
    }
    else
    {
        EXPECT_EQ(readFile(oldPath), "older generation\n");
        EXPECT_EQ(readFile(mainPath), mainContent + header() + "after\n");
    }
}

INSTANTIATE_TEST_SUITE_P(Thresholds, RotationTest,
    ::testing::Values(RotationCase{"AtLimit", kLimit, false},
        RotationCase{"OneAboveLimit", kLimit + 1, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(LogTest, FailedRotationDropsTheLineAndIsRetriedByTheNext)
{
    test_hooks::setLogSizeLimit(kLimit);
    fs::create_directories(fs::path(oldPath) / "blocker"); //< Neither removable nor a target.
    start(1);
    logLineOfSize(kLimit);
    const std::string mainContent = logLineOfSize(kLimit + 1);

    ::testing::internal::CaptureStderr();
    logError("dropped\n");
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.rfind("Error renaming file: ", 0), 0u) << err;
    EXPECT_EQ(readFile(mainPath), mainContent);

    fs::remove_all(oldPath);
    logError("after\n");
    shutdownLogging();

    EXPECT_EQ(readFile(oldPath), mainContent);
    EXPECT_EQ(readFile(mainPath), header() + "after\n");
}

TEST_F(LogTest, UnopenableStartLogSendsLinesToTheMainLog)
{
    const std::string missing = dir.file("missing/vyai_plugin_start.log");
    ::testing::internal::CaptureStdout();
    initLogFiles(missing.c_str(), mainPath.c_str(), kPrefix, false, true, 1);
    logError("line\n");
    shutdownLogging();
    const std::string out = ::testing::internal::GetCapturedStdout();

    EXPECT_EQ(out, "Failed to initialise logfile: " + missing + "\n");
    EXPECT_EQ(readFile(mainPath), header() + "line\n");
}

TEST_F(LogTest, UnopenableMainLogDropsLinesAfterTheStartLog)
{
    test_hooks::setLogSizeLimit(kLimit);
    const std::string missing = dir.file("missing/vyai_plugin.log");
    ::testing::internal::CaptureStdout();
    initLogFiles(startPath.c_str(), missing.c_str(), kPrefix, false, true, 1);
    const std::string filler = logLineOfSize(kLimit);
    ::testing::internal::CaptureStderr();
    logError("dropped\n");
    const std::string err = ::testing::internal::GetCapturedStderr();
    shutdownLogging();
    const std::string out = ::testing::internal::GetCapturedStdout();

    EXPECT_EQ(out, "Failed to initialise logfile: " + missing + "\n");
    EXPECT_EQ(err, "Error creating log file");
    EXPECT_EQ(readFile(startPath), filler);
    EXPECT_FALSE(fs::exists(missing));
}

TEST_F(LogTest, NothingIsWrittenOrReopenedAfterShutdown)
{
    ::testing::internal::CaptureStdout();
    start(2, /*logToConsole*/ true);
    logError("before\n");
    shutdownLogging();
    fs::remove(startPath);
    fs::remove(mainPath);
    logError("after\n");
    logInfo("after\n");
    ::testing::internal::CaptureStderr();
    logErrorToStderr("after\n");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "after\n");
    const std::string console = ::testing::internal::GetCapturedStdout();

    EXPECT_EQ(console, header() + "before\n");
    EXPECT_FALSE(fs::exists(startPath));
    EXPECT_FALSE(fs::exists(mainPath));
}

} // namespace
} // namespace vyai
