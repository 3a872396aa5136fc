#include <regex>
#include <utility>

#include "foundations/child_process.h"
#include "foundations/constants.h"
#include "foundations/log.h"
#include "foundations/system_info.h"
#include "foundations/text_helpers.h"
#include "provisioning/chip_family.h"
#include "provisioning/nvidia_detection.h"

namespace vyai {

namespace {

constexpr char kOnnxMime[] = "application/x-onnx";

void offer(ChipFamily& family, const std::string& runtimeName, std::string url, std::string mime)
{
    family.runtimes.emplace(runtimeName, RuntimeLink{std::move(url), {std::move(mime)}});
}

// Always present: the family needs no driver.
void markPresent(ChipFamily& family)
{
    family.chipDetected = true;
    family.correctlyInstalled = true;
    family.numberOfChips = 1;
    family.apiVersion.clear();
}

// The OS version the TensorRT package is built for; empty when there is none for this machine.
std::string tensorRtOsVersion(uint32_t architecture, const std::string& osName, const std::string& osVersion)
{
    if (architecture == kArchitectureAarch64Jetson)
        return "22.04";
    if (architecture == kArchitectureAarch64Sbsa)
        return "24.04";
    if (osName == "Ubuntu" && osVersion == "22.04")
        return "22.04";
    return {};
}

void offerTensorRt(NvidiaFamily& family, const std::string& osName, const std::string& osVersion,
    const RuntimeStorage_t& storage)
{
    if (!storage.enableNvidiaTrt || family.apiVersion == "cuda_11")
        return;
    const std::string packageOsVersion = tensorRtOsVersion(family.cpuArchitecture, osName, osVersion);
    if (packageOsVersion.empty())
        return;
    if (family.computeCapability.empty() || family.tensorRtVersion.empty())
    {
        logError("TRT runtime skipped: SM or TRT version could not be determined.\n");
        return;
    }
    const std::string architectureName = cpuArchitectureName(static_cast<int32_t>(family.cpuArchitecture));
    offer(family, kAcceleratorNvidiaTensorRt,
        buildRuntimeDownloadLink(storage.baseUrl(), "NVIDIA_TRT", family.cpuArchitecture, osName,
            packageOsVersion, "trt" + family.tensorRtVersion + "-" + family.apiVersion),
        "application/x-tensorrt; arch=" + architectureName + "; sm=" + family.computeCapability
            + "; trt=" + family.tensorRtVersion);
}

} // namespace

CpuFamily::CpuFamily(uint32_t architecture, std::string osName, std::string osVersion,
    const RuntimeStorage_t& storage):
    ChipFamily(architecture)
{
    logError("Checking for supported CPU\n");
    chipName = "CPU";
    markPresent(*this);
    // The CPU package is the same for every version of an OS.
    (void) osVersion;
    offer(*this, kAcceleratorGenericCpu,
        buildRuntimeDownloadLink(storage.baseUrl(), "CPU", architecture, osName, "", ""), kOnnxMime);
}

NvidiaFamily::NvidiaFamily(uint32_t architecture, std::string osName, std::string osVersion,
    MessagingManager& messages, const RuntimeStorage_t& storage, const NvidiaProbe_t& probe,
    const std::atomic<bool>* stop):
    ChipFamily(architecture)
{
    logError("Checking for supported Nvidia chips\n");
    chipName = "NVIDIA";
    if (architecture != kArchitectureX86_64)
        return;
    detectNvidia(*this, messages, probe, stop);
    if (!correctlyInstalled)
        return;
    offer(*this, kAcceleratorNvidia,
        buildRuntimeDownloadLink(storage.baseUrl(), "NVIDIA_ORT", architecture, osName, "", apiVersion),
        kOnnxMime);
    offerTensorRt(*this, osName, osVersion, storage);
}

DeepxFamily::DeepxFamily(uint32_t architecture, std::string osName, std::string osVersion,
    const RuntimeStorage_t& storage, const std::atomic<bool>* stop):
    ChipFamily(architecture)
{
    logError("Checking for supported DEEPX chips\n");
    chipName = "DEEPX";
    if (architecture != kArchitectureX86_64 && architecture != kArchitectureAarch64)
        return;
    detectDeepx(*this, stop);
    if (!correctlyInstalled)
        return;
    // Windows packages do not depend on the OS version; others are built per version.
    const std::string packageOsVersion = osName == "Windows" ? std::string() : osVersion;
    offer(*this, kAcceleratorDeepx,
        buildRuntimeDownloadLink(storage.baseUrl(), "DEEPX", architecture, osName, packageOsVersion, apiVersion),
        "application/x-dxnn");
}

HailoFamily::HailoFamily(uint32_t architecture, std::string osName, std::string osVersion,
    const RuntimeStorage_t& storage):
    ChipFamily(architecture)
{
    logError("Checking for supported Hailo chips\n");
    chipName = "HAILO";
    // No Hailo detection exists: the family is never installed, so nothing is offered.
    if ((architecture != kArchitectureX86_64 && architecture != kArchitectureAarch64) || !correctlyInstalled)
        return;
    (void) osVersion;
    const char* mime = chipKind == 1 ? "application/x-hailo8" : chipKind == 2 ? "application/x-hailo8l" : nullptr;
    if (!mime)
    {
        logError("ERROR: No supported mime types found for the runtime\n");
        return;
    }
    offer(*this, kAcceleratorHailo,
        buildRuntimeDownloadLink(storage.baseUrl(), "HAILO", architecture, osName, "", apiVersion), mime);
}

IntelFamily::IntelFamily(uint32_t architecture, std::string osName, std::string osVersion,
    [[maybe_unused]] MessagingManager& messages, const RuntimeStorage_t& storage):
    ChipFamily(architecture)
{
    logError("Checking for supported Intel chips\n");
    chipName = "INTEL";
    (void) osVersion;
    if (architecture != kArchitectureX86_64)
        return;
    markPresent(*this);
    const std::pair<std::string, std::string> variants[] = {{kAcceleratorIntel, "fp32"}};
    for (const auto& [name, precision]: variants)
    {
        // emplace keeps a name already present.
        offer(*this, name, buildRuntimeDownloadLink(storage.baseUrl(), "INTEL", architecture, osName, "", ""),
            "application/zip; device=intel; precision=" + precision);
    }
}

void detectDeepx(DeepxFamily& family, const std::atomic<bool>* stop)
{
    family.chipDetected = false;
    family.correctlyInstalled = false;
    if (runProcess("dxrt-cli --status", kDefaultProcessTimeLimit, stop).exitCode != 0)
    {
        logError("DEEPX driver not installed or there are no DEEPX chips detected.\n");
        return;
    }
    family.chipDetected = true;
    const ProcessResult info = runProcess("dxrt-cli -i", kDefaultProcessTimeLimit, stop);
    if (info.exitCode != 0)
    {
        logError("DEEPX driver not detected.\n");
        return;
    }
    static const std::regex kVersion("DXRT v([0-9]+)\\.([0-9]+)\\.([0-9]+)", std::regex::ECMAScript);
    std::smatch match;
    if (!std::regex_search(info.output, match, kVersion))
    {
        logError("DEEPX driver version not detected.\n");
        return;
    }
    const std::string version = match[1].str() + "." + match[2].str() + "." + match[3].str();
    for (const std::string& supported: kSupportedDeepxDriverVersions)
    {
        if (compareVersions(version, supported) == 0)
        {
            family.apiVersion = "dxrt-v" + supported;
            family.correctlyInstalled = true;
            return;
        }
    }
    logError("DEEPX driver version %s is not supported.\n", version.c_str());
}

} // namespace vyai
