#include "vy/sdk/helpers/error.h"

#include <vy/sdk/helpers/failure_report.h>
#include <vy/sdk/helpers/string.h>
#include <vy/sdk/ptr.h>

namespace vy::sdk {

Error error(ErrorCode errorCode, std::string errorMessage)
{
    constexpr const char* kPrintPrefix = "vy::sdk::error(): ";
    if (errorCode == ErrorCode::noError)
    {
        detail::reportFailureWithPrefix(kPrintPrefix, "errorCode != ErrorCode::noError",
            __FILE__, __LINE__, "Error code must differ from `ErrorCode::noError`");
    }
    if (errorMessage.empty())
    {
        detail::reportFailureWithPrefix(kPrintPrefix, "!errorMessage.empty()", __FILE__,
            __LINE__, "Error message must not be empty");
    }
    return Error(errorCode, newRefCounted<String>(std::move(errorMessage)).releasePtr());
}

std::string toString(ErrorCode errorCode)
{
    switch (errorCode)
    {
        case ErrorCode::noError: return "noError";
        case ErrorCode::unauthorized: return "unauthorized";
        case ErrorCode::notImplemented: return "notImplemented";
        case ErrorCode::networkError: return "networkError";
        case ErrorCode::otherError: return "otherError";
        case ErrorCode::needMoreData: return "needMoreData";
        case ErrorCode::inProgress: return "inProgress";
        case ErrorCode::internalError: return "internalError";
        case ErrorCode::invalidParams: return "invalidParams";
    }
    return "<unsupported Error>";
}

} // namespace vy::sdk
