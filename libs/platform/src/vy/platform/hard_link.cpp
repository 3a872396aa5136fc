#include "vy/platform/hard_link.h"

#include <cerrno>

#include <unistd.h>

namespace vy::platform {

std::error_code createHardLink(const std::filesystem::path& target, const std::filesystem::path& link)
{
    if (::link(target.c_str(), link.c_str()) != 0)
        return {errno, std::system_category()};
    return {};
}

std::error_code removeFileName(const std::filesystem::path& path)
{
    if (::unlink(path.c_str()) != 0)
        return {errno, std::system_category()};
    return {};
}

} // namespace vy::platform
