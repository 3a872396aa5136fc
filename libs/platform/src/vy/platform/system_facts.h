#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vy::platform {

// The running kernel as uname(2) reports it.
struct KernelIdentity {
    std::string systemName; // "Linux"
    std::string release;    // "6.1.0-18-amd64"
    std::string machine;    // "x86_64", "aarch64"
};
std::optional<KernelIdentity> kernelIdentity();

// The value of one key of an os-release file (for example VERSION_ID), unquoted; none when the
// file or the key is missing. The one-argument form reads /etc/os-release, falling back to
// /usr/lib/os-release as the format's own rules say.
std::optional<std::string> osReleaseValue(const std::string& key);
std::optional<std::string> osReleaseValue(const std::string& filePath, const std::string& key);

struct CpuidRegisters {
    uint32_t eax = 0;
    uint32_t ebx = 0;
    uint32_t ecx = 0;
    uint32_t edx = 0;
};
// CPUID of a leaf and sub-leaf; none when the processor is not x86 or lacks the leaf.
std::optional<CpuidRegisters> cpuid(uint32_t leaf, uint32_t subleaf);

// The extended control register XCR0: which register states the OS saves on a context switch
// (bit 1 SSE, bit 2 AVX). None when the processor is not x86 or the OS has not enabled XSAVE.
std::optional<uint64_t> extendedControlRegister0();

// True when the dynamic loader can load the shared library of this name (dlopen rules); a
// library that loads stays loaded.
bool isSharedLibraryLoadable(const std::string& name);

} // namespace vy::platform
