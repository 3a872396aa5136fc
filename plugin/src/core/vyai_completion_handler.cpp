#include "core/vyai_completion_handler.h"

#include "foundations/log.h"

namespace vyai {

void releaseResultStrings(const vy::sdk::Result<vy::sdk::IString*>& result)
{
    if (result.value())
        result.value()->dropRef();
    if (result.error().errorMessage())
        result.error().errorMessage()->dropRef();
}

VYAICompletionHandler::VYAICompletionHandler(): m_future(m_promise.get_future())
{
}

VYAICompletionHandler::~VYAICompletionHandler()
{
    // The waiter gave up before the answer came, or never asked for it.
    if (m_future.valid() && m_future.wait_for(std::chrono::seconds(0)) == std::future_status::ready)
        releaseResultStrings(m_future.get());
}

void VYAICompletionHandler::onRequestCompleted(vy::sdk::Result<vy::sdk::IString*> result)
{
    if (m_completed.exchange(true))
    {
        logError("Warning! Host completed a request twice; the second answer is ignored.\n");
        releaseResultStrings(result);
        return;
    }
    try
    {
        m_promise.set_value(result);
    }
    catch (const std::exception& e)
    {
        // Nothing may escape into the host's thread.
        logError("Error! Could not store the host's answer: %s\n", e.what());
        releaseResultStrings(result);
    }
}

std::optional<vy::sdk::Result<vy::sdk::IString*>> VYAICompletionHandler::waitForResult(
    std::chrono::milliseconds timeout)
{
    if (!m_future.valid() || m_future.wait_for(timeout) != std::future_status::ready)
        return std::nullopt;
    return m_future.get();
}

} // namespace vyai
