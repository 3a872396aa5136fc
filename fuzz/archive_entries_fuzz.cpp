// Runtime archives built from the fuzzer's bytes, with names and link targets pieced together
// from the parts that matter ("..", ".", "/", arrows, markers), and raw bytes read as a
// package. Checked as properties, not only for crashes: an entry the rules accept stays inside
// the folder by an independent reckoning; a package holding a member the rules refuse is never
// installed; and after any extraction nothing outside the runtime folder has changed, nothing
// inside it is special or links out, and a package that did not install left it as it was.
// The layout is the runtimes manager's: package and staging folder inside the runtime folder,
// which holds an earlier install.
#include <archive.h>
#include <archive_entry.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "crafted_archive.h"
#include "provisioning/archive_entry_rules.h"
#include "provisioning/archive_extraction.h"

namespace {

namespace fs = std::filesystem;
using vyai::ArchiveEntry_t;
using vyai::ArchiveEntryKind;
using vyai::test::CraftedMember;

const char* const kRuntime = "Generic CPU";
const char* const kParts[] = {"a", "b", "lib", "..", ".", "", "RuntimeLibrary.so", "etc -> y", "x link to y", "c/..",
    "...", "keep.txt", ".Generic CPU.extracting", "Generic CPU", "Generic CPU.tar.gz"};
// Deep enough that names climbing with every part they may hold still land in the sandbox.
constexpr int kMaxParts = 6;
constexpr int kMaxMembers = 8;

class Input
{
public:
    Input(const uint8_t* data, size_t size): m_data(data), m_size(size) {}
    bool empty() const { return m_position >= m_size; }
    uint8_t byte() { return m_position < m_size ? m_data[m_position++] : 0; }

    // A path of up to kMaxParts parts; "absolute" ones start at `anchor`, inside the sandbox.
    std::string path(const std::string& anchor)
    {
        const uint8_t shape = byte();
        std::string text = (shape & 0x80) ? anchor + "/" : "";
        const int parts = 1 + shape % kMaxParts;
        for (int i = 0; i < parts; ++i)
        {
            if (i > 0)
                text += '/';
            text += kParts[byte() % std::size(kParts)];
        }
        if (shape & 0x40)
            text += '/';
        // libarchive's pax writer reads before its buffer for a name of slashes alone; such
        // names still reach the reader through raw packages.
        if (text.find_first_not_of('/') == std::string::npos)
            text = ".";
        return text;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_position = 0;
};

ArchiveEntryKind kindOf(CraftedMember::Kind kind)
{
    switch (kind)
    {
        case CraftedMember::file:
            return ArchiveEntryKind::file;
        case CraftedMember::directory:
            return ArchiveEntryKind::directory;
        case CraftedMember::symbolicLink:
            return ArchiveEntryKind::symbolicLink;
        case CraftedMember::hardLink:
            return ArchiveEntryKind::hardLink;
        case CraftedMember::characterDevice:
            return ArchiveEntryKind::characterDevice;
        case CraftedMember::fifo:
            return ArchiveEntryKind::fifo;
    }
    return ArchiveEntryKind::unknown;
}

void require(bool condition, const char* property)
{
    if (!condition)
    {
        std::fprintf(stderr, "property broken: %s\n", property);
        std::abort();
    }
}

bool hasDotDot(const fs::path& path)
{
    for (const fs::path& part: path)
    {
        if (part == "..")
            return true;
    }
    return false;
}

// Where a relative path ends up, taken lexically from the top of the folder; false when it
// leaves it on the way.
bool landsInside(const fs::path& path)
{
    int depth = 0;
    for (const fs::path& part: path)
    {
        if (part == "..")
            --depth;
        else if (part != "." && !part.empty())
            ++depth;
        if (depth < 0)
            return false;
    }
    return true;
}

// What an accepted entry must be, reckoned without the rules' own code.
void checkAccepted(const ArchiveEntry_t& entry)
{
    const fs::path name(entry.path);
    require(entry.kind == ArchiveEntryKind::file || entry.kind == ArchiveEntryKind::directory
            || entry.kind == ArchiveEntryKind::symbolicLink || entry.kind == ArchiveEntryKind::hardLink,
        "only files, folders and links are accepted");
    require(!entry.path.empty() && name.is_relative() && !hasDotDot(name), "accepted names stay inside");
    require(!entry.sparse && entry.size >= 0, "no sparse member or negative size");
    if (entry.kind == ArchiveEntryKind::hardLink)
    {
        const fs::path target(entry.linkTarget);
        require(target.is_relative() && !hasDotDot(target), "hard links stay inside");
    }
    if (entry.kind == ArchiveEntryKind::symbolicLink)
    {
        const fs::path target(entry.linkTarget);
        require(!entry.linkTarget.empty() && target.is_relative(), "link targets are relative");
        require(landsInside(name.parent_path() / target), "link targets stay inside");
        // After the first name part, climbing could pass back through another link.
        bool named = false;
        for (const fs::path& part: target)
        {
            if (part == "..")
                require(!named, "link targets only climb before they descend");
            else if (part != "." && !part.empty())
                named = true;
        }
    }
}

// What the package's headers hold, as a reader sees them: clean when every member passes the
// rules and the headers read to their end.
enum class Verdict { clean, refused, unreadable };

Verdict readBack(const fs::path& package)
{
    archive* reader = archive_read_new();
    archive_read_support_format_tar(reader);
    archive_read_support_filter_gzip(reader);
    archive_read_support_filter_bzip2(reader);
    archive_read_support_filter_xz(reader);
    archive_read_support_filter_zstd(reader);
    Verdict verdict = Verdict::unreadable;
    if (archive_read_open_filename(reader, package.c_str(), 4096) == ARCHIVE_OK)
    {
        archive_entry* header = nullptr;
        int status = ARCHIVE_OK;
        verdict = Verdict::clean;
        while ((status = archive_read_next_header(reader, &header)) != ARCHIVE_EOF)
        {
            if (status < ARCHIVE_WARN)
            {
                verdict = Verdict::unreadable;
                break;
            }
            const char* hardTarget = archive_entry_hardlink(header);
            const char* softTarget = archive_entry_symlink(header);
            ArchiveEntry_t entry;
            entry.path = archive_entry_pathname(header) ? archive_entry_pathname(header) : "";
            entry.kind = hardTarget ? ArchiveEntryKind::hardLink
                : archive_entry_filetype(header) == AE_IFREG ? ArchiveEntryKind::file
                : archive_entry_filetype(header) == AE_IFDIR ? ArchiveEntryKind::directory
                : archive_entry_filetype(header) == AE_IFLNK ? ArchiveEntryKind::symbolicLink
                                                             : ArchiveEntryKind::fifo; // any special kind
            entry.linkTarget = hardTarget ? hardTarget : softTarget ? softTarget : "";
            entry.sparse = archive_entry_sparse_count(header) > 0;
            entry.size = archive_entry_size(header);
            if (!archive_entry_pathname(header) || vyai::entryRefusal(entry))
            {
                verdict = Verdict::refused;
                break;
            }
        }
    }
    archive_read_free(reader);
    return verdict;
}

// Everything under a folder: kind and content of files, targets of links.
std::map<std::string, std::string> snapshot(const fs::path& folder)
{
    std::map<std::string, std::string> seen;
    for (auto it = fs::recursive_directory_iterator(folder); it != fs::recursive_directory_iterator(); ++it)
    {
        const std::string name = it->path().lexically_relative(folder).string();
        const fs::file_status status = it->symlink_status();
        if (fs::is_symlink(status))
            seen[name] = "link to " + fs::read_symlink(it->path()).string();
        else if (fs::is_directory(status))
            seen[name] = "folder";
        else if (fs::is_regular_file(status))
            seen[name] = "file " + std::string(std::istreambuf_iterator<char>(std::ifstream(it->path()).rdbuf()), {});
        else
            seen[name] = "special";
    }
    return seen;
}

// The sandbox: the runtime folder lies deep enough that any climb lands inside it.
struct Sandbox
{
    fs::path top;
    fs::path root;
    fs::path package;

    Sandbox()
    {
        std::string pattern = (fs::temp_directory_path() / "fuzz-archive-XXXXXX").string();
        require(mkdtemp(pattern.data()) != nullptr, "a sandbox can be made");
        top = pattern;
        root = top / "d1/d2/d3/d4/d5/d6/d7/inference_engine";
        package = root / (std::string(kRuntime) + ".tar.gz");
    }

    ~Sandbox() { fs::remove_all(top); }

    // The runtime folder as an earlier install and a download left it.
    void reset()
    {
        fs::remove_all(top);
        fs::create_directories(root / kRuntime / "lib");
        std::ofstream(top / "outside.txt") << "canary";
        std::ofstream(root / "RuntimeLibrary.so") << "earlier";
        std::ofstream(root / "keep.txt") << "kept";
        std::ofstream(root / kRuntime / "lib" / "old.so") << "earlier";
    }

    // Nothing but the folders on the way, the canary and the package outside the runtime folder.
    void checkOutside() const
    {
        for (auto it = fs::recursive_directory_iterator(top); it != fs::recursive_directory_iterator(); ++it)
        {
            const fs::path& path = it->path();
            if (path == root)
            {
                it.disable_recursion_pending();
                continue;
            }
            const bool onTheWay = it->is_directory() && !it->is_symlink()
                && root.string().rfind(path.string() + "/", 0) == 0;
            require(onTheWay || path == top / "outside.txt", "nothing written outside");
        }
        std::ifstream canary(top / "outside.txt");
        std::string text;
        canary >> text;
        require(text == "canary", "the canary is untouched");
    }

    void checkInside() const
    {
        std::error_code error;
        const fs::path realRoot = fs::canonical(root);
        for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it)
        {
            const fs::file_status status = it->symlink_status();
            require(fs::is_regular_file(status) || fs::is_directory(status) || fs::is_symlink(status),
                "nothing special inside");
            if (!fs::is_symlink(status))
                continue;
            const fs::path resolved = fs::weakly_canonical(it->path(), error);
            require(error || resolved.string().rfind(realRoot.string(), 0) == 0, "links resolve inside");
        }
    }
};

Sandbox& sandbox()
{
    static Sandbox box;
    return box;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Sandbox& box = sandbox();
    box.reset();
    Input input(data, size);
    const uint8_t mode = input.byte();
    if (mode < 16)
    {
        // Raw bytes as a package.
        std::ofstream(box.package, std::ios::binary).write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    else
    {
        std::vector<CraftedMember> members;
        const int count = 1 + input.byte() % kMaxMembers;
        for (int i = 0; i < count && !input.empty(); ++i)
        {
            CraftedMember member;
            const uint8_t shape = input.byte();
            member.kind = static_cast<CraftedMember::Kind>(shape % 6);
            member.path = input.path(box.top.string());
            if (member.kind == CraftedMember::symbolicLink || member.kind == CraftedMember::hardLink)
                member.content = input.path(box.top.string());
            // The writer stores a hard link without a target as a plain empty file.
            if (member.kind == CraftedMember::hardLink && member.content.empty())
                member.kind = CraftedMember::file;
            else if (member.kind == CraftedMember::file)
                member.content = std::string(input.byte() % 64, 'x');
            member.sparse = member.kind == CraftedMember::file && (shape & 0x80) && !member.content.empty();
            if (member.sparse)
                member.declaredSize = int64_t{1} << (20 + input.byte() % 24);

            const ArchiveEntry_t entry{member.path, kindOf(member.kind),
                member.kind == CraftedMember::symbolicLink || member.kind == CraftedMember::hardLink ? member.content : "",
                member.sparse, member.declaredSize >= 0 ? member.declaredSize : static_cast<int64_t>(member.content.size())};
            const auto refusal = vyai::entryRefusal(entry);
            if (refusal)
                require(!refusal->empty(), "a refusal says why");
            else
                checkAccepted(entry);
            members.push_back(std::move(member));
        }
        vyai::test::writeCraftedArchive(box.package.string(), members);
    }

    // Read before extracting: a member may take the package's name.
    const Verdict verdict = readBack(box.package);
    const std::map<std::string, std::string> before = snapshot(box.root);
    const bool ownFolder = (mode & 1) != 0;
    const fs::path folder = ownFolder ? box.root / kRuntime : box.root;
    const std::atomic<bool> cancel{false};
    const vyai::ExtractionResult_t result = vyai::extractArchive(box.package.string(), folder.string(),
        (box.root / ("." + std::string(kRuntime) + ".extracting")).string(), ownFolder, cancel, {});
    box.checkOutside();
    box.checkInside();
    if (verdict != Verdict::clean)
        require(result.outcome != vyai::ExtractionOutcome::extracted, "a refused or unreadable member fails the package");
    if (result.outcome != vyai::ExtractionOutcome::extracted)
        require(snapshot(box.root) == before, "a failed package changes nothing");
    return 0;
}
