#include "vy/platform/system_facts.h"

#include <filesystem>

#include <gtest/gtest.h>

#include "scoped_temp_directory.h"
#include "test_files.h"

namespace vy::platform {
namespace {

TEST(SystemFacts, KernelIdentityNamesTheRunningSystem)
{
    const auto kernel = kernelIdentity();
    ASSERT_TRUE(kernel.has_value());
    EXPECT_EQ(kernel->systemName, "Linux");
    EXPECT_FALSE(kernel->release.empty());
    EXPECT_FALSE(kernel->machine.empty());
}

TEST(SystemFacts, OsReleaseValuesAreUnquoted)
{
    const ScopedTempDirectory temporary;
    const std::filesystem::path path = temporary.path() / "os-release";
    vyai::test::writeFile(path,
        "# comment\n"
        "NAME=\"Debian GNU/Linux\"\n"
        "VERSION_ID=\"12\"\n"
        "ID=debian\n"
        "PRETTY_NAME='Debian 12'\n"
        "QUOTED=\"say \\\"hi\\\"\"\n"
        "VERSION=12 (bookworm)\n");
    const struct {
        const char* key;
        std::optional<std::string> value;
    } cases[] = {
        {"VERSION_ID", "12"},
        {"ID", "debian"},
        {"NAME", "Debian GNU/Linux"},
        {"PRETTY_NAME", "Debian 12"},
        {"QUOTED", "say \"hi\""},
        {"VERSION", "12 (bookworm)"},
        {"MISSING", std::nullopt},
        {"VERSION_I", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(osReleaseValue(path.string(), c.key), c.value) << c.key;
    std::filesystem::remove(path);
    EXPECT_EQ(osReleaseValue(path.string(), "ID"), std::nullopt);
}

#if defined(__x86_64__)
TEST(SystemFacts, CpuidAnswersKnownLeavesOnly)
{
    const auto vendor = cpuid(0, 0);
    ASSERT_TRUE(vendor.has_value());
    EXPECT_GE(vendor->eax, 1u);
    EXPECT_FALSE(cpuid(vendor->eax + 1, 0).has_value());
    EXPECT_TRUE(cpuid(0x80000000u, 0).has_value());
}

TEST(SystemFacts, ExtendedControlRegisterOnlyWhenTheOsEnabledXsave)
{
    const auto leaf1 = cpuid(1, 0);
    ASSERT_TRUE(leaf1.has_value());
    const bool osxsave = (leaf1->ecx & (1u << 27)) != 0;
    const auto xcr0 = extendedControlRegister0();
    EXPECT_EQ(xcr0.has_value(), osxsave);
    if (xcr0) {
        EXPECT_EQ(*xcr0 & 1u, 1u); // x87 state is always saved
    }
}
#endif

TEST(SystemFacts, SharedLibraryLoadability)
{
    EXPECT_TRUE(isSharedLibraryLoadable("libc.so.6"));
    EXPECT_FALSE(isSharedLibraryLoadable("libvy-no-such-library.so"));
}

} // namespace
} // namespace vy::platform
