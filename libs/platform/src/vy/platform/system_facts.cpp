#include "vy/platform/system_facts.h"

#include <dlfcn.h>
#include <fstream>
#include <sys/utsname.h>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace vy::platform {

std::optional<KernelIdentity> kernelIdentity()
{
    utsname name{};
    if (::uname(&name) != 0)
        return std::nullopt;
    return KernelIdentity{name.sysname, name.release, name.machine};
}

namespace {

// Values may be quoted with ' or " and use backslash escapes inside double quotes.
std::string unquote(const std::string& value)
{
    if (value.size() < 2 || (value.front() != '"' && value.front() != '\'')
        || value.back() != value.front()) {
        return value;
    }
    const std::string inner = value.substr(1, value.size() - 2);
    if (value.front() == '\'')
        return inner;
    std::string text;
    for (size_t i = 0; i < inner.size(); ++i) {
        if (inner[i] == '\\' && i + 1 < inner.size())
            ++i;
        text.push_back(inner[i]);
    }
    return text;
}

} // namespace

std::optional<std::string> osReleaseValue(const std::string& filePath, const std::string& key)
{
    std::ifstream file(filePath);
    if (!file)
        return std::nullopt;
    const std::string prefix = key + "=";
    std::string line;
    while (std::getline(file, line)) {
        if (line.starts_with(prefix))
            return unquote(line.substr(prefix.size()));
    }
    return std::nullopt;
}

std::optional<std::string> osReleaseValue(const std::string& key)
{
    std::ifstream probe("/etc/os-release");
    return osReleaseValue(probe ? "/etc/os-release" : "/usr/lib/os-release", key);
}

std::optional<CpuidRegisters> cpuid(uint32_t leaf, uint32_t subleaf)
{
#if defined(__x86_64__) || defined(__i386__)
    // The highest leaf of the same range (basic 0x0..., extended 0x8000...).
    if (__get_cpuid_max(leaf & 0x80000000u, nullptr) < leaf)
        return std::nullopt;
    CpuidRegisters registers;
    __cpuid_count(leaf, subleaf, registers.eax, registers.ebx, registers.ecx, registers.edx);
    return registers;
#else
    (void) leaf;
    (void) subleaf;
    return std::nullopt;
#endif
}

std::optional<uint64_t> extendedControlRegister0()
{
#if defined(__x86_64__) || defined(__i386__)
    // XGETBV itself faults unless the OS has set OSXSAVE (CPUID leaf 1, ECX bit 27).
    const auto leaf1 = cpuid(1, 0);
    if (!leaf1 || (leaf1->ecx & (1u << 27)) == 0)
        return std::nullopt;
    uint32_t low = 0;
    uint32_t high = 0;
    __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    return (uint64_t(high) << 32) | low;
#else
    return std::nullopt;
#endif
}

bool isSharedLibraryLoadable(const std::string& name)
{
    // The probed library stays loaded: unloading it straight away would leak what its
    // initialisers allocated (libgomp's do) at every probe, and the runtime that needs it
    // loads it anyway. RTLD_LOCAL keeps its symbols out of everyone else's way.
    return ::dlopen(name.c_str(), RTLD_LAZY | RTLD_LOCAL) != nullptr;
}

} // namespace vy::platform
