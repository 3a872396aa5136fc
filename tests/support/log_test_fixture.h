#pragma once

// A log started on files in a temporary directory, with a settable wall clock.

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "foundations/log.h"
#include "foundations/log_test_hooks.h"
#include "scoped_temp_directory.h"

namespace vyai::test {

class LogFixture: public ::testing::Test
{
protected:
    static constexpr int64_t kStartMicros = 1'700'000'000'123'456;
    static constexpr const char* kPrefix = "P: ";

    void SetUp() override
    {
        s_nowMicros = kStartMicros;
        test_hooks::setWallClock(&fakeNow);
    }

    void TearDown() override
    {
        shutdownLogging();
        test_hooks::setLogSizeLimit(0);
        test_hooks::setWallClock(nullptr);
    }

    void start(int32_t level, bool logToConsole = false, bool logToFile = true)
    {
        initLogFiles(
            startPath.c_str(), mainPath.c_str(), kPrefix, logToConsole, logToFile, level);
    }

    /** The header of a line written at the current fake time after `deltaMicros`. */
    static std::string header(uint64_t deltaMicros = 0)
    {
        char text[64];
        std::snprintf(text, sizeof text, "%s%llu %09llu: ", kPrefix,
            (unsigned long long) (s_nowMicros / 1000), (unsigned long long) deltaMicros);
        return text;
    }

    /** Logs one line of exactly `bytes` bytes, header included (the clock must not move). */
    static std::string logLineOfSize(size_t bytes)
    {
        const std::string line =
            header() + std::string(bytes - header().size() - 1, 'x') + "\n";
        logError("%s", line.c_str() + header().size());
        return line;
    }

    static int64_t fakeNow() { return s_nowMicros.load(); }

    static inline std::atomic<int64_t> s_nowMicros{kStartMicros};

    ScopedTempDirectory dir;
    const std::string startPath = dir.file("vyai_plugin_start.log");
    const std::string mainPath = dir.file("vyai_plugin.log");
    const std::string oldPath = mainPath + ".old";
};

} // namespace vyai::test
