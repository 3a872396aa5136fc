#pragma once

#include <algorithm>
#include <array>
#include <cstdint>

namespace vyai {

// Full-range BT.601 in 32-bit float:
//   R = Y + 1.402 (V - 128)
//   G = Y - 0.344136 (U - 128) - 0.714136 (V - 128)
//   B = Y + 1.772 (U - 128)
// each clamped to 0 to 255. The chroma products are tabled per byte value; a table entry
// is the same rounded float product the formula computes, so results are bit-identical.
struct YuvColourTables {
    std::array<float, 256> redFromV{};
    std::array<float, 256> greenFromU{};
    std::array<float, 256> greenFromV{};
    std::array<float, 256> blueFromU{};
};

inline constexpr YuvColourTables kYuvColourTables = [] {
    YuvColourTables tables;
    for (int value = 0; value < 256; ++value) {
        const auto centred = static_cast<float>(value - 128);
        tables.redFromV[value] = 1.402f * centred;
        tables.greenFromU[value] = 0.344136f * centred;
        tables.greenFromV[value] = 0.714136f * centred;
        tables.blueFromU[value] = 1.772f * centred;
    }
    return tables;
}();

/** Clamps to 0 to 255; a NaN becomes 255, so a later integer conversion stays defined. */
inline float clampColour(float value)
{
    return std::max(0.0f, std::min(255.0f, value));
}

/**
 * Converts n pixels of one frame row: pixel j takes luma column columns[j] and chroma
 * column chromaColumns[j] (= columns[j] / 2). Writes clamped R, G, B to three arrays.
 */
inline void convertYuvRow(const uint8_t* yRow, const uint8_t* uRow, const uint8_t* vRow, const int32_t* columns,
    const int32_t* chromaColumns, int32_t n, float* red, float* green, float* blue)
{
    const YuvColourTables& t = kYuvColourTables;
    for (int32_t j = 0; j < n; ++j) {
        const auto y = static_cast<float>(yRow[columns[j]]);
        const uint8_t u = uRow[chromaColumns[j]];
        const uint8_t v = vRow[chromaColumns[j]];
        red[j] = clampColour(y + t.redFromV[v]);
        green[j] = clampColour(y - t.greenFromU[u] - t.greenFromV[v]);
        blue[j] = clampColour(y + t.blueFromU[u]);
    }
}

} // namespace vyai
