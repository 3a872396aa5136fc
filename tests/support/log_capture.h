#pragma once

#include <fstream>
#include <iterator>
#include <string>

#include "foundations/log.h"
#include "scoped_temp_directory.h"

/** Sends the plug-in log (level 2) to files of a temporary folder while it lives. */
class LogCapture
{
public:
    LogCapture()
    {
        vyai::initLogFiles(startLogPath().c_str(), mainLogPath().c_str(), "", false, true, 2);
    }
    ~LogCapture() { vyai::shutdownLogging(); }

    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    /** Everything logged so far. */
    std::string text() const { return readFile(startLogPath()) + readFile(mainLogPath()); }

    bool contains(const std::string& fragment) const { return text().find(fragment) != std::string::npos; }

private:
    std::string startLogPath() const { return (m_directory.path() / "start.log").string(); }
    std::string mainLogPath() const { return (m_directory.path() / "main.log").string(); }
    static std::string readFile(const std::string& path)
    {
        std::ifstream file(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }

    ScopedTempDirectory m_directory;
};
