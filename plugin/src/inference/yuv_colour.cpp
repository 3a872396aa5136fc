#include "inference/yuv_colour.h"

#include <algorithm>

#include "foundations/spare_buffers.h"

namespace vyai {

namespace {

// Rows are converted by the input workers and the hosts' threads, a few at a time.
SpareBuffers<float>& scratchRows()
{
    static SpareBuffers<float> spares(16);
    return spares;
}

} // namespace

RgbRowScratch::RgbRowScratch(int32_t capacity)
{
    const size_t n = static_cast<size_t>(std::max(capacity, 0));
    m_storage = scratchRows().take(std::max<size_t>(n, 1) * 6);
    float* base = m_storage.data();
    luma = base;
    blueDifference = base + n;
    redDifference = base + 2 * n;
    red = base + 3 * n;
    green = base + 4 * n;
    blue = base + 5 * n;
}

RgbRowScratch::~RgbRowScratch()
{
    scratchRows().give(std::move(m_storage));
}

} // namespace vyai
