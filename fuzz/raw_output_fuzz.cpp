// Random output sets for every raw-output decoder: any shape, type, name and byte size, each
// piece in a heap block of exactly its size so that AddressSanitizer sees any read past it.
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "inference/model_vocabulary.h"
#include "postprocessing/decoders/raw_output_decoding.h"

namespace {

// Names the decoders look for, so that the fuzzer reaches past the lookups.
const char* const kNames[] = {nullptr, "output0", "boxes", "pred_boxes", "scores", "pred_scores", "logits", "labels",
    "detection_boxes", "detection_scores", "detection_classes", "num_detections", "box_encoding",
    "class_predictions", "reg", "cls", "x"};
const int32_t kDimensions[] = {1, 2, 3, 4, 5, 6, 8, 16, 20, 32, 33, 64, 80, 100, 0, -1, INT_MAX, INT_MIN, 65536};
const int32_t kTypes[] = {1, 6, 7, 3, 10, 0};

class Input
{
public:
    Input(const uint8_t* data, size_t size): m_data(data), m_size(size) {}

    uint8_t byte()
    {
        return m_position < m_size ? m_data[m_position++] : 0;
    }

    template<typename T>
    T value()
    {
        T v{};
        const size_t n = std::min(sizeof(T), m_size - m_position);
        std::memcpy(&v, m_data + m_position, n);
        m_position += n;
        return v;
    }

    // Up to `limit` of the remaining bytes, into a fresh block of exactly that size.
    void* block(size_t limit, uint64_t& size)
    {
        size = std::min<size_t>(limit, m_size - m_position);
        void* copy = size ? std::malloc(size) : nullptr;
        if (copy)
            std::memcpy(copy, m_data + m_position, size);
        m_position += size;
        return copy;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_position = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Input input(data, size);
    const uint32_t architecture = input.byte() % 11;
    const float confidence = input.value<float>();
    const float iou = input.value<float>();
    const int32_t width = input.byte() % 4 == 0 ? input.value<int32_t>() : 640;
    const int32_t height = input.byte() % 4 == 0 ? input.value<int32_t>() : 480;
    const int32_t count = input.byte() % 8;

    auto* set = static_cast<TensorSet_t*>(std::calloc(1, sizeof(TensorSet_t)));
    set->id = 9;
    set->count = count;
    set->tensors = count ? static_cast<Tensor_t*>(std::calloc(static_cast<size_t>(count), sizeof(Tensor_t))) : nullptr;
    for (int32_t i = 0; i < count; ++i) {
        Tensor_t& t = set->tensors[i];
        const char* name = kNames[input.byte() % std::size(kNames)];
        t.name = name ? strdup(name) : nullptr;
        t.type = kTypes[input.byte() % std::size(kTypes)];
        t.rank = input.byte() % 6;
        t.shape = t.rank ? static_cast<int32_t*>(std::malloc(sizeof(int32_t) * static_cast<size_t>(t.rank))) : nullptr;
        for (int32_t d = 0; d < t.rank; ++d) {
            const uint8_t choice = input.byte();
            t.shape[d] = choice < 200 ? kDimensions[choice % std::size(kDimensions)] : choice - 200;
        }
        const uint16_t wanted = input.value<uint16_t>();
        t.data = input.block(wanted, t.size);
    }

    TensorSet_t* result = vyai::decodeRawOutput(architecture, set, confidence, iou, width, height);
    vyai::freeTensorSet(result);
    std::free(result);
    vyai::freeTensorSet(set);
    std::free(set);
    return 0;
}
