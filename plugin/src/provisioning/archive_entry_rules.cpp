#include "provisioning/archive_entry_rules.h"

#include <string_view>
#include <vector>

namespace vyai {

namespace {

// The parts of a relative path, without empty and "." parts.
std::vector<std::string_view> parts(std::string_view path)
{
    std::vector<std::string_view> result;
    while (!path.empty())
    {
        const size_t slash = path.find('/');
        const std::string_view part = path.substr(0, slash);
        if (!part.empty() && part != ".")
            result.push_back(part);
        if (slash == std::string_view::npos)
            break;
        path.remove_prefix(slash + 1);
    }
    return result;
}

bool hasDotDot(const std::vector<std::string_view>& pathParts)
{
    for (const std::string_view part: pathParts)
    {
        if (part == "..")
            return true;
    }
    return false;
}

// Why a member name does not stay inside; nullopt when it does.
std::optional<std::string> nameRefusal(const std::string& path)
{
    if (path.empty())
        return "has no name";
    if (path.front() == '/')
        return "has an absolute name";
    if (hasDotDot(parts(path)))
        return "climbs out with \"..\"";
    return std::nullopt;
}

// A target reached from the link's folder, which lies `depth` folders below the top.
bool symbolicTargetStaysInside(const std::string& target, size_t depth)
{
    if (target.empty() || target.front() == '/')
        return false;
    bool descending = false;
    for (const std::string_view part: parts(target))
    {
        if (part != "..")
            descending = true;
        else if (descending || depth-- == 0)
            return false;
    }
    return true;
}

const char* kindRefusal(ArchiveEntryKind kind)
{
    switch (kind)
    {
        case ArchiveEntryKind::file:
        case ArchiveEntryKind::directory:
        case ArchiveEntryKind::symbolicLink:
        case ArchiveEntryKind::hardLink:
            return nullptr;
        case ArchiveEntryKind::characterDevice:
        case ArchiveEntryKind::blockDevice:
            return "is a device";
        case ArchiveEntryKind::fifo:
            return "is a pipe";
        case ArchiveEntryKind::socket:
            return "is a socket";
        case ArchiveEntryKind::unknown:
            break;
    }
    return "is of an unknown kind";
}

} // namespace

std::optional<std::string> entryRefusal(const ArchiveEntry_t& entry)
{
    if (const char* refusal = kindRefusal(entry.kind))
        return refusal;
    if (auto refusal = nameRefusal(entry.path))
        return refusal;
    const std::vector<std::string_view> pathParts = parts(entry.path);
    if (pathParts.empty() && entry.kind != ArchiveEntryKind::directory)
        return "names the folder itself";
    if (entry.sparse)
        return "is sparse";
    if (entry.size < 0)
        return "announces a negative size";
    if (entry.kind == ArchiveEntryKind::hardLink)
    {
        if (auto refusal = nameRefusal(entry.linkTarget); refusal || parts(entry.linkTarget).empty())
            return "is a hard link to " + entry.linkTarget + ", outside the folder";
    }
    if (entry.kind == ArchiveEntryKind::symbolicLink && !symbolicTargetStaysInside(entry.linkTarget, pathParts.size() - 1))
        return "links to " + entry.linkTarget + ", outside the folder";
    return std::nullopt;
}

} // namespace vyai
