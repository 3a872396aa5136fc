#pragma once

#include <cstdint>
#include <vector>

#include "inference/float_lanes.h"

namespace vyai {

/** Clamps to 0 to 255; a NaN becomes 255, so a later integer conversion stays defined. */
template<typename Lanes>
inline Lanes clampColour(Lanes value)
{
    return maximum(minimum(value, Lanes::broadcast(255.0f)), Lanes::broadcast(0.0f));
}

/**
 * Working rows for converting up to `capacity` pixels of one frame row: the sampled Y, U
 * and V (chroma centred on 0) and the resulting R, G, B. Their storage is kept for the next
 * frame's rows when this ends, warm instead of freshly allocated and zeroed. (Not a
 * thread-local: one with a destructor on a host thread would keep the library loaded.)
 */
class RgbRowScratch
{
public:
    explicit RgbRowScratch(int32_t capacity);
    ~RgbRowScratch();

    RgbRowScratch(const RgbRowScratch&) = delete;
    RgbRowScratch& operator=(const RgbRowScratch&) = delete;

    float* luma;
    float* blueDifference; // U - 128
    float* redDifference;  // V - 128
    float* red;
    float* green;
    float* blue;

private:
    std::vector<float> m_storage;
};

/**
 * Converts n pixels of one frame row to R, G, B in scratch: pixel j takes luma column
 * columns[j] (never negative) and chroma column columns[j] / 2. Full-range BT.601 in
 * 32-bit float, each channel clamped to 0 to 255:
 *   R = Y + 1.402 (V - 128)
 *   G = Y - 0.344136 (U - 128) - 0.714136 (V - 128)
 *   B = Y + 1.772 (U - 128)
 */
inline void convertYuvRow(const uint8_t* yRow, const uint8_t* uRow, const uint8_t* vRow, const int32_t* columns,
    int32_t n, RgbRowScratch& row)
{
    // Gather first: the arithmetic below then runs over contiguous floats, several at a time.
    // The chroma column is a shift of the luma column, cheaper than a second table to read.
    for (int32_t j = 0; j < n; ++j) {
        const int32_t chromaColumn = columns[j] >> 1;
        row.luma[j] = static_cast<float>(yRow[columns[j]]);
        row.blueDifference[j] = static_cast<float>(uRow[chromaColumn] - 128);
        row.redDifference[j] = static_cast<float>(vRow[chromaColumn] - 128);
    }
    forEachLane(n, [&]<typename Lanes>(int32_t j) {
        const Lanes y = Lanes::load(row.luma + j);
        const Lanes u = Lanes::load(row.blueDifference + j);
        const Lanes v = Lanes::load(row.redDifference + j);
        clampColour(y + Lanes::broadcast(1.402f) * v).store(row.red + j);
        clampColour(y - Lanes::broadcast(0.344136f) * u - Lanes::broadcast(0.714136f) * v).store(row.green + j);
        clampColour(y + Lanes::broadcast(1.772f) * u).store(row.blue + j);
    });
}

} // namespace vyai
