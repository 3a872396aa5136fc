#include "provisioning/runtimes_manager.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include <cloud/cloud_standin.h>

#include "captured_log.h"
#include "fake_tools.h"
#include "foundations/child_process.h"
#include "foundations/message_codes.h"
#include "scoped_temp_directory.h"
#include "test_files.h"
#include "vyai_crypto/file_md5.h"

namespace vyai {
namespace {

namespace fs = std::filesystem;
using Fault = vy::standins::ProvisioningStorage::PackageFault;

class RuntimesManagerTest: public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_cloud.storage().loadRuntimePackage(VY_TEST_RUNTIME_PACKAGE));
        ASSERT_TRUE(m_cloud.start());
    }

    RuntimeOptions_t options(bool cacheArchives = false, bool configuredStorage = false) const
    {
        const std::string storage = m_cloud.baseUrl() + "/runtimes";
        return {{configuredStorage ? storage : "", storage, false}, cacheArchives, {m_tools.pciRoot()}};
    }

    std::unique_ptr<RuntimesManager> makeManager(RuntimeOptions_t runtimeOptions)
    {
        auto manager = std::make_unique<RuntimesManager>(root(), std::move(runtimeOptions));
        manager->init(m_messages);
        return manager;
    }

    std::string root() const { return m_folder.file("inference_engine"); }
    std::string library() const { return (fs::path(root()) / kRuntimeLibraryFileName).string(); }
    std::string package() const { return (fs::path(root()) / "Generic CPU.tar.gz").string(); }
    bool posted(const char* code) const { return m_messages.getMessages().contains(code); }

    test::CapturedLog m_log;
    test::FakeTools m_tools; // no accelerator tools, no PCI devices
    vy::standins::CloudStandin m_cloud;
    ScopedTempDirectory m_folder;
    MessagingManager m_messages;
};

TEST_F(RuntimesManagerTest, AFreshFolderGetsTheCpuRuntimeInstalledAndRecorded)
{
    auto manager = makeManager(options());
    EXPECT_EQ(manager->getCompatibleRuntimes(""), (std::vector<std::string>{"Generic CPU", "Intel"}));
    EXPECT_EQ(manager->getCompatibleRuntimes("application/x-onnx"), std::vector<std::string>{"Generic CPU"});
    EXPECT_FALSE(manager->isInstalledRuntimePresent());

    manager->installRuntime("Generic CPU", m_messages, false);
    ASSERT_EQ(manager->getState(), kRuntimeInstalled);
    manager->saveInstalledRuntimeName("Generic CPU");
    EXPECT_TRUE(fs::exists(library()));
    EXPECT_FALSE(fs::exists(package()));
    EXPECT_EQ(test::readFile(fs::path(root()) / kInstalledRuntimeFileName), "Generic CPU");
    EXPECT_TRUE(manager->isInstalledRuntimePresent());
    EXPECT_EQ(manager->getRuntimeMimeType("Generic CPU"), "application/x-onnx");
    EXPECT_FALSE(posted(kMessageRuntimePackage));
    EXPECT_FALSE(posted(kMessageRuntimeExtraction));

    // A second manager over the same folder finds what the first installed.
    auto later = makeManager(options());
    EXPECT_TRUE(later->isInstalledRuntimePresent());
    EXPECT_EQ(later->readInstalledRuntimeName(), "Generic CPU");
}

TEST_F(RuntimesManagerTest, RemovalThenReinstall)
{
    auto manager = makeManager(options());
    manager->installRuntime("Generic CPU", m_messages, false);
    manager->saveInstalledRuntimeName("Generic CPU");
    test::writeFile(fs::path(root()) / "notes.txt", "kept");
    manager->installRuntime("Generic CPU", m_messages, false); // installed: nothing happens

    manager->setState(kRuntimeReselect);
    manager->removeInstalledRuntime();
    EXPECT_EQ(manager->getState(), kRuntimeNothingDecided);
    EXPECT_FALSE(fs::exists(library()));
    EXPECT_TRUE(fs::exists(fs::path(root()) / "notes.txt"));
    EXPECT_FALSE(manager->isInstalledRuntimePresent());
    EXPECT_EQ(manager->readInstalledRuntimeName(), "");

    manager->installRuntime("Generic CPU", m_messages, false);
    EXPECT_EQ(manager->getState(), kRuntimeInstalled);
    EXPECT_TRUE(fs::exists(library()));
    m_log.stop();
    EXPECT_TRUE(m_log.contains("Info: runtime is already installed."));
    EXPECT_TRUE(m_log.contains("Succesfully removed runtime library."));
}

TEST_F(RuntimesManagerTest, TheChecksumDecidesWheneverTheServerSendsOne)
{
    const struct {
        const char* name;
        std::optional<std::string> checksum;
        bool configuredStorage;
        bool installed;
    } cases[] = {
        {"wrong", "0123456789abcdef0123456789abcdef", false, false},
        {"absent", "", false, true},
        {"wrong, configured storage", "0123456789abcdef0123456789abcdef", true, false},
        {"absent, configured storage", "", true, true},
    };
    for (const auto& c: cases)
    {
        Fault fault;
        fault.checksum = c.checksum;
        m_cloud.storage().setPackageFault(fault);
        auto manager = makeManager(options(false, c.configuredStorage));
        manager->installRuntime("Generic CPU", m_messages, false);
        EXPECT_EQ(manager->getState(), c.installed ? kRuntimeInstalled : kRuntimeInstallFailed) << c.name;
        EXPECT_EQ(posted(kMessageRuntimeDownloadCorrupted), !c.installed) << c.name;
        EXPECT_FALSE(fs::exists(package())) << c.name;
        fs::remove_all(root());
    }
}

TEST_F(RuntimesManagerTest, AnUpperCaseChecksumMatches)
{
    std::string digest = fileMd5Hex(VY_TEST_RUNTIME_PACKAGE).value_or("");
    std::transform(digest.begin(), digest.end(), digest.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    Fault fault;
    fault.checksum = digest;
    m_cloud.storage().setPackageFault(fault);
    auto manager = makeManager(options());
    manager->installRuntime("Generic CPU", m_messages, false);
    ASSERT_EQ(manager->getState(), kRuntimeInstalled);
}

// Archives that would write outside the runtime folder, or are not archives at all.
std::string unsafeArchive(const std::string& kind, const fs::path& work)
{
    fs::create_directories(work / "sub");
    test::writeFile(work / "evil.txt", "evil");
    test::writeFile(work / "sub" / kRuntimeLibraryFileName, "library");
    const std::string archive = (work / (kind + ".tar.gz")).string();
    std::vector<std::string> command{"tar", "-czf", archive};
    if (kind == "absolute")
        command.insert(command.end(), {"-P", (work / "evil.txt").string()});
    else if (kind == "dot-dot")
        command.insert(command.end(), {"-P", "-C", (work / "sub").string(), kRuntimeLibraryFileName, "../evil.txt"});
    else if (kind == "link-out")
    {
        fs::create_symlink("../../evil.txt", work / "sub" / "escape");
        command.insert(command.end(), {"-C", (work / "sub").string(), kRuntimeLibraryFileName, "escape"});
    }
    else if (kind == "absolute-link")
    {
        fs::create_symlink("/etc/passwd", work / "sub" / "passwd");
        command.insert(command.end(), {"-C", (work / "sub").string(), kRuntimeLibraryFileName, "passwd"});
    }
    else if (kind == "device")
        command.insert(command.end(), {"-C", "/dev", "null"});
    else
    {
        test::writeFile(archive, "this is not a tar archive at all");
        return archive;
    }
    EXPECT_EQ(runProgram(command).exitCode, 0) << kind;
    return archive;
}

TEST_F(RuntimesManagerTest, UnsafeOrBrokenArchivesAreNotExtracted)
{
    for (const std::string kind: {"absolute", "dot-dot", "link-out", "absolute-link", "device", "corrupt"})
    {
        ScopedTempDirectory work;
        ASSERT_TRUE(m_cloud.storage().loadRuntimePackage(unsafeArchive(kind, work.path())));
        // A library from an earlier install must not make a failed extraction pass.
        fs::create_directories(root());
        test::writeFile(library(), "stale");
        m_messages.removeMessage(kMessageRuntimeExtractionFailed);

        auto manager = makeManager(options());
        manager->installRuntime("Generic CPU", m_messages, false);
        EXPECT_EQ(manager->getState(), kRuntimeInstallFailed) << kind;
        EXPECT_TRUE(posted(kMessageRuntimeExtractionFailed)) << kind;
        EXPECT_FALSE(fs::exists(package())) << kind;
        EXPECT_EQ(test::readFile(library()), "stale") << kind;
        EXPECT_FALSE(fs::exists(m_folder.path() / "evil.txt")) << kind;
        EXPECT_FALSE(fs::exists(fs::path(root()) / "escape")) << kind;
        fs::remove_all(root());
    }
}

TEST_F(RuntimesManagerTest, ACancelledDownloadFailsAndLeavesNoPackage)
{
    Fault stalled;
    stalled.stallAfter = 1000;
    m_cloud.storage().setPackageFault(stalled);
    auto manager = makeManager(options());
    std::thread button([&] {
        for (int i = 0; i < 2000 && !posted(kMessageRuntimePackage); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        manager->requestCancel();
    });
    manager->installRuntime("Generic CPU", m_messages, false);
    button.join();
    EXPECT_EQ(manager->getState(), kRuntimeInstallFailed);
    EXPECT_TRUE(manager->wasCancelledByUser());
    EXPECT_TRUE(fs::is_empty(root()));
}

TEST_F(RuntimesManagerTest, ACachedPackageIsReusedWithoutDownload)
{
    auto manager = makeManager(options(true));
    manager->installRuntime("Generic CPU", m_messages, false);
    ASSERT_EQ(manager->getState(), kRuntimeInstalled);
    EXPECT_TRUE(fs::exists(package()));

    manager->removeInstalledRuntime();
    Fault gone;
    gone.status = 404;
    m_cloud.storage().setPackageFault(gone);
    manager->installRuntime("Generic CPU", m_messages, false);
    EXPECT_EQ(manager->getState(), kRuntimeInstalled);
    EXPECT_TRUE(fs::exists(library()));
    m_log.stop();
    EXPECT_TRUE(m_log.contains("Info: Runtime package file already exists. Skipping download step."));
}

TEST_F(RuntimesManagerTest, UnknownNamesGiveNothing)
{
    auto manager = makeManager(options());
    EXPECT_EQ(manager->getRuntimeMimeType(""), "");
    EXPECT_EQ(manager->getRuntimeMimeType("Hailo"), "");
    for (const char* name: {"Hailo", "../../Generic CPU"})
    {
        manager->setState(kRuntimeChosen);
        manager->installRuntime(name, m_messages, false);
        EXPECT_EQ(manager->getState(), kRuntimeInstallFailed) << name;
    }
}

TEST_F(RuntimesManagerTest, HostThreadsReadTheNamesWhileTheLoopWritesThem)
{
    auto manager = makeManager(options());
    std::atomic<bool> done{false};
    std::thread dialogs([&] {
        do
        {
            manager->getOfferedRuntimes();
            manager->getSelectedRuntime();
            manager->readInstalledRuntimeName();
            manager->selectRuntime("Generic CPU");
        } while (!done);
    });
    for (int i = 0; i < 200; ++i)
    {
        manager->setOfferedRuntimes({"Generic CPU", "Intel"});
        manager->saveInstalledRuntimeName(i % 2 ? "Generic CPU" : "Intel");
        manager->removeInstalledRuntime();
    }
    done = true;
    dialogs.join();
    EXPECT_EQ(manager->getSelectedRuntime(), "Generic CPU");
}

} // namespace
} // namespace vyai
