#include "foundations/messaging_manager.h"

#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "captured_log.h"
#include "foundations/message_codes.h"

namespace vyai {
namespace {

TEST(MessagingManager, AddLogsOnlyWhenTheTextChanges)
{
    test::CapturedLog log;
    MessagingManager messages;
    messages.addMessage("RUNTIME_INIT_FAILED", "first", kMessageTypeWarning);
    messages.addMessage("RUNTIME_INIT_FAILED", "first", kMessageTypeWarning);
    EXPECT_EQ(log.count("Adding warning: RUNTIME_INIT_FAILED : first"), 1);

    messages.addMessage("RUNTIME_INIT_FAILED", "second", kMessageTypeWarning);
    EXPECT_EQ(log.count("Adding warning: RUNTIME_INIT_FAILED : second"), 1);
    ASSERT_EQ(messages.getMessages().size(), 1u);
    EXPECT_EQ(messages.getMessages().at("RUNTIME_INIT_FAILED").text, "second");

    messages.addMessage("RESET_DEVICE", kResetDeviceText, kMessageTypeMessage);
    EXPECT_EQ(log.count(std::string("Adding message: RESET_DEVICE : ") + kResetDeviceText), 1);
}

TEST(MessagingManager, SameTextWithAnotherTypeChangesTheTypeSilently)
{
    test::CapturedLog log;
    MessagingManager messages;
    messages.addMessage("CODE", "text", kMessageTypeMessage);
    messages.addMessage("CODE", "text", kMessageTypeWarning);
    EXPECT_EQ(messages.getMessages().at("CODE").type, uint32_t(kMessageTypeWarning));
    EXPECT_EQ(log.count("Adding"), 1);
}

TEST(MessagingManager, MessagesAreLoggedOnlyAtInfoLevel)
{
    test::CapturedLog log(1);
    MessagingManager messages;
    messages.addMessage("RETRY_DOWNLOADS", kRetryDownloadsText, kMessageTypeMessage);
    messages.addMessage("PARSE_PIPELINE", "bad", kMessageTypeWarning);
    messages.removeMessage("RETRY_DOWNLOADS");
    log.stop();
    EXPECT_EQ(log.count("Adding message"), 0);
    EXPECT_EQ(log.count("Removed message"), 0);
    EXPECT_EQ(log.count("Adding warning: PARSE_PIPELINE : bad"), 1);
}

TEST(MessagingManager, ClearWarningsKeepsMessages)
{
    test::CapturedLog log;
    MessagingManager messages;
    messages.addMessage("RESET_DEVICE", kResetDeviceText, kMessageTypeMessage);
    messages.addMessage("RUNTIME_INIT_FAILED", "x", kMessageTypeWarning);
    messages.addMessage("MISSING_AVX2_ERROR", kMissingAvx2Text, kMessageTypeWarning);
    messages.clearWarnings();
    const auto remaining = messages.getMessages();
    ASSERT_EQ(remaining.size(), 1u);
    EXPECT_EQ(remaining.count("RESET_DEVICE"), 1u);
    EXPECT_EQ(log.count("Clearing all warning messages."), 1);
}

TEST(MessagingManager, RemoveAbsentCodeChangesAndLogsNothing)
{
    test::CapturedLog log;
    MessagingManager messages;
    messages.addMessage("CLEAR_CACHE", kClearCacheText, kMessageTypeMessage);
    messages.removeMessage("RETRY_DOWNLOADS");
    EXPECT_EQ(messages.getMessages().size(), 1u);
    EXPECT_EQ(log.count("Removed message"), 0);

    messages.removeMessage("CLEAR_CACHE");
    EXPECT_TRUE(messages.getMessages().empty());
    EXPECT_EQ(log.count("Removed message: CLEAR_CACHE"), 1);
    EXPECT_NE(log.text().find("Removed message: CLEAR_CACHE \n"), std::string::npos);
}

TEST(MessagingManager, SnapshotDoesNotFollowLaterChanges)
{
    MessagingManager messages;
    messages.addMessage("A", "a", kMessageTypeMessage);
    const auto snapshot = messages.getMessages();
    messages.addMessage("B", "b", kMessageTypeWarning);
    messages.addMessage("A", "changed", kMessageTypeMessage);
    ASSERT_EQ(snapshot.size(), 1u);
    EXPECT_EQ(snapshot.at("A").text, "a");
}

TEST(MessagingManager, ConcurrentWritersAndReaders)
{
    MessagingManager messages;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&messages, t] {
            for (int i = 0; i < 500; ++i) {
                const std::string code = "CODE_" + std::to_string((t * 7 + i) % 10);
                messages.addMessage(code, std::to_string(i), uint32_t(i % 2));
                if (i % 3 == 0)
                    messages.removeMessage(code);
                if (i % 50 == 0)
                    messages.clearWarnings();
                (void) messages.getMessages();
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_LE(messages.getMessages().size(), 10u);
}

TEST(MessageCodes, TextsWithTheirVariableParts)
{
    EXPECT_EQ(runtimePackagePercentText(42),
        "Downloading runtime package (42%)\nPress 'Refresh' to see updated progress.");
    EXPECT_EQ(runtimePackageBytesText(123456),
        "Downloading runtime package (123456 bytes)\nPress 'Refresh' to see updated progress.");
    EXPECT_EQ(failedCreateCacheDirText({"/d/cache/model_files", "/d/cache/keys"}),
        "Veltrin could not create directories needed to store cached models. Please check for "
        "any permission or disk space issues:\n /d/cache/model_files\nand\n/d/cache/keys");
    EXPECT_EQ(runtimeInitFailedText("no device"), "Failed to initialize the AI runtime: no device");
    EXPECT_EQ(runtimeLoadModelsFailedText("bad model"),
        "The AI runtime failed to load the assigned models: bad model");
    EXPECT_EQ(runtimeDocumentationText("DEEPX", "https://docs.example/deepx"),
        "To learn how to set up the machine and make use of the DEEPX hardware for running AI "
        "models, please consult the following documentation: "
        "<a href=\"https://docs.example/deepx\">https://docs.example/deepx</a>");
    EXPECT_EQ(parseModelFailedText("missing required string: UUID"),
        "One or more models failed to parse. This indicates a problem with the metadata : "
        "missing required string: UUID");
    EXPECT_EQ(parsePipelineText("x"),
        "Could not parse pipeline details. Probably an error with metadata: x");
    EXPECT_NE(nvidiaDriverTooOldText("12.4", "12.2").find("(12.4) is newer than what your NVIDIA "
                                                          "driver supports (up to CUDA 12.2)"),
        std::string::npos);
    EXPECT_EQ(nvidiaSetupText().rfind("NVIDIA GPU acceleration is unavailable", 0), 0u);
    EXPECT_NE(nvidiaSetupText().find("<a href="), std::string::npos);
}

TEST(MessageCodes, NvidiaTextsInFull)
{
    const auto link = [](const std::string& url) {
        return "<a href=\"" + url + "\">" + url + "</a>";
    };
    const std::string setupPage =
        link("https://docs.vyai.example.com/ai-accelerators-support/nvidia-support");
    const struct {
        const char* cause;
        std::string text;
        std::string expected;
    } cases[] = {
        {"compute capability", nvidiaComputeCapabilityText("12.4"),
            "Your GPU's compute capability is not compatible with the installed CUDA Toolkit "
            "(12.4). Please install a CUDA Toolkit version supported by your GPU. See "
                + link("https://developer.nvidia.com/cuda-gpus")
                + " for the supported compute capabilities per CUDA version."},
        {"driver too old", nvidiaDriverTooOldText("12.4", "12.2"),
            "Your installed CUDA Toolkit (12.4) is newer than what your NVIDIA driver supports "
            "(up to CUDA 12.2). Please update your NVIDIA driver or install a CUDA Toolkit "
            "version it supports. See "
                + link("https://docs.nvidia.com/deploy/cuda-compatibility/")
                + " for details on CUDA Toolkit and driver compatibility."},
        {"setup", nvidiaSetupText(),
            "NVIDIA GPU acceleration is unavailable on this machine. A different compatible "
            "runtime will be used if available. To enable NVIDIA acceleration, follow the setup "
            "instructions at: "
                + setupPage},
        {"CUDA path", cudaPathMissingText("/usr/local/cuda"),
            "The CUDA Toolkit path is not in the PATH environment variable. Please add "
            "'/usr/local/cuda/bin' to the PATH environment variable and restart the Vy server. "
            "For more information, follow the instructions at: "
                + setupPage},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.text, c.expected) << c.cause;
}

} // namespace
} // namespace vyai
