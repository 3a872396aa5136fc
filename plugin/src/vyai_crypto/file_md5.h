#pragma once

#include <optional>
#include <string>

namespace vyai {

/**
 * The MD5 digest (16 bytes, C heap, freed by the caller) of a file, streamed in 4096-byte
 * blocks; outLength, when given, receives the digest length. Null, with a line on standard
 * error and in the log, when the file cannot be read to its end or the digest fails.
 */
unsigned char* fileMd5(const char* path, unsigned int* outLength);

/** The MD5 of a file as 32 lower-case hex digits; none when fileMd5 fails. */
std::optional<std::string> fileMd5Hex(const std::string& path);

} // namespace vyai
