#include "host/utility_provider.h"

#include <vy/sdk/helpers/error.h>
#include <vy/sdk/helpers/string.h>

#include <common/json_text.h>

namespace vyhost {

using vy::sdk::ErrorCode;
using vy::sdk::IString;
using vy::sdk::Result;

namespace {

const char* reasonPhrase(int status)
{
    switch (status)
    {
        case 200: return "OK";
        case 400: return "Bad Request";
        case 401: return "Unauthorized";
        case 404: return "Not Found";
        case 405: return "Method Not Allowed";
        case 500: return "Internal Server Error";
        default: return "Status";
    }
}

std::string httpResponseText(const RestStore::Answer& answer)
{
    return "HTTP/1.1 " + std::to_string(answer.status) + " " + reasonPhrase(answer.status)
        + "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(answer.body.size())
        + "\r\n\r\n" + answer.body;
}

IString* newString(std::string text)
{
    return vy::sdk::newRefCounted<vy::sdk::String>(std::move(text)).releasePtr();
}

} // namespace

UtilityProvider::UtilityProvider(std::shared_ptr<RestStore> store, Identity identity):
    m_store(std::move(store)), m_fixed(std::move(identity)), m_cloudSystemId(m_fixed.cloudSystemId)
{
    setCloudToken(m_fixed.cloudToken);
}

UtilityProvider::~UtilityProvider()
{
    std::list<Answerer> answerers;
    {
        std::lock_guard lock(m_mutex);
        m_shuttingDown = true;
        answerers.swap(m_answerers);
    }
    m_changed.notify_all();
    for (Answerer& answerer: answerers)
        answerer.thread.join();
}

void UtilityProvider::setCloudSystemId(std::optional<std::string> cloudSystemId)
{
    std::lock_guard lock(m_mutex);
    m_cloudSystemId = std::move(cloudSystemId);
}

void UtilityProvider::setCloudToken(std::optional<std::string> cloudToken)
{
    std::lock_guard lock(m_mutex);
    m_hasToken = cloudToken.has_value();
    if (cloudToken)
        m_tokens.push_back(std::move(*cloudToken));
}

void UtilityProvider::setRequestFault(RequestFault fault)
{
    std::lock_guard lock(m_mutex);
    m_fault = std::move(fault);
}

std::vector<UtilityProvider::Request> UtilityProvider::requests() const
{
    std::lock_guard lock(m_mutex);
    return m_requests;
}

void UtilityProvider::waitUntilIdle()
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] {
        for (const Answerer& answerer: m_answerers)
        {
            if (answerer.state == Answerer::State::answering)
                return false;
        }
        return true;
    });
    reapLocked();
}

IString* UtilityProvider::secondText() const
{
    return newString(m_fixed.secondText);
}

const char* UtilityProvider::serverId() const
{
    return m_fixed.serverId.c_str();
}

IString* UtilityProvider::cloudSystemId() const
{
    std::lock_guard lock(m_mutex);
    return m_cloudSystemId ? newString(*m_cloudSystemId) : nullptr;
}

const char* UtilityProvider::cloudToken() const
{
    std::lock_guard lock(m_mutex);
    return m_hasToken ? m_tokens.back().c_str() : nullptr;
}

IString* UtilityProvider::hostDirectory() const
{
    return newString(m_fixed.hostDirectory);
}

void UtilityProvider::httpRequest(int32_t domain, const char* path, const char* method,
    const char* mimeType, const char* body, IHttpRequestCompletionHandler* handler)
{
    if (!handler)
        return;
    // The caller gives its reference back when this call returns.
    auto heldHandler = vy::sdk::shareToPtr(handler);
    const auto text = [](const char* value) { return std::string(value ? value : ""); };
    Request request{domain, text(path), text(method), text(mimeType), text(body)};

    std::lock_guard lock(m_mutex);
    reapLocked();
    m_requests.push_back(request);
    RequestFault fault;
    if (m_fault.count != 0 && request.path.starts_with(m_fault.pathPrefix))
    {
        fault = m_fault;
        if (m_fault.count > 0)
            --m_fault.count;
    }
    Answerer& answerer = m_answerers.emplace_back();
    answerer.thread = std::thread([this, request, fault, heldHandler, &answerer] {
        answer(request, fault, heldHandler, answerer);
        {
            std::lock_guard lock(m_mutex);
            answerer.state = Answerer::State::finished;
        }
        m_changed.notify_all();
    });
}

void UtilityProvider::answer(const Request& request, const RequestFault& fault,
    const vy::sdk::Ptr<IHttpRequestCompletionHandler>& handler, Answerer& answerer)
{
    using Kind = RequestFault::Kind;
    {
        std::unique_lock lock(m_mutex);
        if (fault.kind == Kind::neverAnswer)
        {
            answerer.state = Answerer::State::parked;
            m_changed.notify_all();
            m_changed.wait(lock, [this] { return m_shuttingDown; });
            return;
        }
        m_changed.wait_for(lock, fault.delay, [this] { return m_shuttingDown; });
    }

    const auto answerFromStore = [&] {
        if (request.domain != kHostRestDomain)
            return Result<IString*>(vy::sdk::error(ErrorCode::invalidParams, "Unknown request domain"));
        return Result<IString*>(newString(httpResponseText(m_store->handle(request.method, request.path, request.body))));
    };

    switch (fault.kind)
    {
        case Kind::errorResult:
            handler->onRequestCompleted(vy::sdk::error(ErrorCode::networkError, "Host request failed"));
            break;
        case Kind::errorWithoutMessage:
            handler->onRequestCompleted(vy::sdk::Error(ErrorCode::networkError, nullptr));
            break;
        case Kind::successWithoutValue:
            handler->onRequestCompleted(Result<IString*>(nullptr));
            break;
        case Kind::status:
            handler->onRequestCompleted(newString(httpResponseText({fault.status, vy::standins::errorJson("refused")})));
            break;
        case Kind::rawAnswer:
            handler->onRequestCompleted(newString(fault.rawText));
            break;
        case Kind::answerTwice:
            handler->onRequestCompleted(answerFromStore());
            handler->onRequestCompleted(answerFromStore());
            break;
        case Kind::none:
        case Kind::neverAnswer:
            handler->onRequestCompleted(answerFromStore());
            break;
    }
}

void UtilityProvider::reapLocked()
{
    for (auto it = m_answerers.begin(); it != m_answerers.end();)
    {
        if (it->state == Answerer::State::finished)
        {
            it->thread.join();
            it = m_answerers.erase(it);
        }
        else
        {
            ++it;
        }
    }
}

} // namespace vyhost
