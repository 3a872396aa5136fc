#include "foundations/system_info.h"

#include <vy/platform/system_facts.h>

namespace vyai {

SystemInfo::SystemInfo():
    m_osName("Unknown"),
    m_osVersion(vy::platform::osReleaseValue("VERSION_ID").value_or("Unknown"))
{
    if (const auto kernel = vy::platform::kernelIdentity()) {
        m_osName = kernel->systemName;
        m_cpuArchitecture = cpuArchitectureFromMachine(kernel->machine);
    }
    if (m_osVersion.empty())
        m_osVersion = "Unknown";
}

int32_t cpuArchitectureFromMachine(const std::string& machine)
{
    if (machine == "x86_64" || machine == "amd64"
        || (machine.size() == 4 && machine[0] == 'i' && machine.substr(2) == "86")) {
        return kArchitectureX86_64;
    }
    if (machine == "aarch64" || machine == "arm64")
        return kArchitectureAarch64;
    return kArchitectureUnknown;
}

std::string cpuArchitectureName(int32_t code)
{
    switch (code) {
        case kArchitectureAarch64: return "aarch64";
        case kArchitectureAarch64Jetson: return "aarch64-jetson";
        case kArchitectureAarch64Sbsa: return "aarch64-sbsa";
        case kArchitectureX86_64: return "x86_64";
        default: return "UNKNOWN";
    }
}

bool cpuHasAvx2()
{
    const auto leaf7 = vy::platform::cpuid(7, 0);
    if (!leaf7 || (leaf7->ebx & (1u << 5)) == 0)
        return false;
    // A hypervisor or a kernel option can leave the AVX register state unsaved while CPUID
    // still lists AVX2; AVX2 code then faults, so that processor has no usable AVX2.
    constexpr uint64_t kSseAndAvxState = 0x6;
    const auto xcr0 = vy::platform::extendedControlRegister0();
    return xcr0 && (*xcr0 & kSseAndAvxState) == kSseAndAvxState;
}

bool isLibraryInstalled(const std::string& libraryName)
{
    if (vy::platform::isSharedLibraryLoadable(libraryName))
        return true;
    return libraryName.ends_with(".so") && vy::platform::isSharedLibraryLoadable(libraryName + ".1");
}

} // namespace vyai
