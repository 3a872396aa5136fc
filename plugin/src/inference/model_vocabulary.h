#pragma once

// The vocabulary shared by everything that builds or reads tensors: element type
// names and sizes, model architecture names, box overlap. All functions are pure
// and safe to call from any thread.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "inference/tensor.h"

namespace vyai {

// Frees each tensor's name, shape and data, then the tensor array, and leaves the
// set empty (count 0, array null), so a second call does nothing. A null set is
// ignored. The set record itself stays with its owner.
void freeTensorSet(TensorSet_t* set);

// Releases a whole set made on the C heap: its contents, then the record.
struct TensorSetDeleter {
    void operator()(TensorSet_t* set) const;
};
using TensorSetPtr = std::unique_ptr<TensorSet_t, TensorSetDeleter>;

// Bytes per element of a TensorDataType code (ONNX sizes); 4 for unknown codes.
size_t tensorDataTypeSize(int32_t type);

// TensorDataType code of a type name as model metadata spells it ("float32",
// "INT8", "int" ...). Exact, case-sensitive match; unknown names give 0.
int32_t dataTypeFromString(std::string name);

// Index of the raw-output decoder for a model architecture.
enum class ModelArchitecture : uint32_t {
    AnchorFreeYolo = 0,
    AnchorBasedYolo = 1,
    Yolo26 = 2,
    YoloNas = 3,
    RtDetr = 4,
    RfDetr = 5,
    Ssd = 6,
    EfficientDet = 7,
    NanoDet = 8,
    Yolov8Deepx = 9,
};

// Architecture of a name such as "YOLO-NAS" or "yolo11": '-' and '_' are dropped
// and ASCII letters lower-cased before the lookup. An empty name gives
// AnchorFreeYolo with *found true; an unknown name gives AnchorFreeYolo with
// *found false. found may be null.
ModelArchitecture modelArchitectureFromString(const std::string& name, bool* found = nullptr);

// A box as x, y, width, height.
struct Box_t {
    float x = 0.0f;
    float y = 0.0f;
    float width = 0.0f;
    float height = 0.0f;
};

// Intersection over union of two boxes; 0 when they do not overlap or the union
// is not positive.
float intersectionOverUnion(const Box_t& a, const Box_t& b);

// True when a and b differ by less than 1e-6.
bool floatEquals(float a, float b);

} // namespace vyai
