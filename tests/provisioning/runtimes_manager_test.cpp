#include "provisioning/runtimes_manager.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <filesystem>
#include <thread>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cloud/cloud_standin.h>

#include "captured_log.h"
#include "eventually.h"
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

// A package that unpacks but brings no runtime library is no install, whatever library an
// earlier install left where the runtime's layout puts it.
TEST_F(RuntimesManagerTest, APackageWithoutTheRuntimeLibraryFailsAndIsRemoved)
{
    ScopedTempDirectory work;
    test::writeFile(work.path() / "README.txt", "no library here");
    const std::string archive = (work.path() / "library.tar.gz").string();
    ASSERT_EQ(runProgram({"tar", "-czf", archive, "-C", work.path().string(), "README.txt"}).exitCode, 0);
    ASSERT_TRUE(m_cloud.storage().loadRuntimePackage(archive));

    const struct {
        const char* name;
        std::string earlierLibrary; //< relative to the runtime folder; empty: none
    } cases[] = {
        {"fresh folder", ""},
        {"a library at the top", kRuntimeLibraryFileName},
        {"a library in the CPU runtime's folder", std::string("Generic CPU/") + kRuntimeLibraryFileName},
    };
    for (const auto& c: cases)
    {
        fs::remove_all(root());
        if (!c.earlierLibrary.empty())
            test::writeFile(fs::path(root()) / c.earlierLibrary, "earlier");
        m_messages.removeMessage(kMessageRuntimeExtractionFailed);
        for (const bool cached: {false, true})
        {
            auto manager = makeManager(options(cached));
            manager->installRuntime("Generic CPU", m_messages, false);
            EXPECT_EQ(manager->getState(), kRuntimeInstallFailed) << c.name << (cached ? ", cached" : "");
            EXPECT_TRUE(posted(kMessageRuntimeExtractionFailed)) << c.name;
            EXPECT_FALSE(fs::exists(package())) << c.name << ": the next attempt fetches it again";
        }
    }
}

TEST_F(RuntimesManagerTest, ACancelledDownloadFailsAndLeavesNoPackage)
{
    Fault stalled;
    stalled.stallAfter = 1000;
    m_cloud.storage().setPackageFault(stalled);
    auto manager = makeManager(options());
    std::thread button([&] {
        EXPECT_TRUE(vyai::test::eventually([&] { return posted(kMessageRuntimePackage); }));
        manager->requestCancel();
    });
    manager->installRuntime("Generic CPU", m_messages, false);
    button.join();
    EXPECT_EQ(manager->getState(), kRuntimeInstallFailed);
    EXPECT_TRUE(manager->wasCancelledByUser());
    EXPECT_TRUE(fs::is_empty(root()));
}

TEST_F(RuntimesManagerTest, ACancelPressedBeforeTheInstallBeganEndsItThenTheNextInstallRuns)
{
    auto manager = makeManager(options());
    manager->selectRuntime("Generic CPU");
    manager->requestCancel();
    manager->installRuntime("Generic CPU", m_messages, false);
    EXPECT_EQ(manager->getState(), kRuntimeInstallFailed);
    EXPECT_TRUE(manager->wasCancelledByUser());
    EXPECT_TRUE(m_cloud.storage().requests().empty());

    manager->selectRuntime("Generic CPU");
    manager->installRuntime("Generic CPU", m_messages, false);
    EXPECT_EQ(manager->getState(), kRuntimeInstalled) << "the cancel was spent";
    EXPECT_FALSE(manager->wasCancelledByUser());

    // The engine's shut-down cancels every install to come.
    manager->removeInstalledRuntime();
    manager->stop();
    for (int attempt = 0; attempt < 2; ++attempt)
    {
        manager->selectRuntime("Generic CPU");
        manager->installRuntime("Generic CPU", m_messages, false);
        EXPECT_EQ(manager->getState(), kRuntimeInstallFailed) << attempt;
    }
    EXPECT_EQ(m_cloud.storage().requests().size(), 1u);
}

// What the user decides while the loop works on the runtime is what counts afterwards.
TEST_F(RuntimesManagerTest, TheUsersDecisionMadeMeanwhileStays)
{
    auto manager = makeManager(options());

    // The loop read state 0 and found a runtime present; the user chose meanwhile.
    manager->selectRuntime("Intel");
    EXPECT_FALSE(manager->reportRuntimeDocumentation(m_messages, "Generic CPU", kRuntimeNothingDecided));
    EXPECT_EQ(manager->getState(), kRuntimeChosen);

    // The loop was about to install an earlier choice.
    manager->installRuntime("Generic CPU", m_messages, false);
    EXPECT_EQ(manager->getState(), kRuntimeChosen);
    EXPECT_EQ(manager->getSelectedRuntime(), "Intel");

    // A reselect pressed as the loop began an install.
    manager->setState(kRuntimeReselect);
    manager->installRuntime("Intel", m_messages, false);
    EXPECT_EQ(manager->getState(), kRuntimeReselect);
    EXPECT_TRUE(m_cloud.storage().requests().empty());

    // Another choice made during the install.
    Fault stalled;
    stalled.stallAfter = 1000;
    m_cloud.storage().setPackageFault(stalled);
    manager->selectRuntime("Generic CPU");
    std::thread user([&] {
        EXPECT_TRUE(vyai::test::eventually([&] { return posted(kMessageRuntimePackage); }));
        manager->selectRuntime("Intel");
        manager->requestCancel();
    });
    manager->installRuntime("Generic CPU", m_messages, false);
    user.join();
    EXPECT_EQ(manager->getState(), kRuntimeChosen);
    EXPECT_EQ(manager->getSelectedRuntime(), "Intel");
}

TEST_F(RuntimesManagerTest, RemovalTakesVersionedLibrariesAndLeavesOtherFiles)
{
    auto manager = makeManager(options());
    manager->installRuntime("Generic CPU", m_messages, false);
    manager->saveInstalledRuntimeName("Generic CPU");
    const struct {
        const char* name;
        bool removed;
    } files[] = {
        {"libonnx.so", true},
        {"libonnx.so.1", true},
        {"libonnx.so.1.17.3", true},
        {"notes.txt", false},
        {"libonnx.so.txt", false},
        {"libonnx.sox", false},
        {"config.so.json", false},
    };
    for (const auto& file: files)
        test::writeFile(fs::path(root()) / file.name, "x");

    EXPECT_TRUE(manager->removeInstalledRuntime());
    EXPECT_FALSE(fs::exists(library()));
    for (const auto& file: files)
        EXPECT_EQ(fs::exists(fs::path(root()) / file.name), !file.removed) << file.name;
    EXPECT_EQ(manager->getState(), kRuntimeNothingDecided);
}

/** While it lives, the process can open no new file; removing and inspecting files still works. */
class NoFreeFileDescriptors
{
public:
    NoFreeFileDescriptors()
    {
        getrlimit(RLIMIT_NOFILE, &m_saved);
        // Every descriptor below the probe is taken: a limit just above it leaves none free.
        m_probe = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        rlimit tight = m_saved;
        tight.rlim_cur = static_cast<rlim_t>(m_probe + 1);
        setrlimit(RLIMIT_NOFILE, &tight);
    }
    ~NoFreeFileDescriptors()
    {
        setrlimit(RLIMIT_NOFILE, &m_saved);
        ::close(m_probe);
    }

private:
    rlimit m_saved{};
    int m_probe = -1;
};

TEST_F(RuntimesManagerTest, AFolderThatCannotBeListedIsAFailedRemoval)
{
    auto manager = makeManager(options());
    manager->installRuntime("Generic CPU", m_messages, false);
    manager->saveInstalledRuntimeName("Generic CPU");
    manager->setState(kRuntimeReselect);
    bool removed = true;
    {
        const NoFreeFileDescriptors exhausted;
        removed = manager->removeInstalledRuntime();
    }
    EXPECT_FALSE(removed);
    EXPECT_TRUE(fs::exists(library())) << "the library was never seen";
    EXPECT_EQ(manager->getState(), kRuntimeReselect) << "tried again at the next pass";
    EXPECT_EQ(manager->readInstalledRuntimeName(), "Generic CPU");
    m_log.stop();
    EXPECT_TRUE(m_log.contains("Warning! Failed to list "));
    EXPECT_FALSE(m_log.contains("Succesfully removed runtime library."));
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
        manager->selectRuntime(name);
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
