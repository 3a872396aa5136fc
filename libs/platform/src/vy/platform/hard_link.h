#pragma once

#include <filesystem>
#include <system_error>

namespace vy::platform {

/**
 * Gives the existing file `target` a second name `link` (link(2)). Fails, among others,
 * when `link` exists, when both are on different file systems and on file systems
 * without hard links; the result then names the reason.
 */
std::error_code createHardLink(const std::filesystem::path& target, const std::filesystem::path& link);

/** Removes one name of a file (unlink(2)); a name that does not exist is an error too. */
std::error_code removeFileName(const std::filesystem::path& path);

} // namespace vy::platform
