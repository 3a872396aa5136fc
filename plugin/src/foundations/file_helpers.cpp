#include "foundations/file_helpers.h"

#include <filesystem>
#include <sys/stat.h>

#include "foundations/log.h"

namespace vyai {

namespace {

// Reads to the end rather than trusting a size told in advance, so a file that changes or
// cannot report its size gives no garbage; none when it cannot be opened or read (a folder).
template <typename Bytes>
std::optional<Bytes> readWholeFile(const std::string& path)
{
    UniqueFile file(std::fopen(path.c_str(), "rb"));
    if (!file)
        return std::nullopt;
    Bytes content;
    char block[65536];
    size_t count = 0;
    while ((count = std::fread(block, 1, sizeof block, file.get())) > 0)
        content.insert(content.end(), block, block + count);
    if (std::ferror(file.get()))
        return std::nullopt;
    return content;
}

} // namespace

bool fileExists(const std::string& path)
{
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    return !error && status.type() != std::filesystem::file_type::not_found;
}

std::optional<std::string> readTextFile(const std::string& path)
{
    return readWholeFile<std::string>(path);
}

std::vector<uint8_t> readBinaryFile(const std::string& path)
{
    return readWholeFile<std::vector<uint8_t>>(path).value_or(std::vector<uint8_t>());
}

bool tryRemoveFile(const std::string& path)
{
    std::error_code error;
    const bool removed = std::filesystem::remove(path, error);
    if (error) {
        logError("Warning! Could not delete file: %s (Error: %s)\n", path.c_str(),
            error.message().c_str());
        return false;
    }
    return removed;
}

void chmodFile(const char* path, int mode)
{
    (void) ::chmod(path, static_cast<mode_t>(mode));
}

} // namespace vyai
