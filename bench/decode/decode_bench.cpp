// Decoding an 8400-anchor, 80-class anchor-free head, next to the memory floor of one pass
// reading the same tensor; and suppression of 1,000 and 10,000 boxes, next to OpenCV's
// NMSBoxes on the same boxes. The decoder scans with up to four workers (its own rule for
// 2048 proposals and more); the floor and both suppressions run on one thread.
#include <cstring>
#include <random>
#include <vector>

#include <benchmark/benchmark.h>
#include <opencv2/dnn.hpp>

#include "inference/model_vocabulary.h"
#include "postprocessing/decoders/non_maximum_suppression.h"
#include "postprocessing/decoders/raw_output_decoding.h"

namespace {

constexpr int32_t kAnchors = 8400;
constexpr int32_t kClasses = 80;
constexpr int32_t kChannels = 4 + kClasses;
constexpr float kConfidence = 0.25f;
constexpr float kIou = 0.45f;

// A channel-major head whose scores stay below the threshold except at `aboveShare` of the
// anchors, which get one class above it.
struct AnchorFreeHead {
    explicit AnchorFreeHead(double aboveShare): data(size_t(kChannels) * kAnchors), shape{1, kChannels, kAnchors}
    {
        std::mt19937 random(7);
        std::uniform_real_distribution<float> position(0.0f, 640.0f);
        std::uniform_real_distribution<float> extent(8.0f, 160.0f);
        std::uniform_real_distribution<float> low(0.0f, kConfidence * 0.9f);
        std::uniform_real_distribution<float> high(kConfidence + 0.05f, 1.0f);
        std::bernoulli_distribution above(aboveShare);
        std::uniform_int_distribution<int32_t> cls(0, kClasses - 1);
        for (int32_t i = 0; i < kAnchors; ++i) {
            data[0 * kAnchors + i] = position(random);
            data[1 * kAnchors + i] = position(random);
            data[2 * kAnchors + i] = extent(random);
            data[3 * kAnchors + i] = extent(random);
            for (int32_t c = 0; c < kClasses; ++c)
                data[size_t(4 + c) * kAnchors + i] = low(random);
            if (above(random))
                data[size_t(4 + cls(random)) * kAnchors + i] = high(random);
        }
        tensor = Tensor_t{const_cast<char*>("output0"), TensorDataType_Float, 3, shape, data.size() * sizeof(float),
            data.data()};
        set = TensorSet_t{1, 1, &tensor};
    }

    std::vector<float> data;
    int32_t shape[3];
    Tensor_t tensor{};
    TensorSet_t set{};
};

// The memory floor: every float read once, summed into independent vector accumulators so
// that the adds keep up with the loads.
void readTensorOnce(benchmark::State& state)
{
    typedef float Floats __attribute__((vector_size(16)));
    const AnchorFreeHead head(0.001);
    const size_t vectors = head.data.size() / 4;
    for (auto _: state) {
        Floats sums[4] = {};
        for (size_t v = 0; v + 4 <= vectors; v += 4) {
            for (size_t k = 0; k < 4; ++k) {
                Floats value;
                std::memcpy(&value, head.data.data() + (v + k) * 4, sizeof(value));
                sums[k] += value;
            }
        }
        benchmark::DoNotOptimize(sums);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(head.data.size() * sizeof(float)));
}

void decodeAnchorFree(benchmark::State& state)
{
    const AnchorFreeHead head(double(state.range(0)) / 1000.0);
    int64_t detections = 0;
    for (auto _: state) {
        TensorSet_t* result = vyai::decodeRawOutput(0, &head.set, kConfidence, kIou, 640, 640);
        detections = result->count ? result->tensors[0].shape[0] : 0;
        vyai::freeTensorSet(result);
        free(result);
    }
    state.counters["detections"] = double(detections);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(head.data.size() * sizeof(float)));
}

std::vector<vyai::Detection_t> randomBoxes(int64_t count)
{
    std::mt19937 random(11);
    std::uniform_real_distribution<float> position(0.0f, 1920.0f);
    std::uniform_real_distribution<float> extent(10.0f, 200.0f);
    std::uniform_real_distribution<float> score(0.0f, 1.0f);
    std::vector<vyai::Detection_t> boxes;
    for (int64_t i = 0; i < count; ++i) {
        const float x = position(random) * 0.5f;
        const float y = position(random) * 0.3f;
        boxes.push_back({x, y, x + extent(random), y + extent(random), score(random), 0});
    }
    return boxes;
}

void suppressOurs(benchmark::State& state)
{
    const std::vector<vyai::Detection_t> boxes = randomBoxes(state.range(0));
    size_t kept = 0;
    for (auto _: state)
        kept = vyai::nonMaximumSuppression(boxes, kIou, true).size();
    state.counters["kept"] = double(kept);
}

void suppressOpenCv(benchmark::State& state)
{
    const std::vector<vyai::Detection_t> boxes = randomBoxes(state.range(0));
    std::vector<cv::Rect2d> rects;
    std::vector<float> scores;
    for (const vyai::Detection_t& d: boxes) {
        rects.emplace_back(d.x1, d.y1, d.x2 - d.x1, d.y2 - d.y1);
        scores.push_back(d.score);
    }
    std::vector<int> kept;
    for (auto _: state)
        cv::dnn::NMSBoxes(rects, scores, 0.0f, kIou, kept);
    state.counters["kept"] = double(kept.size());
}

} // namespace

BENCHMARK(readTensorOnce)->Unit(benchmark::kMicrosecond);
// Arguments: anchors above the threshold, per thousand.
BENCHMARK(decodeAnchorFree)->Arg(1)->Arg(50)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(suppressOurs)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(suppressOpenCv)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
