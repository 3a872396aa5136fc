// Every raw layout the stand-in runtime emits decodes back to the boxes it found.
#include <algorithm>

#include <gtest/gtest.h>

#include "decoder_fixtures.h"
#include "detection_output.h"
#include "scoped_temp_directory.h"
#include "test_files.h"

namespace {

using namespace decoder_fixtures;
using cpu_runtime::FoundBox;
using cpu_runtime::OutputFormat;

struct LayoutCase {
    const char* name;
    OutputFormat format;
    uint32_t architecture;
};

class StandinLayout: public testing::TestWithParam<LayoutCase> {};

std::vector<Row> byScore(std::vector<Row> rows)
{
    std::sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) { return a[4] > b[4]; });
    return rows;
}

TEST_P(StandinLayout, DecodesBackToTheFoundBoxes)
{
    cpu_runtime::DetectorModel model;
    model.width = 320;
    model.height = 320;
    model.classes = {{"red", {255, 0, 0}}, {"green", {0, 255, 0}}};
    model.strides = {8, 16, 32};
    model.outputFormat = GetParam().format;
    model.outputName = "output0";
    const std::vector<FoundBox> boxes = {
        {40, 48, 88, 104, 0.875f, 0}, {200, 160, 232, 200, 0.75f, 1}, {120, 200, 136, 212, 0.625f, 0}};

    TensorSet_t* raw = cpu_runtime::makeOutputSet(model, boxes, 5);
    ASSERT_NE(raw, nullptr);
    const Table table = decode(GetParam().architecture, raw, 0.55f, 0.5f, 320, 320);
    vyai::freeTensorSet(raw);
    free(raw);

    EXPECT_EQ(table.id, 5u);
    const std::vector<Row> rows = byScore(table.rows);
    ASSERT_EQ(rows.size(), boxes.size());
    for (size_t i = 0; i < boxes.size(); ++i) {
        const Row expected = {boxes[i].x1, boxes[i].y1, boxes[i].x2, boxes[i].y2, boxes[i].score,
            static_cast<float>(boxes[i].classIndex)};
        for (size_t k = 0; k < 6; ++k)
            EXPECT_NEAR(rows[i][k], expected[k], 1e-3f) << "box " << i << " value " << k;
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, StandinLayout,
    testing::Values(LayoutCase{"yolo_af", OutputFormat::AnchorFreeYolo, 0},
        LayoutCase{"yolo_ab", OutputFormat::AnchorBasedYolo, 1}, LayoutCase{"yolo26", OutputFormat::Yolo26, 2},
        LayoutCase{"yolonas", OutputFormat::YoloNas, 3}, LayoutCase{"rtdetr", OutputFormat::RtDetr, 4},
        LayoutCase{"rfdetr", OutputFormat::RfDetr, 5}, LayoutCase{"ssd", OutputFormat::Ssd, 6},
        LayoutCase{"efficientdet", OutputFormat::EfficientDet, 7}, LayoutCase{"nanodet", OutputFormat::NanoDet, 8},
        LayoutCase{"nanodet_split", OutputFormat::NanoDetSplit, 8},
        LayoutCase{"yolov8_deepx", OutputFormat::YoloV8DeepX, 9}),
    [](const testing::TestParamInfo<LayoutCase>& info) { return std::string(info.param.name); });

struct ModelFileCase {
    const char* output;
    int width;
    bool loads;
};

TEST(StandinLayoutOption, AModelIsRefusedWhenItsFormatCannotServeIt)
{
    const ModelFileCase cases[] = {{R"({"format": "nanodet"})", 320, true}, {R"({"format": "nanodet"})", 64, false},
        {R"({"format": "nanodet_split"})", 64, true}, {R"({"format": "yolov8_deepx", "strides": [8, 16]})", 320, false},
        {R"({"format": "yolov8_deepx"})", 320, true}, {R"({"format": "retinanet"})", 320, false}};
    ScopedTempDirectory directory;
    for (const ModelFileCase& c: cases) {
        const std::string path = directory.file("model.json");
        vyai::test::writeFile(path,
            std::string(R"({"input": {"name": "images", "width": )") + std::to_string(c.width) + R"(, "height": )"
                + std::to_string(c.width) + R"(}, "classes": [{"name": "red", "rgb": [255, 0, 0]}], "output": )"
                + c.output + "}");
        EXPECT_EQ(cpu_runtime::loadDetectorModel(path.c_str()).has_value(), c.loads) << c.output << " " << c.width;
    }
}

} // namespace
