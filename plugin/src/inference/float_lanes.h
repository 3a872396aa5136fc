#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vyai {

// Pixel kernels are written once over a lane type: FloatLanes (four floats in one SSE2
// register where the target has it) for the bulk of a row, FloatLane (one float) for its
// last few pixels. Every operation rounds exactly as the scalar float operation does and
// nothing is fused, so both give bit-identical results.

/** One float, with the operations of FloatLanes. */
struct FloatLane {
    static constexpr int kWidth = 1;
    float value;

    static FloatLane load(const float* source) { return {*source}; }
    static FloatLane broadcast(float value) { return {value}; }
    void store(float* target) const { *target = value; }
    /** A plain store: single lanes write the unaligned ends of a streamed row. */
    void stream(float* target) const { *target = value; }
    /** Each lane truncated toward zero to an integer. */
    void storeTruncated(int32_t* target) const { *target = static_cast<int32_t>(value); }
    /** Stores a, b, c per lane: a0 b0 c0 a1 b1 c1 ... */
    static void storeInterleaved(FloatLane a, FloatLane b, FloatLane c, float* target)
    {
        target[0] = a.value;
        target[1] = b.value;
        target[2] = c.value;
    }
    static void streamInterleaved(FloatLane a, FloatLane b, FloatLane c, float* target)
    {
        storeInterleaved(a, b, c, target);
    }

    friend FloatLane operator+(FloatLane a, FloatLane b) { return {a.value + b.value}; }
    friend FloatLane operator-(FloatLane a, FloatLane b) { return {a.value - b.value}; }
    friend FloatLane operator*(FloatLane a, FloatLane b) { return {a.value * b.value}; }
    /** a < b ? a : b, so a NaN in a gives b. */
    friend FloatLane minimum(FloatLane a, FloatLane b) { return {a.value < b.value ? a.value : b.value}; }
    /** a > b ? a : b, so a NaN in a gives b. */
    friend FloatLane maximum(FloatLane a, FloatLane b) { return {a.value > b.value ? a.value : b.value}; }
};

#if defined(__SSE2__)

/** Four floats in one register. */
struct FloatLanes {
    static constexpr int kWidth = 4;
    __m128 value;

    static FloatLanes load(const float* source) { return {_mm_loadu_ps(source)}; }
    static FloatLanes broadcast(float value) { return {_mm_set1_ps(value)}; }
    void store(float* target) const { _mm_storeu_ps(target, value); }
    void storeTruncated(int32_t* target) const
    {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(target), _mm_cvttps_epi32(value));
    }
    /** Stores past this thread's caches; `target` is 16-byte aligned. */
    void stream(float* target) const { _mm_stream_ps(target, value); }
    static void storeInterleaved(FloatLanes a, FloatLanes b, FloatLanes c, float* target)
    {
        const Interleaved pixels = interleave(a.value, b.value, c.value);
        for (int i = 0; i < 3; ++i)
            _mm_storeu_ps(target + 4 * i, pixels.groups[i]);
    }
    /** storeInterleaved past this thread's caches; `target` is 16-byte aligned. */
    static void streamInterleaved(FloatLanes a, FloatLanes b, FloatLanes c, float* target)
    {
        const Interleaved pixels = interleave(a.value, b.value, c.value);
        for (int i = 0; i < 3; ++i)
            _mm_stream_ps(target + 4 * i, pixels.groups[i]);
    }

    friend FloatLanes operator+(FloatLanes a, FloatLanes b) { return {_mm_add_ps(a.value, b.value)}; }
    friend FloatLanes operator-(FloatLanes a, FloatLanes b) { return {_mm_sub_ps(a.value, b.value)}; }
    friend FloatLanes operator*(FloatLanes a, FloatLanes b) { return {_mm_mul_ps(a.value, b.value)}; }
    // minps / maxps return the second operand when either is NaN, as the selects above do.
    friend FloatLanes minimum(FloatLanes a, FloatLanes b) { return {_mm_min_ps(a.value, b.value)}; }
    friend FloatLanes maximum(FloatLanes a, FloatLanes b) { return {_mm_max_ps(a.value, b.value)}; }

private:
    /** a0 b0 c0 a1 | b1 c1 a2 b2 | c2 a3 b3 c3 */
    struct Interleaved {
        __m128 groups[3];
    };

    static Interleaved interleave(__m128 a, __m128 b, __m128 c)
    {
        const __m128 abLow = _mm_unpacklo_ps(a, b);  // a0 b0 a1 b1
        const __m128 abHigh = _mm_unpackhi_ps(a, b); // a2 b2 a3 b3
        const __m128 c0a1 = _mm_shuffle_ps(c, abLow, _MM_SHUFFLE(2, 2, 0, 0));  // c0 c0 a1 a1
        const __m128 b1c1 = _mm_shuffle_ps(abLow, c, _MM_SHUFFLE(1, 1, 3, 3));  // b1 b1 c1 c1
        const __m128 c2a3 = _mm_shuffle_ps(c, abHigh, _MM_SHUFFLE(2, 2, 2, 2)); // c2 c2 a3 a3
        const __m128 b3c3 = _mm_shuffle_ps(abHigh, c, _MM_SHUFFLE(3, 3, 3, 3)); // b3 b3 c3 c3
        return {{_mm_shuffle_ps(abLow, c0a1, _MM_SHUFFLE(2, 0, 1, 0)), _mm_shuffle_ps(b1c1, abHigh, _MM_SHUFFLE(1, 0, 2, 0)),
            _mm_shuffle_ps(c2a3, b3c3, _MM_SHUFFLE(2, 0, 2, 0))}};
    }
};

#else

using FloatLanes = FloatLane;

#endif

/**
 * Runs body.template operator()<Lanes>(j) for j = 0, step, 2 step ... below n: wide lanes
 * while a whole group fits, single lanes for the rest.
 */
template<typename Body>
inline void forEachLane(int32_t n, Body&& body)
{
    int32_t j = 0;
    for (; j + FloatLanes::kWidth <= n; j += FloatLanes::kWidth)
        body.template operator()<FloatLanes>(j);
    for (; j < n; ++j)
        body.template operator()<FloatLane>(j);
}

/**
 * forEachLane for a body that streams `channels` floats per pixel to out + channels × j:
 * single lanes until the wide groups' stores are 16-byte aligned, so that they can go
 * past this thread's caches. For large outputs that another thread reads next (a model's
 * input): plain stores would first fetch every line and leave it in this core's cache
 * for the reader to take back. Call endStreaming() before handing the output over.
 */
template<typename Body>
inline void forEachStreamedLane(const float* out, int32_t channels, int32_t n, Body&& body)
{
    int32_t j = 0;
    if constexpr (FloatLanes::kWidth > 1) {
        for (; j < n && reinterpret_cast<uintptr_t>(out + static_cast<ptrdiff_t>(channels) * j) % 16 != 0; ++j)
            body.template operator()<FloatLane>(j);
    }
    forEachLane(n - j, [&]<typename Lanes>(int32_t k) { body.template operator()<Lanes>(j + k); });
}

/** Orders the streamed stores before whatever hands their output to another thread. */
inline void endStreaming()
{
#if defined(__SSE2__)
    _mm_sfence();
#endif
}

} // namespace vyai
