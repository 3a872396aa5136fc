#include "detector_model.h"

#include <cstring>
#include <memory>
#include <utility>

#include <yyjson.h>

#include "last_error.h"

namespace cpu_runtime {

namespace {

struct DocumentDeleter {
    void operator()(yyjson_doc* document) const { yyjson_doc_free(document); }
};

bool readColour(yyjson_val* array, std::array<float, 3>& colour)
{
    if (!yyjson_is_arr(array) || yyjson_arr_size(array) != 3)
        return false;
    for (size_t c = 0; c < 3; ++c) {
        yyjson_val* item = yyjson_arr_get(array, c);
        if (!yyjson_is_num(item))
            return false;
        colour[c] = static_cast<float>(yyjson_get_num(item));
    }
    return true;
}

bool readCount(yyjson_val* object, const char* key, uint32_t& value)
{
    yyjson_val* item = yyjson_obj_get(object, key);
    if (!item)
        return true;
    if (!yyjson_is_uint(item) || yyjson_get_uint(item) > UINT32_MAX)
        return false;
    value = static_cast<uint32_t>(yyjson_get_uint(item));
    return true;
}

std::optional<InputLayout> parseLayout(const char* text)
{
    if (!text || std::strcmp(text, "planar") == 0)
        return InputLayout::Planar;
    if (std::strcmp(text, "interleaved") == 0)
        return InputLayout::Interleaved;
    if (std::strcmp(text, "bytes") == 0)
        return InputLayout::Bytes;
    return std::nullopt;
}

std::optional<OutputFormat> parseFormat(const char* text)
{
    static constexpr std::pair<const char*, OutputFormat> kFormats[] = {{"xyxysc", OutputFormat::Xyxysc},
        {"yolo_af", OutputFormat::AnchorFreeYolo}, {"yolo_ab", OutputFormat::AnchorBasedYolo},
        {"yolo26", OutputFormat::Yolo26}, {"yolonas", OutputFormat::YoloNas},
        {"yolov8_deepx", OutputFormat::YoloV8DeepX}, {"rtdetr", OutputFormat::RtDetr},
        {"rfdetr", OutputFormat::RfDetr}, {"ssd", OutputFormat::Ssd}, {"efficientdet", OutputFormat::EfficientDet},
        {"nanodet", OutputFormat::NanoDet}, {"nanodet_split", OutputFormat::NanoDetSplit}};
    if (!text)
        return OutputFormat::Xyxysc;
    for (const auto& [name, format]: kFormats) {
        if (std::strcmp(text, name) == 0)
            return format;
    }
    return std::nullopt;
}

// The distance-bin heads are decoded with strides 8, 16 and 32 given by grid size, and
// NanoDet's single tensor is recognised by its anchor count: refuse models they cannot serve.
const char* checkFormatFits(const DetectorModel& model)
{
    const OutputFormat f = model.outputFormat;
    const bool binHead = f == OutputFormat::YoloV8DeepX || f == OutputFormat::NanoDet || f == OutputFormat::NanoDetSplit;
    if (binHead
        && (model.strides != std::vector<uint32_t>{8, 16, 32} || model.width % 32 != 0 || model.height % 32 != 0))
        return "this \"output.format\" takes strides 8, 16 and 32 and sides that are multiples of 32";
    const bool tableSize = model.width == 320 || model.width == 416 || model.width == 512 || model.width == 640;
    if (f == OutputFormat::NanoDet && (model.width != model.height || !tableSize))
        return "\"nanodet\" takes a square input of 320, 416, 512 or 640";
    if (f == OutputFormat::NanoDetSplit && model.width != model.height)
        return "\"nanodet_split\" takes a square input";
    if (f == OutputFormat::RtDetr && model.classes.size() < 2)
        return "\"rtdetr\" takes two classes or more";
    return nullptr;
}

// Fills everything but the file-level checks; the text names the first bad member.
const char* parseModel(yyjson_val* root, DetectorModel& model)
{
    yyjson_val* input = yyjson_obj_get(root, "input");
    if (!yyjson_is_obj(input))
        return "\"input\" must be an object";
    const char* name = yyjson_get_str(yyjson_obj_get(input, "name"));
    if (!name)
        return "\"input.name\" must be a string";
    model.inputName = name;
    const std::optional<InputLayout> layout = parseLayout(yyjson_get_str(yyjson_obj_get(input, "layout")));
    if (!layout)
        return "\"input.layout\" must be \"planar\", \"interleaved\" or \"bytes\"";
    model.layout = *layout;
    model.inputType = model.layout == InputLayout::Bytes ? TensorDataType_Uint8 : TensorDataType_Float;
    if (yyjson_val* type = yyjson_obj_get(input, "type")) {
        if (!yyjson_is_int(type))
            return "\"input.type\" must be an integer";
        model.inputType = static_cast<int32_t>(yyjson_get_int(type));
    }
    if (!readCount(input, "width", model.width) || !readCount(input, "height", model.height) || model.width == 0
        || model.height == 0)
        return "\"input.width\" and \"input.height\" must be positive integers";

    if (yyjson_val* means = yyjson_obj_get(root, "means"); means && !readColour(means, model.means))
        return "\"means\" must hold three numbers";
    if (yyjson_val* vars = yyjson_obj_get(root, "vars"); vars && !readColour(vars, model.vars))
        return "\"vars\" must hold three numbers";

    yyjson_val* classes = yyjson_obj_get(root, "classes");
    if (!yyjson_is_arr(classes) || yyjson_arr_size(classes) == 0)
        return "\"classes\" must be a non-empty array";
    size_t index = 0;
    size_t count = 0;
    yyjson_val* item = nullptr;
    yyjson_arr_foreach(classes, index, count, item)
    {
        ColourClass colourClass;
        const char* className = yyjson_get_str(yyjson_obj_get(item, "name"));
        if (!className || !readColour(yyjson_obj_get(item, "rgb"), colourClass.rgb))
            return "every class needs a \"name\" and three \"rgb\" numbers";
        colourClass.name = className;
        model.classes.push_back(std::move(colourClass));
    }

    if (yyjson_val* tolerance = yyjson_obj_get(root, "tolerance")) {
        if (!yyjson_is_num(tolerance) || yyjson_get_num(tolerance) < 0)
            return "\"tolerance\" must be a number of at least 0";
        model.tolerance = static_cast<float>(yyjson_get_num(tolerance));
    }
    if (!readCount(root, "minPixels", model.minPixels))
        return "\"minPixels\" must be an unsigned integer";

    yyjson_val* output = yyjson_obj_get(root, "output");
    if (output && !yyjson_is_obj(output))
        return "\"output\" must be an object";
    const std::optional<OutputFormat> format = parseFormat(yyjson_get_str(yyjson_obj_get(output, "format")));
    if (!format)
        return "\"output.format\" is not a known format";
    model.outputFormat = *format;
    const char* outputName = yyjson_get_str(yyjson_obj_get(output, "name"));
    model.outputName = outputName ? outputName
        : model.outputFormat == OutputFormat::Xyxysc ? "output0 format:xyxysc"
                                                     : "output0";
    if (yyjson_val* strides = yyjson_obj_get(output, "strides")) {
        if (!yyjson_is_arr(strides))
            return "\"output.strides\" must be an array";
        yyjson_arr_foreach(strides, index, count, item)
        {
            if (!yyjson_is_uint(item) || yyjson_get_uint(item) == 0 || yyjson_get_uint(item) > model.width)
                return "every stride must be a positive integer no larger than the width";
            model.strides.push_back(static_cast<uint32_t>(yyjson_get_uint(item)));
        }
    } else {
        model.strides = {8, 16, 32};
    }
    return checkFormatFits(model);
}

size_t elementSize(InputLayout layout)
{
    return layout == InputLayout::Bytes ? 1 : sizeof(float);
}

} // namespace

std::optional<DetectorModel> loadDetectorModel(const char* path)
{
    if (!path) {
        fail(1, "Model path is null.");
        return std::nullopt;
    }
    yyjson_read_err error{};
    const std::unique_ptr<yyjson_doc, DocumentDeleter> document(
        yyjson_read_file(path, YYJSON_READ_NOFLAG, nullptr, &error));
    if (!document) {
        fail(1, "Cannot read model %s: %s.", path, error.msg ? error.msg : "unknown error");
        return std::nullopt;
    }
    yyjson_val* root = yyjson_doc_get_root(document.get());
    if (!yyjson_is_obj(root)) {
        fail(1, "Model %s is not a JSON object.", path);
        return std::nullopt;
    }
    DetectorModel model;
    if (const char* problem = parseModel(root, model)) {
        fail(1, "Model %s is not valid: %s.", path, problem);
        return std::nullopt;
    }
    return model;
}

const Tensor_t* findImageTensor(const DetectorModel& model, const TensorSet_t& input)
{
    for (int32_t i = 0; i < input.count; ++i) {
        const Tensor_t& tensor = input.tensors[i];
        if (!tensor.name || model.inputName != tensor.name)
            continue;
        const uint64_t expectedSize = uint64_t{model.width} * model.height * 3 * elementSize(model.layout);
        if (tensor.type != model.inputType) {
            fail(22, "Input \"%s\" has type %d, the model takes %d.", tensor.name, tensor.type, model.inputType);
            return nullptr;
        }
        if (tensor.size != expectedSize || !tensor.data) {
            fail(22, "Input \"%s\" holds %llu bytes, the model takes %llu.", tensor.name,
                static_cast<unsigned long long>(tensor.size), static_cast<unsigned long long>(expectedSize));
            return nullptr;
        }
        return &tensor;
    }
    fail(22, "Input set has no tensor named \"%s\".", model.inputName.c_str());
    return nullptr;
}

} // namespace cpu_runtime
