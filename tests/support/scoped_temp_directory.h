#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include <gtest/gtest.h>

/** A fresh directory under the system's temporary folder, removed with its contents at scope end. */
class ScopedTempDirectory
{
public:
    ScopedTempDirectory()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "vy-test-XXXXXX").string();
        if (mkdtemp(pattern.data()))
            m_path = pattern;
        EXPECT_FALSE(m_path.empty()) << "mkdtemp failed";
    }
    ~ScopedTempDirectory()
    {
        std::error_code ignored;
        if (!m_path.empty())
            std::filesystem::remove_all(m_path, ignored);
    }
    ScopedTempDirectory(const ScopedTempDirectory&) = delete;
    ScopedTempDirectory& operator=(const ScopedTempDirectory&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    /** The path of `name` inside the directory, as text. */
    std::string file(const std::string& name) const { return (m_path / name).string(); }

private:
    std::filesystem::path m_path;
};
