// The YOLO-family decoders on hand-built heads with known boxes.
#include <cmath>
#include <cstring>
#include <random>
#include <thread>

#include <gtest/gtest.h>

#include "decoder_fixtures.h"

namespace {

using namespace decoder_fixtures;

// Anchor-free head: channel-major [1, 4 + classes, n].
struct AnchorFreeHead {
    AnchorFreeHead(int32_t classes, int32_t n): classes(classes), n(n)
    {
        output.zeros("output0", {1, 4 + classes, n});
    }
    void put(int32_t i, float cx, float cy, float w, float h, int32_t cls, float score)
    {
        float* d = output.floats(0);
        d[0 * n + i] = cx;
        d[1 * n + i] = cy;
        d[2 * n + i] = w;
        d[3 * n + i] = h;
        d[(4 + cls) * n + i] = score;
    }
    int32_t classes;
    int32_t n;
    OutputSet output;
};

Table anchorFreeTable(int32_t n, int32_t crossChunk)
{
    AnchorFreeHead head(2, n);
    head.put(5, 8, 8, 16, 16, 0, 0.6f);
    head.put(10, 100, 80, 40, 20, 1, 0.9f);
    head.put(11, 104, 80, 40, 20, 1, 0.8f); // overlap 720/880 with 10
    head.put(12, 100, 80, 40, 20, 0, 0.7f); // same box, other class
    head.put(20, 300, 300, 10, 10, 0, 0.25f); // equal to the threshold: not a candidate
    head.put(crossChunk, 100, 80, 40, 20, 1, 0.85f); // another worker's duplicate of 10
    return decode(0, head.output.set(), 0.25f, 0.5f);
}

TEST(AnchorFreeYolo, KeepsTheBestPerClassInProposalOrderWhateverTheWorkerSplit)
{
    const std::vector<Row> expected = {{0, 0, 16, 16, 0.6f, 0}, {80, 70, 120, 90, 0.9f, 1}, {80, 70, 120, 90, 0.7f, 0}};
    const Table inline2047 = anchorFreeTable(2047, 2000);
    const Table threaded = anchorFreeTable(8400, 4300);
    EXPECT_EQ(inline2047.rows, expected);
    EXPECT_EQ(threaded.rows, expected);
    EXPECT_EQ(threaded.id, 7u);
}

TEST(AnchorFreeYolo, DecodesConcurrentWithOtherOutputsGiveTheSameBitsAsALoneDecode)
{
    // Dense random scores: thousands of candidates across every chunk, so that any chunk
    // scanned twice, skipped or split differently shows in the result.
    AnchorFreeHead head(8, 8400);
    std::mt19937 random(7);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    for (int32_t i = 0; i < head.n; ++i) {
        head.put(i, unit(random) * 640, unit(random) * 640, 8 + unit(random) * 60, 8 + unit(random) * 60, 0, unit(random));
        for (int32_t c = 1; c < head.classes; ++c)
            head.output.floats(0)[(4 + c) * head.n + i] = unit(random);
    }
    const TensorSet_t* set = head.output.set();
    const Table lone = decode(0, set, 0.6f, 0.45f);
    ASSERT_GT(lone.rows.size(), 100u);
    // More decodes at once than the pool has helpers: some chunks run on the callers.
    constexpr int kThreads = 6;
    std::vector<Table> concurrent(kThreads * 4);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int k = 0; k < 4; ++k)
                concurrent[size_t(t * 4 + k)] = decode(0, set, 0.6f, 0.45f);
        });
    for (std::thread& thread: threads)
        thread.join();
    for (const Table& table: concurrent) {
        ASSERT_EQ(table.rows.size(), lone.rows.size());
        EXPECT_EQ(0, std::memcmp(table.rows.data(), lone.rows.data(), lone.rows.size() * sizeof(Row)));
    }
}

TEST(AnchorFreeYolo, AnEmptyOrFailedDecodeCarriesIdZero)
{
    AnchorFreeHead nothing(2, 64);
    EXPECT_EQ(decode(0, nothing.output.set()).id, 0u);
    OutputSet fourChannels;
    fourChannels.zeros("output0", {1, 4, 16});
    const Table refused = decode(0, fourChannels.set());
    EXPECT_TRUE(refused.wellFormed);
    EXPECT_EQ(refused.id, 0u);
    EXPECT_TRUE(refused.rows.empty());
}

TEST(AnchorFreeYolo, NaNScoresAndANaNThresholdPassNothing)
{
    AnchorFreeHead head(1, 16);
    head.put(3, 8, 8, 4, 4, 0, std::nanf(""));
    head.put(4, 8, 8, 4, 4, 0, 0.9f);
    EXPECT_EQ(decode(0, head.output.set(), 0.5f).rows.size(), 1u);
    EXPECT_TRUE(decode(0, head.output.set(), std::nanf("")).rows.empty());
}

TEST(AnchorBasedYolo, MultipliesObjectnessAndKeepsScoresEqualToTheThreshold)
{
    OutputSet output;
    output.add("output0", {1, 3, 7},
        {100, 80, 40, 20, 0.5f, 0.5f, 1.0f, //
            10, 10, 4, 4, 0.0f, 1.0f, 1.0f, //
            300, 300, 10, 10, 1.0f, 0.25f, 0.0f});
    EXPECT_EQ(decode(1, output.set()).rows, (std::vector<Row>{{80, 70, 120, 90, 0.5f, 1}}));
}

TEST(AnchorBasedYolo, TheTensorNamedOutputWinsEvenWhenItIsNotFloat)
{
    OutputSet output;
    output.addBytes("output0", {1, 1, 7}, std::vector<unsigned char>(7, 1), TensorDataType_Int8);
    output.add("x", {1, 1, 7}, {100, 80, 40, 20, 1, 1, 0});
    const Table table = decode(1, output.set());
    EXPECT_TRUE(table.rows.empty());
    EXPECT_EQ(table.id, 7u);
}

TEST(Yolo26, CopiesRowsAtOrAboveTheThresholdUnchanged)
{
    OutputSet output;
    output.add("output0", {1, 2, 6}, {1, 2, 3, 4, 0.5f, 2.5f, 5, 6, 7, 8, 0.4f, 1});
    EXPECT_EQ(decode(2, output.set()).rows, (std::vector<Row>{{1, 2, 3, 4, 0.5f, 2.5f}}));
    OutputSet seven;
    seven.zeros("output0", {1, 2, 7});
    EXPECT_TRUE(decode(2, seven.set(), 0.0f).rows.empty());
}

TEST(YoloNas, FindsHeadsByNameOrShapeAndSuppressesPerClass)
{
    const std::vector<float> boxes = {0, 0, 10, 10, 1, 1, 11, 11, 0, 0, 10, 10};
    const std::vector<float> scores = {0.1f, 0.9f, 0, 0, 0, 0, 0.8f, 0, 0, 0, 0, 0, 0.7f, 0, 0};
    const std::vector<Row> expected = {{0, 0, 10, 10, 0.9f, 1}, {0, 0, 10, 10, 0.7f, 2}};
    for (const char* boxName: {"pred_boxes", "unnamed"}) {
        OutputSet output;
        const bool named = std::string(boxName) != "unnamed";
        output.add(named ? "pred_scores" : "a", {1, 3, 5}, scores);
        output.add(named ? boxName : "b", {1, 3, 4}, boxes);
        EXPECT_EQ(decode(3, output.set()).rows, expected) << boxName;
    }
}

// DEEPX heads: box head [1, 64, h, w] and class head [1, classes, h, w] per level.
struct DeepXHeads {
    explicit DeepXHeads(int32_t classes, bool boxesFirst)
    {
        // Set order shuffled: the 40 × 40 level first, then 20 × 20, then 80 × 80.
        for (const int32_t side: {40, 20, 80}) {
            if (boxesFirst) {
                output.zeros(nullptr, {1, 64, side, side});
                output.zeros(nullptr, {1, classes, side, side});
            } else {
                output.zeros("cls", {1, classes, side, side});
                output.zeros("reg", {1, 64, side, side});
            }
        }
        this->boxesFirst = boxesFirst;
    }
    void put(int level, int32_t side, int32_t x, int32_t y, int32_t cls, float score, std::array<int, 4> bins)
    {
        const size_t plane = size_t(side) * side;
        const size_t j = size_t(y) * side + x;
        float* box = output.floats(level * 2 + (boxesFirst ? 0 : 1));
        float* classes = output.floats(level * 2 + (boxesFirst ? 1 : 0));
        classes[cls * plane + j] = score;
        for (size_t k = 0; k < 4; ++k)
            box[(k * 16 + bins[k]) * plane + j] = 50.0f;
    }
    OutputSet output;
    bool boxesFirst;
};

TEST(YoloV8DeepX, DecodesDistributionsAndSuppressesAcrossClasses)
{
    for (const int32_t classes: {2, 64}) {
        for (const bool boxesFirst: {true, false}) {
            DeepXHeads heads(classes, boxesFirst);
            heads.put(0, 40, 10, 5, classes - 1, 0.9f, {2, 1, 3, 4});   // stride 16 → (136, 72, 216, 152)
            heads.put(2, 80, 21, 11, 0, 0.8f, {4, 2, 5, 7});             // stride 8, inside the first box
            heads.put(1, 20, 2, 2, 0, 0.7f, {1, 1, 1, 1});               // stride 32, apart
            const Table table = decode(9, heads.output.set(), 0.5f, 0.5f);
            EXPECT_EQ(table.rows,
                (std::vector<Row>{{136, 72, 216, 152, 0.9f, float(classes - 1)}, {48, 48, 112, 112, 0.7f, 0}}))
                << classes << " classes, boxes first " << boxesFirst;
        }
    }
}

TEST(YoloV8DeepX, TwoEqualTopBinsGiveTheirMidpoint)
{
    DeepXHeads heads(2, true);
    heads.put(0, 40, 10, 5, 1, 0.9f, {2, 1, 3, 4});
    heads.output.floats(0)[(0 * 16 + 3) * 1600 + 210] = 50.0f; // left side: bins 2 and 3
    const Table table = decode(9, heads.output.set());
    ASSERT_EQ(table.rows.size(), 1u);
    EXPECT_FLOAT_EQ(table.rows[0][0], (10.5f - 2.5f) * 16);
}

TEST(YoloV8DeepX, PairsHeadsByCellCountAndGivesTheTallestGridStride8)
{
    OutputSet output;
    output.zeros("reg", {1, 64, 20, 20});
    output.zeros("cls", {1, 2, 40, 160}); // 6400 cells, like the 80 × 80 box head
    output.zeros("reg", {1, 64, 80, 80});
    output.zeros("cls", {1, 2, 20, 20});
    output.zeros("reg", {1, 64, 40, 40});
    output.zeros("cls", {1, 2, 40, 40});
    const size_t plane = 80 * 80;
    const size_t cell = 3 * 80 + 4; // x 4, y 3 of the 80 × 80 grid
    output.floats(1)[plane + cell] = 0.9f;
    for (size_t k = 0; k < 4; ++k)
        output.floats(2)[(k * 16 + 1) * plane + cell] = 50.0f;
    EXPECT_EQ(decode(9, output.set()).rows, (std::vector<Row>{{28, 20, 44, 36, 0.9f, 1}}));
}

} // namespace
