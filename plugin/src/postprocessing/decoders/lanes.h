#pragma once

#include <cstdint>
#include <cstring>

namespace vyai::lanes {

// Four-lane float and int vectors (GCC/Clang vector extensions, SSE2 or NEON registers), for
// the hot decoder loops that the compiler will not vectorise itself: a float compare may
// trap, so it is never turned into a select on its own.

typedef float Floats __attribute__((vector_size(16)));
typedef int32_t Ints __attribute__((vector_size(16)));
inline constexpr int32_t kWidth = 4;

inline Floats loadFloats(const float* p)
{
    Floats v;
    std::memcpy(&v, p, sizeof(v));
    return v;
}

inline Ints loadInts(const int32_t* p)
{
    Ints v;
    std::memcpy(&v, p, sizeof(v));
    return v;
}

inline void store(float* p, Floats v)
{
    std::memcpy(p, &v, sizeof(v));
}

inline void store(int32_t* p, Ints v)
{
    std::memcpy(p, &v, sizeof(v));
}

/** Lane by lane: `a` where the mask is set (all ones), else `b`. */
inline Floats select(Ints mask, Floats a, Floats b)
{
    return reinterpret_cast<Floats>((reinterpret_cast<Ints>(a) & mask) | (reinterpret_cast<Ints>(b) & ~mask));
}

inline Ints select(Ints mask, Ints a, Ints b)
{
    return (a & mask) | (b & ~mask);
}

/** std::min and std::max lane by lane, NaN cases included. */
inline Floats minimum(Floats a, Floats b)
{
    return select(b < a, b, a);
}

inline Floats maximum(Floats a, Floats b)
{
    return select(a < b, b, a);
}

} // namespace vyai::lanes
