#include "vy/sdk/helpers/failure_report.h"

#include <vy/kit/debug.h>

namespace vy::sdk::detail {

void reportFailure(const char* condition, const char* sourceFile, int line,
    const std::string& message)
{
    using namespace kit::debug::detail;
    assertionFailed(prefixedPrint(printPrefix(sourceFile)), condition, message, sourceFile, line);
}

} // namespace vy::sdk::detail
