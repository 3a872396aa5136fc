#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// File access shared by the plug-in's subsystems. Paths are UTF-8. None of these throws.

namespace vyai {

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};
/** An open C stream, closed when it goes (a close error is not seen: close by hand to check). */
using UniqueFile = std::unique_ptr<FILE, FileCloser>;

/** True when the path names anything the file system reports (file or directory). */
bool fileExists(const std::string& path);

/** The whole file as text; none when it cannot be read. */
std::optional<std::string> readTextFile(const std::string& path);

/** The whole file; empty when it cannot be read. */
std::vector<uint8_t> readBinaryFile(const std::string& path);

/** True when a file was removed; false when there was none or on an error, which is logged. */
bool tryRemoveFile(const std::string& path);

/** Sets the permission bits; a failure is ignored. */
void chmodFile(const char* path, int mode);

} // namespace vyai
