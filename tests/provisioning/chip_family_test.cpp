#include "provisioning/chip_family.h"

#include <gtest/gtest.h>

#include "captured_log.h"
#include "fake_tools.h"
#include "foundations/messaging_manager.h"

namespace vyai {
namespace {

constexpr uint32_t kX86_64 = 4;
const RuntimeStorage_t kStorage{"", "https://storage.example/artifactory/vyai_open/KAVU/runtimes/2.0.0", false};

TEST(RuntimeDownloadLink, TemplateIsFilledIn)
{
    const struct {
        std::string base, chip;
        uint32_t architecture;
        std::string osName, osVersion, driver, expected;
    } cases[] = {
        {"https://s/KAVU/runtimes/2.0.0", "CPU", 4, "Windows", "", "",
            "https://s/KAVU/runtimes/2.0.0/CPU/x86_64/Windows/library.tar.gz"},
        {"https://s/base/", "NVIDIA_ORT", 4, "Windows", "", "cuda_12",
            "https://s/base/NVIDIA_ORT/x86_64/Windows/library-cuda_12.tar.gz"},
        {"http://127.0.0.1:8/runtimes", "DEEPX", 1, "Linux", "12", "dxrt-v3.3.2",
            "http://127.0.0.1:8/runtimes/DEEPX/aarch64/Linux/12/library-dxrt-v3.3.2.tar.gz"},
        {"b", "INTEL", 0, "Linux", "", "", "b/INTEL/UNKNOWN/Linux/library.tar.gz"},
    };
    for (const auto& c: cases)
    {
        EXPECT_EQ(buildRuntimeDownloadLink(c.base, c.chip, c.architecture, c.osName, c.osVersion, c.driver),
            c.expected);
    }
}

TEST(ChipFamily, LookupsByNameAndMime)
{
    test::CapturedLog log;
    ChipFamily family(kX86_64);
    family.runtimes["B"] = {"u-b", {"application/x-onnx"}};
    family.runtimes["A"] = {"u-a", {"application/x-dxnn", "application/x-onnx"}};
    EXPECT_EQ(family.getRuntimeNames(""), (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(family.getRuntimeNames("application/x-onnx"), (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(family.getRuntimeNames("application/x-dxnn"), (std::vector<std::string>{"A"}));
    EXPECT_EQ(family.getMimeType("A"), "application/x-dxnn");
    EXPECT_EQ(family.getDownloadLink("A"), "u-a");
    EXPECT_EQ(family.getDownloadLink("C"), "");
    EXPECT_EQ(family.getMimeType("C"), "");
    log.stop();
    EXPECT_TRUE(log.contains("ERROR: Runtime C not found 1"));
    EXPECT_TRUE(log.contains("ERROR: Runtime C not found 2"));
}

TEST(AcceleratorFamilies, WithoutAcceleratorsOnlyCpuAndIntelAreOffered)
{
    test::CapturedLog log;
    test::FakeTools tools; // no dxrt-cli, no nvidia-smi, no PCI devices
    MessagingManager messages;
    const CpuFamily cpu(kX86_64, "Windows", "10.0.19045", kStorage);
    const NvidiaFamily nvidia(kX86_64, "Windows", "10.0.19045", messages, kStorage, {tools.pciRoot()});
    const DeepxFamily deepx(kX86_64, "Windows", "10.0.19045", kStorage);
    const HailoFamily hailo(kX86_64, "Windows", "10.0.19045", kStorage);
    const IntelFamily intel(kX86_64, "Windows", "10.0.19045", messages, kStorage);
    EXPECT_EQ(cpu.getRuntimeNames(""), std::vector<std::string>{"Generic CPU"});
    EXPECT_EQ(intel.getRuntimeNames(""), std::vector<std::string>{"Intel"});
    EXPECT_TRUE(nvidia.runtimes.empty());
    EXPECT_TRUE(deepx.runtimes.empty());
    EXPECT_TRUE(hailo.runtimes.empty());
    EXPECT_EQ(cpu.getDownloadLink("Generic CPU"), kStorage.builtInUrl + "/CPU/x86_64/Windows/library.tar.gz");
    EXPECT_EQ(intel.getMimeType("Intel"), "application/zip; device=intel; precision=fp32");
    log.stop();
    EXPECT_TRUE(log.contains("NVIDIA GPU not found."));
    EXPECT_TRUE(log.contains("DEEPX driver not installed or there are no DEEPX chips detected."));
}

TEST(AcceleratorFamilies, DeepxDriverVersionDecidesTheOffer)
{
    const struct {
        int infoExit;
        std::string info;
        bool offered;
        const char* logLine;
    } cases[] = {
        {0, "DXRT v3.3.2 (build 7)", true, "Checking for supported DEEPX chips"},
        {0, "DXRT v3.3.1", false, "DEEPX driver version 3.3.1 is not supported."},
        {0, "no version here", false, "DEEPX driver version not detected."},
        {3, "", false, "DEEPX driver not detected."},
    };
    for (const auto& c: cases)
    {
        test::CapturedLog log;
        test::FakeTools tools;
        tools.addProgram("dxrt-cli", {{"--status", {0, "ok"}}, {"-i", {c.infoExit, c.info}}});
        const DeepxFamily windows(kX86_64, "Windows", "10", kStorage);
        const DeepxFamily linux(kX86_64, "Linux", "12", kStorage);
        EXPECT_TRUE(windows.chipDetected) << c.info;
        EXPECT_EQ(windows.correctlyInstalled, c.offered) << c.info;
        if (c.offered)
        {
            EXPECT_EQ(windows.apiVersion, "dxrt-v3.3.2");
            EXPECT_TRUE(windows.getDownloadLink("DEEPX").ends_with("/DEEPX/x86_64/Windows/library-dxrt-v3.3.2.tar.gz"));
            EXPECT_TRUE(linux.getDownloadLink("DEEPX").ends_with("/DEEPX/x86_64/Linux/12/library-dxrt-v3.3.2.tar.gz"));
            EXPECT_EQ(windows.getMimeType("DEEPX"), "application/x-dxnn");
        }
        else
        {
            EXPECT_TRUE(windows.runtimes.empty()) << c.info;
        }
        log.stop();
        EXPECT_TRUE(log.contains(c.logLine)) << c.info;
    }
}

} // namespace
} // namespace vyai
