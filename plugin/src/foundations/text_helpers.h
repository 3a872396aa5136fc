#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Text helpers shared by the plug-in's subsystems. None of them throws.

namespace vyai {

/** An HTML anchor whose target and text are the url, escaped for HTML; "" for an empty url. */
std::string htmlLink(const std::string& url);

/**
 * The text with every byte that may not stand in a metadata type id replaced by "_": the first
 * character may be an ASCII letter, digit or "_", later ones also ".". Same length.
 */
std::string sanitizeIdentifier(std::string text);

/**
 * The class names packed into a model output's name: ";"-separated parts "index:class" with
 * indices 0, 1, 2 ... in order. "scores-" in front of a part is ignored; parts holding
 * "bboxes-format", empty parts and parts without ":" carry no class. An index out of sequence
 * or without a number gives an empty list.
 */
std::vector<std::string> parseOutputTensorName(std::string name);

/** Byte-wise equality after removing one enclosing "{" "}" pair from each text. */
bool uuidEqualsIgnoringBraces(std::string a, std::string b);

/**
 * The leading decimal number of the text, read like std::stoi (leading blanks skipped,
 * trailing characters ignored); none when there is no number or it does not fit 32 bits.
 */
std::optional<int32_t> parseLeadingInt(const std::string& text);

/** parseLeadingInt, or fallback with a logged warning. */
int32_t stringToIntOr(std::string text, int32_t fallback);

/** "true" or "false". */
const char* boolToString(bool value);

/**
 * printf into a new C-heap buffer that starts at size bytes and grows to fit; null when an
 * allocation or the formatting fails. The caller frees the text.
 */
char* mallocPrintf(size_t size, const char* format, ...) __attribute__((format(printf, 2, 3)));

/**
 * Writes the system's message for an error number into buffer (at most size bytes, always
 * NUL-terminated) and returns its length; 0 when there is no buffer.
 */
uint32_t formatSystemErrorMessage(uint32_t code, char* buffer, uint32_t size);

/** Replaces every occurrence of from in text, never rescanning inserted text; empty from: no-op. */
void replaceAll(std::string& text, const std::string& from, const std::string& to);

/**
 * Compares dotted version texts part by part as decimal numbers, a missing part counting as 0:
 * -1, 0 or 1. None when a part holds no number or is out of range ("3..2", "v3"), so that text
 * reported by an outside tool can never end a caller with an exception.
 */
std::optional<int32_t> compareVersions(const std::string& a, const std::string& b);

} // namespace vyai
