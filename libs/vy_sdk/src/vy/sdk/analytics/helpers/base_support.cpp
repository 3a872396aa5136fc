#include "vy/sdk/analytics/helpers/base_support.h"

#include <exception>

#include <vy/kit/print.h>
#include <vy/sdk/helpers/convert_string_map.h>
#include <vy/sdk/helpers/error.h>
#include <vy/sdk/helpers/lib_context.h>
#include <vy/sdk/helpers/string.h>

namespace vy::sdk::analytics::detail {

std::string instancePrintPrefix(const std::string& addition, const char* kind, bool hasId,
    const char* id)
{
    std::string prefix = "[" + libContext().name();
    if (!addition.empty())
        prefix += "_" + addition;
    prefix += std::string("_") + kind;
    if (hasId)
        prefix += "_" + std::string(id ? id : "");
    return prefix + "] ";
}

std::string currentExceptionText()
{
    try
    {
        throw;
    }
    catch (const std::exception& e)
    {
        return e.what();
    }
    catch (...)
    {
        return "unknown exception";
    }
}

std::string reportCurrentException(const std::string& printPrefix, const char* operation)
{
    std::string message = std::string(operation) + "() threw: " + currentExceptionText();
    kit::debug::detail::Print() << printPrefix << operation << "(): ERROR: " << message;
    return message;
}

Error errorFromCurrentException(const std::string& printPrefix, const char* operation)
{
    return error(ErrorCode::otherError, reportCurrentException(printPrefix, operation));
}

Result<const ISettingsResponse*> applySettings(const OutputSettings& output,
    std::map<std::string, std::string>& kept, const IStringMap* settings,
    const char* invalidMessage,
    const std::function<Result<const ISettingsResponse*>()>& settingsReceived)
{
    try
    {
        if (!convertStringMap(output, kept, settings, "Received settings", 0))
            return error(ErrorCode::invalidParams, invalidMessage);
        return settingsReceived();
    }
    catch (...)
    {
        return errorFromCurrentException(output.printPrefix(), "applySettings");
    }
}

Result<const IString*> answerManifest(const std::string& printPrefix,
    const std::function<std::string()>& makeText)
{
    try
    {
        return newRefCounted<String>(makeText()).releasePtr();
    }
    catch (...)
    {
        return errorFromCurrentException(printPrefix, "manifest");
    }
}

} // namespace vy::sdk::analytics::detail
