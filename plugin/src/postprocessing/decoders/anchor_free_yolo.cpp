#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <numeric>
#include <thread>
#include <vector>

#include "foundations/log.h"
#include "foundations/worker_pool.h"
#include "postprocessing/decoders/decoders.h"
#include "postprocessing/decoders/detection_table.h"
#include "postprocessing/decoders/lanes.h"
#include "postprocessing/decoders/tensor_access.h"

namespace vyai {

namespace {

constexpr char kTag[] = "AnchorFreeYolo";
constexpr int32_t kParallelProposals = 2048;
constexpr unsigned kMaximumWorkers = 4;
constexpr size_t kRowFloats = 6;

// What the scan workers share: the channel-major input and the per-proposal best scores and
// classes, of which each worker writes only its own range.
struct ScanState {
    const float* data;
    int32_t proposals;
    int32_t classes;
    float* bestScore;
    int32_t* bestClass;
};

// Classes outer, proposals inner: each class plane is streamed once, four proposals at a
// time with selects instead of branches, classes ascending so that the lowest class wins
// ties. NaN scores never replace a best score.
void decodeAnchorFreeYoloRange(const ScanState& state, int32_t first, int32_t end)
{
    using namespace lanes;
    float* best = state.bestScore;
    int32_t* bestClass = state.bestClass;
    for (int32_t c = 0; c < state.classes; ++c) {
        const float* plane = state.data + static_cast<size_t>(4 + c) * state.proposals;
        const Ints classes = Ints{0, 0, 0, 0} + c;
        int32_t i = first;
        for (; i + kWidth <= end; i += kWidth) {
            const Floats s = loadFloats(plane + i);
            const Floats b = loadFloats(best + i);
            const Ints better = s > b;
            store(best + i, select(better, s, b));
            store(bestClass + i, select(better, classes, loadInts(bestClass + i)));
        }
        for (; i < end; ++i) {
            if (plane[i] > best[i]) {
                best[i] = plane[i];
                bestClass[i] = c;
            }
        }
    }
}

// Chunks handed to helpers and not finished yet. Notified under the lock, so the waiting
// caller cannot destroy it while a helper still touches it.
class ChunksLeft {
public:
    explicit ChunksLeft(int32_t count): m_left(count) {}
    void finishOne()
    {
        std::lock_guard lock(m_mutex);
        if (--m_left == 0)
            m_finished.notify_all();
    }
    void wait()
    {
        std::unique_lock lock(m_mutex);
        m_finished.wait(lock, [this] { return m_left == 0; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_finished;
    int32_t m_left; //< guarded by m_mutex
};

// The scan's helper threads wait here between frames instead of being started for each one.
// Shared by every decoding output worker and joined when the library is unloaded.
WorkerPool& scanPool()
{
    static WorkerPool pool("vyai-decode", kMaximumWorkers - 1);
    return pool;
}

void scanProposals(const ScanState& state)
{
    const int32_t n = state.proposals;
    if (n < kParallelProposals) {
        decodeAnchorFreeYoloRange(state, 0, n);
        return;
    }
    const int32_t workers = static_cast<int32_t>(std::clamp(std::thread::hardware_concurrency(), 1u, kMaximumWorkers));
    const int32_t chunk = (n + workers - 1) / workers;
    int32_t helped = 0;
    for (int32_t t = 1; t < workers; ++t)
        helped += t * chunk < n ? 1 : 0;
    ChunksLeft done(helped);
    // The calling thread scans the first chunk itself instead of idling; a chunk the pool
    // has no thread for right now (other outputs decoding) is scanned here too.
    for (int32_t t = 1; t <= helped; ++t) {
        const int32_t first = t * chunk;
        const int32_t end = std::min(n, first + chunk);
        const auto scan = [&state, &done, first, end] {
            decodeAnchorFreeYoloRange(state, first, end);
            done.finishOne();
        };
        if (scanPool().trySubmit(scan) != WorkerPool::Admission::accepted)
            scan();
    }
    decodeAnchorFreeYoloRange(state, 0, std::min(n, chunk));
    done.wait();
}

// The anchor-free head's own overlap, with an early exit for disjoint boxes.
float candidateOverlap(const float* a, const float* b)
{
    const float width = std::min(a[2], b[2]) - std::max(a[0], b[0]);
    if (width <= 0.0f)
        return 0.0f;
    const float height = std::min(a[3], b[3]) - std::max(a[1], b[1]);
    if (height <= 0.0f)
        return 0.0f;
    const float intersection = width * height;
    return intersection / ((b[2] - b[0]) * (b[3] - b[1]) + (a[2] - a[0]) * (a[3] - a[1]) - intersection);
}

// Suppression inside runs of one class; flags the candidates that an overlapping better one hides.
std::vector<uint8_t> suppressPerClass(const std::vector<float>& candidates, float iouThreshold)
{
    const size_t m = candidates.size() / kRowFloats;
    const auto row = [&](size_t i) { return candidates.data() + i * kRowFloats; };
    const auto classOf = [&](size_t i) { return static_cast<int32_t>(row(i)[5]); };
    std::vector<size_t> order(m);
    std::iota(order.begin(), order.end(), size_t{0});
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        if (classOf(a) != classOf(b))
            return classOf(a) < classOf(b);
        if (row(a)[4] != row(b)[4])
            return row(a)[4] > row(b)[4];
        return a < b;
    });
    std::vector<uint8_t> suppressed(m, 0);
    for (size_t runStart = 0; runStart < m;) {
        size_t runEnd = runStart + 1;
        while (runEnd < m && classOf(order[runEnd]) == classOf(order[runStart]))
            ++runEnd;
        for (size_t a = runStart; a < runEnd; ++a) {
            if (suppressed[order[a]])
                continue;
            for (size_t b = a + 1; b < runEnd; ++b) {
                if (!suppressed[order[b]] && candidateOverlap(row(order[a]), row(order[b])) > iouThreshold)
                    suppressed[order[b]] = 1;
            }
        }
        runStart = runEnd;
    }
    return suppressed;
}

const Tensor_t* firstFloatTensor(const TensorSet_t& outputs)
{
    for (int32_t i = 0; i < tensorCount(outputs); ++i) {
        if (outputs.tensors[i].type == TensorDataType_Float && outputs.tensors[i].data)
            return &outputs.tensors[i];
    }
    return nullptr;
}

} // namespace

TensorSet_t* decodeAnchorFreeYolo(const TensorSet_t& outputs, float confidenceThreshold, float iouThreshold)
{
    // An empty result of this decoder carries id 0, unlike the others.
    const Tensor_t* tensor = firstFloatTensor(outputs);
    if (!tensor) {
        warnDecode(kTag, "No FLOAT tensor found in input.");
        return newEmptyDetectionSet(0);
    }
    const std::optional<uint64_t> elements = readableElements(*tensor, sizeof(float));
    if (!elements) {
        warnDecode(kTag, "Tensor \"%s\" does not hold the data its shape claims.", tensor->name ? tensor->name : "");
        return newEmptyDetectionSet(0);
    }
    if (tensor->rank < 2) {
        warnDecode(kTag, "Tensor rank %d is too low.", tensor->rank);
        return newEmptyDetectionSet(0);
    }
    const int32_t channels = tensor->shape[tensor->rank - 2];
    const int32_t proposals = tensor->shape[tensor->rank - 1];
    if (channels < 5) {
        warnDecode(kTag, "Too few channels (%d), need at least 5 (4 box + 1 class).", channels);
        return newEmptyDetectionSet(0);
    }
    const int32_t classes = channels - 4;
    logInfo("[AnchorFreeYolo] Decoding %d proposals, %d classes.\n", proposals, classes);

    const auto* data = static_cast<const float*>(tensor->data);
    std::vector<float> bestScore(static_cast<size_t>(proposals), confidenceThreshold);
    std::vector<int32_t> bestClass(static_cast<size_t>(proposals), -1);
    scanProposals(ScanState{data, proposals, classes, bestScore.data(), bestClass.data()});

    std::vector<float> candidates;
    candidates.reserve(static_cast<size_t>(proposals) * kRowFloats / 8);
    const size_t n = static_cast<size_t>(proposals);
    for (size_t i = 0; i < n; ++i) {
        if (bestClass[i] < 0)
            continue;
        const float halfWidth = data[2 * n + i] * 0.5f;
        const float halfHeight = data[3 * n + i] * 0.5f;
        const float cx = data[i];
        const float cy = data[n + i];
        candidates.insert(candidates.end(), {cx - halfWidth, cy - halfHeight, cx + halfWidth, cy + halfHeight,
                                                bestScore[i], static_cast<float>(bestClass[i])});
    }
    const size_t candidateCount = candidates.size() / kRowFloats;
    logInfo("[AnchorFreeYolo] %d candidates above threshold.\n", static_cast<int>(candidateCount));
    if (candidateCount == 0)
        return newEmptyDetectionSet(0);

    const std::vector<uint8_t> suppressed = suppressPerClass(candidates, iouThreshold);
    std::vector<float> kept;
    kept.reserve(candidates.size());
    for (size_t i = 0; i < candidateCount; ++i) {
        if (!suppressed[i])
            kept.insert(kept.end(), candidates.begin() + i * kRowFloats, candidates.begin() + (i + 1) * kRowFloats);
    }
    const size_t keptCount = kept.size() / kRowFloats;
    logInfo("[AnchorFreeYolo] %d detections after NMS.\n", static_cast<int>(keptCount));
    return makeDetectionTable(keptCount ? outputs.id : 0, kept.data(), keptCount);
}

} // namespace vyai
