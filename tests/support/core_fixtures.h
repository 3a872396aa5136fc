#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <unistd.h>

#include "foundations/log.h"

namespace vyai::test {

/** A fresh directory under the system's temporary folder, removed with its contents. */
class TempDirectory
{
public:
    TempDirectory()
    {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "vyai_core_XXXXXX").string();
        m_path = ::mkdtemp(pattern.data()) ? pattern : std::string();
    }
    ~TempDirectory()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;

    const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

inline std::string readFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

/** Sends the plug-in log to a start log of its own while in scope, at the verbose level. */
class CapturedLog
{
public:
    CapturedLog()
    {
        const std::string start = (m_dir.path() / "start.log").string();
        const std::string main = (m_dir.path() / "main.log").string();
        vyai::initLogFiles(start.c_str(), main.c_str(), "", false, true, 2);
    }
    ~CapturedLog() { vyai::shutdownLogging(); }
    CapturedLog(const CapturedLog&) = delete;
    CapturedLog& operator=(const CapturedLog&) = delete;

    /** Everything logged so far; stops the log, so call it once, at the end. */
    std::string text()
    {
        vyai::shutdownLogging();
        return readFile(m_dir.path() / "start.log");
    }

private:
    TempDirectory m_dir;
};

/** Number of times `needle` occurs in `text`. */
inline int countOf(const std::string& text, const std::string& needle)
{
    int count = 0;
    for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
        ++count;
    return count;
}

} // namespace vyai::test
