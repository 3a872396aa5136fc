#pragma once

// Whole-file reads and writes for tests, in binary mode so that line ends stay as written.

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace vyai::test {

/** The file's bytes; empty when it cannot be read. */
inline std::string readFile(const std::filesystem::path& path)
{
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

/** Replaces the file's content with `text`, making its folder first when needed. */
inline void writeFile(const std::filesystem::path& path, const std::string& text)
{
    if (path.has_parent_path())
        std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

} // namespace vyai::test
