#include "inference/model_vocabulary.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

namespace vyai {
namespace {

TEST(TensorDataType, SizesFollowOnnx)
{
    const struct {
        int32_t type;
        size_t size;
    } cases[] = {
        {TensorDataType_Undefined, 4}, {TensorDataType_Float, 4},     {TensorDataType_Uint8, 1},
        {TensorDataType_Int8, 1},      {TensorDataType_Uint16, 2},    {TensorDataType_Int16, 2},
        {TensorDataType_Int32, 4},     {TensorDataType_Int64, 8},     {TensorDataType_String, 1},
        {TensorDataType_Bool, 1},      {TensorDataType_Float16, 2},   {TensorDataType_Double, 8},
        {TensorDataType_Uint32, 4},    {TensorDataType_Uint64, 8},    {TensorDataType_Complex64, 8},
        {TensorDataType_Complex128, 16}, {TensorDataType_BFloat16, 2}, {-1, 4},
        {1000, 4},
    };
    for (const auto& c : cases)
        EXPECT_EQ(tensorDataTypeSize(c.type), c.size) << "type " << c.type;
}

TEST(TensorDataType, NamesFromModelMetadata)
{
    const struct {
        const char* name;
        int32_t type;
    } cases[] = {
        {"float", 1},    {"float32", 1},  {"FLOAT", 1},    {"uint8_t", 2},  {"UINT8", 2},
        {"int8_t", 3},   {"INT8", 3},     {"uint16_t", 4}, {"UINT16", 4},   {"int16_t", 5},
        {"INT16", 5},    {"int32_t", 6},  {"int", 6},      {"INT32", 6},    {"int64_t", 7},
        {"INT64", 7},    {"bool", 9},     {"BOOL", 9},     {"double", 11},  {"DOUBLE", 11},
        {"uint32_t", 12}, {"UINT32", 12}, {"uint64_t", 13}, {"UINT64", 13},
        // Only the spellings above are known.
        {"Float", 0},    {"float16", 0},  {"FLOAT16", 0},  {"string", 0},   {"", 0},
        {"float ", 0},   {"int32", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(dataTypeFromString(c.name), c.type) << "name '" << c.name << "'";
}

TEST(ModelArchitecture, NamesResolveAfterNormalising)
{
    using enum ModelArchitecture;
    const struct {
        const char* name;
        ModelArchitecture architecture;
        bool found;
    } cases[] = {
        {"yolo11", AnchorFreeYolo, true},     {"YOLO11", AnchorFreeYolo, true},
        {"yolov8", AnchorFreeYolo, true},     {"YOLOv9", AnchorFreeYolo, true},
        {"yolov10", AnchorFreeYolo, true},    {"yolo12", AnchorFreeYolo, true},
        {"YOLOv5", AnchorBasedYolo, true},    {"yolo_v6", AnchorBasedYolo, true},
        {"yolov7", AnchorBasedYolo, true},    {"YOLO26", Yolo26, true},
        {"YOLO-NAS", YoloNas, true},          {"RT-DETR", RtDetr, true},
        {"rf_detr", RfDetr, true},            {"SSD", Ssd, true},
        {"ssd-lite", Ssd, true},              {"MobileDet_V2", Ssd, true},
        {"mobiledetv3", Ssd, true},           {"EfficientDet", EfficientDet, true},
        {"NanoDet", NanoDet, true},           {"YOLO8-DEEPX", Yolov8Deepx, true},
        {"", AnchorFreeYolo, true},           {"yolov11", AnchorFreeYolo, false},
        {"detr", AnchorFreeYolo, false},      {"yolo 11", AnchorFreeYolo, false},
    };
    for (const auto& c : cases) {
        bool found = !c.found;
        EXPECT_EQ(modelArchitectureFromString(c.name, &found), c.architecture) << c.name;
        EXPECT_EQ(found, c.found) << c.name;
    }
    EXPECT_EQ(modelArchitectureFromString("rtdetr"), RtDetr);
}

TEST(IntersectionOverUnion, OverlapsAndDegenerateBoxes)
{
    const struct {
        const char* what;
        Box_t a, b;
        float iou;
    } cases[] = {
        {"identical", {0, 0, 2, 2}, {0, 0, 2, 2}, 1.0f},
        {"half overlap", {0, 0, 2, 2}, {1, 0, 2, 2}, 2.0f / 6.0f},
        {"contained", {0, 0, 4, 4}, {1, 1, 2, 2}, 4.0f / 16.0f},
        {"touching edge", {0, 0, 1, 1}, {1, 0, 1, 1}, 0.0f},
        {"apart", {0, 0, 1, 1}, {5, 5, 1, 1}, 0.0f},
        {"both zero-sized", {1, 1, 0, 0}, {1, 1, 0, 0}, 0.0f},
    };
    for (const auto& c : cases) {
        EXPECT_FLOAT_EQ(intersectionOverUnion(c.a, c.b), c.iou) << c.what;
        EXPECT_FLOAT_EQ(intersectionOverUnion(c.b, c.a), c.iou) << c.what;
    }
}

TEST(FloatEquals, ToleranceIsOneMillionth)
{
    EXPECT_TRUE(floatEquals(0.5f, 0.5f));
    EXPECT_TRUE(floatEquals(0.5f, 0.5f + 5e-7f));
    EXPECT_FALSE(floatEquals(0.5f, 0.5f + 2e-6f));
    EXPECT_FALSE(floatEquals(0.0f, -1e-5f));
}

// A set built the way the runtime builds one: every piece from the C heap.
TensorSet_t* makeHeapTensorSet(int32_t count)
{
    auto* set = static_cast<TensorSet_t*>(calloc(1, sizeof(TensorSet_t)));
    set->id = 7;
    set->count = count;
    set->tensors = static_cast<Tensor_t*>(calloc(count, sizeof(Tensor_t)));
    for (int32_t i = 0; i < count; ++i) {
        Tensor_t& t = set->tensors[i];
        t.name = strdup(("output" + std::to_string(i)).c_str());
        t.type = TensorDataType_Float;
        t.rank = 2;
        t.shape = static_cast<int32_t*>(malloc(2 * sizeof(int32_t)));
        t.shape[0] = 1;
        t.shape[1] = 3;
        t.size = 3 * sizeof(float);
        t.data = malloc(t.size);
    }
    return set;
}

TEST(FreeTensorSet, EmptiesTheSetSoASecondCallIsHarmless)
{
    TensorSet_t* set = makeHeapTensorSet(3);
    freeTensorSet(set);
    EXPECT_EQ(set->count, 0);
    EXPECT_EQ(set->tensors, nullptr);
    EXPECT_EQ(set->id, 7u);
    // An error path followed by the owner's cleanup: must not free the array again
    // (the sanitizer build catches a double free here).
    freeTensorSet(set);
    free(set);
}

TEST(FreeTensorSet, ToleratesNullSetAndMissingPieces)
{
    freeTensorSet(nullptr);

    TensorSet_t set{};
    set.count = 2;
    set.tensors = static_cast<Tensor_t*>(calloc(2, sizeof(Tensor_t)));
    set.tensors[1].name = strdup("only-a-name");
    freeTensorSet(&set);
    EXPECT_EQ(set.tensors, nullptr);

    TensorSet_t noArray{};
    noArray.count = 4;
    freeTensorSet(&noArray);
    EXPECT_EQ(noArray.count, 0);
}

TEST(FreeTensorSet, DeleterReleasesRecordAndContents)
{
    TensorSetPtr owned(makeHeapTensorSet(2));
    EXPECT_EQ(owned->count, 2);
    owned.reset(); // leak check in the sanitizer build
    TensorSetPtr none;
}

} // namespace
} // namespace vyai
