#pragma once

// Routes the plug-in log, at a chosen level, into a temporary start log for the life of the
// object, so that a test can count the lines that the code under test wrote. The log is
// process-wide: one at a time.

#include <fstream>
#include <sstream>
#include <string>

#include "foundations/log.h"
#include "scoped_temp_directory.h"

namespace vyai::test {

class CapturedLog
{
public:
    explicit CapturedLog(int level = 2)
    {
        initLogFiles(path("start.log").c_str(), path("main.log").c_str(), "VYAI Plugin: ", false,
            true, level);
    }

    ~CapturedLog() { shutdownLogging(); }

    CapturedLog(const CapturedLog&) = delete;
    CapturedLog& operator=(const CapturedLog&) = delete;

    /** Closes the log, which flushes it: below level 2 lines are not flushed as they come. */
    void stop() { shutdownLogging(); }

    /** Everything written so far (the start log receives the first 10 MB). */
    std::string text() const
    {
        std::ifstream file(path("start.log"));
        std::ostringstream content;
        content << file.rdbuf();
        return content.str();
    }

    /** Number of lines that contain the fragment. */
    int count(const std::string& fragment) const
    {
        std::istringstream lines(text());
        int found = 0;
        for (std::string line; std::getline(lines, line);)
            found += line.find(fragment) != std::string::npos ? 1 : 0;
        return found;
    }

private:
    std::string path(const char* name) const { return (m_directory.path() / name).string(); }

    ScopedTempDirectory m_directory;
};

} // namespace vyai::test
