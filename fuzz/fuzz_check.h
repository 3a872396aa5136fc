#pragma once

// A property a fuzz target checks: when it does not hold, the input is reported as a crash.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#define FUZZ_CHECK(condition, what) \
    do \
    { \
        if (!(condition)) \
        { \
            std::fprintf(stderr, "property broken: %s (%s at %s:%d)\n", what, #condition, __FILE__, __LINE__); \
            std::abort(); \
        } \
    } while (false)

/** A new folder under the system's temporary one, made once per process for a target's files. */
inline std::string fuzzTemporaryDirectory(const char* prefix)
{
    std::string pattern = (std::filesystem::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
    FUZZ_CHECK(mkdtemp(pattern.data()) != nullptr, "a temporary directory can be made");
    return pattern;
}
