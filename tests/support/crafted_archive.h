#pragma once

// Runtime packages made on the spot with libarchive's writer: any member a server could put in
// a package, including the ones no honest packer makes (absolute names, links out, devices,
// sparse members with a huge size).

#include <cstdint>
#include <string>
#include <vector>

#include <archive.h>
#include <archive_entry.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace vyai::test {

struct CraftedMember
{
    enum Kind { file, directory, symbolicLink, hardLink, characterDevice, fifo };

    std::string path;
    Kind kind = file;
    std::string content; //< a file's bytes; a link's target
    int64_t declaredSize = -1; //< the header's size; -1: the content's
    bool sparse = false; //< a file stored as one data block at 0 and a hole up to declaredSize
    int mode = 0; //< permission bits; 0: the kind's usual ones
};

namespace detail {

inline void describe(archive_entry* entry, const CraftedMember& member)
{
    archive_entry_set_pathname(entry, member.path.c_str());
    archive_entry_set_mtime(entry, 1'700'000'000, 0);
    switch (member.kind)
    {
        case CraftedMember::file:
            archive_entry_set_filetype(entry, AE_IFREG);
            archive_entry_set_perm(entry, 0644);
            break;
        case CraftedMember::directory:
            archive_entry_set_filetype(entry, AE_IFDIR);
            archive_entry_set_perm(entry, 0755);
            break;
        case CraftedMember::symbolicLink:
            archive_entry_set_filetype(entry, AE_IFLNK);
            archive_entry_set_perm(entry, 0777);
            archive_entry_set_symlink(entry, member.content.c_str());
            break;
        case CraftedMember::hardLink:
            archive_entry_set_filetype(entry, AE_IFREG);
            archive_entry_set_perm(entry, 0644);
            archive_entry_set_hardlink(entry, member.content.c_str());
            break;
        case CraftedMember::characterDevice:
            archive_entry_set_filetype(entry, AE_IFCHR);
            archive_entry_set_perm(entry, 0666);
            archive_entry_set_rdev(entry, makedev(1, 3));
            break;
        case CraftedMember::fifo:
            archive_entry_set_filetype(entry, AE_IFIFO);
            archive_entry_set_perm(entry, 0644);
            break;
    }
    if (member.mode != 0)
        archive_entry_set_perm(entry, static_cast<mode_t>(member.mode));
    const bool hasData = member.kind == CraftedMember::file;
    archive_entry_set_size(entry, member.declaredSize >= 0 ? member.declaredSize
        : hasData ? static_cast<int64_t>(member.content.size()) : 0);
    if (member.sparse)
        archive_entry_sparse_add_entry(entry, 0, static_cast<int64_t>(member.content.size()));
}

} // namespace detail

/**
 * Writes the members as a pax tar archive, gzip-compressed unless `gzip` is false, to `path`.
 * A member whose declared size exceeds its content is cut short, as a truncated upload is.
 * False when libarchive refused the archive or a member.
 */
inline bool writeCraftedArchive(const std::string& path, const std::vector<CraftedMember>& members, bool gzip = true)
{
    archive* writer = archive_write_new();
    archive_write_set_format_pax_restricted(writer);
    if (gzip)
        archive_write_add_filter_gzip(writer);
    bool ok = archive_write_open_filename(writer, path.c_str()) == ARCHIVE_OK;
    for (const CraftedMember& member: members)
    {
        if (!ok)
            break;
        archive_entry* entry = archive_entry_new();
        detail::describe(entry, member);
        ok = archive_write_header(writer, entry) == ARCHIVE_OK;
        if (ok && member.kind == CraftedMember::file && !member.content.empty())
        {
            const auto written = archive_write_data(writer, member.content.data(), member.content.size());
            ok = written == static_cast<la_ssize_t>(member.content.size());
        }
        archive_entry_free(entry);
    }
    // A member cut short makes the close complain; the archive is written all the same.
    archive_write_close(writer);
    archive_write_free(writer);
    return ok;
}

} // namespace vyai::test
