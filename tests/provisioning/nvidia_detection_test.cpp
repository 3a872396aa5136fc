#include "provisioning/nvidia_detection.h"

#include <atomic>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "captured_log.h"
#include "eventually.h"
#include "fake_tools.h"
#include "foundations/message_codes.h"
#include "foundations/messaging_manager.h"

namespace vyai {
namespace {

constexpr uint32_t kX86_64 = 4;
const RuntimeStorage_t kStorage{"", "https://storage.example/KAVU/runtimes/2.0.0", false};

TEST(NvidiaRules, ComputeCapabilityAgainstCuda)
{
    const struct {
        const char* capability;
        const char* cuda;
        bool supported;
    } cases[] = {
        {"30", "cuda_12", false}, {"86", "cuda_11", true}, {"86", "cuda_12", true},
        {"61", "cuda_13", false}, {"100", "cuda_11", false}, {"95", "cuda_12", true},
        {"120", "cuda_12", true}, {"37", "cuda_12", false}, {"", "cuda_12", true},
        {"abc", "cuda_12", true}, {"30", "cuda_10", true},
    };
    for (const auto& c: cases)
        EXPECT_EQ(isComputeCapabilitySupported(c.capability, c.cuda), c.supported) << c.capability << " " << c.cuda;
}

TEST(NvidiaRules, ToolkitAgainstDriverComparesMajorAndMinor)
{
    EXPECT_TRUE(isToolkitSupportedByDriver("12.4.1", "12.4"));
    EXPECT_FALSE(isToolkitSupportedByDriver("12.4", "12.2"));
    EXPECT_TRUE(isToolkitSupportedByDriver("12.4", ""));
    EXPECT_TRUE(isToolkitSupportedByDriver("12.x", "12.2"));
    EXPECT_EQ(majorMinor("12.4.1"), "12.4");
    EXPECT_EQ(majorMinor("12"), "12");
}

TEST(NvidiaRules, DriverVersionFromXmlAndToolkitVersionFromPath)
{
    EXPECT_EQ(readDriverCudaVersion("<a><cuda_umd_version>12.6</cuda_umd_version><cuda_version>12.2</cuda_version></a>"), "12.6");
    EXPECT_EQ(readDriverCudaVersion("<a><cuda_version>12.2</cuda_version></a>"), "12.2");
    EXPECT_EQ(readDriverCudaVersion("<a><cuda_version>12.2</a>"), "");
    EXPECT_EQ(cudaVersionFromPath("C:\\Program Files\\NVIDIA GPU Computing Toolkit\\CUDA\\v12.4"), "12.4");
    EXPECT_EQ(cudaVersionFromPath("C:\\CUDA\\v11.8\\bin"), "11.8");
    EXPECT_EQ(cudaVersionFromPath("/usr/local/cuda-12.4"), "12.4");
    EXPECT_EQ(cudaVersionFromPath("/opt/cuda-13.0/targets"), "13.0");
    EXPECT_EQ(cudaVersionFromPath("/usr/local/cuda"), "");
}

struct Machine
{
    bool device = true;
    int smiExit = 0;
    std::string cudaPath = "/usr/local/cuda-12.4";
    std::string driverXml = "<log><cuda_version>12.6</cuda_version></log>";
    std::string capability = "8.6";
    std::string count = "2";
};

struct Outcome
{
    std::unique_ptr<NvidiaFamily> family;
    bool detected;
    bool installed;
    bool advicePosted;
    std::string logLine;
};

Outcome detectOn(const Machine& machine)
{
    test::CapturedLog log;
    test::FakeTools tools;
    if (machine.device)
        tools.addPciDevice("0000:01:00.0", "0x10de", "0x2204");
    tools.addPciDevice("0000:00:02.0", "0x8086", "0x9a49");
    tools.addProgram("nvidia-smi", {
        {"", {machine.smiExit, "NVIDIA-SMI"}},
        {"-q -x", {0, machine.driverXml}},
        {"--query-gpu=compute_cap --format=csv,noheader", {0, machine.capability}},
        {"--query-gpu=count --format=csv,noheader", {0, machine.count}},
    });
    test::ScopedEnv cuda("CUDA_PATH", machine.cudaPath.empty() ? std::nullopt : std::optional(machine.cudaPath));
    MessagingManager messages;
    auto family = std::make_unique<NvidiaFamily>(kX86_64, "Linux", "12", messages, kStorage, NvidiaProbe_t{tools.pciRoot()});
    log.stop();
    const auto posted = messages.getMessages();
    const bool detected = family->chipDetected;
    const bool installed = family->correctlyInstalled;
    return {std::move(family), detected, installed, posted.contains(kMessageNvidiaGpuSdk), log.text()};
}

TEST(NvidiaDetection, AWorkingSetupOffersTheNvidiaRuntime)
{
    const Outcome outcome = detectOn(Machine{});
    const NvidiaFamily* family = outcome.family.get();
    EXPECT_TRUE(outcome.installed);
    EXPECT_FALSE(outcome.advicePosted);
    EXPECT_EQ(family->apiVersion, "cuda_12");
    EXPECT_EQ(family->cudaToolkitVersion, "12.4");
    EXPECT_EQ(family->computeCapability, "86");
    EXPECT_EQ(family->numberOfChips, 2u);
    EXPECT_EQ(family->getDownloadLink("NVIDIA"), kStorage.builtInUrl + "/NVIDIA_ORT/x86_64/Linux/library-cuda_12.tar.gz");
    EXPECT_EQ(family->getMimeType("NVIDIA"), "application/x-onnx");
}

TEST(NvidiaDetection, EachProblemEndsTheDetection)
{
    const struct {
        const char* name;
        Machine machine;
        bool detected;
        bool advice;
        const char* logLine;
    } cases[] = {
        {"no device", {.device = false}, false, false, "NVIDIA GPU not found."},
        {"driver missing", {.smiExit = 9}, false, true, "nvidia-smi not found or not working properly."},
        {"no toolkit", {.cudaPath = ""}, true, true, "CUDA_PATH environment variable not found."},
        {"toolkit not on PATH", {.cudaPath = "/opt/cuda-12.4"}, true, true, "is not in the PATH environment variable."},
        {"old CUDA", {.cudaPath = "/usr/local/cuda-10.2"}, true, false, "CUDA version '10.2' not supported"},
        {"driver older than toolkit", {.driverXml = "<l><cuda_version>12.2</cuda_version></l>"}, true, true,
            "Installed CUDA Toolkit (12.4) exceeds the maximum CUDA version"},
        {"GPU too old", {.capability = "3.0"}, true, true, "GPU compute capability (SM 30) is not compatible"},
        {"count unknown", {.count = "n/a"}, true, true, "The number of NVIDIA GPUs cannot be determined."},
    };
    for (const auto& c: cases)
    {
        const Outcome outcome = detectOn(c.machine);
        EXPECT_FALSE(outcome.installed) << c.name;
        EXPECT_EQ(outcome.detected, c.detected) << c.name;
        EXPECT_EQ(outcome.advicePosted, c.advice) << c.name;
        EXPECT_NE(outcome.logLine.find(c.logLine), std::string::npos) << c.name << "\n" << outcome.logLine;
    }
}

TEST(NvidiaDetection, AnUnreadableDriverVersionPassesTheToolkitCheck)
{
    EXPECT_TRUE(detectOn({.driverXml = "garbage"}).installed);
}

// The tools after one that the shut-down ended fail at once, which says nothing of the set-up:
// the detection ends without advice.
TEST(NvidiaDetection, AShutDownDuringALaterToolEndsTheDetectionQuietly)
{
    test::CapturedLog log;
    test::FakeTools tools;
    tools.addPciDevice("0000:01:00.0", "0x10de", "0x2204");
    // The driver answers, then hangs on the query of its CUDA version.
    const auto queried = tools.addHangingProgram("nvidia-smi", {{"", {0, "NVIDIA-SMI"}}});
    test::ScopedEnv cuda("CUDA_PATH", "/usr/local/cuda-12.4");
    MessagingManager messages;
    std::atomic<bool> stop{false};
    std::thread shutDown([&] {
        EXPECT_TRUE(test::eventually([&] { return !test::readFile(queried).empty(); })) << "the query never ran";
        stop = true;
    });
    const NvidiaFamily family(kX86_64, "Linux", "12", messages, kStorage, NvidiaProbe_t{tools.pciRoot()}, &stop);
    shutDown.join();
    log.stop();
    EXPECT_TRUE(family.chipDetected);
    EXPECT_FALSE(family.correctlyInstalled);
    EXPECT_FALSE(messages.getMessages().contains(kMessageNvidiaGpuSdk));
    EXPECT_EQ(log.text().find("The number of NVIDIA GPUs cannot be determined."), std::string::npos) << log.text();
}

} // namespace
} // namespace vyai
