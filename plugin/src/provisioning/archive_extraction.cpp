#include "provisioning/archive_extraction.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <optional>
#include <system_error>
#include <vector>

#include <archive.h>
#include <archive_entry.h>

#include "provisioning/archive_entry_rules.h"

namespace vyai {

namespace {

namespace fs = std::filesystem;

struct ReaderDeleter
{
    void operator()(archive* reader) const { archive_read_free(reader); }
};
struct WriterDeleter
{
    void operator()(archive* writer) const { archive_write_free(writer); }
};

constexpr size_t kReadBlockBytes = size_t{1} << 20;

// The names are checked before libarchive sees them; these flags keep it from writing through a
// link that an earlier member placed, and from applying the archive's owners and set-id bits
// (neither ARCHIVE_EXTRACT_OWNER nor ARCHIVE_EXTRACT_PERM).
constexpr int kWriteFlags = ARCHIVE_EXTRACT_TIME | ARCHIVE_EXTRACT_SECURE_SYMLINKS | ARCHIVE_EXTRACT_SECURE_NODOTDOT;

ArchiveEntryKind kindOf(archive_entry* entry)
{
    if (archive_entry_hardlink(entry))
        return ArchiveEntryKind::hardLink;
    switch (archive_entry_filetype(entry))
    {
        case AE_IFREG:
            return ArchiveEntryKind::file;
        case AE_IFDIR:
            return ArchiveEntryKind::directory;
        case AE_IFLNK:
            return ArchiveEntryKind::symbolicLink;
        case AE_IFCHR:
            return ArchiveEntryKind::characterDevice;
        case AE_IFBLK:
            return ArchiveEntryKind::blockDevice;
        case AE_IFIFO:
            return ArchiveEntryKind::fifo;
        case AE_IFSOCK:
            return ArchiveEntryKind::socket;
        default:
            return ArchiveEntryKind::unknown;
    }
}

ArchiveEntry_t describe(archive_entry* entry)
{
    ArchiveEntry_t described;
    described.kind = kindOf(entry);
    if (const char* path = archive_entry_pathname(entry))
        described.path = path;
    const char* target = described.kind == ArchiveEntryKind::hardLink ? archive_entry_hardlink(entry)
                                                                      : archive_entry_symlink(entry);
    if (target)
        described.linkTarget = target;
    described.sparse = archive_entry_sparse_count(entry) > 0;
    described.size = archive_entry_size_is_set(entry) ? archive_entry_size(entry) : 0;
    return described;
}

std::string errorOf(archive* handle)
{
    const char* text = archive_error_string(handle);
    return text ? text : "unknown error";
}

ExtractionResult_t outcome(ExtractionOutcome kind, std::string problem)
{
    return {kind, std::move(problem)};
}

// One pass over the package into the staging folder.
class Extraction
{
public:
    Extraction(const std::string& archivePath, fs::path staging, const std::atomic<bool>& cancel,
        const ExtractionProgress& progress):
        m_archivePath(archivePath), m_staging(std::move(staging)), m_cancel(cancel), m_progress(progress)
    {
        std::error_code error;
        m_packageBytes = fs::file_size(archivePath, error);
        if (error)
            m_packageBytes = 0;
    }

    ExtractionResult_t run();

private:
    ExtractionResult_t unpackMember(archive_entry* entry);
    std::optional<ExtractionResult_t> copyData(const std::string& name);
    void reportProgress();

    const std::string& m_archivePath;
    const fs::path m_staging;
    const std::atomic<bool>& m_cancel;
    const ExtractionProgress& m_progress;
    uint64_t m_packageBytes = 0;
    uint64_t m_declaredBytes = 0;
    unsigned m_lastPercent = 0;
    std::unique_ptr<archive, ReaderDeleter> m_reader{archive_read_new()};
    std::unique_ptr<archive, WriterDeleter> m_writer{archive_write_disk_new()};
};

ExtractionResult_t Extraction::run()
{
    if (!m_reader || !m_writer)
        return outcome(ExtractionOutcome::failed, "out of memory");
    archive* reader = m_reader.get();
    archive_read_support_format_tar(reader);
    // Only what the library decodes itself: no helper program is ever started.
    archive_read_support_filter_gzip(reader);
    archive_read_support_filter_bzip2(reader);
    archive_read_support_filter_xz(reader);
    archive_read_support_filter_zstd(reader);
    if (archive_read_open_filename(reader, m_archivePath.c_str(), kReadBlockBytes) != ARCHIVE_OK)
        return outcome(ExtractionOutcome::failed, "the package cannot be read: " + errorOf(reader));
    archive_write_disk_set_options(m_writer.get(), kWriteFlags);

    for (;;)
    {
        if (m_cancel.load())
            return outcome(ExtractionOutcome::cancelled, "cancelled");
        archive_entry* entry = nullptr;
        const int status = archive_read_next_header(reader, &entry);
        if (status == ARCHIVE_EOF)
            break;
        // A warning (a name in another character set, say) still gives a usable header.
        if (status < ARCHIVE_WARN)
            return outcome(ExtractionOutcome::failed, "the archive cannot be read: " + errorOf(reader));
        if (ExtractionResult_t member = unpackMember(entry); member.outcome != ExtractionOutcome::extracted)
            return member;
        reportProgress();
    }
    // Folder times and modes are set here, once their content is in.
    if (archive_write_close(m_writer.get()) != ARCHIVE_OK)
        return outcome(ExtractionOutcome::failed, "the unpacked files cannot be finished: " + errorOf(m_writer.get()));
    return outcome(ExtractionOutcome::extracted, "");
}

ExtractionResult_t Extraction::unpackMember(archive_entry* entry)
{
    const ArchiveEntry_t member = describe(entry);
    if (!archive_entry_pathname(entry))
        return outcome(ExtractionOutcome::refused, "a member's name cannot be read");
    if (const auto refusal = entryRefusal(member))
        return outcome(ExtractionOutcome::refused, "member " + member.path + " " + *refusal);
    m_declaredBytes += static_cast<uint64_t>(member.size);
    if (m_declaredBytes > kMaxExtractedBytes)
    {
        return outcome(ExtractionOutcome::refused,
            "member " + member.path + " takes the content above " + std::to_string(kMaxExtractedBytes) + " bytes");
    }

    // libarchive writes relative to the process's current folder: every name is anchored in
    // the staging folder instead.
    archive_entry_set_pathname(entry, (m_staging / member.path).c_str());
    if (member.kind == ArchiveEntryKind::hardLink)
        archive_entry_set_hardlink(entry, (m_staging / member.linkTarget).c_str());
    // Whoever runs the host can always read, replace and remove what was unpacked.
    if (member.kind == ArchiveEntryKind::directory)
        archive_entry_set_perm(entry, archive_entry_perm(entry) | 0700);
    else if (member.kind == ArchiveEntryKind::file)
        archive_entry_set_perm(entry, archive_entry_perm(entry) | 0600);

    if (archive_write_header(m_writer.get(), entry) < ARCHIVE_WARN)
        return outcome(ExtractionOutcome::failed, "member " + member.path + " cannot be written: " + errorOf(m_writer.get()));
    if (member.kind == ArchiveEntryKind::file && member.size > 0)
    {
        if (auto failure = copyData(member.path))
            return *failure;
    }
    if (archive_write_finish_entry(m_writer.get()) < ARCHIVE_WARN)
        return outcome(ExtractionOutcome::failed, "member " + member.path + " cannot be written: " + errorOf(m_writer.get()));
    return outcome(ExtractionOutcome::extracted, "");
}

std::optional<ExtractionResult_t> Extraction::copyData(const std::string& name)
{
    for (;;)
    {
        if (m_cancel.load())
            return outcome(ExtractionOutcome::cancelled, "cancelled");
        const void* block = nullptr;
        size_t size = 0;
        la_int64_t offset = 0;
        const int status = archive_read_data_block(m_reader.get(), &block, &size, &offset);
        if (status == ARCHIVE_EOF)
            return std::nullopt;
        if (status < ARCHIVE_WARN)
            return outcome(ExtractionOutcome::failed, "member " + name + " cannot be read: " + errorOf(m_reader.get()));
        if (archive_write_data_block(m_writer.get(), block, size, offset) < ARCHIVE_WARN)
            return outcome(ExtractionOutcome::failed, "member " + name + " cannot be written: " + errorOf(m_writer.get()));
        reportProgress();
    }
}

void Extraction::reportProgress()
{
    if (!m_progress || m_packageBytes == 0)
        return;
    const auto read = static_cast<uint64_t>(std::max<la_int64_t>(archive_filter_bytes(m_reader.get(), -1), 0));
    const auto percent = static_cast<unsigned>(std::min<uint64_t>(read * 100 / m_packageBytes, 100));
    if (percent == m_lastPercent)
        return;
    m_lastPercent = percent;
    m_progress(percent);
}

// Whether `inner` is `outer` itself or lies below it, by name (both taken without links).
bool isWithin(const fs::path& inner, const fs::path& outer)
{
    return std::mismatch(outer.begin(), outer.end(), inner.begin(), inner.end()).first == outer.end();
}

// Moves what was unpacked into the folder. Whatever a member displaces waits in `displaced`
// until every member is in place, so that a failure halfway can put the folder back as it was.
class Placement
{
public:
    Placement(fs::path staging, fs::path displaced): m_staging(std::move(staging)), m_displaced(std::move(displaced)) {}

    ExtractionResult_t replaceWhole(const fs::path& folder);
    ExtractionResult_t replaceMembers(const fs::path& folder);

private:
    struct Move_t
    {
        fs::path from;
        fs::path to;
        bool displacedSomething = false;
    };

    bool move(const fs::path& from, const fs::path& to, std::error_code& error);
    void undo();

    const fs::path m_staging;
    const fs::path m_displaced;
    std::vector<Move_t> m_done; //< in the order made, undone in reverse
};

ExtractionResult_t Placement::replaceWhole(const fs::path& folder)
{
    std::error_code error;
    if (isWithin(m_staging, folder))
        return outcome(ExtractionOutcome::failed, "the folder " + folder.string() + " holds its own staging folder");
    if (!move(m_staging, folder, error))
        return outcome(ExtractionOutcome::failed, "the folder " + folder.string() + " cannot be replaced: " + error.message());
    return outcome(ExtractionOutcome::extracted, "");
}

ExtractionResult_t Placement::replaceMembers(const fs::path& folder)
{
    std::error_code error;
    std::vector<fs::path> names;
    for (fs::directory_iterator members(m_staging, error); !error && members != fs::directory_iterator();
         members.increment(error))
        names.push_back(members->path().filename());
    if (error)
        return outcome(ExtractionOutcome::failed, "the unpacked files cannot be listed: " + error.message());
    // In name order, so that what is placed before a failure does not depend on the file system.
    std::sort(names.begin(), names.end());
    if (fs::create_directories(folder, error); error)
        return outcome(ExtractionOutcome::failed, "the folder " + folder.string() + " cannot be made: " + error.message());
    // Checked before anything moves: placing such a member would take away the unpacked files.
    for (const fs::path& name: names)
    {
        if (isWithin(m_staging, folder / name) || isWithin(m_displaced, folder / name))
            return outcome(ExtractionOutcome::refused, "member " + name.string() + " has the name of the folder it is unpacked in");
    }
    for (const fs::path& name: names)
    {
        if (!move(m_staging / name, folder / name, error))
        {
            undo();
            return outcome(ExtractionOutcome::failed, "member " + name.string() + " cannot be put in place: " + error.message());
        }
    }
    return outcome(ExtractionOutcome::extracted, "");
}

// A rename in place of whatever has the name, which goes aside first: a rename alone puts
// neither a folder in place of something nor something in place of a folder.
bool Placement::move(const fs::path& from, const fs::path& to, std::error_code& error)
{
    std::error_code absent; // "not found" is reported as an error too
    Move_t done{from, to, fs::symlink_status(to, absent).type() != fs::file_type::not_found};
    if (done.displacedSomething)
    {
        fs::rename(to, m_displaced / to.filename(), error);
        if (error)
            return false;
    }
    fs::rename(from, to, error);
    if (error)
    {
        std::error_code ignored;
        if (done.displacedSomething)
            fs::rename(m_displaced / to.filename(), to, ignored);
        return false;
    }
    m_done.push_back(std::move(done));
    return true;
}

void Placement::undo()
{
    std::error_code ignored;
    for (auto done = m_done.rbegin(); done != m_done.rend(); ++done)
    {
        fs::rename(done->to, done->from, ignored);
        if (done->displacedSomething)
            fs::rename(m_displaced / done->to.filename(), done->to, ignored);
    }
    m_done.clear();
}

} // namespace

ExtractionResult_t extractArchive(const std::string& archivePath, const std::string& folder,
    const std::string& stagingFolder, bool replaceFolder, const std::atomic<bool>& cancel,
    const ExtractionProgress& progress)
{
    // Beside the staging folder, so on the same file system as the folder; named after it, so
    // the caller's choice of place keeps it out of the way too.
    const std::string displacedFolder = stagingFolder + ".displaced";
    std::error_code error;
    // What a crash left behind would mix with this package's members.
    fs::remove_all(stagingFolder, error);
    fs::remove_all(displacedFolder, error);
    fs::create_directories(stagingFolder, error);
    if (!error)
        fs::create_directories(displacedFolder, error);
    // Without links in the anchor, the secure-link check judges only what the archive placed;
    // without links in the others, a member's name can be compared with theirs.
    const fs::path staging = error ? fs::path() : fs::canonical(stagingFolder, error);
    const fs::path displaced = error ? fs::path() : fs::canonical(displacedFolder, error);
    const fs::path target = error ? fs::path() : fs::weakly_canonical(folder, error);

    ExtractionResult_t result;
    if (error)
        result = outcome(ExtractionOutcome::failed, "the folder " + stagingFolder + " cannot be made: " + error.message());
    else
        result = Extraction(archivePath, staging, cancel, progress).run();
    if (result.outcome == ExtractionOutcome::extracted)
    {
        Placement placement(staging, displaced);
        result = replaceFolder ? placement.replaceWhole(target) : placement.replaceMembers(target);
    }
    fs::remove_all(stagingFolder, error);
    fs::remove_all(displacedFolder, error);
    return result;
}

} // namespace vyai
