#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Codes of the message store and the texts shown under them. The type each code is posted
// with is noted beside it (MessageType of messaging_manager.h).

namespace vyai {

inline constexpr char kMessageNvidiaGpuSdk[] = "NVIDIA_GPU_SDK";                     // message
inline constexpr char kMessageMissingAvx2Error[] = "MISSING_AVX2_ERROR";             // warning
inline constexpr char kMessageMissingLibgompError[] = "MISSING_LIBGOMP_ERROR";       // warning
inline constexpr char kMessageRuntimePackage[] = "RUNTIME_PACKAGE";                  // message
inline constexpr char kMessageRuntimeDownloadCorrupted[] = "RUNTIME_DOWNLOAD_CORRUPTED"; // warning
inline constexpr char kMessageRuntimeExtraction[] = "RUNTIME_EXTRACTION";            // message
inline constexpr char kMessageRuntimeExtractionFailed[] = "RUNTIME_EXTRACTION_FAILED"; // warning
inline constexpr char kMessageRuntimeDocumentation[] = "RUNTIME_DOCUMENTATION";      // message
inline constexpr char kMessageRuntimeInitFailed[] = "RUNTIME_INIT_FAILED";           // warning
inline constexpr char kMessageFailedCreateCacheDir[] = "FAILED_CREATE_CACHE_DIR";    // warning
inline constexpr char kMessageParseModelFailed[] = "PARSE_MODEL_FAILED";             // warning
inline constexpr char kMessageParsePipeline[] = "PARSE_PIPELINE";                    // warning
inline constexpr char kMessageResetDevice[] = "RESET_DEVICE";                        // message
inline constexpr char kMessageClearCache[] = "CLEAR_CACHE";                          // message
inline constexpr char kMessageRetryDownloads[] = "RETRY_DOWNLOADS";                  // message

inline constexpr char kMissingAvx2Text[] =
    "AVX2 is not supported on this machine. As a result, no runtime is compatible. Please "
    "ensure that your hardware supports AVX2 if you wish to use AI runtimes.";
inline constexpr char kMissingLibgompText[] =
    "libgomp is not installed on this machine. Please install it and restart the Vy server to "
    "be able to use AI runtimes.";
inline constexpr char kRuntimeDownloadCorruptedText[] =
    "The downloaded runtime package appears to be corrupted (checksum mismatch). Please check "
    "your Internet connection and try again.";
inline constexpr char kRuntimeExtractionText[] = "Extracting runtime from package";
inline constexpr char kRuntimeExtractionFailedText[] =
    "Failed to extract the runtime package. Please ensure you have a stable Internet "
    "connection and enough free space on your disk.";
inline constexpr char kResetDeviceText[] =
    "Device reset in progress. Please wait a few moments and hit 'Refresh'.";
inline constexpr char kClearCacheText[] =
    "Plugin is clearing the cache. Please wait a few moments and hit 'Refresh'.";
inline constexpr char kRetryDownloadsText[] =
    "Plugin will retry model downloads. Please wait a few moments and hit 'Refresh'.";

// NVIDIA_GPU_SDK, one text per cause.
/** The GPU's compute capability does not suit the installed CUDA Toolkit. */
std::string nvidiaComputeCapabilityText(const std::string& toolkitVersion);
/** The CUDA Toolkit is newer than the driver supports. */
std::string nvidiaDriverTooOldText(
    const std::string& toolkitVersion, const std::string& driverCudaVersion);
/** NVIDIA acceleration is unavailable: the help text and the NVIDIA setup page. */
std::string nvidiaSetupText();
/** The CUDA Toolkit's bin folder is not on PATH. */
std::string cudaPathMissingText(const std::string& cudaPath);

/** RUNTIME_PACKAGE progress, as a percentage when the size is known, else in bytes. */
std::string runtimePackagePercentText(uint64_t percent);
std::string runtimePackageBytesText(uint64_t bytes);

/** RUNTIME_DOCUMENTATION for an accelerator family and the address of its page. */
std::string runtimeDocumentationText(const std::string& familyName, const std::string& link);

/** RUNTIME_INIT_FAILED when the runtime does not start, and when it refuses the models. */
std::string runtimeInitFailedText(const std::string& runtimeError);
std::string runtimeLoadModelsFailedText(const std::string& runtimeError);

/** FAILED_CREATE_CACHE_DIR naming the folders that could not be made. */
std::string failedCreateCacheDirText(const std::vector<std::string>& folders);

/** PARSE_MODEL_FAILED and PARSE_PIPELINE with the parse error's text. */
std::string parseModelFailedText(const std::string& error);
std::string parsePipelineText(const std::string& error);

} // namespace vyai
