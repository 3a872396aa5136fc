#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vyai {

/**
 * Seconds since 1970 of a time text read with a strptime format as UTC (no time zone or
 * daylight correction). None, with a logged error, when the text does not match the format.
 */
std::optional<int64_t> parseTimeString(const std::string& text, const std::string& format);

} // namespace vyai
