#pragma once

#include <vy/sdk/helpers/failure_report.h>

namespace vy::sdk::analytics::detail {

/**
 * Copies `value` to the host's out-parameter; a null one is reported (condition "outValue",
 * under the print prefix of the getter's source file) and nothing is written.
 */
template<typename Value>
void copyToOutValue(const Value& value, Value* outValue, const char* sourceFile, int line)
{
    if (!outValue)
    {
        vy::sdk::detail::reportFailure("outValue", sourceFile, line);
        return;
    }
    *outValue = value;
}

} // namespace vy::sdk::analytics::detail
