#include "vy/sdk/helpers/error.h"

#include <vy/kit/debug.h>
#include <vy/sdk/helpers/string.h>
#include <vy/sdk/ptr.h>

namespace vy::sdk {

Error error(ErrorCode errorCode, std::string errorMessage)
{
    const auto print = kit::debug::detail::prefixedPrint("vy::sdk::error(): ");
    if (errorCode == ErrorCode::noError)
    {
        kit::debug::detail::assertionFailed(print, "errorCode != ErrorCode::noError",
            "Error code must differ from `ErrorCode::noError`", __FILE__, __LINE__);
    }
    if (errorMessage.empty())
    {
        kit::debug::detail::assertionFailed(print, "!errorMessage.empty()",
            "Error message must not be empty", __FILE__, __LINE__);
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
