#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

// Accelerator families: what kind of AI hardware the machine offers and which runtimes that
// makes available, each with the address of its package and its model formats (mime types).

namespace vyai {

class MessagingManager;

/** Where runtime packages are fetched from, and the options that shape the offer. */
struct RuntimeStorage_t
{
    std::string configuredUrl; //< RuntimesStorageURL; empty: the built-in storage
    std::string builtInUrl; //< the built-in storage with its "/KAVU/runtimes/<version>" path
    bool enableNvidiaTrt = false;

    /** The options as the ini file sets them, with the product's built-in storage. */
    static RuntimeStorage_t fromIni();

    bool usesBuiltInStorage() const { return configuredUrl.empty(); }
    const std::string& baseUrl() const { return usesBuiltInStorage() ? builtInUrl : configuredUrl; }
};

struct RuntimeLink
{
    std::string url; //< the package
    std::vector<std::string> mimeTypes; //< the first is the runtime's model format

    std::string firstMimeType() const { return mimeTypes.empty() ? std::string() : mimeTypes.front(); }
    /** True for an empty filter or one equal to an entry. */
    bool hasMimeType(const std::string& mime) const;
};

/** One kind of AI hardware; filled by its family's constructor and only read afterwards. */
struct ChipFamily
{
    std::map<std::string, RuntimeLink> runtimes; //< by runtime name, byte order
    uint32_t cpuArchitecture = 0; //< code of cpuArchitectureName
    std::string chipName;
    std::string apiVersion; //< driver or API version that selects the package build
    bool chipDetected = false;
    bool correctlyInstalled = false;
    uint32_t numberOfChips = 0;

    explicit ChipFamily(uint32_t architecture): cpuArchitecture(architecture) {}

    /** The package address of a runtime; empty, with an error line, when there is none. */
    std::string getDownloadLink(const std::string& runtimeName) const;
    /** The runtime's model format; empty, with an error line, when there is no such runtime. */
    std::string getMimeType(const std::string& runtimeName) const;
    /** Names of the runtimes that read models of this mime type (all for an empty one). */
    std::vector<std::string> getRuntimeNames(const std::string& mimeFilter) const;
    /** The detection line, for a detected family only. */
    void log() const;
};

struct CpuFamily: ChipFamily
{
    CpuFamily(uint32_t architecture, std::string osName, std::string osVersion,
        const RuntimeStorage_t& storage = RuntimeStorage_t::fromIni());
};

// The families that run the driver's tools end them once `stop` (when given) is set: the
// engine's shut-down must not wait for a tool that hangs.

struct DeepxFamily: ChipFamily
{
    DeepxFamily(uint32_t architecture, std::string osName, std::string osVersion,
        const RuntimeStorage_t& storage = RuntimeStorage_t::fromIni(), const std::atomic<bool>* stop = nullptr);
};

struct HailoFamily: ChipFamily
{
    uint32_t chipKind = 0; //< 1 Hailo-8, 2 Hailo-8L, 0 unknown

    HailoFamily(uint32_t architecture, std::string osName, std::string osVersion,
        const RuntimeStorage_t& storage = RuntimeStorage_t::fromIni());
};

struct IntelFamily: ChipFamily
{
    IntelFamily(uint32_t architecture, std::string osName, std::string osVersion,
        MessagingManager& messages, const RuntimeStorage_t& storage = RuntimeStorage_t::fromIni());
};

/** Where NVIDIA detection looks; tests point it at a fake device tree. */
struct NvidiaProbe_t
{
    std::string pciDevicesRoot;

    static NvidiaProbe_t system();
};

struct NvidiaFamily: ChipFamily
{
    std::string computeCapability; //< digits only, "86"
    std::string tensorRtVersion;
    std::string cudaToolkitVersion; //< "12.4"

    NvidiaFamily(uint32_t architecture, std::string osName, std::string osVersion,
        MessagingManager& messages, const RuntimeStorage_t& storage = RuntimeStorage_t::fromIni(),
        const NvidiaProbe_t& probe = NvidiaProbe_t::system(), const std::atomic<bool>* stop = nullptr);
};

/**
 * The package address: the storage base, then
 * "{chip_name}/{cpu_arch}/{os_name}{/os_version}/library{-driver_version}.tar.gz" filled in;
 * an empty OS or driver version leaves its "/" or "-" out.
 */
std::string buildRuntimeDownloadLink(const std::string& baseUrl, const std::string& chipName,
    uint32_t architecture, const std::string& osName, const std::string& osVersion,
    const std::string& driverVersion);

/** Runs "dxrt-cli" to find a DEEPX driver of a supported version. */
void detectDeepx(DeepxFamily& family, const std::atomic<bool>* stop = nullptr);

} // namespace vyai
