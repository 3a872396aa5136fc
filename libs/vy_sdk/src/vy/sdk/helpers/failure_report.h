#pragma once

#include <string>

namespace vy::sdk::detail {

/**
 * Reports a failed check of an SDK object as one debug line that starts with the print
 * prefix of `sourceFile` ("[string_map] "); the caller goes on as its contract says.
 */
void reportFailure(const char* condition, const char* sourceFile, int line,
    const std::string& message = {});

} // namespace vy::sdk::detail
