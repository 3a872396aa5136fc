#pragma once

#include <chrono>
#include <condition_variable>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <vy/sdk/helpers/ref_countable.h>
#include <vy/sdk/i_utility_provider.h>
#include <vy/sdk/ptr.h>

#include "host/rest_store.h"

namespace vyhost {

// The host's utility provider: fixed texts, and REST requests answered from a RestStore as raw
// HTTP response text, exactly once, each on a thread of its own. Switches make it misbehave
// the ways a host can, for tests.
class UtilityProvider: public vy::sdk::RefCountable<vy::sdk::IUtilityProvider4>
{
public:
    struct Identity
    {
        std::string hostDirectory;
        std::string secondText;
        std::string serverId;
        std::optional<std::string> cloudSystemId; //< nullopt: not in a cloud site
        std::optional<std::string> cloudToken; //< nullopt: the host has none
    };

    // How requests are answered; applies to the requests whose path starts with pathPrefix.
    struct RequestFault
    {
        enum class Kind
        {
            none,
            errorResult, //< networkError with a message
            errorWithoutMessage, //< networkError, no message
            successWithoutValue, //< no error and no value
            status, //< the store is not asked; an HTTP answer with `status`
            neverAnswer, //< the handler is released unanswered when the provider ends
            answerTwice, //< the normal answer, then a second one
            rawAnswer, //< the store is not asked; `rawText` is the answer
        };
        Kind kind = Kind::none;
        int status = 500;
        std::string rawText{};
        std::chrono::milliseconds delay{0}; //< every answer comes this late
        std::string pathPrefix{}; //< empty: every request
        int count = -1; //< how many requests it applies to; -1: all
    };

    struct Request
    {
        int32_t domain = 0;
        std::string path;
        std::string method;
        std::string mimeType;
        std::string body;
    };

    UtilityProvider(std::shared_ptr<RestStore> store, Identity identity);
    // Answers pending late requests at once, releases unanswered handlers, joins the threads.
    ~UtilityProvider() override;

    void setCloudSystemId(std::optional<std::string> cloudSystemId);
    void setCloudToken(std::optional<std::string> cloudToken);
    void setRequestFault(RequestFault fault);

    std::vector<Request> requests() const;
    // Blocks until every request made so far has been answered, apart from those that are
    // never to be answered.
    void waitUntilIdle();

    vy::sdk::IString* secondText() const override;
    const char* serverId() const override;
    vy::sdk::IString* cloudSystemId() const override;
    void httpRequest(int32_t domain, const char* path, const char* method, const char* mimeType,
        const char* body, IHttpRequestCompletionHandler* handler) override;
    const char* cloudToken() const override;
    vy::sdk::IString* hostDirectory() const override;

private:
    struct Answerer
    {
        enum class State
        {
            answering,
            parked, //< holds its handler unanswered until the provider ends
            finished,
        };
        std::thread thread;
        State state = State::answering; //< guarded by m_mutex
    };

    void answer(const Request& request, const RequestFault& fault,
        const vy::sdk::Ptr<IHttpRequestCompletionHandler>& handler, Answerer& answerer);
    // Called with m_mutex held: joins the threads that have finished.
    void reapLocked();

    const std::shared_ptr<RestStore> m_store;
    const Identity m_fixed;

    mutable std::mutex m_mutex; //< guards everything below
    std::condition_variable m_changed; //< an answer finished, or shutting down
    bool m_shuttingDown = false;
    std::optional<std::string> m_cloudSystemId;
    // Every token handed out stays valid while the provider lives: the caller copies it
    // after the call returns.
    std::list<std::string> m_tokens;
    bool m_hasToken = false;
    RequestFault m_fault;
    std::vector<Request> m_requests;
    std::list<Answerer> m_answerers;
};

} // namespace vyhost
