#pragma once

#include <atomic>
#include <chrono>
#include <future>
#include <optional>

#include <vy/sdk/helpers/ref_countable.h>
#include <vy/sdk/i_utility_provider.h>

namespace vyai {

// Receives the host's answer to one REST request and hands it to the thread that waits for
// it. Created with one reference held by the requester; the host takes its own while the
// request runs, so an answer that arrives after the requester gave up is still safe.
class VYAICompletionHandler:
    public vy::sdk::RefCountable<vy::sdk::IUtilityProvider4::IHttpRequestCompletionHandler>
{
public:
    VYAICompletionHandler();
    // Releases the strings of an answer that nobody took.
    ~VYAICompletionHandler() override;

    // Called by the host, on any thread. Only the first answer counts: a repeated call
    // releases its strings and is otherwise ignored.
    void onRequestCompleted(vy::sdk::Result<vy::sdk::IString*> result) override;

    // Waits up to `timeout` for the answer. The strings' references pass to the caller.
    // At most one caller, once.
    std::optional<vy::sdk::Result<vy::sdk::IString*>> waitForResult(std::chrono::milliseconds timeout);

private:
    std::atomic<bool> m_completed{false};
    std::promise<vy::sdk::Result<vy::sdk::IString*>> m_promise;
    std::future<vy::sdk::Result<vy::sdk::IString*>> m_future; //< used by the waiter, then the destructor
};

// Gives back the references a host result carries.
void releaseResultStrings(const vy::sdk::Result<vy::sdk::IString*>& result);

} // namespace vyai
