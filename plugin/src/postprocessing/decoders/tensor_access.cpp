#include "postprocessing/decoders/tensor_access.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "foundations/log.h"

namespace vyai {

namespace {

constexpr int32_t kMaximumRank = 8;

} // namespace

int32_t tensorCount(const TensorSet_t& set)
{
    return set.tensors && set.count > 0 ? set.count : 0;
}

int32_t findTensorByName(const TensorSet_t& outputs, std::initializer_list<const char*> candidates)
{
    const int32_t count = tensorCount(outputs);
    for (const char* candidate: candidates) {
        for (int32_t i = 0; i < count; ++i) {
            const char* name = outputs.tensors[i].name;
            if (name && std::strstr(name, candidate))
                return i;
        }
    }
    return -1;
}

std::optional<uint64_t> readableElements(const Tensor_t& tensor, size_t elementSize)
{
    if (!tensor.data || !tensor.shape || tensor.rank < 1 || tensor.rank > kMaximumRank)
        return std::nullopt;
    uint64_t elements = 1;
    for (int32_t d = 0; d < tensor.rank; ++d) {
        if (tensor.shape[d] < 1 || __builtin_mul_overflow(elements, static_cast<uint64_t>(tensor.shape[d]), &elements))
            return std::nullopt;
    }
    uint64_t bytes = 0;
    if (__builtin_mul_overflow(elements, static_cast<uint64_t>(elementSize), &bytes) || bytes > tensor.size)
        return std::nullopt;
    return elements;
}

std::optional<RowLayout_t> rowLayout(const Tensor_t& tensor)
{
    if (!tensor.shape)
        return std::nullopt;
    if (tensor.rank == 3 && tensor.shape[0] == 1)
        return RowLayout_t{tensor.shape[1], tensor.shape[2]};
    if (tensor.rank == 2)
        return RowLayout_t{tensor.shape[0], tensor.shape[1]};
    return std::nullopt;
}

std::optional<int32_t> vectorLength(const Tensor_t& tensor)
{
    if (!tensor.shape)
        return std::nullopt;
    if (tensor.rank == 2 && tensor.shape[0] == 1)
        return tensor.shape[1];
    if (tensor.rank == 1)
        return tensor.shape[0];
    return std::nullopt;
}

bool holdsFloats(const Tensor_t& tensor, uint64_t elements)
{
    if (tensor.type != TensorDataType_Float)
        return false;
    const std::optional<uint64_t> readable = readableElements(tensor, sizeof(float));
    return readable && *readable == elements;
}

void warnDecode(const char* tag, const char* format, ...)
{
    char text[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    logError("Warning! [%s] %s\n", tag, text);
}

} // namespace vyai
