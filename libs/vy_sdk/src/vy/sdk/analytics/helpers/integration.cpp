#include "vy/sdk/analytics/helpers/integration.h"

#include <vy/kit/debug.h>
#include <vy/kit/print.h>
#include <vy/kit/utils.h>
#include <vy/sdk/analytics/helpers/base_support.h>
#include <vy/sdk/helpers/error.h>
#include <vy/sdk/helpers/failure_report.h>
#include <vy/sdk/helpers/lib_context.h>

namespace vy::sdk::analytics {

using kit::debug::detail::Print;

namespace {

// The integration's lines carry the prefix of its source file, as the other SDK helpers' do.
const std::string kPrintPrefix = kit::debug::detail::printPrefix(__FILE__);

void printLifeLine(const char* word, const Integration* integration)
{
    Print() << kPrintPrefix << word << " IIntegration @"
        << kit::utils::toString(static_cast<const void*>(integration)) << " of "
        << libContext().name();
}

void printErrorLine(const std::string& message)
{
    Print() << kPrintPrefix << "ERROR: " << libContext().name() << ": " << message;
}

void reportMissingOverride(const std::string& message, int line)
{
    sdk::detail::reportFailureWithPrefix(kPrintPrefix, "false", __FILE__, line, message);
}

} // namespace

Integration::Integration()
{
    printLifeLine("Created", this);
}

Integration::Integration(std::string integrationManifest, CreateEngine createEngine):
    m_integrationManifest(std::move(integrationManifest)),
    m_createEngine(std::move(createEngine))
{
    printLifeLine("Created", this);
}

Integration::~Integration()
{
    printLifeLine("Destroyed", this);
}

void Integration::attachUtilityProvider(IUtilityProvider4* utilityProvider)
{
    detail::replaceHeld(m_utilityProviderMutex, m_utilityProvider, utilityProvider);
}

Ptr<IUtilityProvider4> Integration::utilityProvider() const
{
    const std::lock_guard lock(m_utilityProviderMutex);
    return m_utilityProvider;
}

Result<const IString*> Integration::manifest() const
{
    return detail::answerManifest(kPrintPrefix, [this] {
        return m_integrationManifest.empty() ? manifestString() : m_integrationManifest;
    });
}

Result<IEngine*> Integration::provideEngine()
{
    try
    {
        return obtainEngine();
    }
    catch (...)
    {
        return detail::errorFromCurrentException(kPrintPrefix, "provideEngine");
    }
}

Result<IEngine*> Integration::obtainEngine()
{
    if (m_createEngine)
    {
        if (IEngine* engine = m_createEngine(this))
            return engine;
        const std::string message = "Unable to create Engine";
        printErrorLine(message);
        return error(ErrorCode::otherError, message);
    }

    Result<IEngine*> result = doObtainEngine();
    const IString* message = result.error().errorMessage();
    if (!result.isOk() || message)
        printErrorLine(message && message->str() ? message->str() : "");
    return result;
}

std::string Integration::reservedText() const
{
    return {};
}

Result<IEngine*> Integration::doObtainEngine()
{
    const std::string message = "Either doObtainEngine() should be overridden, or the "
        "constructor with createEngine argument (deprecated) should be called.";
    reportMissingOverride(message, __LINE__);
    return error(ErrorCode::internalError, message);
}

std::string Integration::manifestString() const
{
    reportMissingOverride("Either manifestString() should be overridden, or the constructor "
        "with the integrationManifest argument (deprecated) should be called.", __LINE__);
    return {};
}

} // namespace vy::sdk::analytics
