#pragma once

#include <functional>
#include <ostream>
#include <string>

// Debug output of the SDK layer: one stream, written one whole line at a time by
// vy::kit::debug::detail::Print. It is separate from the plug-in's own log.

namespace vy::kit::debug {

/** The debug stream: standard error unless redirected with setStream(). */
std::ostream& stream();

/**
 * Redirects the debug stream (null: back to standard error) and returns the previous
 * redirection (null when it was standard error). The stream must outlive the redirection.
 */
std::ostream* setStream(std::ostream* stream);

namespace detail {

/** Receives the text of one report and writes it as one debug line. */
using PrintFunc = std::function<void(const std::string& text)>;

/** "[name] " for a source file path "dir/name.ext"; empty for null. */
std::string printPrefix(const char* sourceFile);

/** A PrintFunc that writes each text as one debug line starting with `prefix`. */
PrintFunc prefixedPrint(std::string prefix);

/**
 * Reports a failed check as one line through `print` (or as a plain debug line when
 * `print` is empty) and returns: the caller goes on as it sees fit.
 */
void assertionFailed(const PrintFunc& print, const char* condition, const std::string& message,
    const char* file, int line);

/** Writes `text` and "\n" to the debug stream in one piece; lines of threads never mix. */
void writeLine(const std::string& text);

} // namespace detail

} // namespace vy::kit::debug
