// The stand-in runtime library, loaded and run as the engine runs it, with one model per raw
// output format: decoding each model's output gives the table its "xyxysc" twin gives.
#include <algorithm>

#include <gtest/gtest.h>

#include "decoder_fixtures.h"
#include "inference/runtime_args.h"
#include "inference/runtime_library.h"
#include "runtime_fixtures.h"
#include "scoped_temp_directory.h"
#include "test_files.h"

namespace {

using namespace decoder_fixtures;

constexpr int32_t kSide = 64;

struct Format {
    const char* name;
    uint32_t architecture;
};

// Planar float RGB with a red and a green square on grey.
std::vector<float> twoSquares()
{
    std::vector<float> planes(3 * kSide * kSide, 90.0f);
    const auto fill = [&](int x1, int y1, int x2, int y2, std::array<float, 3> rgb) {
        for (int c = 0; c < 3; ++c)
            for (int y = y1; y < y2; ++y)
                std::fill_n(&planes[(c * kSide + y) * kSide + x1], x2 - x1, rgb[c]);
    };
    fill(8, 8, 24, 24, {255, 0, 0});
    fill(36, 32, 52, 48, {0, 255, 0});
    return planes;
}

std::string modelJson(const char* format)
{
    return std::string(R"({"input": {"name": "images", "width": 64, "height": 64, "layout": "planar"},)")
        + R"("classes": [{"name": "red", "rgb": [255, 0, 0]}, {"name": "green", "rgb": [0, 255, 0]}],)"
        + R"("minPixels": 4, "output": {"format": ")" + format + R"("}})";
}

std::vector<Row> byLeftEdge(std::vector<Row> rows)
{
    std::sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) { return a[0] < b[0]; });
    return rows;
}

TEST(StandinRuntimeDecoding, EveryRawFormatDecodesToTheFinishedTable)
{
    const Format formats[] = {{"xyxysc", 0}, {"yolo_af", 0}, {"yolo_ab", 1}, {"yolo26", 2}, {"yolonas", 3},
        {"rtdetr", 4}, {"rfdetr", 5}, {"ssd", 6}, {"efficientdet", 7}, {"nanodet_split", 8}, {"yolov8_deepx", 9}};
    ScopedTempDirectory root;
    vyai::RuntimeLibrary library(runtime_fixtures::installRuntime(root.path(), VY_STANDIN_RUNTIME));
    const std::vector<std::string> noKeys;
    const vyai::RuntimeArgsView args(noKeys, noKeys);
    ASSERT_EQ(library.init(args.args()), 0) << library.lastError();
    std::vector<std::string> paths;
    for (const Format& format: formats) {
        paths.push_back(root.file(std::string(format.name) + ".json"));
        vyai::test::writeFile(paths.back(), modelJson(format.name));
    }
    std::vector<RuntimeModel_t> models(paths.size());
    for (size_t i = 0; i < paths.size(); ++i)
        models[i].path = paths[i].c_str();
    ASSERT_EQ(library.loadModels(static_cast<int32_t>(models.size()), models.data()), 0) << library.lastError();

    std::vector<Row> finished;
    for (uint32_t model = 0; model < std::size(formats); ++model) {
        vyai::TensorSetPtr input = runtime_fixtures::makeTensorSet(
            {{"images", TensorDataType_Float, {1, 3, kSide, kSide}, runtime_fixtures::toBytes(twoSquares())}}, model);
        ASSERT_EQ(library.enqueueInput(model, input.get()), 0) << library.lastError();
        input.release();
        TensorSet_t* output = nullptr;
        void* aux = &output;
        ASSERT_EQ(library.retrieveOutput(&aux, &output, 5000), 0) << library.lastError();
        if (model == 0) {
            finished = byLeftEdge(takeTable(output).rows); // the "xyxysc" table as it is
            ASSERT_EQ(finished.size(), 2u);
            continue;
        }
        const Table decoded = decode(formats[model].architecture, output, 0.55f, 0.5f, kSide, kSide);
        vyai::freeTensorSet(output);
        free(output);
        EXPECT_EQ(decoded.id, model) << formats[model].name;
        const std::vector<Row> rows = byLeftEdge(decoded.rows);
        ASSERT_EQ(rows.size(), finished.size()) << formats[model].name;
        for (size_t r = 0; r < rows.size(); ++r) {
            for (size_t k = 0; k < 6; ++k)
                EXPECT_NEAR(rows[r][k], finished[r][k], 1e-3f) << formats[model].name << " row " << r << " value " << k;
        }
    }
    EXPECT_EQ(library.cleanup(), 0);
}

} // namespace
