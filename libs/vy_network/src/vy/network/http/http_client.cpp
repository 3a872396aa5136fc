#include "vy/network/http/http_client.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <string_view>
#include <utility>
#include <vector>

#include <curl/curl.h>

#include <vy/utils/string_compare.h>

#include "vy/network/http/redirect.h"

namespace vy::network::http {

namespace {

void initCurlOnce()
{
    static std::once_flag once;
    // Never cleaned up: the library may be unloaded while other users of
    // libcurl in the process still need it.
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// Longest wait inside one poll; curl shortens it for its own timers.
constexpr auto kPollInterval = std::chrono::milliseconds(1000);
// Between two questions to a cancel check: a cancelled download ends this soon.
constexpr auto kCancelPollInterval = std::chrono::milliseconds(100);

// A body fetched buffer by buffer is held back at the server once this much waits unread.
constexpr std::size_t kStreamBufferLimit = 64 * 1024;

// The statuses curl follows to their "Location".
bool isFollowedRedirect(int statusCode)
{
    return statusCode == 301 || statusCode == 302 || statusCode == 303 || statusCode == 307
        || statusCode == 308;
}

std::string milliseconds(std::chrono::milliseconds duration)
{
    return std::to_string(duration.count()) + " ms";
}

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

} // namespace

struct HttpClient::Impl
{
    CURL* easy = nullptr;
    CURLM* multi = nullptr;
    bool attached = false; //< easy is in multi while a transfer may still run

    ssl::CertificatePolicy certificatePolicy;
    std::chrono::milliseconds timeout = kDefaultTimeout;
    std::vector<std::pair<std::string, std::string>> additionalHeaders;
    int maxRedirects = 0;
    std::uint64_t maxBodySize = 0; //< 0: unbounded
    std::chrono::milliseconds deadline{0}; //< 0: none
    std::uint64_t minimumRate = 0; //< bytes per second; 0: none
    std::chrono::milliseconds rateWindow{0};
    std::function<bool()> cancelCheck;

    // State of the current request.
    curl_slist* headerList = nullptr;
    vy::BasicBuffer requestBody; //< curl reads it during the transfer
    std::optional<StatusLine> pendingStatusLine;
    HttpHeaders pendingHeaders;
    int redirectsSeen = 0;
    std::optional<Response> response;
    vy::BasicBuffer body; //< received and not yet fetched
    std::uint64_t bodyTotal = 0;
    bool streaming = true; //< the body is fetched buffer by buffer, not whole
    bool paused = false; //< curl holds the body back until the buffer is fetched
    std::size_t bytesReceived = 0; //< head and body, for the idle limit
    std::chrono::steady_clock::time_point started; //< for the deadline
    std::chrono::steady_clock::duration rateWaited{}; //< waiting time in the rate window so far
    std::size_t rateWindowStart = 0; //< progress when the rate window began
    bool finished = false;
    CURLcode result = CURLE_OK;
    std::string failureText;
    char errorBuffer[CURL_ERROR_SIZE] = {};

    explicit Impl(ssl::CertificatePolicy policy): certificatePolicy(policy)
    {
        initCurlOnce();
        easy = curl_easy_init();
        multi = curl_multi_init();
    }

    ~Impl()
    {
        detach();
        curl_slist_free_all(headerList);
        if (multi)
            curl_multi_cleanup(multi);
        if (easy)
            curl_easy_cleanup(easy);
    }

    void detach()
    {
        if (attached)
            curl_multi_remove_handle(multi, easy);
        attached = false;
    }

    static size_t onHeader(char* data, size_t size, size_t count, void* user)
    {
        auto* self = static_cast<Impl*>(user);
        self->bytesReceived += size * count;
        std::string_view line(data, size * count);
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
            line.remove_suffix(1);

        if (line.starts_with("HTTP/"))
        {
            self->pendingStatusLine = StatusLine::parse(line);
            self->pendingHeaders.clear();
        }
        else if (line.empty() && self->pendingStatusLine)
        {
            // A short count makes curl end the transfer.
            if (!self->endOfHead())
                return 0;
        }
        else if (const auto colon = line.find(':'); colon != std::string_view::npos)
        {
            self->pendingHeaders.emplace_back(
                std::string(trimmed(line.substr(0, colon))), std::string(trimmed(line.substr(colon + 1))));
        }
        return size * count;
    }

    // Interim (1xx) heads and redirects that curl follows are followed by the real one.
    // False when the transfer must end here: the head is then the response.
    bool endOfHead()
    {
        const int statusCode = pendingStatusLine->statusCode;
        const std::string location = getHeaderValue(pendingHeaders, "Location");
        const bool followed = isFollowedRedirect(statusCode) && redirectsSeen < maxRedirects && !location.empty();
        std::string refusal;
        if (followed)
            refusal = downgradeRefusal(location);
        else if (statusCode >= 200)
            refusal = declaredSizeRefusal();

        if (followed && refusal.empty())
            ++redirectsSeen;
        else if (statusCode >= 200)
            response = Response{*pendingStatusLine, std::move(pendingHeaders)};
        pendingStatusLine.reset();
        pendingHeaders.clear();
        failureText = refusal;
        return refusal.empty();
    }

    // Empty when the redirect may be followed.
    std::string downgradeRefusal(const std::string& location) const
    {
        const char* current = nullptr;
        curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &current);
        const std::string from = current ? current : "";
        const std::string to = resolveLocation(from, location).value_or(location);
        return isDowngrade(from, to) ? "a redirect from https to " + to + " was refused" : std::string();
    }

    // Empty unless the response announces a body above the bound: refused before it comes.
    std::string declaredSizeRefusal() const
    {
        const std::string length = getHeaderValue(pendingHeaders, "Content-Length");
        std::uint64_t declared = 0;
        const auto [end, error] = std::from_chars(length.data(), length.data() + length.size(), declared);
        if (maxBodySize == 0 || error != std::errc() || end != length.data() + length.size() || declared <= maxBodySize)
            return {};
        return "the body of " + length + " bytes is above the bound of " + std::to_string(maxBodySize) + " bytes";
    }

    static size_t onBody(char* data, size_t size, size_t count, void* user)
    {
        auto* self = static_cast<Impl*>(user);
        const std::size_t length = size * count;
        self->bytesReceived += length;
        // The body of a redirect that is followed is not the response's.
        if (!self->response)
            return length;
        if (self->streaming && self->body.size() >= kStreamBufferLimit)
        {
            self->paused = true;
            return CURL_WRITEFUNC_PAUSE; // delivered again once resumed
        }
        self->bodyTotal += length;
        if (self->maxBodySize != 0 && self->bodyTotal > self->maxBodySize)
        {
            self->failureText = "the body is above the bound of " + std::to_string(self->maxBodySize) + " bytes";
            return CURL_WRITEFUNC_ERROR;
        }
        self->body.append(data, length);
        return length;
    }

    // False when the handles could not be made at construction.
    bool configure(const vy::Url& url)
    {
        if (!easy || !multi)
            return false;
        detach();
        curl_easy_reset(easy);
        curl_slist_free_all(headerList);
        headerList = nullptr;
        pendingStatusLine.reset();
        pendingHeaders.clear();
        redirectsSeen = 0;
        response.reset();
        body.clear();
        bodyTotal = 0;
        streaming = true;
        paused = false;
        bytesReceived = 0;
        started = std::chrono::steady_clock::now();
        rateWaited = {};
        rateWindowStart = 0;
        finished = false;
        result = CURLE_OK;
        failureText.clear();
        errorBuffer[0] = '\0';

        curl_easy_setopt(easy, CURLOPT_URL, url.toString().c_str());
        curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, maxRedirects > 0 ? 1L : 0L);
        curl_easy_setopt(easy, CURLOPT_MAXREDIRS, static_cast<long>(maxRedirects));
        // endOfHead refuses the step down to http first, with its reason; this is the backstop.
        curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, isHttpsUrl(url.toString()) ? "https" : "http,https");
        curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, errorBuffer);
        // A proxy's answer to CONNECT is not the server's response: without this it would
        // pass for one, a 200 even when the tunnelled connection then fails.
        curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
        curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Impl::onHeader);
        curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Impl::onBody);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);

        switch (certificatePolicy)
        {
            case ssl::CertificatePolicy::verifyWithSystemRoots:
                curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
                curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
                // OpenSSL's own variables, where set, name the roots: an administrator's
                // private authority is trusted the way every OpenSSL program trusts it.
                if (const char* file = std::getenv("SSL_CERT_FILE"); file && *file)
                    curl_easy_setopt(easy, CURLOPT_CAINFO, file);
                if (const char* folder = std::getenv("SSL_CERT_DIR"); folder && *folder)
                    curl_easy_setopt(easy, CURLOPT_CAPATH, folder);
                break;
        }

        // The idle limit is kept by driveUntil.
        curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(std::max<std::int64_t>(timeout.count(), 1)));

        for (const auto& [name, value]: additionalHeaders)
            appendHeader(value.empty() ? name + ";" : name + ": " + value);
        return true;
    }

    void appendHeader(const std::string& line)
    {
        headerList = curl_slist_append(headerList, line.c_str());
    }

    // Runs the transfer until the response head is in or the transfer ended.
    bool start()
    {
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headerList);
        if (curl_multi_add_handle(multi, easy) != CURLM_OK)
        {
            fail(CURLE_FAILED_INIT, "the transfer could not be started");
            return false;
        }
        attached = true;
        driveUntil([this] { return response.has_value(); });
        return response.has_value();
    }

    // Runs the transfer until done() or its end. The idle clock starts anew
    // on each call: time in which the caller did not read is not idle time.
    template<typename Done>
    void driveUntil(Done done)
    {
        using Clock = std::chrono::steady_clock;
        auto lastTick = Clock::now();
        auto lastProgress = lastTick;
        std::size_t progressSeen = progress();
        while (!finished && !done())
        {
            if (cancelCheck && cancelCheck())
            {
                fail(CURLE_ABORTED_BY_CALLBACK, "cancelled");
                break;
            }
            int running = 0;
            if (curl_multi_perform(multi, &running) != CURLM_OK)
            {
                fail(CURLE_FAILED_INIT, "the transfer could not be driven");
                break;
            }
            collectCompletion();
            if (finished || done())
                break;

            const auto now = Clock::now();
            if (const std::size_t current = progress(); current != progressSeen)
            {
                progressSeen = current;
                lastProgress = now;
            }
            rateWaited += now - lastTick;
            lastTick = now;
            const auto idle = std::chrono::duration_cast<std::chrono::milliseconds>(now - lastProgress);
            const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(now - started);
            if (idle >= timeout)
            {
                fail(CURLE_OPERATION_TIMEDOUT, "no data moved for " + milliseconds(timeout));
                break;
            }
            if (deadline.count() > 0 && elapsed >= deadline)
            {
                fail(CURLE_OPERATION_TIMEDOUT, "not done within " + milliseconds(deadline));
                break;
            }
            if (isBelowMinimumRate(progressSeen))
            {
                fail(CURLE_OPERATION_TIMEDOUT, "fewer than " + std::to_string(minimumRate) + " bytes per second over "
                    + milliseconds(rateWindow));
                break;
            }
            auto wait = std::min(cancelCheck ? kCancelPollInterval : kPollInterval, timeout - idle);
            if (deadline.count() > 0)
                wait = std::min(wait, deadline - elapsed);
            curl_multi_poll(multi, nullptr, 0, static_cast<int>(std::max<std::int64_t>(wait.count(), 1)), nullptr);
        }
    }

    // Judged once per full window of waiting; a window that passes starts the next.
    bool isBelowMinimumRate(std::size_t progressNow)
    {
        if (minimumRate == 0 || rateWaited < rateWindow)
            return false;
        const auto windowMs = static_cast<std::uint64_t>(rateWindow.count());
        if ((progressNow - rateWindowStart) * 1000 < minimumRate * windowMs)
            return true;
        rateWaited = {};
        rateWindowStart = progressNow;
        return false;
    }

    // Bytes moved either way so far.
    std::size_t progress() const
    {
        curl_off_t uploaded = 0;
        curl_easy_getinfo(easy, CURLINFO_SIZE_UPLOAD_T, &uploaded);
        return bytesReceived + static_cast<std::size_t>(uploaded);
    }

    void collectCompletion()
    {
        int pending = 0;
        while (CURLMsg* message = curl_multi_info_read(multi, &pending))
        {
            if (message->msg == CURLMSG_DONE && message->easy_handle == easy)
                finish(message->data.result);
        }
    }

    // Called before the caller waits for more of the body.
    void resume()
    {
        if (!paused)
            return;
        paused = false;
        curl_easy_pause(easy, CURLPAUSE_CONT);
    }

    void finish(CURLcode code)
    {
        finished = true;
        result = code;
        // A reason set on the way (a refusal, the body bound) says more than curl's code.
        if (code != CURLE_OK && failureText.empty())
            failureText = errorBuffer[0] != '\0' ? errorBuffer : curl_easy_strerror(code);
        detach();
    }

    void fail(CURLcode code, std::string reason)
    {
        failureText = std::move(reason);
        finish(code);
    }
};

HttpClient::HttpClient(ssl::CertificatePolicy certificatePolicy):
    m_impl(std::make_unique<Impl>(certificatePolicy))
{
}

HttpClient::~HttpClient() = default;

void HttpClient::setAllTimeouts(std::chrono::milliseconds timeout)
{
    m_impl->timeout = timeout;
}

void HttpClient::addAdditionalHeader(std::string name, std::string value)
{
    m_impl->additionalHeaders.emplace_back(std::move(name), std::move(value));
}

void HttpClient::removeAdditionalHeader(const std::string& name)
{
    std::erase_if(m_impl->additionalHeaders,
        [&name](const auto& header) { return vy::utils::stricmp(header.first, name) == 0; });
}

void HttpClient::setDeadline(std::chrono::milliseconds deadline)
{
    m_impl->deadline = std::max(deadline, std::chrono::milliseconds(0));
}

void HttpClient::setMinimumRate(std::uint64_t bytesPerSecond, std::chrono::milliseconds window)
{
    m_impl->minimumRate = bytesPerSecond;
    m_impl->rateWindow = std::max(window, std::chrono::milliseconds(1));
}

void HttpClient::setMaxNumberOfRedirects(int count)
{
    m_impl->maxRedirects = std::max(count, 0);
}

void HttpClient::setMaxBodySize(std::uint64_t bytes)
{
    m_impl->maxBodySize = bytes;
}

void HttpClient::setCancelCheck(std::function<bool()> cancelled)
{
    m_impl->cancelCheck = std::move(cancelled);
}

bool HttpClient::doGet(const vy::Url& url)
{
    if (!m_impl->configure(url))
        return false;
    curl_easy_setopt(m_impl->easy, CURLOPT_HTTPGET, 1L);
    return m_impl->start();
}

bool HttpClient::doPost(const vy::Url& url, const std::string& contentType, vy::BasicBuffer body)
{
    if (!m_impl->configure(url))
        return false;
    m_impl->requestBody = std::move(body);
    curl_easy_setopt(m_impl->easy, CURLOPT_POST, 1L);
    curl_easy_setopt(m_impl->easy, CURLOPT_POSTFIELDS, m_impl->requestBody.data());
    curl_easy_setopt(m_impl->easy, CURLOPT_POSTFIELDSIZE_LARGE,
        static_cast<curl_off_t>(m_impl->requestBody.size()));
    m_impl->appendHeader("Content-Type: " + contentType);
    // No "Expect: 100-continue" round trip for larger bodies.
    m_impl->appendHeader("Expect:");
    return m_impl->start();
}

const Response* HttpClient::response() const
{
    return m_impl->response ? &*m_impl->response : nullptr;
}

std::optional<vy::BasicBuffer> HttpClient::fetchEntireMessageBody()
{
    if (!m_impl->response)
        return std::nullopt;
    m_impl->streaming = false;
    m_impl->resume();
    m_impl->driveUntil([] { return false; });
    if (m_impl->result != CURLE_OK)
        return std::nullopt;
    return std::exchange(m_impl->body, vy::BasicBuffer());
}

bool HttpClient::eof() const
{
    return !m_impl->response || (m_impl->finished && m_impl->body.size() == 0);
}

vy::BasicBuffer HttpClient::fetchMessageBodyBuffer()
{
    if (!m_impl->response)
        return {};
    if (m_impl->body.size() == 0)
    {
        m_impl->resume();
        m_impl->driveUntil([this] { return m_impl->body.size() != 0; });
    }
    return std::exchange(m_impl->body, vy::BasicBuffer());
}

bool HttpClient::hasRequestSucceeded() const
{
    return m_impl->response && m_impl->finished && m_impl->result == CURLE_OK;
}

std::string HttpClient::failure() const
{
    return m_impl->finished ? m_impl->failureText : std::string();
}

} // namespace vy::network::http
