#include "vy/sdk/helpers/failure_report.h"

#include <vy/kit/debug.h>

namespace vy::sdk::detail {

void reportFailureWithPrefix(const std::string& printPrefix, const char* condition,
    const char* sourceFile, int line, const std::string& message)
{
    using namespace kit::debug::detail;
    assertionFailed(prefixedPrint(printPrefix), condition, message, sourceFile, line);
}

void reportFailure(const char* condition, const char* sourceFile, int line,
    const std::string& message)
{
    reportFailureWithPrefix(
        kit::debug::detail::printPrefix(sourceFile), condition, sourceFile, line, message);
}

} // namespace vy::sdk::detail
