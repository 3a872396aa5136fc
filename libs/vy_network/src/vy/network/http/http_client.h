#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <vy/utils/basic_buffer.h>
#include <vy/utils/url.h>

#include "vy/network/http/response.h"
#include "vy/network/ssl/certificate_policy.h"

namespace vy::network::http {

// A blocking HTTP/HTTPS client for one request at a time. A request returns
// once the response head has arrived; the body is fetched afterwards, whole or
// buffer by buffer. Only "http" and "https" URLs are accepted; redirects are
// followed only up to setMaxNumberOfRedirects (none by default), and never from
// https to plain http.
// Not thread-safe: one thread uses a client at a time.
class HttpClient
{
public:
    // Timeouts that apply until setAllTimeouts is called.
    static constexpr std::chrono::milliseconds kDefaultTimeout{30'000};

    explicit HttpClient(ssl::CertificatePolicy certificatePolicy);
    ~HttpClient();

    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    // Bounds the connection set-up and every stretch in which no data moves
    // while the client waits for it. Alone it does not bound a server that
    // keeps sending a byte now and then: add a deadline or a minimum rate.
    void setAllTimeouts(std::chrono::milliseconds timeout);

    // The whole of each request, from doGet or doPost to the body's end, must
    // be done within this time; later the transfer ends and has not succeeded.
    // For answers of known small size. 0 (the default): no deadline.
    void setDeadline(std::chrono::milliseconds deadline);

    // For large bodies, in place of a deadline: the transfer ends, without
    // success, when fewer than bytesPerSecond × window bytes move in a window
    // of that length. Only time spent waiting for the server counts, not time
    // the caller takes between buffers. bytesPerSecond 0 (the default): none.
    void setMinimumRate(std::uint64_t bytesPerSecond, std::chrono::milliseconds window);

    // Sent with every following request, in the order added. An empty value
    // is sent as an empty header, not dropped.
    void addAdditionalHeader(std::string name, std::string value);
    // Stops sending every added header of this name (compared without case).
    void removeAdditionalHeader(const std::string& name);

    // Redirect answers are followed up to this many hops; the response is then
    // the last one. 0 (the default): a redirect is itself the response.
    void setMaxNumberOfRedirects(int count);

    // A body longer than this many bytes breaks the transfer off (it then did
    // not succeed). 0: no bound.
    void setMaxBodySize(std::uint64_t bytes);

    // Asked while the client waits for the server, a few times a second and
    // whatever the server does: true ends the transfer, which then did not
    // succeed. Lets another thread cancel a download from a stalled server.
    void setCancelCheck(std::function<bool()> cancelled);

    // True when a response head arrived, whatever its status code; false when
    // no response could be obtained (bad URL, connection, TLS or time-out).
    bool doGet(const vy::Url& url);
    bool doPost(const vy::Url& url, const std::string& contentType, vy::BasicBuffer body);

    // The last request's response head; null when it got none. Valid until
    // the next request or the client's end.
    const Response* response() const;

    // Reads the rest of the body under the client's time limits. nullopt when
    // there is no response or the transfer broke off (time-out, truncation).
    std::optional<vy::BasicBuffer> fetchEntireMessageBody();

    // True when the body has been delivered to its end or broken off, so that
    // fetchMessageBodyBuffer has nothing more to give.
    bool eof() const;
    // The next piece of the body as it arrives (empty once eof()); waits for it
    // under the client's time limits.
    vy::BasicBuffer fetchMessageBodyBuffer();
    // True when the last request got a response and its whole body arrived.
    bool hasRequestSucceeded() const;
    // Why the last request failed or broke off, in words for a log line (a
    // time limit, the body bound, a refused redirect, the network's error);
    // empty while it has not failed.
    std::string failure() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace vy::network::http
