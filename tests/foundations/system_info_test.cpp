#include "foundations/system_info.h"

#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include <vy/platform/system_facts.h>

#include "scoped_temp_directory.h"

namespace vyai {
namespace {

TEST(CpuArchitecture, NamesOfCodes)
{
    const struct {
        int32_t code;
        const char* name;
    } cases[] = {{0, "UNKNOWN"}, {1, "aarch64"}, {2, "aarch64-jetson"}, {3, "aarch64-sbsa"},
        {4, "x86_64"}, {5, "UNKNOWN"}, {-1, "UNKNOWN"}};
    for (const auto& c : cases)
        EXPECT_EQ(cpuArchitectureName(c.code), c.name) << c.code;
}

TEST(CpuArchitecture, CodesOfMachineNames)
{
    const struct {
        const char* machine;
        int32_t code;
    } cases[] = {{"x86_64", 4}, {"i686", 4}, {"i386", 4}, {"aarch64", 1}, {"arm64", 1},
        {"armv7l", 0}, {"riscv64", 0}, {"", 0}, {"i86", 0}};
    for (const auto& c : cases)
        EXPECT_EQ(cpuArchitectureFromMachine(c.machine), c.code) << c.machine;
}

TEST(SystemInfo, DescribesThisMachine)
{
    const SystemInfo info;
    EXPECT_EQ(info.getOsName(), "Linux");
    EXPECT_EQ(info.getOsVersion(),
        vy::platform::osReleaseValue("VERSION_ID").value_or("Unknown"));
#if defined(__x86_64__)
    EXPECT_EQ(info.getCpuArchitecture(), 4);
#elif defined(__aarch64__)
    EXPECT_EQ(info.getCpuArchitecture(), 1);
#endif
}

#if defined(__x86_64__)
TEST(SystemInfo, Avx2AgreesWithTheKernel)
{
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line;
    bool kernelSaysAvx2 = false;
    while (std::getline(cpuinfo, line)) {
        if (line.rfind("flags", 0) == 0) {
            kernelSaysAvx2 = (line + " ").find(" avx2 ") != std::string::npos;
            break;
        }
    }
    EXPECT_EQ(cpuHasAvx2(), kernelSaysAvx2);
}
#endif

// The path of the file that the loader picks for a library name.
std::string loadedFileOf(const char* library, const char* symbol)
{
    void* handle = ::dlopen(library, RTLD_LAZY | RTLD_LOCAL);
    if (!handle)
        return "";
    Dl_info info{};
    const bool found = ::dladdr(::dlsym(handle, symbol), &info) != 0 && info.dli_fname;
    std::string path = found ? info.dli_fname : "";
    ::dlclose(handle);
    return path;
}

TEST(SystemInfo, LibraryInstalledByNameOrVersionOne)
{
    EXPECT_TRUE(isLibraryInstalled("libc.so.6"));
    EXPECT_FALSE(isLibraryInstalled("libvy-no-such-library.so"));

    // A library present only under its versioned name, as without its development package.
    const std::string zlib = loadedFileOf("libz.so.1", "zlibVersion");
    ASSERT_FALSE(zlib.empty());
    const ScopedTempDirectory temporary;
    const std::filesystem::path& folder = temporary.path();
    std::filesystem::copy_file(zlib, folder / "libvyfixture.so.1");
    EXPECT_TRUE(isLibraryInstalled((folder / "libvyfixture.so").string()));
    EXPECT_FALSE(isLibraryInstalled((folder / "libvyother.so").string()));
    EXPECT_FALSE(isLibraryInstalled((folder / "libvyfixture.so.2").string()));
}

} // namespace
} // namespace vyai
