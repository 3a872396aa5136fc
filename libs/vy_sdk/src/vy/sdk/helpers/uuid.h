#pragma once

#include <cstdint>
#include <string>

#include <vy/sdk/uuid.h>

namespace vy::sdk {

/** Bit set of text-form options for uuidToString(). */
enum class UuidFormatOptions: int32_t
{
    none = 0,
    uppercase = 1, //< Digits a to f written as A to F.
    hyphens = 2, //< "-" after the 4th, 6th, 8th and 10th byte (8-4-4-4-12 digits).
    braces = 4, //< Enclosed in "{" and "}".
    allOptions = 0xFF,
};

constexpr UuidFormatOptions operator|(UuidFormatOptions a, UuidFormatOptions b)
{
    return static_cast<UuidFormatOptions>(static_cast<int32_t>(a) | static_cast<int32_t>(b));
}

/**
 * Parses 32 hexadecimal digits, passing over tab, line feed, carriage return, space, "-",
 * "{" and "}" anywhere; the null Uuid on any other text.
 */
Uuid uuidFromString(const std::string& text);

/** A new random version-4 Uuid; may be called from any thread. */
Uuid randomUuid();

/** Two hexadecimal digits per byte, in byte order, shaped by `options`. */
std::string uuidToString(const Uuid& uuid, UuidFormatOptions options);

} // namespace vy::sdk
