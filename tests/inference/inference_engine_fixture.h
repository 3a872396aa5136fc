#pragma once

// An inference engine over the stand-in CPU runtime in a temporary root folder, with
// encrypted models of the runtime's colour-box detector and inputs for them.

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "captured_log.h"
#include "foundations/messaging_manager.h"
#include "inference/inference_engine.h"
#include "inference/inference_output_queue.h"
#include "model_encryption.h"
#include "eventually.h"
#include "runtime_fixtures.h"
#include "scoped_temp_directory.h"
#include "test_files.h"

namespace vyai::test {

constexpr int kModelSide = 8; // the detector's input is 8 × 8 planar float RGB

class InferenceEngineFixture: public testing::Test
{
protected:
    void SetUp() override { runtime_fixtures::installRuntime(root.path(), VY_STANDIN_RUNTIME); }

    std::filesystem::path workingDirectory() const { return root.path() / "inference_engine"; }

    /** The stand-in's options for the next runtime_init, as a JSON object's members. */
    void setRuntimeArgs(const std::string& members)
    {
        writeFile(workingDirectory() / "runtime_args.json", "{" + members + "}");
    }

    /**
     * A ready model "id" whose encrypted file and key (of `keyBytes` bytes; 33, as a decoded
     * "X-Key" is) lie in the root folder.
     */
    std::shared_ptr<ModelDetails_t> model(const std::string& id, int64_t lastModified = 1, size_t keyBytes = 33)
    {
        auto details = std::make_shared<ModelDetails_t>();
        details->uuid = id;
        details->name = "model " + id;
        details->status = kModelFileReady;
        details->lastModified = lastModified;
        details->modelFilePath = (root.path() / (id + ".enc")).string();
        details->keyFilePath = (root.path() / (id + ".vyc")).string();
        details->decryptedFilePath = (std::filesystem::temp_directory_path() / (id + ".json")).string();
        const std::string plain = R"({"input": {"name": "images", "width": 8, "height": 8, "layout": "planar"},
            "classes": [{"name": "red", "rgb": [255, 0, 0]}],
            "output": {"format": "xyxysc", "name": "output0 format:xyxysc;0:red"}})";
        std::string key(keyBytes, '\0');
        for (size_t i = 0; i < key.size(); ++i)
            key[i] = static_cast<char>(i * 7 + id.size());
        const unsigned char iv[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
        std::string encrypted;
        if (keyBytes >= 32)
            encrypted = encryptModel(plain, reinterpret_cast<const unsigned char*>(key.data()), iv);
        writeFile(details->modelFilePath, encrypted);
        writeFile(details->keyFilePath, key);
        return details;
    }

    /** A stage of `model`, kept alive by the fixture, and an input of a camera for it. */
    std::shared_ptr<InferenceInput_t> input(const std::shared_ptr<ModelDetails_t>& model, const std::string& device = "cam-1")
    {
        auto stage = std::make_shared<pipeline_stage_parameters_t>();
        stage->id = model->uuid;
        stage->model = model;
        stages.push_back(stage);
        auto made = std::make_shared<InferenceInput_t>();
        made->stage = stage.get();
        made->device = std::make_shared<DeviceAgentDetails_t>(DeviceAgentDetails_t{device, device});
        return made;
    }

    static TensorSetPtr tensors()
    {
        const std::vector<float> pixels(kModelSide * kModelSide * 3, 90.0f);
        return runtime_fixtures::makeTensorSet(
            {{"images", TensorDataType_Float, {1, 3, kModelSide, kModelSide}, runtime_fixtures::toBytes(pixels)}});
    }

    std::unique_ptr<InferenceEngine> makeEngine(
        const InferenceEngine::ModelSet& models, int32_t capacity = 8, int64_t stallWarningAfterMs = 5000)
    {
        InferenceEngineLimits limits;
        limits.maxConcurrentInferences = capacity;
        limits.retrieveTimeoutMs = 20;
        limits.stallWarningAfterMs = stallWarningAfterMs;
        return std::make_unique<InferenceEngine>(root.path().string(), models, queue, messages, limits);
    }

    /** Takes the next output, waiting at most two seconds. */
    std::optional<InferenceOutput_t> nextOutput()
    {
        return queue.popUntil(std::chrono::steady_clock::now() + std::chrono::seconds(2));
    }

    /** The private folders of decrypted models in the working directory. */
    std::vector<std::filesystem::path> decryptedFolders() const
    {
        std::vector<std::filesystem::path> folders;
        for (const auto& entry: std::filesystem::directory_iterator(workingDirectory())) {
            if (entry.path().filename().string().starts_with("models."))
                folders.push_back(entry.path());
        }
        return folders;
    }

    bool hasMessage(const std::string& code) const { return messages.getMessages().count(code) > 0; }

    std::string messageText(const std::string& code) const
    {
        const auto all = messages.getMessages();
        const auto found = all.find(code);
        return found == all.end() ? "" : found->second.text;
    }

    CapturedLog log;
    ScopedTempDirectory root;
    MessagingManager messages;
    InferenceOutputQueue queue;
    std::vector<std::shared_ptr<pipeline_stage_parameters_t>> stages;
};

} // namespace vyai::test
