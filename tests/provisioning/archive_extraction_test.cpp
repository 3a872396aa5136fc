#include "provisioning/archive_extraction.h"

#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <map>
#include <vector>

#include <gtest/gtest.h>

#include "crafted_archive.h"
#include "scoped_temp_directory.h"
#include "test_files.h"

namespace vyai {
namespace {

namespace fs = std::filesystem;
using test::CraftedMember;
using Outcome = ExtractionOutcome;

// Everything under a folder: kind and content of files, targets of links.
std::map<std::string, std::string> snapshot(const fs::path& folder)
{
    std::map<std::string, std::string> seen;
    for (auto it = fs::recursive_directory_iterator(folder); it != fs::recursive_directory_iterator(); ++it)
    {
        const std::string name = it->path().lexically_relative(folder).string();
        if (it->is_symlink())
            seen[name] = "link to " + fs::read_symlink(it->path()).string();
        else if (it->is_directory())
            seen[name] = "folder";
        else if (it->is_regular_file())
            seen[name] = "file " + test::readFile(it->path());
        else
            seen[name] = "special";
    }
    return seen;
}

const std::vector<CraftedMember> kGoodPackage = {
    {"./", CraftedMember::directory, ""},
    {"RuntimeLibrary.so", CraftedMember::file, "new library"},
    {"lib/", CraftedMember::directory, ""},
    {"lib/libdep.so.1", CraftedMember::file, "dependency"},
    {"lib/libdep.so", CraftedMember::symbolicLink, "libdep.so.1"},
    {"lib/libdep.copy", CraftedMember::hardLink, "lib/libdep.so.1"},
    {"models/empty/", CraftedMember::directory, ""},
};

// A work area: the runtime folder holding an earlier install, and the package beside it.
class ArchiveExtractionTest: public ::testing::Test
{
protected:
    void SetUp() override
    {
        test::writeFile(m_root / "RuntimeLibrary.so", "stale");
        test::writeFile(m_root / "notes.txt", "kept");
        test::writeFile(m_work.path() / "outside.txt", "canary");
    }

    ExtractionResult_t extract(bool replaceFolder = false, const ExtractionProgress& progress = {})
    {
        return extractArchive(m_package, m_root.string(), m_staging.string(), replaceFolder, m_cancel, progress);
    }

    bool craft(const std::vector<CraftedMember>& members) { return test::writeCraftedArchive(m_package, members); }

    ScopedTempDirectory m_work;
    fs::path m_root = m_work.path() / "inference_engine";
    fs::path m_staging = m_root / ".Generic CPU.extracting";
    std::string m_package = m_work.file("Generic CPU.tar.gz");
    std::atomic<bool> m_cancel{false};
};

TEST_F(ArchiveExtractionTest, AGoodPackageReplacesWhatItNamesAndKeepsTheRest)
{
    ASSERT_TRUE(craft(kGoodPackage));
    const ExtractionResult_t result = extract();
    ASSERT_EQ(result.outcome, Outcome::extracted) << result.problem;
    const std::map<std::string, std::string> expected = {
        {"RuntimeLibrary.so", "file new library"},
        {"notes.txt", "file kept"},
        {"lib", "folder"},
        {"lib/libdep.so.1", "file dependency"},
        {"lib/libdep.so", "link to libdep.so.1"},
        {"lib/libdep.copy", "file dependency"},
        {"models", "folder"},
        {"models/empty", "folder"},
    };
    EXPECT_EQ(snapshot(m_root), expected);
    EXPECT_EQ(test::readFile(m_root / "lib" / "libdep.so"), "dependency");
    EXPECT_EQ(fs::hard_link_count(m_root / "lib" / "libdep.copy"), 2u);
}

TEST_F(ArchiveExtractionTest, AFolderOfItsOwnIsReplacedWhole)
{
    const fs::path own = m_root / "Generic CPU";
    test::writeFile(own / "old.so", "old");
    ASSERT_TRUE(craft(kGoodPackage));
    const ExtractionResult_t result =
        extractArchive(m_package, own.string(), m_staging.string(), true, m_cancel, {});
    ASSERT_EQ(result.outcome, Outcome::extracted) << result.problem;
    EXPECT_FALSE(fs::exists(own / "old.so"));
    EXPECT_EQ(test::readFile(own / "RuntimeLibrary.so"), "new library");
    EXPECT_EQ(test::readFile(m_root / "RuntimeLibrary.so"), "stale");
    EXPECT_FALSE(fs::exists(m_staging));
}

TEST_F(ArchiveExtractionTest, OwnersAndSpecialBitsAreNotApplied)
{
    ASSERT_TRUE(craft({{"RuntimeLibrary.so", CraftedMember::file, "library", -1, false, 06755},
        {"locked/", CraftedMember::directory, "", -1, false, 0100},
        {"locked/inside.txt", CraftedMember::file, "x", -1, false, 0400}}));
    ASSERT_EQ(extract().outcome, Outcome::extracted);
    const auto mode = fs::status(m_root / "RuntimeLibrary.so").permissions();
    EXPECT_EQ(mode & (fs::perms::set_uid | fs::perms::set_gid), fs::perms::none);
    // Whoever runs the host can always replace and remove what it unpacked.
    EXPECT_NE(fs::status(m_root / "locked").permissions() & fs::perms::owner_all, fs::perms::none);
    EXPECT_TRUE(fs::remove_all(m_root / "locked"));
}

// Raw ustar bytes of one member announcing `size` bytes (base-256 above what octal holds),
// followed by a little of its data: a header no packer writes without its data.
std::string headerAnnouncing(const std::string& name, uint64_t size)
{
    std::string header(512, '\0');
    name.copy(header.data(), 99);
    std::string("0000644").copy(header.data() + 100, 7);
    std::string("0000000").copy(header.data() + 108, 7);
    std::string("0000000").copy(header.data() + 116, 7);
    header[124] = static_cast<char>(0x80);
    for (int i = 0; i < 8; ++i)
        header[135 - i] = static_cast<char>((size >> (8 * i)) & 0xff);
    std::string("00000000000").copy(header.data() + 136, 11);
    header[156] = '0';
    std::string("ustar").copy(header.data() + 257, 5);
    std::string("00").copy(header.data() + 263, 2);
    std::string(8, ' ').copy(header.data() + 148, 8);
    unsigned sum = 0;
    for (const char c: header)
        sum += static_cast<unsigned char>(c);
    const std::string checksum = [sum] {
        char text[8];
        std::snprintf(text, sizeof(text), "%06o", sum);
        return std::string(text, 6);
    }();
    checksum.copy(header.data() + 148, 6);
    header[154] = '\0';
    return header + std::string(4096, 'x');
}

struct CraftedCase
{
    const char* name;
    std::vector<CraftedMember> members;
    Outcome outcome;
};

void PrintTo(const CraftedCase& c, std::ostream* out)
{
    *out << c.name;
}

class CraftedArchives: public ArchiveExtractionTest, public ::testing::WithParamInterface<CraftedCase>
{
};

TEST_P(CraftedArchives, NothingReachesOutsideAndNothingHalfDone)
{
    const CraftedCase& c = GetParam();
    std::vector<CraftedMember> members = c.members;
    // Names of the work area itself, which a wrong extraction would write into.
    for (CraftedMember& member: members)
    {
        const auto at = member.path.find("<work>");
        if (at != std::string::npos)
            member.path.replace(at, 6, m_work.path().string());
    }
    ASSERT_TRUE(craft(members));
    const auto before = snapshot(m_work.path());

    const ExtractionResult_t result = extract();
    EXPECT_EQ(result.outcome, c.outcome) << result.problem;
    EXPECT_EQ(snapshot(m_work.path()), before);
}

INSTANTIATE_TEST_SUITE_P(Refused, CraftedArchives,
    ::testing::Values(
        CraftedCase{"link_target_with_an_arrow",
            {{"RuntimeLibrary.so", CraftedMember::symbolicLink, "/etc -> y"}}, Outcome::refused},
        CraftedCase{"link_target_with_a_hard_link_marker",
            {{"lib/x", CraftedMember::symbolicLink, "../../outside.txt link to lib/y"}}, Outcome::refused},
        CraftedCase{"absolute_name", {{"<work>/evil.txt", CraftedMember::file, "evil"}}, Outcome::refused},
        CraftedCase{"dot_dot_name", {{"../../evil.txt", CraftedMember::file, "evil"}}, Outcome::refused},
        CraftedCase{"link_out", {{"lib/escape", CraftedMember::symbolicLink, "../../../outside.txt"}},
            Outcome::refused},
        CraftedCase{"link_climbing_back_through_a_link",
            {{"up", CraftedMember::symbolicLink, "."}, {"x", CraftedMember::symbolicLink, "up/.."}},
            Outcome::refused},
        CraftedCase{"hard_link_out", {{"h", CraftedMember::hardLink, "../outside.txt"}}, Outcome::refused},
        CraftedCase{"hard_link_absolute", {{"h", CraftedMember::hardLink, "/etc/passwd"}}, Outcome::refused},
        CraftedCase{"device_node", {{"null", CraftedMember::characterDevice, ""}}, Outcome::refused},
        CraftedCase{"fifo", {{"pipe", CraftedMember::fifo, ""}}, Outcome::refused},
        CraftedCase{"huge_sparse_member",
            {{"big.bin", CraftedMember::file, std::string(4096, 'd'), int64_t{1} << 40, true}}, Outcome::refused},
        CraftedCase{"good_members_then_a_bad_one",
            {{"RuntimeLibrary.so", CraftedMember::file, "new library"}, {"lib/libdep.so", CraftedMember::file, "d"},
                {"../evil.txt", CraftedMember::file, "evil"}},
            Outcome::refused},
        // Placing such a member took the staging folder away with the members not yet placed.
        CraftedCase{"folder_named_like_the_staging_folder",
            {{".Generic CPU.extracting/", CraftedMember::directory, ""},
                {"RuntimeLibrary.so", CraftedMember::file, "new library"}},
            Outcome::refused},
        CraftedCase{"file_named_like_the_staging_folder",
            {{".Generic CPU.extracting", CraftedMember::file, "x"},
                {"RuntimeLibrary.so", CraftedMember::file, "new library"}},
            Outcome::refused},
        CraftedCase{"file_named_like_the_displaced_files_folder",
            {{"RuntimeLibrary.so", CraftedMember::file, "new library"},
                {".Generic CPU.extracting.displaced", CraftedMember::file, "x"}},
            Outcome::refused}),
    [](const ::testing::TestParamInfo<CraftedCase>& info) { return std::string(info.param.name); });

TEST_F(ArchiveExtractionTest, BrokenPackagesFailAndChangeNothing)
{
    ASSERT_TRUE(craft(kGoodPackage));
    const std::string whole = test::readFile(m_package);
    const struct {
        const char* name;
        std::string bytes;
        Outcome outcome;
    } cases[] = {
        {"truncated", whole.substr(0, whole.size() / 2), Outcome::failed},
        {"not an archive", "this is not a tar archive at all", Outcome::failed},
        {"empty", "", Outcome::failed},
        {"member above the content bound", headerAnnouncing("huge.bin", kMaxExtractedBytes + 1), Outcome::refused},
    };
    for (const auto& c: cases)
    {
        test::writeFile(m_package, c.bytes);
        const auto before = snapshot(m_work.path());
        const ExtractionResult_t result = extract();
        EXPECT_EQ(result.outcome, c.outcome) << c.name << ": " << result.problem;
        EXPECT_EQ(snapshot(m_work.path()), before) << c.name;
    }
}

TEST_F(ArchiveExtractionTest, AMemberCutShortFails)
{
    // An uncompressed archive cut inside the library's data.
    ASSERT_TRUE(test::writeCraftedArchive(m_package, {{"RuntimeLibrary.so", CraftedMember::file, std::string(20'000, 'L')}}, false));
    fs::resize_file(m_package, 512 + 10'000);
    const auto before = snapshot(m_work.path());
    EXPECT_EQ(extract().outcome, Outcome::failed);
    EXPECT_EQ(snapshot(m_work.path()), before);
}

// Large enough to be read in several blocks: random bytes do not compress.
std::vector<CraftedMember> largePackage()
{
    std::string noise(6 << 20, '\0');
    uint32_t state = 12345;
    for (char& c: noise)
    {
        state = state * 1664525u + 1013904223u;
        c = static_cast<char>(state >> 24);
    }
    return {{"RuntimeLibrary.so", CraftedMember::file, noise}};
}

TEST_F(ArchiveExtractionTest, ProgressRisesBlockByBlock)
{
    ASSERT_TRUE(craft(largePackage()));
    std::vector<unsigned> reported;
    const ExtractionResult_t result = extract(false, [&reported](unsigned percent) { reported.push_back(percent); });
    ASSERT_EQ(result.outcome, Outcome::extracted) << result.problem;
    ASSERT_GE(reported.size(), 2u);
    for (size_t i = 1; i < reported.size(); ++i)
        EXPECT_GT(reported[i], reported[i - 1]);
    EXPECT_LE(reported.back(), 100u);
}

TEST_F(ArchiveExtractionTest, ACancelBetweenBlocksLeavesEverythingAsItWas)
{
    ASSERT_TRUE(craft(largePackage()));
    const auto before = snapshot(m_work.path());
    const ExtractionResult_t result = extract(false, [this](unsigned) { m_cancel = true; });
    EXPECT_EQ(result.outcome, Outcome::cancelled);
    EXPECT_EQ(snapshot(m_work.path()), before);
}

TEST_F(ArchiveExtractionTest, ALinkToItselfReplacesTheFileOfItsName)
{
    // Asking whether the unpacked link was a folder threw "too many levels of symbolic links".
    test::writeFile(m_root / "keep.txt", "kept");
    ASSERT_TRUE(craft({{"keep.txt", CraftedMember::symbolicLink, "keep.txt"},
        {"RuntimeLibrary.so", CraftedMember::file, "new library"}}));
    const ExtractionResult_t result = extract();
    ASSERT_EQ(result.outcome, Outcome::extracted) << result.problem;
    const std::map<std::string, std::string> expected = {
        {"RuntimeLibrary.so", "file new library"},
        {"notes.txt", "file kept"},
        {"keep.txt", "link to keep.txt"},
    };
    EXPECT_EQ(snapshot(m_root), expected);
}

TEST_F(ArchiveExtractionTest, FoldersAndFilesTakeEachOthersPlaces)
{
    test::writeFile(m_root / "lib" / "old.so", "old");
    test::writeFile(m_root / "models", "a file where the package has a folder");
    ASSERT_TRUE(craft({{"lib", CraftedMember::file, "a file where a folder was"},
        {"models/", CraftedMember::directory, ""}, {"models/m.bin", CraftedMember::file, "model"}}));
    const ExtractionResult_t result = extract();
    ASSERT_EQ(result.outcome, Outcome::extracted) << result.problem;
    const std::map<std::string, std::string> expected = {
        {"RuntimeLibrary.so", "file stale"},
        {"notes.txt", "file kept"},
        {"lib", "file a file where a folder was"},
        {"models", "folder"},
        {"models/m.bin", "file model"},
    };
    EXPECT_EQ(snapshot(m_root), expected);
}

// A member whose name only just fits beside the staging folder cannot be set aside from the
// runtime folder (the name grows too long there): the member placed before it must go again.
TEST_F(ArchiveExtractionTest, APlacingThatFailsHalfwayPutsTheFolderBack)
{
    fs::path root = m_work.path();
    while (root.string().size() < 3800)
        root /= std::string(200, 'd');
    const fs::path staging = root / ".Generic CPU.extracting";
    const std::string lastName = "z" + std::string(4090 - (staging.string().size() + 1) - 1, 'n');
    test::writeFile(root / "RuntimeLibrary.so", "stale");
    test::writeFile(root / lastName, "kept");
    ASSERT_TRUE(craft({{"RuntimeLibrary.so", CraftedMember::file, "new library"}, {lastName, CraftedMember::file, "new"}}));
    const auto before = snapshot(m_work.path());

    const ExtractionResult_t result = extractArchive(m_package, root.string(), staging.string(), false, m_cancel, {});
    EXPECT_EQ(result.outcome, Outcome::failed) << result.problem;
    EXPECT_NE(result.problem.find("cannot be put in place"), std::string::npos) << result.problem;
    EXPECT_EQ(snapshot(m_work.path()), before);
}

TEST_F(ArchiveExtractionTest, LeftoversOfAnEarlierCrashAreNotInstalled)
{
    test::writeFile(m_staging / "leftover.so", "from a crash");
    ASSERT_TRUE(craft(kGoodPackage));
    ASSERT_EQ(extract().outcome, Outcome::extracted);
    EXPECT_FALSE(fs::exists(m_root / "leftover.so"));
    EXPECT_FALSE(fs::exists(m_staging));
}

} // namespace
} // namespace vyai
