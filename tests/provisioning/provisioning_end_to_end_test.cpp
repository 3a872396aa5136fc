// A fresh data folder reaches a working runtime and model cache by itself, driven the way the
// runtime manager loop drives the runtimes manager and the model cache.

#include <filesystem>

#include <gtest/gtest.h>

#include <cloud/cloud_standin.h>
#include <vy/platform/dynamic_library.h>

#include "captured_log.h"
#include "fake_tools.h"
#include "provisioning/model_cache.h"
#include "provisioning/runtimes_manager.h"
#include "scoped_temp_directory.h"
#include "test_files.h"
#include "vyai_crypto/model_decryption.h"

namespace vyai {
namespace {

namespace fs = std::filesystem;
using Models = std::map<std::string, std::shared_ptr<ModelDetails_t>>;

constexpr char kToken[] = "Bearer site-token";

class ProvisioningEndToEnd: public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_cloud.storage().loadRuntimePackage(VY_TEST_RUNTIME_PACKAGE));
        m_cloud.storage().setToken(kToken);
        m_cloud.storage().putModel("boxes.vyc", R"({"detector":"boxes"})", 1'700'000'000);
        ASSERT_TRUE(m_cloud.start());
    }

    // One engine's life over the data folder: the loop's runtime step until the runtime is
    // ready (choosing "Generic CPU" when offered a choice), then the model step.
    Models runEngine(int64_t lastModified)
    {
        MessagingManager messages;
        const std::string storage = m_cloud.baseUrl() + "/runtimes";
        RuntimesManager runtimes(m_data.file("inference_engine"), {{"", storage, false}, false, {m_tools.pciRoot()}});
        ModelCache cache(m_data.path().string(), messages);
        runtimes.init(messages);
        for (int pass = 0; pass < 4 && runtimes.getState() != kRuntimeInstalled; ++pass)
        {
            if (runtimes.isInstalledRuntimePresent())
            {
                runtimes.reportRuntimeDocumentation(messages, runtimes.readInstalledRuntimeName(), runtimes.getState());
                continue;
            }
            const auto compatible = runtimes.getCompatibleRuntimes("");
            std::string toInstall;
            if (compatible.size() > 1 && runtimes.getState() == kRuntimeNothingDecided)
            {
                runtimes.setOfferedRuntimes(compatible);
                runtimes.setState(kRuntimeAwaitingChoice);
                runtimes.selectRuntime("Generic CPU"); // the user's pick in the dialog
                continue;
            }
            if (runtimes.getState() == kRuntimeChosen)
                toInstall = runtimes.getSelectedRuntime();
            else if (compatible.size() == 1)
                toInstall = compatible.front();
            runtimes.installRuntime(toInstall, messages, false);
            if (runtimes.getState() == kRuntimeInstalled)
                runtimes.saveInstalledRuntimeName(toInstall);
        }
        EXPECT_EQ(runtimes.getState(), kRuntimeInstalled);
        EXPECT_EQ(runtimes.getRuntimeMimeType(runtimes.readInstalledRuntimeName()), "application/x-onnx");

        auto model = std::make_shared<ModelDetails_t>();
        model->uuid = "boxes";
        model->url = m_cloud.baseUrl() + "/models/boxes.vyc";
        model->downloadAvailable = true;
        model->size = 100;
        model->lastModified = lastModified;
        model->modelFilePath = (fs::path(cache.modelFilesDirectory()) / "boxes.vyc").string();
        model->keyFilePath = (fs::path(cache.keysDirectory()) / "boxes.key").string();
        const Models models{{"boxes", model}};
        cache.checkModelFileAndDownload(models, kToken);
        return models;
    }

    std::string decrypted(const ModelDetails_t& model) const
    {
        const std::string key = test::readFile(model.keyFilePath);
        const std::string plain = m_data.file("plain.json");
        if (key.size() != 32
            || !decryptModelFile(reinterpret_cast<const unsigned char*>(key.data()), model.modelFilePath.c_str(), plain.c_str()))
            return "<not decryptable>";
        return test::readFile(plain);
    }

    test::CapturedLog m_log;
    test::FakeTools m_tools;
    vy::standins::CloudStandin m_cloud;
    ScopedTempDirectory m_data;
};

TEST_F(ProvisioningEndToEnd, AFreshFolderWorksAndASecondRunReusesTheCache)
{
    const Models first = runEngine(1'700'000'000);
    ASSERT_EQ(first.at("boxes")->status.load(), kModelFileReady);
    EXPECT_EQ(decrypted(*first.at("boxes")), R"({"detector":"boxes"})");

    vy::platform::DynamicLibrary runtime(fs::path(m_data.file("inference_engine")) / kRuntimeLibraryFileName);
    ASSERT_TRUE(runtime.isLoaded()) << runtime.loadError();
    EXPECT_NE(runtime.symbol("runtime_get_name"), nullptr);
    runtime.close();

    const size_t requestsAfterFirst = m_cloud.storage().requests().size();
    const Models second = runEngine(1'700'000'000);
    EXPECT_EQ(second.at("boxes")->status.load(), kModelFileReady);
    EXPECT_EQ(m_cloud.storage().requests().size(), requestsAfterFirst);

    const int64_t later = std::chrono::duration_cast<std::chrono::seconds>(
        std::chrono::system_clock::now().time_since_epoch()).count() + 60;
    m_cloud.storage().putModel("boxes.vyc", R"({"detector":"newer"})", later);
    const Models third = runEngine(later);
    EXPECT_EQ(third.at("boxes")->status.load(), kModelFileReady);
    EXPECT_EQ(decrypted(*third.at("boxes")), R"({"detector":"newer"})");
}

} // namespace
} // namespace vyai
