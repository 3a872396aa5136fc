#pragma once

#include <atomic>
#include <string>

#include "provisioning/chip_family.h"

// Whether the NVIDIA runtime can be offered: an NVIDIA PCI device, working driver tools, a
// CUDA Toolkit of a supported version on PATH that the driver and the GPU support.

namespace vyai {

class MessagingManager;

/**
 * The whole detection; the outcome is in the family, advice for the user in the store. Once
 * `stop` (when given) is set, the running driver tool is ended and the detection gives up.
 */
void detectNvidia(NvidiaFamily& family, MessagingManager& messages,
    const NvidiaProbe_t& probe = NvidiaProbe_t::system(), const std::atomic<bool>* stop = nullptr);

bool checkToolkitAgainstDriver(NvidiaFamily& family, MessagingManager& messages,
    const std::string& driverCudaVersion);
/** Fills computeCapability and tests it against the toolkit. */
bool checkComputeCapability(NvidiaFamily& family, MessagingManager& messages,
    const std::atomic<bool>* stop = nullptr);
/** The first GPU's compute capability, digits only ("86"); empty when it cannot be had. */
std::string queryComputeCapability(const std::atomic<bool>* stop = nullptr);

/** The driver's CUDA version from "nvidia-smi -q -x" output. */
std::string readDriverCudaVersion(const std::string& xmlText);
/** The text between the first <tag> and the next </tag>; empty when either is missing. */
std::string xmlElementText(const std::string& xmlText, const std::string& tag);

bool isComputeCapabilitySupported(const std::string& capability, const std::string& cudaId);
bool isToolkitSupportedByDriver(const std::string& toolkitVersion, const std::string& driverVersion);
/** The version up to its second "." ("12.4.1" gives "12.4"). */
std::string majorMinor(const std::string& version);

/**
 * The CUDA Toolkit version named by a CUDA_PATH: after the first "\v" (Windows:
 * "C:\...\CUDA\v12.4") or, failing that, after the first "/cuda-" (Linux: "/usr/local/cuda-12.4"),
 * up to the next "\" or "/"; empty when there is neither.
 */
std::string cudaVersionFromPath(const std::string& cudaPath);

} // namespace vyai
