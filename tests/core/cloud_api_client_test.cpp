#include <gtest/gtest.h>

#include <cloud/cloud_standin.h>

#include "captured_log.h"
#include "core/cloud_api_client.h"
#include "standin_host_fixture.h"
#include "time_factor.h"

using namespace std::chrono_literals;
using vy::standins::CloudStandin;
using vyai::CloudConnectionState;
using vyai::test::CapturedLog;
using vyai::test::scaled;
using vyai::test::StandinHost;

namespace {

constexpr const char* kCatalogue = R"([
    {"name":"People","uuid":"p-1","models":[{"UUID":"m-1"}],"pipelines":[{"modelUUID":"m-1"}],"deviceAdmin":"https://admin.test/d"},
    {"name":"Cars","uuid":"p-2","models":[]}
])";

constexpr const char* kCam1 = "3f2b7c1e-0000-4000-8000-000000000001";
constexpr const char* kCam2 = "3f2b7c1e-0000-4000-8000-000000000002";

// The client's idle limit, and a delay well past it for a cloud that answers too late.
const std::chrono::milliseconds kIdleLimit = scaled(500ms);
const std::chrono::milliseconds kTooSlow = scaled(3000ms);

class CloudApiClientTest: public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(cloud.setPipelines(kCatalogue));
        cloud.setToken(vyai::test::kTestCloudToken);
        cloud.setSystemId(vyai::test::kTestCloudSystemId);
        ASSERT_TRUE(cloud.start());
        for (const char* id: {kCam1, kCam2})
        {
            ASSERT_TRUE(host.store->putDevice(std::string(R"({"id":")") + id
                + R"(","parameters":{"vyAI":{"PluginEnabled":true}}})"));
        }
    }

    vyai::CloudApiClient client() const { return vyai::CloudApiClient({cloud.baseUrl(), kIdleLimit}); }

    std::vector<vyai::AvailablePipeline> fetch()
    {
        return client().fetchAvailablePipelines(host.utilityProvider(), kCam1);
    }

    void setFault(CloudStandin::Route route, CloudStandin::Fault fault) { cloud.setFault(route, std::move(fault)); }

    int hostPatches() const
    {
        int patches = 0;
        for (const auto& request: host.provider->requests())
            patches += request.method == "PATCH" ? 1 : 0;
        return patches;
    }

    CapturedLog log;
    vyai::test::ScopedHostAnswerTimeout shortWait{scaled(2000ms)};
    CloudStandin cloud;
    StandinHost host;
};

vyhost::UtilityProvider::Identity identityWithToken(std::optional<std::string> token)
{
    auto identity = StandinHost::defaultIdentity();
    identity.cloudToken = std::move(token);
    return identity;
}

} // namespace

TEST(CloudConnection, FollowsTheHostsToken)
{
    struct Case
    {
        const char* name;
        std::optional<std::string> token;
        CloudConnectionState state;
        const char* logged;
    };
    const Case cases[] = {
        {"token", "t", CloudConnectionState::connected, "Got cloud token.\n"},
        {"empty token", "", CloudConnectionState::notConnected, "Couldn't get cloud token. Assuming not connected to cloud.\n"},
        {"no token", std::nullopt, CloudConnectionState::notConnected,
            "Warning! Cloud token is NULL. This could indicate an incompatible VMS.\n"},
    };
    for (const Case& c: cases)
    {
        SCOPED_TRACE(c.name);
        CapturedLog log;
        StandinHost host(identityWithToken(c.token));
        vyai::CloudApiClient client({"http://127.0.0.1:1", 100ms});
        EXPECT_EQ(client.cloudConnectionState(), CloudConnectionState::notChecked);
        client.isCloudConnected(host.utilityProvider());
        EXPECT_EQ(client.cloudConnectionState(), c.state);
        EXPECT_TRUE(log.contains(c.logged)) << log.text();
    }
}

TEST(CloudConnection, WithoutProviderTheCheckStaysPending)
{
    CapturedLog log;
    vyai::CloudApiClient client({"http://127.0.0.1:1", 100ms});
    client.isCloudConnected(nullptr);
    EXPECT_EQ(client.cloudConnectionState(), CloudConnectionState::checking);
    EXPECT_TRUE(log.contains("Warning! Utility provider is null, cannot check cloud connection.\n"));
}

TEST(CloudConnection, ATokenThatComesLaterConnectsAndIsReportedOnlyVerbosely)
{
    CapturedLog basicLog(1);
    StandinHost host(identityWithToken(""));
    vyai::CloudApiClient client({"http://127.0.0.1:1", 100ms});
    client.isCloudConnected(host.utilityProvider());
    EXPECT_EQ(client.cloudConnectionState(), CloudConnectionState::notConnected);
    host.provider->setCloudToken("t");
    client.isCloudConnected(host.utilityProvider());
    EXPECT_EQ(client.cloudConnectionState(), CloudConnectionState::connected);

    basicLog.stop();
    EXPECT_TRUE(basicLog.contains("Couldn't get cloud token. Assuming not connected to cloud.\n"));
    EXPECT_FALSE(basicLog.contains("Got cloud token."));
}

TEST_F(CloudApiClientTest, OffersBecomePatchBodiesThatSelectThem)
{
    const auto pipelines = fetch();
    ASSERT_EQ(pipelines.size(), 2u);
    EXPECT_EQ(pipelines[0].name, "People");
    EXPECT_EQ(pipelines[0].uuid, "p-1");
    EXPECT_EQ(pipelines[0].parametersJson,
        R"({"parameters":{"vyAI":{"models":[{"UUID":"m-1"}],"pipelines":[{"modelUUID":"m-1"}],"deviceAdmin":"https://admin.test/d","selectedPipeline":"p-1"}}})");
    EXPECT_EQ(pipelines[1].parametersJson, R"({"parameters":{"vyAI":{"models":[],"selectedPipeline":"p-2"}}})");
    EXPECT_TRUE(log.contains("Got available pipeline: People:\n{\"parameters\""));

    const auto requests = cloud.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].path, std::string("/system/sys-1/device/") + kCam1 + "/available-pipelines");
    EXPECT_EQ(requests[0].userAgent, "VYAI-Plugin/5.0.19");
    EXPECT_EQ(requests[0].authorization, vyai::test::kTestCloudToken);
}

TEST_F(CloudApiClientTest, AnOfferWithoutUuidSelectsNothing)
{
    ASSERT_TRUE(cloud.setPipelines(R"([{"name":"Loose","models":[1],"name":"again"}])"));
    const auto pipelines = fetch();
    ASSERT_EQ(pipelines.size(), 1u);
    EXPECT_EQ(pipelines[0].uuid, "");
    EXPECT_EQ(pipelines[0].parametersJson, R"({"parameters":{"vyAI":{"models":[1]}}})");
}

TEST_F(CloudApiClientTest, WithoutCloudSystemTheSystemSegmentIsEmpty)
{
    auto identity = StandinHost::defaultIdentity();
    identity.cloudSystemId.reset();
    StandinHost siteless(identity);
    cloud.setSystemId("");
    EXPECT_EQ(vyai::CloudApiClient({cloud.baseUrl(), kIdleLimit}).fetchAvailablePipelines(siteless.utilityProvider(), kCam1).size(), 2u);
    vyai::CloudApiClient({cloud.baseUrl(), kIdleLimit}).resetDevices(siteless.utilityProvider(), {});

    const auto requests = cloud.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].path, std::string("/system//device/") + kCam1 + "/available-pipelines");
    EXPECT_EQ(requests[1].path, "/reset/");
    EXPECT_EQ(requests[1].body, std::string(R"({"SystemId":"","ServerId":")") + vyai::test::kTestServerId + R"(","Devices":[]})");
    EXPECT_TRUE(log.contains("Resetting configuration of 0 devices. String: "));
}

TEST_F(CloudApiClientTest, FailedFetchesGiveNoPipelines)
{
    struct Case
    {
        const char* name;
        CloudStandin::Fault fault;
        const char* logged; //< nullptr: nothing is logged
    };
    const std::string endpoint = "Failed to fetch pipelines! Endpoint:" + cloud.baseUrl() + "/system/sys-1/device/" + kCam1
        + "/available-pipelines";
    const std::string notFound = endpoint + R"( Code: 404 Line: HTTP/1.1 404 Not Found Body: {"error":"not found"})";
    const std::string unavailable = endpoint + R"( Code: 503 Line: HTTP/1.1 503 Service Unavailable Body: down)";
    const std::string noResponse = "Couldn't get a response from endpoint: " + cloud.baseUrl();
    const Case cases[] = {
        {"not found", {.status = 404}, notFound.c_str()},
        {"unavailable", {.status = 503, .body = "down"}, unavailable.c_str()},
        {"too slow", {.delay = kTooSlow}, noResponse.c_str()},
        {"not JSON", {.body = "[{\"name\":"}, nullptr},
        {"not an array", {.body = R"({"name":"People"})"}, nullptr},
    };
    for (const Case& c: cases)
    {
        SCOPED_TRACE(c.name);
        CapturedLog caseLog;
        setFault(CloudStandin::Route::availablePipelines, c.fault);
        EXPECT_TRUE(fetch().empty());
        if (c.logged)
            EXPECT_TRUE(caseLog.contains(c.logged)) << caseLog.text();
        else
            EXPECT_EQ(caseLog.text(), "");
    }
}

TEST_F(CloudApiClientTest, WithoutTokenTheServiceRefuses)
{
    StandinHost tokenless(identityWithToken(std::nullopt));
    EXPECT_TRUE(vyai::CloudApiClient({cloud.baseUrl(), kIdleLimit}).fetchAvailablePipelines(tokenless.utilityProvider(), kCam1).empty());
    EXPECT_TRUE(log.contains(R"( Code: 401 Line: HTTP/1.1 401 Unauthorized Body: {"error":"unauthorized"})"));
    EXPECT_EQ(cloud.requests().at(0).authorization, "");
}

TEST_F(CloudApiClientTest, AResetPatchesEachDevicesNewConfiguration)
{
    cloud.offerPipelines(kCam2, {"p-2"});
    client().resetDevices(host.utilityProvider(), {kCam1, kCam2});

    const auto requests = cloud.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].path, "/reset/sys-1");
    EXPECT_EQ(requests[0].contentType, "application/json");
    EXPECT_EQ(requests[0].body, std::string(R"({"SystemId":"sys-1","ServerId":")") + vyai::test::kTestServerId
        + R"(","Devices":[")" + kCam1 + R"(",")" + kCam2 + R"("]})");
    EXPECT_TRUE(log.contains("Resetting configuration of 2 devices. String: {\"SystemId\""));

    // The host merges the new configuration with what the device had.
    EXPECT_NE(host.store->device(kCam1)->find(
                  R"("vyAI":{"PluginEnabled":true,"models":[{"UUID":"m-1"}],"pipelines":[{"modelUUID":"m-1"}],"deviceAdmin":"https://admin.test/d","selectedPipeline":"p-1"})"),
        std::string::npos)
        << *host.store->device(kCam1);
    EXPECT_NE(host.store->device(kCam2)->find(R"("vyAI":{"PluginEnabled":true,"models":[],"selectedPipeline":"p-2"})"),
        std::string::npos)
        << *host.store->device(kCam2);
    EXPECT_TRUE(log.contains(std::string("Patching parameters to device: ") + kCam1 + " : {\"parameters\":{\"vyAI\":"));
}

TEST_F(CloudApiClientTest, DevicesNotAskedAboutAreNotPatched)
{
    const std::string serverBefore = host.store->server();
    setFault(CloudStandin::Route::reset,
        {.body = std::string(R"({"Devices":{"../servers/this":{"x":1},")") + kCam2 + R"(":{"x":2},")" + kCam1
                + R"(\u0000tail":{"z":4},")" + kCam1 + R"(":{"y":3}}})"});
    client().resetDevices(host.utilityProvider(), {kCam1});

    const auto requests = host.provider->requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].path, std::string("/rest/v4/devices/") + kCam1);
    EXPECT_EQ(requests[0].body, R"({"parameters":{"vyAI":{"y":3}}})");
    EXPECT_EQ(host.store->server(), serverBefore);
    EXPECT_TRUE(log.contains("Warning! Cloud reset answered for device ../servers/this, which was not asked for. Ignoring.\n"));
}

TEST_F(CloudApiClientTest, FailedResetsPatchNothing)
{
    struct Case
    {
        const char* name;
        CloudStandin::Fault fault;
        const char* logged; //< nullptr: no failure line
    };
    const std::string refused = "Failed to configure devices! Endpoint:" + cloud.baseUrl()
        + R"(/reset/sys-1 Code: 500 Line: HTTP/1.1 500 Internal Server Error Body: {"error":"internal error"})";
    const std::string noResponse = "Couldn't get a response from endpoint: " + cloud.baseUrl() + "/reset/sys-1\n";
    const Case cases[] = {
        {"error status", {.status = 500}, refused.c_str()},
        {"too slow", {.delay = kTooSlow}, noResponse.c_str()},
        {"not JSON", {.body = "{\"Devices\":"}, nullptr},
        {"devices as an array", {.body = std::string(R"({"Devices":[")") + kCam1 + R"("]})"}, nullptr},
        {"no devices", {.body = R"({"Devices":{}})"}, nullptr},
    };
    for (const Case& c: cases)
    {
        SCOPED_TRACE(c.name);
        CapturedLog caseLog;
        setFault(CloudStandin::Route::reset, c.fault);
        client().resetDevices(host.utilityProvider(), {kCam1});
        EXPECT_EQ(hostPatches(), 0);
        if (c.logged)
            EXPECT_TRUE(caseLog.contains(c.logged)) << caseLog.text();
        else
            EXPECT_FALSE(caseLog.contains("Failed"));
    }
}

TEST_F(CloudApiClientTest, NoProviderNoReset)
{
    client().resetDevices(nullptr, {kCam1});
    EXPECT_TRUE(cloud.requests().empty());
    EXPECT_TRUE(log.contains("Warning! Utility provider is null, cannot reset device pipelines.\n"));
}

TEST_F(CloudApiClientTest, AnswersThatNeverEndOrOutgrowTheBoundGiveNoPipelines)
{
    vy::standins::LoopbackServer slowCloud;
    const std::string oversized = "[" + std::string(vyai::CloudApiClient::kMaxAnswerBytes, ' ') + "]";
    slowCloud.http().Get(R"(/trickle/system/.*/available-pipelines)",
        [&slowCloud](const httplib::Request&, httplib::Response& response) {
            // A byte every half second until the client hangs up: never idle for the client's limit.
            response.set_chunked_content_provider("application/json", [&slowCloud](size_t, httplib::DataSink& sink) {
                if (!slowCloud.pause(500ms))
                    return sink.done(), true;
                return sink.write(" ", 1);
            });
        });
    slowCloud.http().Get(R"(/announced/system/.*/available-pipelines)",
        [&oversized](const httplib::Request&, httplib::Response& response) {
            response.set_content(oversized, "application/json");
        });
    slowCloud.http().Get(R"(/chunked/system/.*/available-pipelines)",
        [&oversized](const httplib::Request&, httplib::Response& response) {
            response.set_chunked_content_provider("application/json", [&oversized](size_t offset, httplib::DataSink& sink) {
                if (offset >= oversized.size())
                    return sink.done(), true;
                return sink.write(oversized.data() + offset, std::min<size_t>(65536, oversized.size() - offset));
            });
        });
    ASSERT_TRUE(slowCloud.start());
    const std::string base = "http://127.0.0.1:" + std::to_string(slowCloud.port());
    const std::string bound = std::to_string(vyai::CloudApiClient::kMaxAnswerBytes);
    // Only the trickle is meant to outlast its deadline; the oversized answers get the
    // product's own, which no slow build comes near while the bound is read.
    const std::chrono::milliseconds trickleDeadline = scaled(1500ms);

    const struct {
        const char* route;
        std::chrono::milliseconds deadline;
        std::string logged;
    } cases[] = {
        {"/trickle", trickleDeadline, "failed: not done within " + std::to_string(trickleDeadline.count()) + " ms"},
        {"/announced", vyai::CloudApiClient::kRequestDeadline,
            "failed: the body of " + std::to_string(oversized.size()) + " bytes is above the bound of " + bound + " bytes"},
        {"/chunked", vyai::CloudApiClient::kRequestDeadline, "failed: the body is above the bound of " + bound + " bytes"},
    };
    for (const auto& c: cases)
    {
        SCOPED_TRACE(c.route);
        CapturedLog caseLog;
        vyai::CloudApiClient slowClient({base + c.route, scaled(2000ms), c.deadline});
        EXPECT_TRUE(slowClient.fetchAvailablePipelines(host.utilityProvider(), kCam1).empty());
        EXPECT_TRUE(caseLog.contains("Failed to fetch available pipelines! Body can not be read.\n")) << caseLog.text();
        EXPECT_TRUE(caseLog.contains(c.logged)) << caseLog.text();
    }
    slowCloud.stop();
}
