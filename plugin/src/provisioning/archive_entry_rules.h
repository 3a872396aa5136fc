#pragma once

#include <cstdint>
#include <optional>
#include <string>

// What a runtime archive may hold. Whoever serves the package decides its content, and it is
// unpacked inside the host's process: nothing in it may reach outside the runtime folder.

namespace vyai {

enum class ArchiveEntryKind {
    file,
    directory,
    symbolicLink,
    hardLink,
    characterDevice,
    blockDevice,
    fifo,
    socket,
    unknown,
};

/** One member of an archive as its header describes it. */
struct ArchiveEntry_t
{
    std::string path; //< as stored, relative to the folder it is unpacked into
    ArchiveEntryKind kind = ArchiveEntryKind::unknown;
    std::string linkTarget; //< a symbolic link's target, or the member a hard link names
    bool sparse = false; //< stored with holes: its size says nothing of its data
    int64_t size = 0; //< bytes of data the header announces
};

/**
 * Why the entry may not be unpacked; nullopt when it is a file, folder or link that stays
 * inside the folder. Refused: an empty or absolute name, a ".." part, a member that names the
 * folder itself, a link whose target leaves the folder, a hard link to a name that does,
 * devices, pipes, sockets, sparse members and negative sizes.
 *
 * A symbolic link's target may climb with leading ".." parts no higher than the link's own
 * folder, and then only descends: a ".." after a name could climb back through another link,
 * whose real place the name does not show.
 */
std::optional<std::string> entryRefusal(const ArchiveEntry_t& entry);

} // namespace vyai
