#include "core/model_descriptions.h"

#include <algorithm>
#include <filesystem>
#include <limits>
#include <optional>
#include <stdexcept>

#include "foundations/file_helpers.h"
#include "foundations/json_helpers.h"
#include "foundations/log.h"
#include "foundations/message_codes.h"
#include "foundations/text_helpers.h"
#include "foundations/time_helpers.h"
#include "inference/model_vocabulary.h"
#include "provisioning/file_download.h"
#include "provisioning/model_cache.h"

namespace vyai {

namespace fs = std::filesystem;

namespace {

constexpr const char* kTimeFormat = "%Y-%m-%dT%H:%M:%S";
constexpr const char* kBoxesOutputPrefix = "bboxes-format:xyxysc";
constexpr const char* kScoresOutputPrefix = "scores-";
// Input sides beyond this are no image a camera delivers; the bound keeps byte sizes in range.
constexpr int64_t kMaxInputDimension = 65535;

// Iteration over a JSON array; nothing when the value is no array.
template<typename Visit>
void forEachElement(yyjson_val* array, Visit visit)
{
    size_t index = 0;
    size_t count = 0;
    yyjson_val* element = nullptr;
    yyjson_arr_foreach(array, index, count, element)
    {
        visit(element);
    }
}

/** The device's "parameters"."vyAI" value; null when either is missing. */
yyjson_val* vyAIParameters(yyjson_val* device)
{
    yyjson_val* parameters = yyjson_obj_get(device, "parameters");
    return yyjson_is_obj(parameters) ? yyjson_obj_get(parameters, "vyAI") : nullptr;
}

[[noreturn]] void invalid(const std::string& text)
{
    throw std::runtime_error(text);
}

/** A required key holding an integer in [1, limit]. */
uint64_t requirePositiveInteger(yyjson_val* object, const char* key, int64_t limit)
{
    yyjson_val* value = requireJsonKey(object, key);
    if (!yyjson_is_int(value) || yyjson_get_sint(value) < 1 || yyjson_get_sint(value) > limit)
        invalid(std::string("'") + key + "' must be an integer from 1 to " + std::to_string(limit) + ".");
    return static_cast<uint64_t>(yyjson_get_sint(value));
}

std::array<float, 3> requireThreeNumbers(yyjson_val* object, const char* key)
{
    yyjson_val* values = requireJsonKey(object, key);
    if (!yyjson_is_arr(values) || yyjson_arr_size(values) != 3)
        invalid(std::string("'") + key + "' must have exactly " + std::to_string(3) + " values.");
    std::array<float, 3> numbers{};
    for (size_t i = 0; i < numbers.size(); ++i)
    {
        yyjson_val* value = yyjson_arr_get(values, i);
        numbers[i] = yyjson_is_num(value) ? static_cast<float>(yyjson_get_num(value)) : 0.0f;
    }
    return numbers;
}

void readInputDriverDetails(yyjson_val* details, ModelDetails_t& model)
{
    model.width = requirePositiveInteger(details, "width", kMaxInputDimension);
    model.height = requirePositiveInteger(details, "height", kMaxInputDimension);
    model.channels = requirePositiveInteger(details, "channels", kMaxInputDimension);
    model.vars = requireThreeNumbers(details, "vars");
    model.means = requireThreeNumbers(details, "means");
    yyjson_val* order = requireJsonKey(details, "order");
    model.order = yyjson_is_int(order) && yyjson_get_sint(order) == 1 ? 1 : 0;
}

NamedTensorSpec_t readTensor(yyjson_val* tensor)
{
    NamedTensorSpec_t spec;
    spec.dataType = static_cast<uint32_t>(dataTypeFromString(requireJsonString(tensor, "DataType")));
    spec.name = requireJsonString(tensor, "Name");
    uint64_t byteSize = tensorDataTypeSize(static_cast<int32_t>(spec.dataType));
    forEachElement(requireJsonKey(tensor, "Shape"), [&](yyjson_val* dimension) {
        if (!yyjson_is_int(dimension) || yyjson_get_sint(dimension) < 1)
            invalid("Shape of " + spec.name + " must hold positive integers.");
        const auto extent = static_cast<uint64_t>(yyjson_get_sint(dimension));
        if (byteSize > std::numeric_limits<uint64_t>::max() / extent)
            invalid("Shape of " + spec.name + " is too large.");
        byteSize *= extent;
        spec.shape.push_back(static_cast<int64_t>(extent));
    });
    spec.byteSize = byteSize;
    return spec;
}

void readOutputs(yyjson_val* outputs, ModelDetails_t& model)
{
    forEachElement(outputs, [&](yyjson_val* output) {
        const std::string& name = model.namedOutputs.emplace_back(readTensor(output)).name;
        if (name.size() >= 20 && name.starts_with(kBoxesOutputPrefix))
        {
            model.boxesOutputName = name;
            model.classNames = parseOutputTensorName(name);
        }
        else if (name.size() >= 7 && name.starts_with(kScoresOutputPrefix))
        {
            model.scoresOutputName = name;
            model.scoresClassNames = parseOutputTensorName(name);
        }
    });
}

/** Fills the file fields from the first download for the runtime with a size; false when none matches. */
bool readDownloads(yyjson_val* downloads, const ModelReadingContext& context, ModelDetails_t& model)
{
    bool matched = false;
    size_t index = 0;
    size_t count = 0;
    yyjson_val* download = nullptr;
    yyjson_arr_foreach(downloads, index, count, download)
    {
        const std::string architecture = requireJsonString(download, "RuntimeArchitecture");
        // Without an installed runtime there is no mime type, and no download suits it.
        if (context.runtimeMimeType.empty() || architecture != context.runtimeMimeType)
            continue;
        matched = true;
        model.url = requireJsonString(download, "Url");
        const std::string fileName = modelFileNameFromUrl(model.url);
        if (!isSafeFileName(fileName))
            invalid("Url names no usable file: " + model.url);
        // Models whose URLs end alike must not share their cached and decrypted files.
        const std::string cachedName = model.uuid + "_" + fileName;
        model.decryptedFilePath = (fs::path(context.temporaryDirectory) / cachedName).string();
        model.runtimeName = context.runtimeName;
        model.modelFilePath = (fs::path(context.modelFilesDirectory) / cachedName).string();
        model.keyFilePath = (fs::path(context.keysDirectory) / (model.uuid + ".vyc")).string();

        const std::string lastModified = requireJsonString(download, "LastModified");
        logInfo("Model metadata last modified: %s\n", lastModified.c_str());
        const std::optional<int64_t> lastModifiedTime = parseTimeString(lastModified, kTimeFormat);
        if (!lastModifiedTime)
        {
            logError("Warning: Could not parse LastModified time for model %s: %s\n",
                model.uuid.c_str(), lastModified.c_str());
        }
        model.lastModified = lastModifiedTime.value_or(0);

        yyjson_val* size = requireJsonKey(download, "Size");
        if (yyjson_is_int(size) && yyjson_get_sint(size) > 0)
        {
            model.size = static_cast<uint64_t>(yyjson_get_sint(size));
            model.downloadAvailable = true;
            break;
        }
        logError("Warning! Download has filesize of zero: %s\n", model.url.c_str());
    }
    return matched;
}

/** The rest of a model whose UUID and update time are known; throws on invalid data. */
std::shared_ptr<ModelDetails_t> readModel(yyjson_val* element, const std::string& uuid,
    int64_t updatedAt, const ModelReadingContext& context)
{
    if (!isSafeModelUuid(uuid))
        invalid("UUID may hold only letters, digits and '-': " + uuid);
    auto model = std::make_shared<ModelDetails_t>();
    model->uuid = uuid;
    model->updatedAt = updatedAt;
    model->name = requireJsonString(element, "Name");

    if (!readDownloads(requireJsonKey(element, "Downloads"), context, *model))
    {
        logError("Warning! Could not find download for mimetype: %s\n", context.runtimeMimeType.c_str());
        model->status = kModelFailed;
        model->addError("This model is not compatible with the selected runtime.\nRuntime: "
            + context.runtimeName + " has mimetype: " + context.runtimeMimeType);
    }
    readInputDriverDetails(requireJsonKey(element, "InputDriverDetails"), *model);
    forEachElement(requireJsonKey(element, "NamedInput"),
        [&](yyjson_val* input) { model->namedInputs.push_back(readTensor(input)); });
    readOutputs(requireJsonKey(element, "NamedOutput"), *model);
    return model;
}

/** Reads one model element into the map; false when its data is invalid. */
bool readModelInto(ModelDetailsMap& models, yyjson_val* element, const ModelReadingContext& context,
    MessagingManager& messages)
{
    try
    {
        const std::string uuid = requireJsonString(element, "UUID");
        const std::string updatedText = requireJsonString(element, "UpdatedAt");
        const std::optional<int64_t> updatedAt = parseTimeString(updatedText, kTimeFormat);
        if (!updatedAt)
        {
            logError("Warning: Could not parse UpdatedAt time for model %s: %s\n", uuid.c_str(),
                updatedText.c_str());
            return true;
        }
        // Another device listed the model already: only a newer description replaces it,
        // and only once it has been read in full.
        const auto existing = models.find(uuid);
        if (existing != models.end() && existing->second->updatedAt >= *updatedAt)
            return true;
        models[uuid] = readModel(element, uuid, *updatedAt, context);
        return true;
    }
    catch (const std::exception& error)
    {
        logError("Warning! Skipping model due to invalid data: %s\n", error.what());
        messages.addMessage(kMessageParseModelFailed, parseModelFailedText(error.what()),
            kMessageTypeWarning);
        return false;
    }
}

} // namespace

std::vector<std::string> unconfiguredDeviceIds(yyjson_val* devices)
{
    std::vector<std::string> ids;
    forEachElement(devices, [&](yyjson_val* device) {
        const char* id = yyjson_get_str(yyjson_obj_get(device, "id"));
        yyjson_val* vyAI = vyAIParameters(device);
        if (!id || !vyAI)
            return;
        if (!yyjson_is_obj(vyAI) || !yyjson_obj_get(vyAI, "models") || !yyjson_obj_get(vyAI, "pipelines"))
            ids.emplace_back(id);
    });
    return ids;
}

ModelDetailsMap readModelDetails(
    yyjson_val* devices, const ModelReadingContext& context, MessagingManager& messages)
{
    ModelDetailsMap models;
    bool failed = false;
    forEachElement(devices, [&](yyjson_val* device) {
        const char* id = yyjson_get_str(yyjson_obj_get(device, "id"));
        yyjson_val* vyAI = vyAIParameters(device);
        yyjson_val* list = yyjson_is_obj(vyAI) ? yyjson_obj_get(vyAI, "models") : nullptr;
        if (!id || !list)
            return;
        if (!yyjson_is_true(yyjson_obj_get(vyAI, "PluginEnabled")))
        {
            logInfo("Device %s has plugin disabled. Ignoring assigned models.\n", id);
            return;
        }
        forEachElement(list, [&](yyjson_val* element) {
            failed = !readModelInto(models, element, context, messages) || failed;
        });
    });
    if (!failed)
        messages.removeMessage(kMessageParseModelFailed);
    return models;
}

bool isSafeModelUuid(const std::string& uuid)
{
    return !uuid.empty() && std::all_of(uuid.begin(), uuid.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-';
    });
}

bool isSafeFileName(const std::string& name)
{
    return !name.empty() && name != "." && name != ".."
        && name.find_first_of(std::string("/\\\0", 3)) == std::string::npos;
}

namespace {

struct RawPostprocessingConfig
{
    float confidenceThreshold = 0.25f;
    float iouThreshold = 0.45f;
    std::vector<std::string> classNames;
    std::string architecture; //< empty: YOLO11
};

RawPostprocessingConfig readRawPostprocessingConfig(yyjson_val* root)
{
    RawPostprocessingConfig config;
    if (!yyjson_is_obj(root))
        return config;
    if (yyjson_val* value = yyjson_obj_get(root, "confidence_threshold"); yyjson_is_num(value))
        config.confidenceThreshold = static_cast<float>(yyjson_get_num(value));
    if (yyjson_val* value = yyjson_obj_get(root, "iou_threshold"); yyjson_is_num(value))
        config.iouThreshold = static_cast<float>(yyjson_get_num(value));
    forEachElement(yyjson_obj_get(root, "class_names"), [&](yyjson_val* name) {
        if (yyjson_is_str(name))
            config.classNames.emplace_back(yyjson_get_str(name));
    });
    if (yyjson_val* value = yyjson_obj_get(root, "modelArchitecture"); yyjson_is_str(value))
        config.architecture = yyjson_get_str(value);
    return config;
}

} // namespace

void applyRawPostprocessingConfig(ModelDetailsMap& models, const std::string& dataDirectory)
{
    const std::string path = (fs::path(dataDirectory) / "raw_postprocessing.json").string();
    if (!fs::exists(path))
    {
        logError("[Engine] No raw_postprocessing.json found at '%s'.\n", path.c_str());
        return;
    }
    const std::optional<std::string> text = readTextFile(path);
    if (!text || text->empty())
    {
        logError("Warning! [Engine] raw_postprocessing.json is empty.\n");
        return;
    }
    const JsonDocument document = readJsonDocument(*text);
    if (!document)
    {
        logError("Warning! [Engine] Failed to parse raw_postprocessing.json.\n");
        return;
    }
    const RawPostprocessingConfig config = readRawPostprocessingConfig(yyjson_doc_get_root(document.get()));

    bool recognised = true;
    const auto architecture =
        static_cast<uint32_t>(modelArchitectureFromString(config.architecture, &recognised));
    if (!recognised)
    {
        logError("Warning! [Engine] Unrecognized modelArchitecture '%s' in raw_postprocessing.json; "
            "falling back to YOLO11.\n", config.architecture.c_str());
    }
    logError("[Engine] Applying raw post-processing config: confidence=%.2f, iou=%.2f, classes=%zu, "
        "architecture=%s.\n", config.confidenceThreshold, config.iouThreshold, config.classNames.size(),
        config.architecture.empty() ? "YOLO11" : config.architecture.c_str());

    for (auto& [uuid, model]: models)
    {
        model->rawPostprocessingApplied = true;
        model->confidenceThreshold = config.confidenceThreshold;
        model->iouThreshold = config.iouThreshold;
        model->architecture = architecture;
        model->boxesOutputName = "output0 format:xyxysc";
        if (!config.classNames.empty() && model->classNames.empty())
            model->classNames = config.classNames;
    }
}

} // namespace vyai
