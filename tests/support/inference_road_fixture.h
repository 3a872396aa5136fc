#pragma once

// The whole inference road in one process: an inference manager over the stand-in CPU
// runtime in a temporary root folder, with colour-box detector models and host frames.

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <vy/sdk/analytics/helpers/object_metadata.h>

#include "eventually.h"
#include "road/inference_manager.h"
#include "model_encryption.h"
#include "runtime_fixtures.h"
#include "scoped_temp_directory.h"
#include "test_files.h"

namespace vyai::test {

/** A detector class: its name and the colour it finds. */
struct DetectorClass
{
    std::string name;
    std::array<int, 3> rgb;
};

/** One object as a completion handed it over. */
struct AnsweredObject
{
    std::string camera;
    int64_t timestampUs = 0;
    std::string typeId;
    vy::sdk::analytics::BoundingBox box;
};

/** A host frame painted by the caller with a timestamp of its own. */
template<typename Base>
class TimedFrame: public Base
{
public:
    template<typename... Args>
    explicit TimedFrame(int64_t timestampUs, Args&&... args): Base(std::forward<Args>(args)...), m_timestampUs(timestampUs) {}

    int64_t timestampUs() const override { return m_timestampUs; }

private:
    int64_t m_timestampUs;
};

class InferenceRoad
{
public:
    explicit InferenceRoad(int64_t workers = 8) { runtime_fixtures::installRuntime(root.path(), VY_STANDIN_RUNTIME); makeManager(workers); }

    // The manager goes first: its workers call the recorder.
    ~InferenceRoad() { manager.reset(); }

    void makeManager(int64_t workers)
    {
        manager.reset();
        manager = std::make_unique<InferenceManager>(root.path().string(), "", messages, workers);
    }

    /** The stand-in runtime's options for the next engine start, as JSON object members. */
    void setRuntimeArgs(const std::string& members)
    {
        writeFile(root.path() / "inference_engine" / "runtime_args.json", "{" + members + "}");
    }

    /** A ready square detector model "id" of side `side`, finding the classes by colour. */
    std::shared_ptr<ModelDetails_t> detector(const std::string& id, const std::vector<DetectorClass>& classes, int side = 64)
    {
        std::string classesJson;
        std::string outputName = "bboxes-format:xyxysc";
        for (size_t i = 0; i < classes.size(); ++i) {
            const auto& rgb = classes[i].rgb;
            classesJson += (i ? "," : "") + std::string(R"({"name": ")") + classes[i].name + R"(", "rgb": [)"
                + std::to_string(rgb[0]) + "," + std::to_string(rgb[1]) + "," + std::to_string(rgb[2]) + "]}";
            outputName += ";" + std::to_string(i) + ":" + classes[i].name;
        }
        const std::string sideText = std::to_string(side);
        const std::string plain = R"({"input": {"name": "images", "width": )" + sideText + R"(, "height": )" + sideText
            + R"(, "layout": "planar"}, "classes": [)" + classesJson + R"(], "minPixels": 4,
            "output": {"format": "xyxysc", "name": ")" + outputName + R"("}})";

        auto details = std::make_shared<ModelDetails_t>();
        details->uuid = id;
        details->name = "model " + id;
        details->status = kModelFileReady;
        details->lastModified = 1;
        details->modelFilePath = (root.path() / (id + ".enc")).string();
        details->keyFilePath = (root.path() / (id + ".vyc")).string();
        details->decryptedFilePath = (root.path() / (id + ".json")).string();
        details->width = details->height = static_cast<uint64_t>(side);
        details->channels = 3;
        details->vars = {1.0f, 1.0f, 1.0f};
        details->namedInputs = {{"images", 0, TensorDataType_Float, {1, 3, side, side}}};
        std::string key(33, '\0');
        for (size_t i = 0; i < key.size(); ++i)
            key[i] = static_cast<char>(i * 5 + id.size());
        const unsigned char iv[12] = {3, 1, 4, 1, 5, 9, 2, 6, 5, 3, 5, 8};
        writeFile(details->modelFilePath, encryptModel(plain, reinterpret_cast<const unsigned char*>(key.data()), iv));
        writeFile(details->keyFilePath, key);
        writeFile(plainModelPath(id), plain);
        models[id] = details;
        return details;
    }

    /** The model file as the runtime loads it, for driving the runtime without the engine. */
    std::filesystem::path plainModelPath(const std::string& id) const { return root.path() / (id + ".plain.json"); }

    /** A stage of the model that shows every class of `visualised`. */
    static pipeline_stage_parameters_t stage(const std::shared_ptr<ModelDetails_t>& model,
        const std::vector<std::string>& visualised, uint32_t connection = kConnectionNone)
    {
        pipeline_stage_parameters_t made;
        made.id = model->uuid;
        made.model = model;
        made.connectionType = connection;
        for (const auto& name: visualised)
            made.visualisedClasses[name] = true;
        return made;
    }

    static std::shared_ptr<DeviceAgentSettings_t> settingsOf(std::vector<pipeline_stage_parameters_t> stages)
    {
        auto settings = std::make_shared<DeviceAgentSettings_t>();
        settings->pipelines = std::move(stages);
        return settings;
    }

    /** A completion that records every object of the camera's packets. */
    MetadataCompletion recorder(const std::string& camera)
    {
        return [this, camera](vy::sdk::Ptr<vy::sdk::analytics::ObjectMetadataPacket> objects,
                   vy::sdk::Ptr<vy::sdk::analytics::EventMetadataPacket>,
                   std::vector<vy::sdk::Ptr<vy::sdk::analytics::ObjectTrackBestShotPacket>>) {
            std::lock_guard lock(answersMutex);
            ++completions;
            if (!objects)
                return;
            for (int32_t i = 0; i < objects->count(); ++i) {
                const auto item = vy::sdk::toPtr(static_cast<const vy::sdk::analytics::IObjectMetadata*>(objects->at(i)));
                AnsweredObject answered{camera, objects->timestampUs(), item->typeId(), {}};
                item->getBoundingBox(&answered.box);
                answers.push_back(answered);
            }
        };
    }

    std::vector<AnsweredObject> answered()
    {
        std::lock_guard lock(answersMutex);
        return answers;
    }

    size_t completionCount()
    {
        std::lock_guard lock(answersMutex);
        return completions;
    }

    static std::shared_ptr<DeviceAgentDetails_t> camera(const std::string& id)
    {
        return std::make_shared<DeviceAgentDetails_t>(DeviceAgentDetails_t{id, id});
    }

    ScopedTempDirectory root;
    MessagingManager messages;
    ModelDetailsMap models;
    std::unique_ptr<InferenceManager> manager;

private:
    std::mutex answersMutex;
    std::vector<AnsweredObject> answers; //< guarded by answersMutex
    size_t completions = 0; //< guarded by answersMutex
};

/** Intersection over union of two boxes (x, y, width, height). */
inline float boxIou(const vy::sdk::analytics::BoundingBox& a, const vy::sdk::analytics::BoundingBox& b)
{
    const float x1 = std::max(a.x, b.x);
    const float y1 = std::max(a.y, b.y);
    const float x2 = std::min(a.x + a.width, b.x + b.width);
    const float y2 = std::min(a.y + a.height, b.y + b.height);
    const float overlap = std::max(0.0f, x2 - x1) * std::max(0.0f, y2 - y1);
    const float together = a.width * a.height + b.width * b.height - overlap;
    return together > 0.0f ? overlap / together : 0.0f;
}

} // namespace vyai::test
