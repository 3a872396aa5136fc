#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cloud/loopback_server.h>
#include <vy/network/http/http_client.h>
#include <vy/network/http/redirect.h>

#include "scoped_environment.h"
#include "time_factor.h"
#include "tls_identity.h"

using namespace std::chrono_literals;
using vy::network::http::HttpClient;
using vy::network::ssl::kDefaultCertificateCheck;
using vyai::test::scaled;

namespace {

// A server that stalls stays silent far longer than any limit a test sets.
const std::chrono::milliseconds kStall = scaled(10'000ms);
// The trickle sends a byte every 250 ms, for longer in all than the scaled second it is given.
const std::string kTrickle(static_cast<size_t>(6 * vyai::test::timeFactor()), 'x');

struct SeenRequest
{
    httplib::Headers headers;
    std::string body;
};

class HttpClientTest: public ::testing::Test
{
protected:
    void SetUp() override
    {
        auto& http = m_server.http();
        http.Get("/hello", [this](const httplib::Request& request, httplib::Response& response) {
            remember(request);
            ++m_helloRequests;
            response.set_content("hello", "text/plain");
        });
        http.Post("/echo", [this](const httplib::Request& request, httplib::Response& response) {
            remember(request);
            response.set_content(request.body, "application/json");
        });
        http.Get("/missing", [](const httplib::Request&, httplib::Response& response) {
            response.status = 404;
            response.set_content(R"({"error":"not found"})", "application/json");
        });
        http.Get("/slow-head", [this](const httplib::Request&, httplib::Response& response) {
            m_server.pause(kStall);
            response.set_content("late", "text/plain");
        });
        http.Get("/stalled-body", [this](const httplib::Request&, httplib::Response& response) {
            response.set_chunked_content_provider("text/plain", [this](size_t offset, httplib::DataSink& sink) {
                if (offset == 0)
                    return sink.write("part", 4);
                return !m_server.pause(kStall) ? false : (sink.done(), true);
            });
        });
        http.Get("/trickle", [this](const httplib::Request&, httplib::Response& response) {
            // Longer in total than the client's time limit, never idle for long.
            response.set_chunked_content_provider("text/plain", [this](size_t offset, httplib::DataSink& sink) {
                if (offset >= kTrickle.size() || !m_server.pause(250ms))
                    return sink.done(), true;
                return sink.write("x", 1);
            });
        });
        http.Get("/drip", [this](const httplib::Request&, httplib::Response& response) {
            // A byte a second for a minute: never idle for long, never done soon.
            response.set_chunked_content_provider("text/plain", [this](size_t offset, httplib::DataSink& sink) {
                if (offset >= 60 || !m_server.pause(1s))
                    return sink.done(), true;
                return sink.write("x", 1);
            });
        });
        http.Get("/relative-hop", [](const httplib::Request&, httplib::Response& response) {
            response.status = 302;
            response.set_header("Location", "with-headers");
        });
        http.Get("/declared-large", [](const httplib::Request&, httplib::Response& response) {
            response.set_content(std::string(20'000, 'a'), "text/plain");
        });
        http.Get("/truncated", [](const httplib::Request&, httplib::Response& response) {
            response.set_content_provider(100, "text/plain", [](size_t, size_t, httplib::DataSink& sink) {
                sink.write("only ten b", 10);
                return false; // drops the connection 90 bytes short
            });
        });
        http.Get("/with-headers", [](const httplib::Request&, httplib::Response& response) {
            response.set_header("X-Checksum-Md5", "ABCDEF");
            response.set_content("h", "text/plain");
        });
        http.Get("/hop", [this](const httplib::Request& request, httplib::Response& response) {
            remember(request);
            response.status = 307;
            response.set_header("Location", url("/hop2").toString());
            response.set_content("redirect body", "text/plain");
        });
        http.Get("/hop2", [this](const httplib::Request& request, httplib::Response& response) {
            remember(request);
            response.status = 302;
            response.set_header("Location", "/with-headers");
        });
        http.Get("/large", [](const httplib::Request&, httplib::Response& response) {
            response.set_chunked_content_provider("application/octet-stream",
                [](size_t offset, httplib::DataSink& sink) {
                    if (offset >= kLargeBody.size())
                        return sink.done(), true;
                    return sink.write(kLargeBody.data() + offset, std::min<size_t>(4096, kLargeBody.size() - offset));
                });
        });
        ASSERT_TRUE(m_server.start());
    }

    static inline const std::string kLargeBody = [] {
        std::string text(200'000, '\0');
        for (size_t i = 0; i < text.size(); ++i)
            text[i] = static_cast<char>('a' + i % 23);
        return text;
    }();

    vy::Url url(const std::string& path) const
    {
        return vy::Url("http://127.0.0.1:" + std::to_string(m_server.port()) + path);
    }

    SeenRequest lastRequest()
    {
        std::lock_guard lock(m_mutex);
        return m_lastRequest;
    }

    vy::standins::LoopbackServer m_server;
    std::atomic<int> m_helloRequests{0};

private:
    void remember(const httplib::Request& request)
    {
        std::lock_guard lock(m_mutex);
        m_lastRequest = {request.headers, request.body};
    }

    std::mutex m_mutex;
    SeenRequest m_lastRequest;
};

std::string headerOf(const SeenRequest& request, const std::string& name)
{
    const auto found = request.headers.find(name);
    return found == request.headers.end() ? "<absent>" : found->second;
}

} // namespace

TEST_F(HttpClientTest, GetDeliversStatusAndBodyAndSendsTheAddedHeaders)
{
    HttpClient client(kDefaultCertificateCheck);
    client.addAdditionalHeader("User-Agent", "VYAI-Plugin/5.0.19");
    client.addAdditionalHeader("Authorization", "token-1");
    ASSERT_TRUE(client.doGet(url("/hello")));
    ASSERT_NE(client.response(), nullptr);
    EXPECT_EQ(client.response()->statusLine.statusCode, 200);
    EXPECT_EQ(client.response()->statusLine.toString(), "HTTP/1.1 200 OK");
    const auto body = client.fetchEntireMessageBody();
    ASSERT_TRUE(body);
    EXPECT_EQ(body->toString(), "hello");

    const SeenRequest seen = lastRequest();
    EXPECT_EQ(headerOf(seen, "User-Agent"), "VYAI-Plugin/5.0.19");
    EXPECT_EQ(headerOf(seen, "Authorization"), "token-1");
}

TEST_F(HttpClientTest, PostSendsBodyAndContentTypeWithoutExpectRoundTrip)
{
    // Large enough that a client would otherwise ask "Expect: 100-continue".
    const std::string body = R"({"Devices":[")" + std::string(3000, 'a') + R"("]})";
    HttpClient client(kDefaultCertificateCheck);
    ASSERT_TRUE(client.doPost(url("/echo"), "application/json", vy::BasicBuffer(body)));
    EXPECT_EQ(client.response()->statusLine.statusCode, 200);
    EXPECT_EQ(client.fetchEntireMessageBody()->toString(), body);

    const SeenRequest seen = lastRequest();
    EXPECT_EQ(seen.body, body);
    EXPECT_EQ(headerOf(seen, "Content-Type"), "application/json");
    EXPECT_EQ(headerOf(seen, "Expect"), "<absent>");
}

TEST_F(HttpClientTest, AnErrorStatusIsAResponseWithItsBody)
{
    HttpClient client(kDefaultCertificateCheck);
    ASSERT_TRUE(client.doGet(url("/missing")));
    EXPECT_EQ(client.response()->statusLine.toString(), "HTTP/1.1 404 Not Found");
    EXPECT_EQ(client.fetchEntireMessageBody()->toString(), R"({"error":"not found"})");
}

TEST_F(HttpClientTest, NoServerGivesNoResponse)
{
    const int port = m_server.port();
    m_server.stop();
    HttpClient client(kDefaultCertificateCheck);
    client.setAllTimeouts(1s);
    EXPECT_FALSE(client.doGet(vy::Url("http://127.0.0.1:" + std::to_string(port) + "/hello")));
    EXPECT_EQ(client.response(), nullptr);
    EXPECT_FALSE(client.fetchEntireMessageBody());
}

TEST_F(HttpClientTest, OnlyHttpAndHttpsAreFetched)
{
    HttpClient client(kDefaultCertificateCheck);
    EXPECT_FALSE(client.doGet(vy::Url("file:///etc/hostname")));
    EXPECT_FALSE(client.doGet(vy::Url("not a url")));
    EXPECT_EQ(client.response(), nullptr);
}

TEST_F(HttpClientTest, ASilentServerEndsTheRequestAtTheIdleLimit)
{
    HttpClient client(kDefaultCertificateCheck);
    client.setAllTimeouts(500ms);
    EXPECT_FALSE(client.doGet(url("/slow-head")));
    EXPECT_EQ(client.response(), nullptr);
}

TEST_F(HttpClientTest, ABodyThatStallsIsNotDelivered)
{
    HttpClient client(kDefaultCertificateCheck);
    client.setAllTimeouts(scaled(500ms));
    ASSERT_TRUE(client.doGet(url("/stalled-body")));
    EXPECT_EQ(client.response()->statusLine.statusCode, 200);
    EXPECT_FALSE(client.fetchEntireMessageBody());
}

TEST_F(HttpClientTest, ATruncatedBodyIsNotDelivered)
{
    HttpClient client(kDefaultCertificateCheck);
    ASSERT_TRUE(client.doGet(url("/truncated")));
    EXPECT_FALSE(client.fetchEntireMessageBody());
}

TEST_F(HttpClientTest, ATransferThatKeepsMovingOutlastsTheTimeLimit)
{
    HttpClient client(kDefaultCertificateCheck);
    client.setAllTimeouts(scaled(1s));
    ASSERT_TRUE(client.doGet(url("/trickle")));
    const auto body = client.fetchEntireMessageBody();
    ASSERT_TRUE(body);
    EXPECT_EQ(body->toString(), kTrickle);
}

TEST_F(HttpClientTest, AClientCanBeReusedAfterAFailedRequest)
{
    HttpClient client(kDefaultCertificateCheck);
    client.setAllTimeouts(500ms);
    EXPECT_FALSE(client.doGet(url("/slow-head")));
    // A roomier limit for the request that must succeed: a loaded machine may be slow to answer.
    client.setAllTimeouts(scaled(10s));
    ASSERT_TRUE(client.doGet(url("/hello")));
    EXPECT_EQ(client.fetchEntireMessageBody()->toString(), "hello");
}

TEST(HttpClientTls, ASelfSignedServerIsRefused)
{
    vyai::test::TlsIdentity identity;
    auto tlsServer = std::make_unique<httplib::SSLServer>(identity.certificate, identity.key);
    ASSERT_TRUE(tlsServer->is_valid());
    tlsServer->Get("/hello", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("hello", "text/plain");
    });
    vy::standins::LoopbackServer server(std::move(tlsServer));
    ASSERT_TRUE(server.start());

    HttpClient client(kDefaultCertificateCheck);
    client.setAllTimeouts(2s);
    EXPECT_FALSE(client.doGet(vy::Url("https://127.0.0.1:" + std::to_string(server.port()) + "/hello")));
    EXPECT_EQ(client.response(), nullptr);
}

namespace {

// A proxy that agrees to open a tunnel and then hangs up, so the TLS handshake through it
// fails. Serves one client.
class HangingUpTunnelProxy
{
public:
    HangingUpTunnelProxy()
    {
        m_listener = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof(address);
        bind(m_listener, reinterpret_cast<sockaddr*>(&address), length);
        listen(m_listener, 1);
        getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { serveOne(); });
    }
    ~HangingUpTunnelProxy()
    {
        shutdown(m_listener, SHUT_RDWR); // ends an accept that nobody answered
        m_thread.join();
        close(m_listener);
    }

    std::string url() const { return "http://127.0.0.1:" + std::to_string(m_port); }

private:
    void serveOne()
    {
        const int client = accept(m_listener, nullptr, nullptr);
        if (client < 0)
            return;
        std::string head;
        char buffer[512];
        while (head.find("\r\n\r\n") == std::string::npos)
        {
            const ssize_t received = recv(client, buffer, sizeof(buffer), 0);
            if (received <= 0)
                break;
            head.append(buffer, static_cast<std::size_t>(received));
        }
        const std::string answer = "HTTP/1.1 200 Connection established\r\n\r\n";
        send(client, answer.data(), answer.size(), MSG_NOSIGNAL);
        close(client);
    }

    int m_listener = -1;
    int m_port = 0;
    std::thread m_thread;
};

} // namespace

TEST(HttpClientProxy, AProxysTunnelAnswerIsNoResponse)
{
    HangingUpTunnelProxy proxy;
    vyai::test::ScopedEnv httpsProxy("https_proxy", proxy.url());
    vyai::test::ScopedEnv noProxy("no_proxy", std::nullopt);
    vyai::test::ScopedEnv noProxyUpper("NO_PROXY", std::nullopt);

    HttpClient client(kDefaultCertificateCheck);
    client.setAllTimeouts(2s);
    EXPECT_FALSE(client.doGet(vy::Url("https://cloud.example.invalid/hello")));
    EXPECT_EQ(client.response(), nullptr);
}

TEST_F(HttpClientTest, ResponseHeadersAreFoundWithoutRegardToCase)
{
    HttpClient client(kDefaultCertificateCheck);
    ASSERT_TRUE(client.doGet(url("/with-headers")));
    const auto& headers = client.response()->headers;
    EXPECT_EQ(vy::network::http::getHeaderValue(headers, "x-checksum-md5"), "ABCDEF");
    EXPECT_EQ(vy::network::http::getHeaderValue(headers, "Content-Length"), "1");
    EXPECT_EQ(vy::network::http::getHeaderValue(headers, "X-Absent"), "");
}

TEST_F(HttpClientTest, ARedirectIsTheResponseUntilRedirectsAreAllowed)
{
    HttpClient client(kDefaultCertificateCheck);
    client.addAdditionalHeader("Authorization", "secret");
    ASSERT_TRUE(client.doGet(url("/hop")));
    EXPECT_EQ(client.response()->statusLine.statusCode, 307);
    EXPECT_EQ(vy::network::http::getHeaderValue(client.response()->headers, "Location"), url("/hop2").toString());

    client.removeAdditionalHeader("authorization");
    client.setMaxNumberOfRedirects(10);
    ASSERT_TRUE(client.doGet(url("/hop")));
    EXPECT_EQ(client.response()->statusLine.statusCode, 200);
    // The final answer's head and body, not those of the hops.
    EXPECT_EQ(vy::network::http::getHeaderValue(client.response()->headers, "X-Checksum-Md5"), "ABCDEF");
    EXPECT_EQ(client.fetchEntireMessageBody()->toString(), "h");
    EXPECT_EQ(headerOf(lastRequest(), "Authorization"), "<absent>");
}

TEST_F(HttpClientTest, TooManyRedirectsDoNotSucceed)
{
    HttpClient client(kDefaultCertificateCheck);
    client.setMaxNumberOfRedirects(1);
    ASSERT_TRUE(client.doGet(url("/hop")));
    EXPECT_EQ(client.response()->statusLine.statusCode, 302);
    EXPECT_FALSE(client.fetchEntireMessageBody());
}

TEST_F(HttpClientTest, TheBodyArrivesBufferByBuffer)
{
    HttpClient client(kDefaultCertificateCheck);
    ASSERT_TRUE(client.doGet(url("/large")));
    std::string received;
    int buffers = 0;
    while (!client.eof())
    {
        received += client.fetchMessageBodyBuffer().toString();
        ++buffers;
    }
    EXPECT_EQ(received, kLargeBody);
    EXPECT_GT(buffers, 1);
    EXPECT_TRUE(client.hasRequestSucceeded());
}

TEST_F(HttpClientTest, ABrokenOffBodyHasNotSucceeded)
{
    HttpClient client(kDefaultCertificateCheck);
    ASSERT_TRUE(client.doGet(url("/truncated")));
    while (!client.eof())
        client.fetchMessageBodyBuffer();
    EXPECT_FALSE(client.hasRequestSucceeded());
}

TEST_F(HttpClientTest, ABodyAboveTheBoundIsRefused)
{
    HttpClient client(kDefaultCertificateCheck);
    client.setMaxBodySize(10'000);
    ASSERT_TRUE(client.doGet(url("/large")));
    size_t received = 0;
    while (!client.eof())
        received += client.fetchMessageBodyBuffer().size();
    EXPECT_LE(received, 10'000u);
    EXPECT_FALSE(client.hasRequestSucceeded());
}

TEST_F(HttpClientTest, ACancelEndsTheWaitOnAStalledServer)
{
    HttpClient client(kDefaultCertificateCheck);
    client.setAllTimeouts(60s);
    std::atomic<bool> cancelled{false};
    std::atomic<bool> waitingForBody{false};
    std::atomic<int> asked{0};
    // Cancelled once the client has been seen waiting on the stalled body.
    client.setCancelCheck([&] { return waitingForBody && ++asked > 5 && (cancelled = true); });
    ASSERT_TRUE(client.doGet(url("/stalled-body")));
    waitingForBody = true;
    while (!client.eof())
        client.fetchMessageBodyBuffer();
    EXPECT_TRUE(cancelled);
    // Uncancelled, the server ends the body well after 10 s and the request succeeds.
    EXPECT_FALSE(client.hasRequestSucceeded());
}

TEST_F(HttpClientTest, TheDeadlineEndsAServerThatNeverFinishes)
{
    const struct {
        const char* path;
        bool headArrives;
    } cases[] = {
        {"/slow-head", false},
        {"/drip", true}, // a byte a second keeps the idle limit from ever firing
    };
    const std::chrono::milliseconds deadline = scaled(1500ms);
    for (const auto& c: cases)
    {
        HttpClient client(kDefaultCertificateCheck);
        client.setAllTimeouts(scaled(5s));
        client.setDeadline(deadline);
        EXPECT_EQ(client.doGet(url(c.path)), c.headArrives) << c.path;
        EXPECT_FALSE(client.fetchEntireMessageBody()) << c.path;
        EXPECT_FALSE(client.hasRequestSucceeded()) << c.path;
        EXPECT_EQ(client.failure(), "not done within " + std::to_string(deadline.count()) + " ms") << c.path;
    }
}

TEST_F(HttpClientTest, ADownloadSlowerThanTheMinimumRateEnds)
{
    HttpClient client(kDefaultCertificateCheck);
    client.setAllTimeouts(5s);
    client.setMinimumRate(1024, 1s);
    ASSERT_TRUE(client.doGet(url("/drip")));
    while (!client.eof())
        client.fetchMessageBodyBuffer();
    EXPECT_FALSE(client.hasRequestSucceeded());
    EXPECT_EQ(client.failure(), "fewer than 1024 bytes per second over 1000 ms");
}

TEST_F(HttpClientTest, ASlowButSteadyBodyMeetsALowMinimumRate)
{
    HttpClient client(kDefaultCertificateCheck);
    client.setAllTimeouts(scaled(5s));
    client.setMinimumRate(1, scaled(500ms)); // the trickle sends about four bytes a second
    ASSERT_TRUE(client.doGet(url("/trickle")));
    const auto body = client.fetchEntireMessageBody();
    ASSERT_TRUE(body) << client.failure();
    EXPECT_EQ(body->toString(), kTrickle);
    EXPECT_EQ(client.failure(), "");
}

TEST_F(HttpClientTest, ADeclaredBodyAboveTheBoundIsRefusedBeforeItComes)
{
    HttpClient client(kDefaultCertificateCheck);
    client.setMaxBodySize(10'000);
    ASSERT_TRUE(client.doGet(url("/declared-large")));
    EXPECT_EQ(client.response()->statusLine.statusCode, 200);
    EXPECT_FALSE(client.fetchEntireMessageBody());
    EXPECT_EQ(client.failure(), "the body of 20000 bytes is above the bound of 10000 bytes");
}

TEST_F(HttpClientTest, ARelativeLocationIsFollowedFromTheRequestsUrl)
{
    HttpClient client(kDefaultCertificateCheck);
    client.setMaxNumberOfRedirects(1);
    ASSERT_TRUE(client.doGet(url("/relative-hop")));
    EXPECT_EQ(client.response()->statusLine.statusCode, 200);
    EXPECT_EQ(vy::network::http::getHeaderValue(client.response()->headers, "X-Checksum-Md5"), "ABCDEF");
}

TEST(RedirectLocation, ResolvesAgainstTheRequest)
{
    const struct {
        const char* location;
        std::optional<std::string> expected;
    } cases[] = {
        {"https://storage.example/m.vyc", "https://storage.example/m.vyc"},
        {"/storage/m.vyc?sig=1", "https://cloud.example:8443/storage/m.vyc?sig=1"},
        {"m.vyc", "https://cloud.example:8443/models/m.vyc"},
        {"../storage/m.vyc", "https://cloud.example:8443/storage/m.vyc"},
        {"//other.example/m.vyc", "https://other.example/m.vyc"},
        {"http://plain.example/m.vyc", "http://plain.example/m.vyc"},
    };
    for (const auto& c: cases)
    {
        EXPECT_EQ(vy::network::http::resolveLocation("https://cloud.example:8443/models/abc?x=1", c.location),
            c.expected)
            << c.location;
    }
    EXPECT_EQ(vy::network::http::resolveLocation("not a url", "/x"), std::nullopt);
}

TEST(RedirectLocation, OnlyLeavingHttpsIsADowngrade)
{
    const struct {
        const char* from;
        const char* to;
        bool downgrade;
    } cases[] = {
        {"https://a.example/x", "http://b.example/y", true},
        {"HTTPS://a.example/x", "HTTP://a.example/x", true},
        {"https://a.example/x", "ftp://b.example/y", true},
        {"https://a.example/x", "not a url", true},
        {"https://a.example/x", "https://b.example/y", false},
        {"http://a.example/x", "http://b.example/y", false},
        {"http://a.example/x", "https://b.example/y", false},
    };
    for (const auto& c: cases)
        EXPECT_EQ(vy::network::http::isDowngrade(c.from, c.to), c.downgrade) << c.from << " -> " << c.to;
}

TEST_F(HttpClientTest, HttpsNeverFollowsARedirectToPlainHttp)
{
    vyai::test::TrustedTlsServer tls;
    const std::string plainHello = url("/hello").toString();
    tls.http().Get("/hello", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("secure hello", "text/plain");
    });
    tls.http().Get("/to-plain", [&plainHello](const httplib::Request&, httplib::Response& response) {
        response.status = 302;
        response.set_header("Location", plainHello);
    });
    tls.http().Get("/to-secure", [](const httplib::Request&, httplib::Response& response) {
        response.status = 307;
        response.set_header("Location", "/hello");
    });
    ASSERT_TRUE(tls.start());

    HttpClient client(kDefaultCertificateCheck);
    client.setAllTimeouts(scaled(10s));
    client.setMaxNumberOfRedirects(10);
    ASSERT_TRUE(client.doGet(vy::Url(tls.url("/to-secure")))) << client.failure();
    EXPECT_EQ(client.fetchEntireMessageBody()->toString(), "secure hello");

    ASSERT_TRUE(client.doGet(vy::Url(tls.url("/to-plain"))));
    EXPECT_EQ(client.response()->statusLine.statusCode, 302);
    EXPECT_FALSE(client.fetchEntireMessageBody());
    EXPECT_FALSE(client.hasRequestSucceeded());
    EXPECT_EQ(client.failure(), "a redirect from https to " + plainHello + " was refused");
    EXPECT_EQ(m_helloRequests.load(), 0);
}
