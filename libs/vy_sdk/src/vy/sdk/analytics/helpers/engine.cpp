#include "vy/sdk/analytics/helpers/engine.h"

#include <vy/kit/print.h>
#include <vy/kit/utils.h>
#include <vy/sdk/analytics/helpers/base_support.h>
#include <vy/sdk/helpers/convert_string_map.h>
#include <vy/sdk/helpers/error.h>
#include <vy/sdk/helpers/lib_context.h>
#include <vy/sdk/helpers/uuid.h>

namespace vy::sdk::analytics {

using kit::debug::detail::Print;

namespace {

std::string makePrintPrefix(const std::string& addition, const IEngineDescription* engineInfo)
{
    return detail::instancePrintPrefix(addition, "engine", engineInfo != nullptr,
        engineInfo ? engineInfo->id() : nullptr);
}

} // namespace

Engine::Engine(bool enableOutput, std::string printPrefixAddition):
    m_output(enableOutput, makePrintPrefix(printPrefixAddition, nullptr)),
    m_printPrefixAddition(std::move(printPrefixAddition))
{
    Print() << m_output.printPrefix() << "Created IEngine @"
        << kit::utils::toString(static_cast<const void*>(this)) << " of "
        << libContext().name();
}

Engine::~Engine()
{
    Print() << m_output.printPrefix() << "Destroyed " << static_cast<const void*>(this);
}

void Engine::attachEngineInfo(const IEngineDescription* engineInfo)
{
    try
    {
        m_output.setPrintPrefix(makePrintPrefix(m_printPrefixAddition, engineInfo));
    }
    catch (...)
    {
        detail::reportCurrentException(m_output.printPrefix(), "attachEngineInfo");
    }
}

Result<const ISettingsResponse*> Engine::applySettings(const IStringMap* settings)
{
    return detail::applySettings(m_output, m_settings, settings,
        "Unable to convert the input string map", [this] { return settingsReceived(); });
}

void Engine::getIntegrationSideSettings(Result<const ISettingsResponse*>* /*outResult*/) const
{
}

Result<const IString*> Engine::manifest() const
{
    return detail::answerManifest(m_output.printPrefix(), [this] { return manifestString(); });
}

void Engine::doExecuteAction(Result<ActionResult>* outResult, const IActionRequest* actionRequest)
{
    if (!outResult)
    {
        Print() << m_output.printPrefix() << "doExecuteAction(): INTERNAL ERROR: "
            << "outResult is null";
        return;
    }
    try
    {
        executeAction(outResult, actionRequest);
    }
    catch (...)
    {
        *outResult = detail::errorFromCurrentException(m_output.printPrefix(), "doExecuteAction");
    }
}

void Engine::executeAction(Result<ActionResult>* outResult, const IActionRequest* actionRequest)
{
    const std::string& prefix = m_output.printPrefix();
    if (!actionRequest)
    {
        Print() << prefix << "doExecuteAction(): INTERNAL ERROR: action is null";
        *outResult = error(ErrorCode::invalidParams, "Action is null");
        return;
    }

    if (m_output.enableOutput())
    {
        constexpr auto kUuidForm = UuidFormatOptions::allOptions;
        Print() << prefix << "doExecuteAction():";
        Print() << prefix << "{";
        Print() << prefix << "    actionId: " << kit::utils::toString(actionRequest->actionId());
        Print() << prefix << "    objectTrackId: "
            << uuidToString(actionRequest->objectTrackId(), kUuidForm);
        Print() << prefix << "    deviceId: " << uuidToString(actionRequest->deviceId(), kUuidForm);
        Print() << prefix << "    timestampUs: " << actionRequest->timestampUs();
    }

    const Ptr<const IStringMap> paramsMap = toPtr(actionRequest->params());
    std::map<std::string, std::string> params;
    if (!convertStringMap(m_output, params, paramsMap.get(), "params", 4))
    {
        *outResult = error(ErrorCode::invalidParams, "Invalid action parameters");
        return;
    }

    if (m_output.enableOutput())
        Print() << prefix << "}";

    Ptr<IRefCountable> furtherObject = toPtr(actionRequest->furtherObject());
    const int64_t timestampUs = actionRequest->timestampUs();
    const Uuid deviceId = actionRequest->deviceId();
    const Uuid objectTrackId = actionRequest->objectTrackId();
    const char* actionId = actionRequest->actionId();
    *outResult = runAction(actionId ? actionId : "", objectTrackId, deviceId, timestampUs,
        std::move(furtherObject), params);
}

void Engine::setHandler(IHostHandler* handler)
{
    detail::replaceHeld(m_mutex, m_handler, handler);
}

Result<const ISettingsResponse*> Engine::settingsReceived()
{
    return {};
}

Result<ActionResult> Engine::runAction(const std::string& /*actionId*/, Uuid /*objectTrackId*/,
    Uuid /*deviceId*/, int64_t /*timestampUs*/, Ptr<IRefCountable> /*furtherObject*/,
    const std::map<std::string, std::string>& /*params*/)
{
    return ActionResult{};
}

} // namespace vy::sdk::analytics
