#pragma once
// Work items, detection tables and objects for the post-processing tests.

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "inference/inference_input.h"
#include "inference/model_vocabulary.h"
#include "postprocessing/postprocessing_result.h"

namespace vyai::test {

inline constexpr const char* kDetectionTableName = "output0 format:xyxysc";

/** A tensor made on the C heap, as the runtime or a decoder hands it over. */
inline Tensor_t makeTensor(const std::string& name, int32_t type, std::vector<int32_t> shape, const void* data,
    size_t bytes)
{
    Tensor_t tensor{};
    tensor.name = strdup(name.c_str());
    tensor.type = type;
    tensor.rank = static_cast<int32_t>(shape.size());
    tensor.shape = static_cast<int32_t*>(std::malloc(shape.size() * sizeof(int32_t)));
    std::memcpy(tensor.shape, shape.data(), shape.size() * sizeof(int32_t));
    tensor.size = bytes;
    tensor.data = std::malloc(bytes == 0 ? 1 : bytes);
    if (bytes > 0)
        std::memcpy(tensor.data, data, bytes);
    return tensor;
}

inline TensorSetPtr makeTensorSet(std::vector<Tensor_t> tensors)
{
    TensorSetPtr set(static_cast<TensorSet_t*>(std::calloc(1, sizeof(TensorSet_t))));
    set->count = static_cast<int32_t>(tensors.size());
    set->tensors = static_cast<Tensor_t*>(std::malloc(tensors.size() * sizeof(Tensor_t)));
    std::memcpy(set->tensors, tensors.data(), tensors.size() * sizeof(Tensor_t));
    return set;
}

inline TensorSetPtr makeFloatSet(const std::string& name, const std::vector<float>& values)
{
    return makeTensorSet({makeTensor(name, TensorDataType_Float,
        {static_cast<int32_t>(values.size())}, values.data(), values.size() * sizeof(float))});
}

/** One detection row, corners in model-input pixels. */
struct Row {
    float x1, y1, x2, y2, score, classIndex;
};

inline TensorSetPtr makeDetections(const std::vector<Row>& rows, const std::string& name = kDetectionTableName)
{
    std::vector<float> values;
    for (const Row& row: rows)
        values.insert(values.end(), {row.x1, row.y1, row.x2, row.y2, row.score, row.classIndex});
    return makeFloatSet(name, values);
}

/**
 * A device's frame of 100 × 100 pixels stretched into a 100 × 100 model: model pixels are
 * hundredths of the frame, so a row (10, 20, 30, 60) is the box (0.1, 0.2, 0.2, 0.4).
 */
class WorkItem
{
public:
    explicit WorkItem(std::string deviceId = "device-1", std::vector<std::string> classes = {"person", "car"})
    {
        auto model = std::make_shared<ModelDetails_t>();
        model->name = "detector";
        model->width = 100;
        model->height = 100;
        model->classNames = std::move(classes);
        model->boxesOutputName = kDetectionTableName;
        settings = std::make_shared<DeviceAgentSettings_t>();
        settings->pipelines.emplace_back();
        stage().id = "stage-1";
        stage().model = model;
        stage().resizingMethod = kResizingStretch;
        m_device = std::make_shared<DeviceAgentDetails_t>();
        m_device->id = std::move(deviceId);
        m_device->name = "camera";
    }

    pipeline_stage_parameters_t& stage() { return settings->pipelines.front(); }

    /** The input of the frame at `timestamp` microseconds. */
    InferenceInput_t at(int64_t timestamp)
    {
        InferenceInput_t input;
        input.timestamp = static_cast<uint64_t>(timestamp);
        input.width = 100;
        input.height = 100;
        input.settings = settings;
        input.device = m_device;
        input.stage = &stage();
        return input;
    }

    std::shared_ptr<DeviceAgentSettings_t> settings;

private:
    std::shared_ptr<DeviceAgentDetails_t> m_device;
};

inline std::shared_ptr<VyAIObject_t> objectAt(float x, float y, float width, float height,
    vy::sdk::Uuid id = vy::sdk::Uuid{})
{
    auto object = std::make_shared<VyAIObject_t>();
    object->id = id;
    object->box = {x, y, width, height};
    return object;
}

inline std::string attributeValue(const VyAIObject_t& object, const std::string& name)
{
    for (const auto& attribute: object.attributes) {
        if (attribute->name() == name)
            return attribute->value();
    }
    return "<none>";
}

inline int attributeCount(const VyAIObject_t& object, const std::string& name)
{
    int count = 0;
    for (const auto& attribute: object.attributes)
        count += attribute->name() == name ? 1 : 0;
    return count;
}

/**
 * Checks an active event of that type and caption: its description is `expected`, or there
 * is no event when `expected` is null.
 */
inline void expectActiveEvent(const vy::sdk::Ptr<vy::sdk::analytics::EventMetadata>& event, const char* typeId,
    const char* caption, const char* expected)
{
    if (!expected) {
        EXPECT_FALSE(event);
        return;
    }
    ASSERT_TRUE(event);
    EXPECT_STREQ(event->typeId(), typeId);
    EXPECT_TRUE(event->isActive());
    EXPECT_STREQ(event->caption(), caption);
    EXPECT_STREQ(event->description(), expected);
}

} // namespace vyai::test
