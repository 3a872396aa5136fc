#pragma once

#include <string>

namespace vy::sdk::detail {

/**
 * Reports a failed check of an SDK object as one debug line that starts with `printPrefix`;
 * the caller goes on as its contract says.
 */
void reportFailureWithPrefix(const std::string& printPrefix, const char* condition,
    const char* sourceFile, int line, const std::string& message = {});

/** reportFailureWithPrefix() under the print prefix of `sourceFile` ("[string_map] "). */
void reportFailure(const char* condition, const char* sourceFile, int line,
    const std::string& message = {});

} // namespace vy::sdk::detail
