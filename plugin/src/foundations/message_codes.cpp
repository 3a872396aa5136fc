#include "foundations/message_codes.h"

#include "foundations/constants.h"
#include "foundations/text_helpers.h"

namespace vyai {

namespace {

constexpr char kNvidiaComputeCapabilitiesUrl[] = "https://developer.nvidia.com/cuda-gpus";
constexpr char kNvidiaCudaCompatibilityUrl[] =
    "https://docs.nvidia.com/deploy/cuda-compatibility/";

std::string nvidiaSetupLink()
{
    const auto page = kAcceleratorDocumentation.find(kAcceleratorNvidia);
    return htmlLink(page != kAcceleratorDocumentation.end() ? page->second : std::string());
}

} // namespace

std::string nvidiaComputeCapabilityText(const std::string& toolkitVersion)
{
    return "Your GPU's compute capability is not compatible with the installed CUDA Toolkit ("
        + toolkitVersion + "). Please install a CUDA Toolkit version supported by your GPU. See "
        + htmlLink(kNvidiaComputeCapabilitiesUrl)
        + " for the supported compute capabilities per CUDA version.";
}

std::string nvidiaDriverTooOldText(
    const std::string& toolkitVersion, const std::string& driverCudaVersion)
{
    return "Your installed CUDA Toolkit (" + toolkitVersion
        + ") is newer than what your NVIDIA driver supports (up to CUDA " + driverCudaVersion
        + "). Please update your NVIDIA driver or install a CUDA Toolkit version it supports. See "
        + htmlLink(kNvidiaCudaCompatibilityUrl)
        + " for details on CUDA Toolkit and driver compatibility.";
}

std::string nvidiaSetupText()
{
    return kNvidiaHelpText + nvidiaSetupLink();
}

std::string cudaPathMissingText(const std::string& cudaPath)
{
    // The folder in this platform's own path form.
    return "The CUDA Toolkit path is not in the PATH environment variable. Please add '"
        + cudaPath + "/bin' to the PATH environment variable and restart the Vy server. For more "
        "information, follow the instructions at: " + nvidiaSetupLink();
}

std::string runtimePackagePercentText(uint64_t percent)
{
    return "Downloading runtime package (" + std::to_string(percent)
        + "%)\nPress 'Refresh' to see updated progress.";
}

std::string runtimePackageBytesText(uint64_t bytes)
{
    return "Downloading runtime package (" + std::to_string(bytes)
        + " bytes)\nPress 'Refresh' to see updated progress.";
}

std::string runtimeDocumentationText(const std::string& familyName, const std::string& link)
{
    return "To learn how to set up the machine and make use of the " + familyName
        + " hardware for running AI models, please consult the following documentation: "
        + htmlLink(link);
}

std::string runtimeInitFailedText(const std::string& runtimeError)
{
    return "Failed to initialize the AI runtime: " + runtimeError;
}

std::string runtimeLoadModelsFailedText(const std::string& runtimeError)
{
    return "The AI runtime failed to load the assigned models: " + runtimeError;
}

std::string failedCreateCacheDirText(const std::vector<std::string>& folders)
{
    std::string text = "Veltrin could not create directories needed to store cached models. "
                       "Please check for any permission or disk space issues:\n ";
    for (size_t i = 0; i < folders.size(); ++i)
        text += (i > 0 ? "\nand\n" : "") + folders[i];
    return text;
}

std::string parseModelFailedText(const std::string& error)
{
    return "One or more models failed to parse. This indicates a problem with the metadata : "
        + error;
}

std::string parsePipelineText(const std::string& error)
{
    return "Could not parse pipeline details. Probably an error with metadata: " + error;
}

} // namespace vyai
