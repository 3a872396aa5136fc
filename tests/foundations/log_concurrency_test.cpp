#include "foundations/log.h"

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "scoped_temp_directory.h"
#include "test_files.h"

namespace vyai {
namespace {

// "VYAI Plugin: <ms> <delta, nine digits or more>: writer <d> line <n> error|info", whole.
bool isWellFormed(const std::string& line)
{
    unsigned long long milliseconds = 0;
    unsigned long long delta = 0;
    int deltaStart = 0;
    int deltaEnd = 0;
    int writer = 0;
    int number = 0;
    char kind[8] = {};
    int consumed = 0;
    if (std::sscanf(line.c_str(), "VYAI Plugin: %llu %n%llu%n: writer %d line %d %7s%n",
            &milliseconds, &deltaStart, &delta, &deltaEnd, &writer, &number, kind, &consumed)
        != 5)
    {
        return false;
    }
    const std::string kindText = kind;
    return deltaEnd - deltaStart >= 9 && writer >= 0 && writer <= 9
        && size_t(consumed) == line.size() && (kindText == "error" || kindText == "info");
}

using test::readFile;

// Writers keep logging, to the console and both files, while the log is shut down and
// started again under them: no line may be torn, and nothing may reach a file after the
// last shutdown.
TEST(LogConcurrencyTest, LoggingWhileShuttingDownAndRestarting)
{
    ScopedTempDirectory dir;
    const std::string startPath = dir.file("vyai_plugin_start.log");
    const std::string mainPath = dir.file("vyai_plugin.log");
    constexpr int kWriters = 4;
    constexpr int kRestarts = 30;

    std::atomic<bool> stop{false};
    std::atomic<uint64_t> linesLogged{0};
    ::testing::internal::CaptureStdout();
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w)
    {
        writers.emplace_back(
            [&, w]
            {
                for (int n = 0; !stop.load(); ++n)
                {
                    logError("writer %d line %d %s\n", w, n, "error");
                    logInfo("writer %d line %d %s\n", w, n, "info");
                    linesLogged.fetch_add(1);
                }
            });
    }
    for (int r = 0; r < kRestarts; ++r)
    {
        initLogFiles(startPath.c_str(), mainPath.c_str(), "VYAI Plugin: ", true, true, 2);
        // Let some lines through before pulling the log away from under the writers.
        const uint64_t target = linesLogged.load() + 20;
        while (linesLogged.load() < target)
            std::this_thread::yield();
        if (r + 1 < kRestarts)
            shutdownLogging();
    }
    shutdownLogging();
    const std::string lastStartLog = readFile(startPath);
    std::filesystem::remove(startPath);
    std::filesystem::remove(mainPath);
    const uint64_t after = linesLogged.load() + 20;
    while (linesLogged.load() < after)
        std::this_thread::yield();
    stop = true;
    for (auto& writer: writers)
        writer.join();
    ::testing::internal::GetCapturedStdout();

    EXPECT_FALSE(std::filesystem::exists(startPath));
    EXPECT_FALSE(std::filesystem::exists(mainPath));
    std::istringstream lines(lastStartLog);
    std::string line;
    int count = 0;
    while (std::getline(lines, line))
    {
        ++count;
        EXPECT_TRUE(isWellFormed(line)) << line;
    }
    EXPECT_GT(count, 0);
}

} // namespace
} // namespace vyai
