#include "provisioning/model_cache.h"

#include <chrono>
#include <filesystem>
#include <thread>

#include <openssl/evp.h>

#include <gtest/gtest.h>

#include <cloud/cloud_standin.h>

#include "captured_log.h"
#include "eventually.h"
#include "scoped_temp_directory.h"
#include "test_files.h"
#include "tls_identity.h"
#include "vyai_crypto/model_decryption.h"

namespace vyai {
namespace {

namespace fs = std::filesystem;
using Fault = vy::standins::ProvisioningStorage::ModelFault;

Fault keyFault(std::string key)
{
    Fault fault;
    fault.key = std::move(key);
    return fault;
}

Fault noLocationFault()
{
    Fault fault;
    fault.omitLocation = true;
    return fault;
}

Fault statusFault(int status)
{
    Fault fault;
    fault.status = status;
    return fault;
}

Fault truncatedFault(size_t bytes)
{
    Fault fault;
    fault.truncateAfter = bytes;
    return fault;
}

Fault stalledFault(size_t bytes)
{
    Fault fault;
    fault.stallAfter = bytes;
    return fault;
}

constexpr int64_t kLastModified = 1'750'000'000;
constexpr char kToken[] = "Bearer token-1";

// A cloud copy newer than any file this test writes.
int64_t newerThanNow()
{
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count()
        + 3600;
}

class ModelCacheTest: public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_cloud.storage().setToken(kToken);
        m_encrypted = m_cloud.storage().putModel("m1.vyc", R"({"detector":"boxes"})", kLastModified);
        ASSERT_TRUE(m_cloud.start());
        m_model = describe(kLastModified);
    }

    std::shared_ptr<ModelDetails_t> describe(int64_t lastModified) const
    {
        auto model = std::make_shared<ModelDetails_t>();
        model->uuid = "m1";
        model->url = m_cloud.baseUrl() + "/models/m1.vyc";
        model->downloadAvailable = true;
        model->size = m_encrypted.size();
        model->lastModified = lastModified;
        model->modelFilePath = (fs::path(m_cache.modelFilesDirectory()) / "m1.vyc").string();
        model->keyFilePath = (fs::path(m_cache.keysDirectory()) / "m1.key").string();
        return model;
    }

    void check() { m_cache.checkModelFileAndDownload({{"m1", m_model}}, kToken); }
    size_t requestCount() { return m_cloud.storage().requests().size(); }
    bool modelFilesPresent() const
    {
        return fs::exists(m_model->modelFilePath) || fs::exists(m_model->keyFilePath);
    }
    std::vector<std::string> strayTemporaries() const
    {
        std::vector<std::string> found;
        for (const auto& folder: {m_cache.modelFilesDirectory(), m_cache.keysDirectory()})
        {
            for (const auto& entry: fs::directory_iterator(folder))
            {
                if (entry.path().extension() == ".tmp")
                    found.push_back(entry.path().string());
            }
        }
        return found;
    }

    // The file and the key in the cache decrypt to the model the cloud holds.
    std::string decrypted() const
    {
        const std::string key = test::readFile(m_model->keyFilePath);
        const std::string plainPath = m_root.file("plain.json");
        if (key.size() != 32
            || !decryptModelFile(reinterpret_cast<const unsigned char*>(key.data()), m_model->modelFilePath.c_str(),
                plainPath.c_str()))
            return "<not decryptable>";
        return test::readFile(plainPath);
    }

    test::CapturedLog m_log;
    vy::standins::CloudStandin m_cloud;
    ScopedTempDirectory m_root;
    MessagingManager m_messages;
    ModelCache m_cache{m_root.path().string(), m_messages};
    std::string m_encrypted;
    std::shared_ptr<ModelDetails_t> m_model;
};

TEST_F(ModelCacheTest, AFreshModelArrivesWithItsKeyThroughTheRedirect)
{
    check();
    EXPECT_EQ(m_model->status.load(), kModelFileReady);
    EXPECT_EQ(m_model->downloadProgress.load(), 100);
    EXPECT_EQ(test::readFile(m_model->modelFilePath), m_encrypted);
    EXPECT_EQ(decrypted(), R"({"detector":"boxes"})");
    EXPECT_EQ(fs::status(m_model->keyFilePath).permissions() & fs::perms::all,
        fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_TRUE(strayTemporaries().empty());

    const auto requests = m_cloud.storage().requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].path, "/models/m1.vyc");
    EXPECT_EQ(requests[0].authorization, kToken);
    EXPECT_EQ(requests[1].path, "/storage/m1.vyc");
    EXPECT_EQ(requests[1].authorization, "<absent>");
}

TEST_F(ModelCacheTest, ACurrentFileIsReusedAStaleOneReplaced)
{
    check();
    check();
    EXPECT_EQ(requestCount(), 2u);
    EXPECT_EQ(m_model->status.load(), kModelFileReady);

    // Written in the cloud's second: current. A second earlier: stale.
    const auto at = [](int64_t seconds) {
        return std::chrono::file_clock::from_sys(std::chrono::sys_seconds(std::chrono::seconds(seconds)));
    };
    fs::last_write_time(m_model->modelFilePath, at(kLastModified) + std::chrono::milliseconds(900));
    check();
    EXPECT_EQ(requestCount(), 2u);
    fs::last_write_time(m_model->modelFilePath, at(kLastModified - 1));
    check();
    EXPECT_EQ(requestCount(), 4u);
    EXPECT_EQ(m_model->status.load(), kModelFileReady);

    // A missing key alone makes the model missing.
    fs::remove(m_model->keyFilePath);
    check();
    EXPECT_EQ(requestCount(), 6u);
    EXPECT_EQ(decrypted(), R"({"detector":"boxes"})");
}

TEST_F(ModelCacheTest, ANewerModelReplacesTheCachedOne)
{
    check();
    m_encrypted = m_cloud.storage().putModel("m1.vyc", R"({"detector":"newer"})", newerThanNow());
    m_model = describe(newerThanNow());
    check();
    EXPECT_EQ(m_model->status.load(), kModelFileReady);
    EXPECT_EQ(decrypted(), R"({"detector":"newer"})");
}

TEST_F(ModelCacheTest, FailuresLeaveTheModelFailedAndNoFiles)
{
    const struct {
        const char* name;
        Fault fault;
        const char* error; //< in the model's error list
    } cases[] = {
        {"no key", keyFault(""), "The server sent no key for the model."},
        {"key not base64", keyFault("not base64 at all!"), "invalid key"},
        {"key of 16 bytes", keyFault("AAECAwQFBgcICQoLDA0ODw=="), "invalid key"},
        {"key of 33 bytes", keyFault("AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8g"), "invalid key"},
        {"no location", noLocationFault(), "named no location"},
        {"storage answers 404", statusFault(404), " Code: 404 Line: HTTP/1.1 404 Not Found Body: {\"error\":\"storage fault\"}"},
        {"truncated", truncatedFault(10), "Connection was interrupted before the download completed."},
    };
    for (const auto& c: cases)
    {
        m_cloud.storage().setModelFault(c.fault);
        m_model = describe(kLastModified);
        check();
        EXPECT_EQ(m_model->status.load(), kModelFailed) << c.name;
        EXPECT_FALSE(modelFilesPresent()) << c.name;
        EXPECT_TRUE(strayTemporaries().empty()) << c.name;
        const auto errors = m_model->errorsCopy();
        ASSERT_EQ(errors.size(), 1u) << c.name;
        EXPECT_NE(errors[0].find(c.error), std::string::npos) << c.name << ": " << errors[0];
        EXPECT_EQ(errors[0].rfind("Failed to download model from:" + m_model->url, 0), 0u) << c.name;
        m_cache.clearFailedDownloads();
    }
}

TEST_F(ModelCacheTest, AFailedModelWaitsForRetry)
{
    m_cloud.storage().setModelFault(keyFault(""));
    check();
    EXPECT_EQ(m_model->status.load(), kModelFailed);
    const size_t afterFailure = requestCount();
    check();
    EXPECT_EQ(requestCount(), afterFailure);

    m_cloud.storage().setModelFault({});
    m_cache.clearFailedDownloads();
    check();
    EXPECT_EQ(m_model->status.load(), kModelFileReady);
    EXPECT_EQ(decrypted(), R"({"detector":"boxes"})");
}

TEST_F(ModelCacheTest, AFailedUpdateKeepsTheOldModelAndKeyTogether)
{
    check();
    const std::string oldModel = test::readFile(m_model->modelFilePath);
    m_cloud.storage().putModel("m1.vyc", R"({"detector":"newer"})", newerThanNow());
    m_cloud.storage().setModelFault(truncatedFault(20));
    m_model = describe(newerThanNow());
    check();
    EXPECT_EQ(m_model->status.load(), kModelFailed);
    EXPECT_EQ(test::readFile(m_model->modelFilePath), oldModel);
    EXPECT_EQ(decrypted(), R"({"detector":"boxes"})");
}

TEST_F(ModelCacheTest, AStalledServerFailsAtTheIdleLimit)
{
    m_cloud.storage().setModelFault(stalledFault(10));
    check();
    EXPECT_EQ(m_model->status.load(), kModelFailed);
    EXPECT_FALSE(modelFilesPresent());
    EXPECT_TRUE(strayTemporaries().empty());
}

TEST_F(ModelCacheTest, StopEndsADownloadFromAStalledServer)
{
    m_cloud.storage().setModelFault(stalledFault(10));
    std::thread engineEnd([&] {
        EXPECT_TRUE(vyai::test::eventually([&] { return m_model->status.load() == kModelDownloading; }));
        m_cache.stop();
    });
    check();
    engineEnd.join();
    EXPECT_NE(m_model->status.load(), kModelDownloading);
    EXPECT_FALSE(modelFilesPresent());
    EXPECT_TRUE(strayTemporaries().empty());
}

TEST_F(ModelCacheTest, ClearingTheCacheEmptiesBothFolders)
{
    check();
    m_cache.clearCache();
    EXPECT_TRUE(fs::is_empty(m_cache.modelFilesDirectory()));
    EXPECT_TRUE(fs::is_empty(m_cache.keysDirectory()));
    check();
    EXPECT_EQ(m_model->status.load(), kModelFileReady);
}

std::string base64(const std::string& bytes)
{
    std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()),
        reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
    text.resize(static_cast<size_t>(length));
    return text;
}

// A cloud on https whose redirect for the model names a relative location or a plain-http one.
class SecureCloudModelTest: public ModelCacheTest
{
protected:
    void SetUp() override
    {
        ModelCacheTest::SetUp();
        m_tls.http().Get("/models/relative.vyc", [](const httplib::Request&, httplib::Response& response) {
            response.status = 307;
            response.set_header("Location", "../storage/m1.vyc");
        });
        m_tls.http().Get("/models/plain.vyc", [this](const httplib::Request&, httplib::Response& response) {
            response.status = 307;
            response.set_header("Location", m_cloud.baseUrl() + "/storage/m1.vyc");
        });
        m_tls.http().Get("/storage/m1.vyc", [this](const httplib::Request& request, httplib::Response& response) {
            m_storageAuthorization = request.get_header_value("Authorization");
            response.set_header("X-Key", base64(m_cloud.storage().modelKey("m1.vyc")));
            response.set_header("Last-Modified", "Sun, 15 Jun 2025 15:06:40 GMT");
            response.set_content(m_encrypted, "application/octet-stream");
        });
        ASSERT_TRUE(m_tls.start());
    }

    test::TrustedTlsServer m_tls;
    std::string m_storageAuthorization = "<not asked>";
};

TEST_F(SecureCloudModelTest, ARelativeLocationIsResolvedAgainstTheModelsUrl)
{
    m_model->url = m_tls.url("/models/relative.vyc");
    check();
    ASSERT_EQ(m_model->status.load(), kModelFileReady) << (m_model->errorsCopy().empty() ? "" : m_model->errorsCopy()[0]);
    EXPECT_EQ(decrypted(), R"({"detector":"boxes"})");
    EXPECT_EQ(m_storageAuthorization, "");
}

TEST_F(SecureCloudModelTest, ARedirectToPlainHttpIsRefused)
{
    m_model->url = m_tls.url("/models/plain.vyc");
    check();
    EXPECT_EQ(m_model->status.load(), kModelFailed);
    EXPECT_FALSE(modelFilesPresent());
    EXPECT_TRUE(m_cloud.storage().requests().empty());
    const auto errors = m_model->errorsCopy();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "Failed to download model from:" + m_model->url + "\nThe server redirected to a plain-text address.");
}

} // namespace
} // namespace vyai
