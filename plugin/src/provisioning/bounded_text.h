#pragma once

#include <cstddef>
#include <string>

namespace vyai {

/** What a server or a tool said is cut to this many bytes before it is shown or logged. */
inline constexpr size_t kMaxQuotedTextBytes = 512;

/**
 * The text as valid UTF-8 of at most maxBytes bytes: invalid bytes become "?", and a cut text
 * ends in "..." without splitting a character. Outside text can then be shown in a dialog,
 * whose JSON would otherwise be refused whole, and logged without flooding the log.
 */
std::string boundedText(const std::string& text, size_t maxBytes = kMaxQuotedTextBytes);

} // namespace vyai
