#include "provisioning/file_download.h"

#include <atomic>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include <cloud/cloud_standin.h>

#include "captured_log.h"
#include "eventually.h"
#include "foundations/messaging_manager.h"
#include "scoped_temp_directory.h"
#include "test_files.h"
#include "tls_identity.h"

namespace vyai {
namespace {

using test::readFile;
using test::writeFile;

using Fault = vy::standins::ProvisioningStorage::PackageFault;

const std::string kPackage = [] {
    std::string bytes(300'000, '\0');
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 7 % 251);
    return bytes;
}();

class DownloadFileTest: public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_cloud.storage().setRuntimePackage(kPackage);
        ASSERT_TRUE(m_cloud.start());
    }

    std::string packageUrl() const { return m_cloud.baseUrl() + "/runtimes/CPU/x86_64/Linux/library.tar.gz"; }

    bool download(const std::string& url, const std::atomic<bool>* cancel = nullptr, std::string* checksum = nullptr)
    {
        return downloadFile(url, m_target, m_messages, "RUNTIME_PACKAGE", "Downloading runtime package", cancel, checksum);
    }

    // Nothing but the target (if any) is left in the folder.
    std::vector<std::string> folderEntries() const
    {
        std::vector<std::string> names;
        for (const auto& entry: std::filesystem::directory_iterator(m_folder.path()))
            names.push_back(entry.path().filename().string());
        return names;
    }

    test::CapturedLog m_log;
    vy::standins::CloudStandin m_cloud;
    ScopedTempDirectory m_folder;
    std::string m_target = m_folder.file("Generic CPU.tar.gz");
    MessagingManager m_messages;
};

TEST_F(DownloadFileTest, AWholePackageArrivesWithItsChecksumAndProgress)
{
    std::string checksum;
    ASSERT_TRUE(download(packageUrl(), nullptr, &checksum));
    EXPECT_EQ(readFile(m_target), kPackage);
    EXPECT_EQ(checksum.size(), 32u);
    EXPECT_EQ(folderEntries(), std::vector<std::string>{"Generic CPU.tar.gz"});
    EXPECT_TRUE(m_messages.getMessages().empty());
    m_log.stop();
    EXPECT_TRUE(m_log.contains("Downloading runtime package (100%)"));
}

TEST_F(DownloadFileTest, WithoutALengthProgressIsInBytes)
{
    Fault fault;
    fault.chunked = true;
    m_cloud.storage().setPackageFault(fault);
    ASSERT_TRUE(download(packageUrl()));
    EXPECT_EQ(readFile(m_target), kPackage);
    m_log.stop();
    EXPECT_TRUE(m_log.contains("Warning! Could not get content length of download"));
    EXPECT_TRUE(m_log.contains(" bytes)\nPress 'Refresh' to see updated progress."));
}

TEST_F(DownloadFileTest, AFollowedRedirectDeliversTheFile)
{
    const std::string encrypted = m_cloud.storage().putModel("m.vyc", "model body", 1700000000);
    ASSERT_TRUE(download(m_cloud.baseUrl() + "/models/m.vyc"));
    EXPECT_EQ(readFile(m_target), encrypted);
}

TEST_F(DownloadFileTest, FailuresLeaveAnEarlierFileAndNoPartialOne)
{
    struct Case
    {
        const char* name;
        Fault fault;
        const char* logLine;
    };
    Fault missing;
    missing.status = 404;
    Fault truncated;
    truncated.truncateAfter = 100'000;
    Fault truncatedChunked;
    truncatedChunked.truncateAfter = 100'000;
    truncatedChunked.chunked = true;
    const Case cases[] = {
        {"404", missing, "Error! Could not request file data! Status code: 404"},
        {"truncated", truncated, "was interrupted before completing."},
        {"truncated chunked", truncatedChunked, "was interrupted before completing."},
    };
    for (const Case& c: cases)
    {
        writeFile(m_target, "earlier");
        m_cloud.storage().setPackageFault(c.fault);
        EXPECT_FALSE(download(packageUrl())) << c.name;
        EXPECT_EQ(readFile(m_target), "earlier") << c.name;
        EXPECT_EQ(folderEntries(), std::vector<std::string>{"Generic CPU.tar.gz"}) << c.name;
        EXPECT_TRUE(m_messages.getMessages().empty()) << c.name;
    }
    m_log.stop();
    for (const Case& c: cases)
        EXPECT_TRUE(m_log.contains(c.logLine)) << c.name;
}

TEST_F(DownloadFileTest, ACancelEndsADownloadFromAStalledServer)
{
    Fault stalled;
    stalled.stallAfter = 50'000;
    m_cloud.storage().setPackageFault(stalled);
    std::atomic<bool> cancel{false};
    std::thread canceller([&] {
        // Cancel once the download is under way (its progress entry is up).
        EXPECT_TRUE(vyai::test::eventually([&] { return !m_messages.getMessages().empty(); }));
        cancel = true;
    });
    const bool downloaded = download(packageUrl(), &cancel);
    canceller.join();
    EXPECT_FALSE(downloaded);
    EXPECT_TRUE(folderEntries().empty());
    EXPECT_TRUE(m_messages.getMessages().empty());
    m_log.stop();
    EXPECT_TRUE(m_log.contains("was cancelled by the user."));
}

TEST_F(DownloadFileTest, ACancelBeforeTheStartFetchesNothing)
{
    std::atomic<bool> cancel{true};
    EXPECT_FALSE(download(packageUrl(), &cancel));
    EXPECT_TRUE(folderEntries().empty());
}

TEST_F(DownloadFileTest, AnHttpsPackageNeverComesOverPlainHttp)
{
    test::TrustedTlsServer tls;
    const std::string plain = packageUrl();
    tls.http().Get("/package", [&plain](const httplib::Request&, httplib::Response& response) {
        response.status = 302;
        response.set_header("Location", plain);
    });
    ASSERT_TRUE(tls.start());

    std::string checksum = "untouched";
    EXPECT_FALSE(download(tls.url("/package"), nullptr, &checksum));
    EXPECT_TRUE(folderEntries().empty());
    EXPECT_TRUE(m_cloud.storage().requests().empty());
    EXPECT_EQ(checksum, "untouched");
    m_log.stop();
    EXPECT_TRUE(m_log.contains("Reason: a redirect from https to " + plain + " was refused"));
}

TEST(ModelFileName, TheLastPathPart)
{
    test::CapturedLog log;
    EXPECT_EQ(modelFileNameFromUrl("https://cloud/models/abc.vyc"), "abc.vyc");
    EXPECT_EQ(modelFileNameFromUrl("https://cloud/models/"), "");
    EXPECT_EQ(modelFileNameFromUrl("no-slash"), "");
    EXPECT_EQ(modelFileNameFromUrl("https://cloud/models/.."), "");
    log.stop();
    EXPECT_EQ(log.count("Warning! Could not determine model filename"), 2);
}

} // namespace
} // namespace vyai
