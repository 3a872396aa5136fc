#include "provisioning/nvidia_detection.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include <vy/platform/pci_devices.h>
#include <vy/utils/string_compare.h>

#include "foundations/child_process.h"
#include "foundations/log.h"
#include "foundations/message_codes.h"
#include "foundations/messaging_manager.h"
#include "foundations/text_helpers.h"

namespace vyai {

namespace {

constexpr char kNvidiaVendorKey[] = "VEN_10DE";
constexpr char kDriverDownloadUrl[] = "https://www.nvidia.com/Download/index.aspx";
constexpr size_t kCudaPathCapacity = 1024;
constexpr size_t kPathCapacity = 32767;

struct CapabilityRow
{
    int lowestCapability;
    int highestCapability;
    int lowestCudaMajor;
    int highestCudaMajor; //< 0: no upper limit
};

constexpr CapabilityRow kCapabilityTable[] = {
    {35, 37, 11, 11},
    {50, 72, 11, 12},
    {75, 89, 11, 0},
    {90, 90, 11, 0},
    {100, 121, 12, 0},
};

void postAdvice(MessagingManager& messages, const std::string& text)
{
    messages.addMessage(kMessageNvidiaGpuSdk, text, kMessageTypeMessage);
}

// An environment variable that is set, not empty and shorter than the given capacity.
std::optional<std::string> environmentValue(const char* name, size_t capacity)
{
    const char* value = std::getenv(name);
    if (!value)
        return std::nullopt;
    const size_t length = std::strlen(value);
    if (length == 0 || length >= capacity)
        return std::nullopt;
    return std::string(value, length);
}

std::string lowerCase(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
        [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// The device notes go to standard error, never standard output: a host may keep its standard
// output for its own records (the stand-in host writes one JSON object per line there).
bool hasNvidiaDevice(const NvidiaProbe_t& probe)
{
    const auto keys = vy::platform::pciDeviceKeys(probe.pciDevicesRoot);
    if (!keys)
    {
        std::cerr << "Failed to open PCI registry key, status=" << probe.pciDevicesRoot << "\n";
        return false;
    }
    for (const std::string& key: *keys)
    {
        if (key.size() >= 8 && vy::utils::stricmp(key.substr(0, 8), kNvidiaVendorKey) == 0)
        {
            std::cerr << "Found NVIDIA device key: " << key << "\n";
            return true;
        }
    }
    std::cerr << "No NVIDIA PCI device (VEN_10DE) found in registry.\n";
    return false;
}

// Sets apiVersion and cudaToolkitVersion; false for a version no runtime is built for.
bool readToolkitVersion(NvidiaFamily& family, const std::string& cudaPath)
{
    const std::string version = cudaVersionFromPath(cudaPath);
    for (const char* major: {"13", "12", "11"})
    {
        if (version.size() >= 2 && version.compare(0, 2, major) == 0)
        {
            family.apiVersion = std::string("cuda_") + major;
            family.cudaToolkitVersion = version;
            return true;
        }
    }
    logError("CUDA version '%s' not supported (only 11, 12, or 13 are supported).\n", version.c_str());
    return false;
}

} // namespace

std::string cudaVersionFromPath(const std::string& cudaPath)
{
    size_t start = cudaPath.find("\\v");
    if (start != std::string::npos)
        start += 2;
    else if ((start = cudaPath.find("/cuda-")) != std::string::npos)
        start += 6;
    else
        return {};
    const size_t end = cudaPath.find_first_of("\\/", start);
    return cudaPath.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

void detectNvidia(
    NvidiaFamily& family, MessagingManager& messages, const NvidiaProbe_t& probe, const std::atomic<bool>* stop)
{
    family.chipDetected = false;
    family.correctlyInstalled = false;

    if (!hasNvidiaDevice(probe))
    {
        logError("NVIDIA GPU not found.\n");
        return;
    }
    // Once the shut-down began, every tool call fails at once: nothing is to be advised then.
    const auto stopped = [stop] { return stop && stop->load(); };
    if (runProcess("nvidia-smi", kDefaultProcessTimeLimit, stop).exitCode != 0)
    {
        if (stopped())
            return;

        logError("nvidia-smi not found or not working properly.\n");
        logError("Please download and install the NVIDIA GPU drivers from the following URL: %s\n",
            kDriverDownloadUrl);
        postAdvice(messages, nvidiaSetupText());
        return;
    }
    family.chipDetected = true;

    const auto cudaPath = environmentValue("CUDA_PATH", kCudaPathCapacity);
    if (!cudaPath)
    {
        logError("CUDA_PATH environment variable not found. CUDA Toolkit may not be installed.\n");
        logError("Please install the CUDA Toolkit compatible with your NVIDIA driver.\n");
        logError("You can download and install the CUDA Toolkit from the NVIDIA CUDA Toolkit archive.\n");
        logError("Once the installation is complete, please restart the Vy server.\n");
        postAdvice(messages, nvidiaSetupText());
        return;
    }
    logError("Found CUDA_PATH: %s\n", cudaPath->c_str());

    if (const auto path = environmentValue("PATH", kPathCapacity); !path)
    {
        logError("Failed to read the PATH environment variable.\n");
    }
    else if (lowerCase(*path).find(lowerCase(*cudaPath)) != std::string::npos)
    {
        logError("CUDA Toolkit path found in PATH environment variable.\n");
    }
    else
    {
        logError("CUDA Toolkit path '%s' is not in the PATH environment variable.\n", cudaPath->c_str());
        postAdvice(messages, cudaPathMissingText(*cudaPath));
        return;
    }

    if (!readToolkitVersion(family, *cudaPath))
        return;

    const ProcessResult query = runProcess("nvidia-smi -q -x", kDefaultProcessTimeLimit, stop);
    if (stopped())
        return;
    const std::string driverCudaVersion = query.exitCode == 0 ? readDriverCudaVersion(query.output) : "";
    if (!checkToolkitAgainstDriver(family, messages, driverCudaVersion))
        return;
    if (!checkComputeCapability(family, messages, stop) || stopped())
        return;

    const ProcessResult count =
        runProcess("nvidia-smi --query-gpu=count --format=csv,noheader", kDefaultProcessTimeLimit, stop);
    if (stopped())
        return;
    const auto gpus = count.exitCode == 0 ? parseLeadingInt(count.output) : std::nullopt;
    if (!gpus || *gpus < 0)
    {
        logError("The number of NVIDIA GPUs cannot be determined.\n");
        postAdvice(messages, nvidiaSetupText());
        return;
    }
    family.numberOfChips = static_cast<uint32_t>(*gpus);
    family.correctlyInstalled = true;
}

bool checkToolkitAgainstDriver(NvidiaFamily& family, MessagingManager& messages,
    const std::string& driverCudaVersion)
{
    if (isToolkitSupportedByDriver(family.cudaToolkitVersion, driverCudaVersion))
        return true;
    logError("Installed CUDA Toolkit (%s) exceeds the maximum CUDA version supported by the installed "
        "NVIDIA driver (%s).\n", family.cudaToolkitVersion.c_str(), driverCudaVersion.c_str());
    postAdvice(messages, nvidiaDriverTooOldText(family.cudaToolkitVersion, driverCudaVersion));
    return false;
}

bool checkComputeCapability(NvidiaFamily& family, MessagingManager& messages, const std::atomic<bool>* stop)
{
    family.computeCapability = queryComputeCapability(stop);
    if (isComputeCapabilitySupported(family.computeCapability, family.apiVersion))
        return true;
    logError("GPU compute capability (SM %s) is not compatible with the installed CUDA Toolkit (%s).\n",
        family.computeCapability.c_str(), family.apiVersion.c_str());
    postAdvice(messages, nvidiaComputeCapabilityText(family.apiVersion));
    return false;
}

std::string queryComputeCapability(const std::atomic<bool>* stop)
{
    const ProcessResult result =
        runProcess("nvidia-smi --query-gpu=compute_cap --format=csv,noheader", kDefaultProcessTimeLimit, stop);
    if (result.exitCode != 0)
        return {};
    std::string capability;
    for (const char c: result.output.substr(0, result.output.find('\n')))
    {
        if (!std::isspace(static_cast<unsigned char>(c)) && c != '.')
            capability += c;
    }
    return capability;
}

std::string readDriverCudaVersion(const std::string& xmlText)
{
    const std::string version = xmlElementText(xmlText, "cuda_umd_version");
    return version.empty() ? xmlElementText(xmlText, "cuda_version") : version;
}

std::string xmlElementText(const std::string& xmlText, const std::string& tag)
{
    const std::string open = "<" + tag + ">";
    const size_t start = xmlText.find(open);
    if (start == std::string::npos)
        return {};
    const size_t textStart = start + open.size();
    const size_t end = xmlText.find("</" + tag + ">", textStart);
    if (end == std::string::npos)
        return {};
    return xmlText.substr(textStart, end - textStart);
}

bool isComputeCapabilitySupported(const std::string& capability, const std::string& cudaId)
{
    if (capability.empty())
        return true;
    const auto value = parseLeadingInt(capability);
    if (!value)
        return true;
    int cudaMajor = 0;
    if (cudaId == "cuda_11")
        cudaMajor = 11;
    else if (cudaId == "cuda_12")
        cudaMajor = 12;
    else if (cudaId == "cuda_13")
        cudaMajor = 13;
    else
        return true;
    if (*value < 35)
        return false;
    for (const CapabilityRow& row: kCapabilityTable)
    {
        if (*value < row.lowestCapability || *value > row.highestCapability)
            continue;
        if (cudaMajor < row.lowestCudaMajor)
            return false;
        return row.highestCudaMajor == 0 || cudaMajor <= row.highestCudaMajor;
    }
    return true;
}

bool isToolkitSupportedByDriver(const std::string& toolkitVersion, const std::string& driverVersion)
{
    if (toolkitVersion.empty() || driverVersion.empty())
        return true;
    const auto order = compareVersions(majorMinor(toolkitVersion), majorMinor(driverVersion));
    return !order || *order <= 0;
}

std::string majorMinor(const std::string& version)
{
    const size_t firstDot = version.find('.');
    if (firstDot == std::string::npos)
        return version;
    const size_t secondDot = version.find('.', firstDot + 1);
    return secondDot == std::string::npos ? version : version.substr(0, secondDot);
}

} // namespace vyai
