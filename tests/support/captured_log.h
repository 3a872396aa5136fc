#pragma once

// Routes the plug-in log, at a chosen level, into files of a temporary directory for the life
// of the object, so that a test can read what the code under test wrote. The log is
// process-wide: one at a time.

#include <sstream>
#include <string>

#include "foundations/log.h"
#include "scoped_temp_directory.h"
#include "test_files.h"

namespace vyai::test {

class CapturedLog
{
public:
    explicit CapturedLog(int level = 2)
    {
        initLogFiles(m_directory.file("start.log").c_str(), m_directory.file("main.log").c_str(),
            "VYAI Plugin: ", false, true, level);
    }

    ~CapturedLog() { shutdownLogging(); }

    CapturedLog(const CapturedLog&) = delete;
    CapturedLog& operator=(const CapturedLog&) = delete;

    /** Closes the log, which flushes it: below level 2 lines are not flushed as they come. */
    void stop() { shutdownLogging(); }

    /** Everything written so far: the start log takes the first 10 MB, the main log the rest. */
    std::string text() const
    {
        return readFile(m_directory.file("start.log")) + readFile(m_directory.file("main.log"));
    }

    bool contains(const std::string& fragment) const
    {
        return text().find(fragment) != std::string::npos;
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
    ScopedTempDirectory m_directory;
};

} // namespace vyai::test
