#pragma once

#include <cstdint>
#include <string>

// What the runtime provisioning asks of the machine before it offers runtimes.

namespace vyai {

/** The machine: OS name, OS version and processor architecture code (see cpuArchitectureName). */
class SystemInfo
{
public:
    /**
     * OS name from the kernel ("Linux"); OS version the distribution's VERSION_ID from
     * os-release ("12"), "Unknown" when there is none; architecture 4 for x86 and x86-64, 1 for
     * 64-bit ARM, 0 for anything else. Never fails.
     */
    SystemInfo();

    std::string getOsName() const { return m_osName; }
    std::string getOsVersion() const { return m_osVersion; }
    int32_t getCpuArchitecture() const { return m_cpuArchitecture; }

private:
    std::string m_osName;
    std::string m_osVersion;
    int32_t m_cpuArchitecture = 0;
};

/** Processor architecture codes, as the runtime packages name them. */
enum CpuArchitecture : int32_t {
    kArchitectureUnknown = 0,
    kArchitectureAarch64 = 1,
    kArchitectureAarch64Jetson = 2,
    kArchitectureAarch64Sbsa = 3,
    kArchitectureX86_64 = 4,
};

/** The architecture code from a kernel's machine name ("x86_64", "aarch64"); 0 when unknown. */
int32_t cpuArchitectureFromMachine(const std::string& machine);

/** 1 "aarch64", 2 "aarch64-jetson", 3 "aarch64-sbsa", 4 "x86_64", anything else "UNKNOWN". */
std::string cpuArchitectureName(int32_t code);

/** True when the processor reports AVX2 (CPUID leaf 7, EBX bit 5) and the OS saves AVX state. */
bool cpuHasAvx2();

/**
 * True when the dynamic loader finds the library. A "lib*.so" name is also tried with ".1":
 * the unversioned name exists only where the library's development files are installed.
 */
bool isLibraryInstalled(const std::string& libraryName);

} // namespace vyai
