#include "provisioning/archive_entry_rules.h"

#include <gtest/gtest.h>

namespace vyai {
namespace {

using Kind = ArchiveEntryKind;

struct RuleCase
{
    const char* name;
    ArchiveEntry_t entry;
    bool refused;
};

void PrintTo(const RuleCase& c, std::ostream* out)
{
    *out << c.name;
}

ArchiveEntry_t member(std::string path, Kind kind = Kind::file, std::string target = "")
{
    return {std::move(path), kind, std::move(target), false, 0};
}

class ArchiveEntryRules: public ::testing::TestWithParam<RuleCase>
{
};

TEST_P(ArchiveEntryRules, RefuseWhatLeavesTheFolder)
{
    const RuleCase& c = GetParam();
    const auto refusal = entryRefusal(c.entry);
    EXPECT_EQ(refusal.has_value(), c.refused) << refusal.value_or("accepted");
}

ArchiveEntry_t sparse()
{
    ArchiveEntry_t entry = member("big.bin");
    entry.sparse = true;
    entry.size = int64_t{1} << 40;
    return entry;
}

ArchiveEntry_t negativeSize()
{
    ArchiveEntry_t entry = member("weird.bin");
    entry.size = -1;
    return entry;
}

INSTANTIATE_TEST_SUITE_P(Cases, ArchiveEntryRules,
    ::testing::Values(
        RuleCase{"file", member("RuntimeLibrary.so"), false},
        RuleCase{"nested file with dot parts", member("./lib/./libdep.so.1"), false},
        RuleCase{"folder itself", member("./", Kind::directory), false},
        RuleCase{"link beside", member("lib/libdep.so", Kind::symbolicLink, "libdep.so.1"), false},
        RuleCase{"link down", member("RuntimeLibrary.so", Kind::symbolicLink, "lib/real.so"), false},
        RuleCase{"link up to the top", member("lib/x/cfg", Kind::symbolicLink, "../../cfg"), false},
        RuleCase{"link up then down", member("lib/a", Kind::symbolicLink, "../models/a"), false},
        RuleCase{"link to its own folder", member("here", Kind::symbolicLink, "."), false},
        RuleCase{"hard link inside", member("lib/copy", Kind::hardLink, "lib/libdep.so.1"), false},
        RuleCase{"empty name", member(""), true},
        RuleCase{"absolute name", member("/etc/cron.d/job"), true},
        RuleCase{"dot-dot name", member("lib/../../evil"), true},
        RuleCase{"dot-dot name at the end", member("lib/..", Kind::directory), true},
        RuleCase{"a file named for the folder", member("./"), true},
        RuleCase{"a link named for the folder", member(".", Kind::symbolicLink, "lib"), true},
        RuleCase{"absolute target with an arrow", member("RuntimeLibrary.so", Kind::symbolicLink, "/etc -> y"), true},
        RuleCase{"climbing target with a marker", member("x", Kind::symbolicLink, "../x link to y"), true},
        RuleCase{"link one above its reach", member("lib/x", Kind::symbolicLink, "../../x"), true},
        RuleCase{"link at the top climbing", member("x", Kind::symbolicLink, ".."), true},
        RuleCase{"link climbing back through a name", member("x", Kind::symbolicLink, "here/.."), true},
        RuleCase{"empty link target", member("x", Kind::symbolicLink, ""), true},
        RuleCase{"hard link absolute", member("h", Kind::hardLink, "/etc/passwd"), true},
        RuleCase{"hard link out", member("h", Kind::hardLink, "../outside"), true},
        RuleCase{"hard link to the folder", member("h", Kind::hardLink, "."), true},
        RuleCase{"character device", member("null", Kind::characterDevice), true},
        RuleCase{"block device", member("sda", Kind::blockDevice), true},
        RuleCase{"fifo", member("pipe", Kind::fifo), true},
        RuleCase{"socket", member("socket", Kind::socket), true},
        RuleCase{"unknown kind", member("what", Kind::unknown), true},
        RuleCase{"sparse member", sparse(), true},
        RuleCase{"negative size", negativeSize(), true}),
    [](const ::testing::TestParamInfo<RuleCase>& info) {
        std::string name = info.param.name;
        for (char& c: name)
        {
            if (!std::isalnum(static_cast<unsigned char>(c)))
                c = '_';
        }
        return name;
    });

TEST(ArchiveEntryRulesText, NamesWhatIsWrong)
{
    EXPECT_EQ(entryRefusal(member("RuntimeLibrary.so", Kind::symbolicLink, "/etc -> y")),
        "links to /etc -> y, outside the folder");
    EXPECT_EQ(entryRefusal(member("null", Kind::characterDevice)), "is a device");
    EXPECT_EQ(entryRefusal(member("/abs")), "has an absolute name");
}

} // namespace
} // namespace vyai
