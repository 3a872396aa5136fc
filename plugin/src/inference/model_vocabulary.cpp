#include "inference/model_vocabulary.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <string_view>
#include <utility>

namespace vyai {

void freeTensorSet(TensorSet_t* set)
{
    if (!set)
        return;
    if (set->tensors) {
        for (int32_t i = 0; i < set->count; ++i) {
            Tensor_t& tensor = set->tensors[i];
            free(tensor.name);
            free(tensor.shape);
            free(tensor.data);
        }
        free(set->tensors);
    }
    // Cleared so that an error path followed by the owner's cleanup cannot free twice.
    set->tensors = nullptr;
    set->count = 0;
}

void TensorSetDeleter::operator()(TensorSet_t* set) const
{
    freeTensorSet(set);
    free(set);
}

size_t tensorDataTypeSize(int32_t type)
{
    switch (type) {
        case TensorDataType_Uint8:
        case TensorDataType_Int8:
        case TensorDataType_String:
        case TensorDataType_Bool:
            return 1;
        case TensorDataType_Uint16:
        case TensorDataType_Int16:
        case TensorDataType_Float16:
        case TensorDataType_BFloat16:
            return 2;
        case TensorDataType_Int64:
        case TensorDataType_Double:
        case TensorDataType_Uint64:
        case TensorDataType_Complex64:
            return 8;
        case TensorDataType_Complex128:
            return 16;
        default:
            return 4;
    }
}

int32_t dataTypeFromString(std::string name)
{
    static constexpr std::pair<std::string_view, TensorDataType> names[] = {
        {"float", TensorDataType_Float},     {"float32", TensorDataType_Float},
        {"FLOAT", TensorDataType_Float},     {"uint8_t", TensorDataType_Uint8},
        {"UINT8", TensorDataType_Uint8},     {"int8_t", TensorDataType_Int8},
        {"INT8", TensorDataType_Int8},       {"uint16_t", TensorDataType_Uint16},
        {"UINT16", TensorDataType_Uint16},   {"int16_t", TensorDataType_Int16},
        {"INT16", TensorDataType_Int16},     {"int32_t", TensorDataType_Int32},
        {"int", TensorDataType_Int32},       {"INT32", TensorDataType_Int32},
        {"int64_t", TensorDataType_Int64},   {"INT64", TensorDataType_Int64},
        {"bool", TensorDataType_Bool},       {"BOOL", TensorDataType_Bool},
        {"double", TensorDataType_Double},   {"DOUBLE", TensorDataType_Double},
        {"uint32_t", TensorDataType_Uint32}, {"UINT32", TensorDataType_Uint32},
        {"uint64_t", TensorDataType_Uint64}, {"UINT64", TensorDataType_Uint64},
    };
    for (const auto& [known, code] : names) {
        if (known == name)
            return code;
    }
    return TensorDataType_Undefined;
}

ModelArchitecture modelArchitectureFromString(const std::string& name, bool* found)
{
    using enum ModelArchitecture;
    static const std::map<std::string, ModelArchitecture> architectures = {
        {"yolo11", AnchorFreeYolo},   {"yolov8", AnchorFreeYolo},     {"yolov9", AnchorFreeYolo},
        {"yolov10", AnchorFreeYolo},  {"yolo12", AnchorFreeYolo},     {"yolov5", AnchorBasedYolo},
        {"yolov6", AnchorBasedYolo},  {"yolov7", AnchorBasedYolo},    {"yolo26", Yolo26},
        {"yolonas", YoloNas},         {"rtdetr", RtDetr},             {"rfdetr", RfDetr},
        {"ssd", Ssd},                 {"ssdlite", Ssd},               {"mobiledetv2", Ssd},
        {"mobiledetv3", Ssd},         {"efficientdet", EfficientDet}, {"nanodet", NanoDet},
        {"yolo8deepx", Yolov8Deepx},
    };

    if (found)
        *found = true;
    if (name.empty())
        return AnchorFreeYolo;

    std::string normalised;
    normalised.reserve(name.size());
    for (char c : name) {
        if (c == '-' || c == '_')
            continue;
        normalised.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
    }

    const auto it = architectures.find(normalised);
    if (it != architectures.end())
        return it->second;
    if (found)
        *found = false;
    return AnchorFreeYolo;
}

float intersectionOverUnion(const Box_t& a, const Box_t& b)
{
    const float overlapWidth =
        std::max(std::min(a.x + a.width, b.x + b.width) - std::max(a.x, b.x), 0.0f);
    const float overlapHeight =
        std::max(std::min(a.y + a.height, b.y + b.height) - std::max(a.y, b.y), 0.0f);
    const float intersection = overlapWidth * overlapHeight;
    if (intersection == 0.0f)
        return 0.0f;
    const float unionArea = a.width * a.height + b.width * b.height - intersection;
    if (unionArea <= 0.0f)
        return 0.0f;
    return intersection / unionArea;
}

bool floatEquals(float a, float b)
{
    return std::fabs(a - b) < 1e-6f;
}

} // namespace vyai
