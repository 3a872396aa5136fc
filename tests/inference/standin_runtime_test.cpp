// The stand-in CPU runtime, driven through RuntimeLibrary as the engine drives it.
#include <algorithm>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "inference/runtime_args.h"
#include "inference/runtime_library.h"
#include "runtime_fixtures.h"
#include "scoped_temp_directory.h"
#include "test_files.h"

namespace {

using namespace runtime_fixtures;
using vyai::RuntimeLibrary;
using vyai::TensorSetPtr;
using vyai::test::writeFile;

constexpr int kWidth = 32;
constexpr int kHeight = 24;

struct Rgb {
    float r, g, b;
};

struct Rect {
    int x1, y1, x2, y2; // x2, y2 one past the last pixel
};

// An RGB image of kWidth × kHeight with grey background and filled rectangles.
class Picture
{
public:
    Picture(): m_pixels(kWidth * kHeight, Rgb{90, 90, 90}) {}

    void fill(const Rect& rect, Rgb colour)
    {
        for (int y = rect.y1; y < rect.y2; ++y)
            std::fill(&m_pixels[y * kWidth + rect.x1], &m_pixels[y * kWidth + rect.x2], colour);
    }

    // Normalised as (value - mean) / var, planar or interleaved.
    std::vector<float> floats(bool planar, float mean = 0.0f, float var = 1.0f) const
    {
        std::vector<float> values(m_pixels.size() * 3);
        for (size_t p = 0; p < m_pixels.size(); ++p) {
            const float channels[3] = {m_pixels[p].r, m_pixels[p].g, m_pixels[p].b};
            for (size_t c = 0; c < 3; ++c)
                values[planar ? c * m_pixels.size() + p : p * 3 + c] = (channels[c] - mean) / var;
        }
        return values;
    }

    std::vector<uint8_t> bytes() const
    {
        std::vector<uint8_t> values;
        for (const float value: floats(false))
            values.push_back(static_cast<uint8_t>(value));
        return values;
    }

private:
    std::vector<Rgb> m_pixels;
};

constexpr char kClasses[] =
    R"("classes": [{"name": "red", "rgb": [255, 0, 0]}, {"name": "green", "rgb": [0, 255, 0]}])";

std::string modelJson(const std::string& input, const std::string& extra = "")
{
    return std::string("{\"input\": ") + input + ", " + kClasses + ", \"minPixels\": 4" + extra + "}";
}

class StandinRuntime: public testing::Test
{
protected:
    void SetUp() override { m_library = std::make_unique<RuntimeLibrary>(installRuntime(m_root.path(), VY_STANDIN_RUNTIME)); }

    void TearDown() override
    {
        EXPECT_EQ(m_library->cleanup(), 0);
        m_library.reset();
    }

    void init(std::vector<std::string> keys = {}, std::vector<std::string> values = {})
    {
        const vyai::RuntimeArgsView view(keys, values);
        ASSERT_EQ(m_library->init(view.args()), 0) << m_library->lastError();
    }

    // Writes the models and loads them, in order.
    int32_t load(const std::vector<std::string>& models)
    {
        std::vector<std::string> paths;
        for (size_t i = 0; i < models.size(); ++i) {
            paths.push_back((m_root.path() / ("model" + std::to_string(i) + ".json")).string());
            writeFile(paths.back(), models[i]);
        }
        std::vector<RuntimeModel_t> records(models.size());
        for (size_t i = 0; i < models.size(); ++i)
            records[i].path = paths[i].c_str();
        return m_library->loadModels(static_cast<int32_t>(records.size()), records.data());
    }

    TensorSetPtr retrieve(uint32_t timeoutMs = 5000)
    {
        TensorSet_t* output = nullptr;
        void* aux = &output;
        const int32_t result = m_library->retrieveOutput(&aux, &output, timeoutMs);
        EXPECT_EQ(aux, nullptr);
        EXPECT_EQ(result, 0) << m_library->lastError();
        return TensorSetPtr(output);
    }

    // Enqueues and hands the set over on success; returns the runtime's result.
    int32_t enqueue(uint32_t model, TensorSetPtr& set)
    {
        const int32_t result = m_library->enqueueInput(model, set.get());
        if (result == 0)
            set.release();
        return result;
    }

    ScopedTempDirectory m_root;
    std::unique_ptr<RuntimeLibrary> m_library;
};

constexpr char kPlanarInput[] = R"({"name": "images", "width": 32, "height": 24, "layout": "planar"})";
const Rect kRedBox{4, 3, 10, 8};
const Rect kGreenBox{20, 10, 26, 16};

Picture twoBoxes()
{
    Picture picture;
    picture.fill(kRedBox, {250, 10, 5});
    picture.fill(kGreenBox, {0, 240, 30});
    picture.fill({0, 20, 2, 22}, {255, 0, 0}); // 4 pixels: kept by minPixels 4
    picture.fill({30, 0, 31, 3}, {255, 0, 0}); // 3 pixels: dropped
    return picture;
}

std::vector<float> row(const Rect& rect, float score, int classIndex)
{
    return {float(rect.x1), float(rect.y1), float(rect.x2), float(rect.y2), score, float(classIndex)};
}

TEST_F(StandinRuntime, FindsColouredBoxesInEveryInputLayout)
{
    init();
    ASSERT_EQ(load({modelJson(kPlanarInput, R"(, "output": {"name": "output0 format:xyxysc;0:red;1:green"})"),
                  modelJson(R"({"name": "image-", "width": 32, "height": 24, "layout": "interleaved"})",
                      R"(, "means": [10, 20, 30], "vars": [2, 2, 2])"),
                  modelJson(R"({"name": "image-", "width": 32, "height": 24, "layout": "bytes"})")}),
        0)
        << m_library->lastError();

    const Picture picture = twoBoxes();
    std::vector<float> interleaved = picture.floats(false);
    for (size_t i = 0; i < interleaved.size(); ++i)
        interleaved[i] = (interleaved[i] - (i % 3 == 0 ? 10.0f : i % 3 == 1 ? 20.0f : 30.0f)) / 2.0f;
    const std::vector<TensorContent> inputs[] = {
        {{"images", TensorDataType_Float, {1, 3, kHeight, kWidth}, toBytes(picture.floats(true))}},
        {{"mask-", TensorDataType_Uint8, {kHeight, kWidth}, std::vector<uint8_t>(kWidth * kHeight, 1)},
            {"image-", TensorDataType_Float, {1, kHeight, kWidth, 3}, toBytes(interleaved)}},
        {{"image-", TensorDataType_Uint8, {1, kHeight, kWidth, 3}, picture.bytes()}},
    };
    const std::vector<float> expected = [] {
        std::vector<float> rows = row(kRedBox, 1.0f, 0);
        for (float value: row({0, 20, 2, 22}, 1.0f, 0))
            rows.push_back(value);
        for (float value: row(kGreenBox, 1.0f, 1))
            rows.push_back(value);
        return rows;
    }();

    for (uint32_t model = 0; model < 3; ++model) {
        TensorSetPtr input = makeTensorSet(inputs[model], 40 + model);
        ASSERT_EQ(enqueue(model, input), 0) << m_library->lastError();
        const TensorSetPtr output = retrieve();
        ASSERT_TRUE(output);
        EXPECT_EQ(output->id, 40 + model);
        ASSERT_EQ(output->count, 1);
        const Tensor_t& table = output->tensors[0];
        EXPECT_STREQ(table.name, model == 0 ? "output0 format:xyxysc;0:red;1:green" : "output0 format:xyxysc");
        EXPECT_EQ(table.type, TensorDataType_Float);
        EXPECT_EQ(shapeOf(table), (std::vector<int32_t>{3, 6}));
        EXPECT_EQ(floatsOf(table), expected) << "model " << model;
    }
}

TEST_F(StandinRuntime, AnchorFreeYoloPutsEachBoxOnEveryStride)
{
    init();
    ASSERT_EQ(load({modelJson(kPlanarInput, R"(, "output": {"format": "yolo_af", "strides": [4, 8]})")}), 0)
        << m_library->lastError();
    Picture picture;
    picture.fill({8, 4, 16, 12}, {0, 255, 0}); // centre (12, 8)
    TensorSetPtr input = makeTensorSet({{"images", TensorDataType_Float, {1, 3, kHeight, kWidth},
        toBytes(picture.floats(true))}});
    ASSERT_EQ(enqueue(0, input), 0);
    const TensorSetPtr output = retrieve();
    ASSERT_TRUE(output);
    ASSERT_EQ(output->count, 1);
    const Tensor_t& tensor = output->tensors[0];
    EXPECT_STREQ(tensor.name, "output0");
    const int anchors = 8 * 6 + 4 * 3;
    ASSERT_EQ(shapeOf(tensor), (std::vector<int32_t>{1, 6, anchors}));
    const std::vector<float> values = floatsOf(tensor);

    const struct {
        int anchor;
        float score;
    } cells[] = {{2 * 8 + 3, 1.0f}, {8 * 6 + 1 * 4 + 1, 0.9f}};
    float total = 0.0f;
    for (const float value: values)
        total += value;
    float expectedTotal = 0.0f;
    for (const auto& cell: cells) {
        const float expected[6] = {12, 8, 8, 8, 0, cell.score};
        for (int channel = 0; channel < 6; ++channel) {
            EXPECT_FLOAT_EQ(values[channel * anchors + cell.anchor], expected[channel]) << channel;
            expectedTotal += expected[channel];
        }
    }
    EXPECT_FLOAT_EQ(total, expectedTotal) << "nothing but the two cells is set";
}

TEST_F(StandinRuntime, RefusedInputStaysWithTheCaller)
{
    init();
    ASSERT_EQ(load({modelJson(kPlanarInput)}), 0);
    const struct {
        uint32_t model;
        std::vector<TensorContent> tensors;
        std::string error;
    } cases[] = {
        {0, {{"images", TensorDataType_Float, {1, 3, kHeight, kWidth}, std::vector<uint8_t>(100)}},
            "Input \"images\" holds 100 bytes, the model takes 9216."},
        {0, {{"images", TensorDataType_Uint8, {1, 3, kHeight, kWidth}, std::vector<uint8_t>(9216)}},
            "Input \"images\" has type 2, the model takes 1."},
        {0, {{"image-", TensorDataType_Float, {1}, std::vector<uint8_t>(4)}}, "Input set has no tensor named \"images\"."},
        {1, {{"images", TensorDataType_Float, {1}, std::vector<uint8_t>(4)}}, "Model index 1 is not loaded (1 models)."},
        {0, {}, "runtime_enqueue_input: the input set is null or empty."},
    };
    for (const auto& testCase: cases) {
        TensorSetPtr input = makeTensorSet(testCase.tensors);
        EXPECT_EQ(enqueue(testCase.model, input), 22);
        EXPECT_TRUE(input); // still ours: freed here, which ASan checks
        EXPECT_EQ(m_library->lastError(), testCase.error);
    }
}

TEST_F(StandinRuntime, ManyThreadsEnqueueWhileOneRetrieves)
{
    init();
    ASSERT_EQ(load({modelJson(kPlanarInput)}), 0);
    const std::vector<uint8_t> image = toBytes(twoBoxes().floats(true));
    constexpr uint32_t kThreads = 6;
    constexpr uint32_t kPerThread = 15;

    std::multiset<uint32_t> ids;
    std::thread retriever([&] {
        for (uint32_t i = 0; i < kThreads * kPerThread; ++i) {
            const TensorSetPtr output = retrieve();
            if (!output)
                return;
            ids.insert(output->id);
            EXPECT_EQ(output->tensors[0].size, 3 * 6 * sizeof(float));
        }
    });
    std::vector<std::thread> producers;
    for (uint32_t t = 0; t < kThreads; ++t) {
        producers.emplace_back([&, t] {
            for (uint32_t i = 0; i < kPerThread; ++i) {
                TensorSetPtr input =
                    makeTensorSet({{"images", TensorDataType_Float, {1, 3, kHeight, kWidth}, image}}, t * 100 + i);
                EXPECT_EQ(enqueue(0, input), 0);
            }
        });
    }
    for (std::thread& producer: producers)
        producer.join();
    retriever.join();

    std::multiset<uint32_t> expected;
    for (uint32_t t = 0; t < kThreads; ++t)
        for (uint32_t i = 0; i < kPerThread; ++i)
            expected.insert(t * 100 + i);
    EXPECT_EQ(ids, expected);
}

TEST_F(StandinRuntime, RetrieveWaitsThenTimesOut)
{
    init();
    TensorSet_t* output = nullptr;
    EXPECT_EQ(m_library->retrieveOutput(nullptr, &output, 20), RUNTIME_RESULT_TIMEOUT);
    EXPECT_EQ(output, nullptr);
}

TEST_F(StandinRuntime, CleanupIsSafeBeforeInitTwiceAndWithWorkQueued)
{
    EXPECT_EQ(m_library->cleanup(), 0);
    TensorSet_t* output = nullptr;
    EXPECT_NE(m_library->retrieveOutput(nullptr, &output, 1), 0);
    EXPECT_EQ(m_library->lastError(), "Runtime not initialized.");

    init({"latency_ms"}, {"10000"});
    ASSERT_EQ(load({modelJson(kPlanarInput)}), 0);
    for (uint32_t i = 0; i < 3; ++i) {
        TensorSetPtr input = makeTensorSet(
            {{"images", TensorDataType_Float, {1, 3, kHeight, kWidth}, toBytes(twoBoxes().floats(true))}}, i);
        ASSERT_EQ(enqueue(0, input), 0);
    }
    // Ends the worker in the middle of its latency and frees what is queued (ASan checks).
    EXPECT_EQ(m_library->cleanup(), 0);
    EXPECT_EQ(m_library->cleanup(), 0);

    // And starts again.
    init();
    ASSERT_EQ(load({modelJson(kPlanarInput)}), 0);
    TensorSetPtr input = makeTensorSet(
        {{"images", TensorDataType_Float, {1, 3, kHeight, kWidth}, toBytes(twoBoxes().floats(true))}}, 7);
    ASSERT_EQ(enqueue(0, input), 0);
    EXPECT_EQ(retrieve()->id, 7u);
}

TEST_F(StandinRuntime, FaultsStartAfterTheGivenNumberOfCalls)
{
    const std::vector<uint8_t> image = toBytes(twoBoxes().floats(true));
    const auto makeInput = [&] { return makeTensorSet({{"images", TensorDataType_Float, {1, 3, kHeight, kWidth}, image}}); };

    init({"fault", "fault_after"}, {"enqueue", "2"});
    ASSERT_EQ(load({modelJson(kPlanarInput)}), 0);
    for (int i = 0; i < 2; ++i) {
        TensorSetPtr input = makeInput();
        EXPECT_EQ(enqueue(0, input), 0);
    }
    TensorSetPtr refused = makeInput();
    EXPECT_EQ(enqueue(0, refused), 5);
    EXPECT_EQ(m_library->lastError(), "Injected fault in runtime_enqueue_input.");
    ASSERT_EQ(m_library->cleanup(), 0);

    init({"fault"}, {"retrieve"});
    TensorSet_t* output = nullptr;
    EXPECT_EQ(m_library->retrieveOutput(nullptr, &output, 1), 5);
    EXPECT_EQ(m_library->lastError(), "Injected fault in runtime_retrieve_output.");
    ASSERT_EQ(m_library->cleanup(), 0);

    init({"fault"}, {"load_models"});
    EXPECT_EQ(load({modelJson(kPlanarInput)}), 1);
    EXPECT_EQ(m_library->lastError(), "Injected fault in runtime_load_models.");
    ASSERT_EQ(m_library->cleanup(), 0);

    init({"fault"}, {"cleanup"});
    EXPECT_EQ(m_library->cleanup(), 1);
    EXPECT_EQ(m_library->lastError(), "Injected fault in runtime_cleanup.");
}

TEST_F(StandinRuntime, BadModelFilesFailTheLoadWithTheirReason)
{
    init();
    EXPECT_EQ(load({modelJson(kPlanarInput), "{\"input\": 1}"}), 1);
    EXPECT_NE(m_library->lastError().find("model1.json is not valid: \"input\" must be an object."), std::string::npos)
        << m_library->lastError();
    EXPECT_EQ(load({"not json"}), 1);
    EXPECT_NE(m_library->lastError().find("Cannot read model"), std::string::npos) << m_library->lastError();

    RuntimeModel_t missing{};
    missing.path = "/nonexistent/model.json";
    EXPECT_EQ(m_library->loadModels(1, &missing), 1);
}

} // namespace
