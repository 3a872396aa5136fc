#pragma once

#include <cstddef>

// Byte encodings of keys and digests. Buffers are allocated on the C heap; the caller frees them.

namespace vyai {

/**
 * Decodes standard base64 (whole 4-character groups, no line breaks). outLength is the number
 * of decoded bytes, "=" padding not counted (a 32-byte key in 44 characters gives 32). Null,
 * with outLength 0, when the text is not whole groups of the base64 alphabet. The buffer holds
 * one more zero byte after outLength.
 */
unsigned char* base64Decode(const char* text, size_t length, size_t* outLength);

/** Lower-case hex digits of the bytes, high nibble first, NUL-terminated; null for no bytes. */
char* toHex(const unsigned char* bytes, size_t length);

} // namespace vyai
