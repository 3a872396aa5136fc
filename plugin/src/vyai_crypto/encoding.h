#pragma once

#include <cstddef>

// Byte encodings of keys and digests. Buffers are allocated on the C heap; the caller frees them.

namespace vyai {

/**
 * Decodes standard base64 (whole 4-character groups, no line breaks). outLength counts the
 * bytes that "=" padding stands for, which decode as trailing zeros (44 characters give 33
 * bytes). Null, with outLength 0, when the text does not decode to exactly length * 3 / 4 bytes.
 * The buffer holds one more zero byte after outLength.
 */
unsigned char* base64Decode(const char* text, size_t length, size_t* outLength);

/** Lower-case hex digits of the bytes, high nibble first, NUL-terminated; null for no bytes. */
char* toHex(const unsigned char* bytes, size_t length);

} // namespace vyai
