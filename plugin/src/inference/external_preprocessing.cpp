#include "inference/external_preprocessing.h"

#include <algorithm>

#include "foundations/log.h"
#include "foundations/timer.h"
#include "inference/external_process.h"
#include "inference/external_processor_declarations.h"
#include "inference/messages/image_message.h"
#include "inference/messages/tensor_message.h"
#include "inference/processor_exchange.h"

namespace vyai {

namespace {

ProcessorExchange_t exchangeOf(const ExternalPreprocessor_t& record)
{
    return {*record.process, record.Name, "preprocessor", record.TimeoutMs, record.NoResponse};
}

const ExternalPreprocessor_t* runnableRecord(const pipeline_stage_parameters_t& stage, uint32_t schedule)
{
    const ExternalPreprocessor_t* record = stage.externalPreprocessor;
    if (!record || record->schedule != schedule || !record->process)
        return nullptr;
    return record;
}

std::string shapeText(const Tensor_t& tensor)
{
    std::string text = "[";
    for (int32_t i = 0; i < tensor.rank; ++i)
        text += (i ? ", " : "") + std::to_string(tensor.shape[i]);
    return text + "]";
}

} // namespace

std::string replacementMismatch(const TensorSet_t& replacement, const TensorSet_t& prepared)
{
    if (replacement.count != prepared.count)
        return std::to_string(replacement.count) + " tensors instead of " + std::to_string(prepared.count);
    for (int32_t i = 0; i < prepared.count; ++i)
    {
        const Tensor_t& got = replacement.tensors[i];
        const Tensor_t& wanted = prepared.tensors[i];
        const std::string name = wanted.name ? wanted.name : "";
        if (!got.name || name != got.name)
            return "tensor " + std::to_string(i) + " is not named " + name;
        if (got.type != wanted.type)
            return name + " has type " + std::to_string(got.type) + " instead of " + std::to_string(wanted.type);
        if (got.rank != wanted.rank || !std::equal(wanted.shape, wanted.shape + wanted.rank, got.shape)
            || got.size != wanted.size)
            return name + " has shape " + shapeText(got) + " of " + std::to_string(got.size) + " bytes instead of "
                + shapeText(wanted) + " of " + std::to_string(wanted.size);
    }
    return {};
}

std::shared_ptr<VideoFrame> runExternalImagePreprocessor(uint64_t timestamp, const VideoFrame& frame,
    const pipeline_stage_parameters_t& stage, const DeviceAgentDetails_t& device)
{
    const ExternalPreprocessor_t* record = runnableRecord(stage, kPreprocessImage);
    if (!record)
        return nullptr;
    ImageMessageHeader header;
    header.timestamp = static_cast<int64_t>(timestamp);
    header.deviceId = device.id;
    header.deviceName = device.name;
    header.height = static_cast<uint64_t>(frame.height());
    header.width = static_cast<uint64_t>(frame.width());
    header.layout = frame.layout();
    header.userSettings = stage.preprocessorSettings;
    const std::optional<MessageBuffer> request = serializeImageMessage(header, frame.pixels());
    if (!request)
        return nullptr;
    Timer timer("ImagePreprocessor");
    std::optional<ImageMessage> image;
    exchangeWithProcessor(exchangeOf(*record), request->bytes().size(), copyOf(request->bytes()), timer,
        [&](std::span<const uint8_t> reply) { image = deserializeImageMessage(reply.data(), reply.size()); });
    if (!image)
        return nullptr;
    return std::make_shared<VideoFrame>(std::move(image->data), static_cast<int64_t>(image->width),
        static_cast<int64_t>(image->height), image->layout == 0 ? 0u : 1u);
}

TensorSetPtr runExternalTensorPreprocessor(uint64_t timestamp, const TensorSet_t& tensors,
    const DeviceAgentDetails_t& device, const pipeline_stage_parameters_t& stage)
{
    const ExternalPreprocessor_t* record = runnableRecord(stage, kPreprocessTensor);
    if (!record)
        return nullptr;
    Timer timer("TensorPreprocessor");
    const TensorRequest request(timestamp, device, tensors, stage.preprocessorSettings);
    timer.lap("serialize");
    if (!request.size())
        return nullptr;
    TensorSetPtr replacement;
    exchangeWithProcessor(exchangeOf(*record), *request.size(), request.fill(), timer,
        [&](std::span<const uint8_t> reply) { replacement = deserializeTensorMessage(reply.data(), reply.size()); });
    if (!replacement)
        return nullptr;
    // The runtime reads each input as the model declares it: another size would make it read
    // past the data or take the wrong elements.
    if (const std::string mismatch = replacementMismatch(*replacement, tensors); !mismatch.empty())
    {
        logError("Warning! Replacement tensors from preprocessor %s do not fit the model's inputs (%s); "
                 "the prepared tensors are used.\n",
            record->Name.c_str(), mismatch.c_str());
        return nullptr;
    }
    return replacement;
}

void useReplacementFrame(InferenceInput_t& input, std::shared_ptr<VideoFrame> replacement)
{
    input.width = static_cast<uint64_t>(replacement->width());
    input.height = static_cast<uint64_t>(replacement->height());
    input.frame = std::move(replacement);
}

} // namespace vyai
