#pragma once

// Process-wide state that a test changes for its scope and puts back: environment
// variables and the current directory.

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

namespace vyai::test {

/** Sets (or with nullopt unsets) an environment variable for the scope. */
class ScopedEnv
{
public:
    ScopedEnv(const char* name, std::optional<std::string> value): m_name(name)
    {
        if (const char* old = std::getenv(name))
            m_old = old;
        if (value)
            setenv(name, value->c_str(), 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv()
    {
        if (m_old)
            setenv(m_name.c_str(), m_old->c_str(), 1);
        else
            unsetenv(m_name.c_str());
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string m_name;
    std::optional<std::string> m_old;
};

/** Makes `directory` the current directory for the scope. */
class ScopedCurrentDirectory
{
public:
    explicit ScopedCurrentDirectory(const std::filesystem::path& directory):
        m_previous(std::filesystem::current_path())
    {
        std::filesystem::current_path(directory);
    }
    ~ScopedCurrentDirectory() { std::filesystem::current_path(m_previous); }
    ScopedCurrentDirectory(const ScopedCurrentDirectory&) = delete;
    ScopedCurrentDirectory& operator=(const ScopedCurrentDirectory&) = delete;

private:
    std::filesystem::path m_previous;
};

} // namespace vyai::test
