#include <gtest/gtest.h>

#include <optional>
#include <thread>
#include <vector>

#include "captured_log.h"
#include "core/host_rest_client.h"
#include "eventually.h"
#include "standin_host_fixture.h"

using namespace std::chrono_literals;
using vyai::test::CapturedLog;
using vyai::test::scaled;
using vyai::test::StandinHost;
using Fault = vyhost::UtilityProvider::RequestFault;

namespace {

constexpr const char* kDevicePath = "/rest/v4/devices/3f2b7c1e-0000-4000-8000-000000000001";

// How long the plug-in waits for the host's answer here.
const std::chrono::milliseconds kAnswerWait = scaled(500ms);

class HostRestClientTest: public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(host.store->putDevice(
            R"({"id":"3f2b7c1e-0000-4000-8000-000000000001","name":"Cam 1","parameters":{"vyAI":{"PluginEnabled":true,"models":[{"UUID":"m-1"}]}}})"));
    }

    std::string get(const char* path) { return vyai::doRequest(path, "GET", "", "", host.utilityProvider()); }

    void setFault(Fault fault) { host.provider->setRequestFault(std::move(fault)); }

    CapturedLog log;
    vyai::test::ScopedHostAnswerTimeout shortWait{kAnswerWait};
    StandinHost host;
};

} // namespace

TEST_F(HostRestClientTest, TheBodyLineIsTakenFromTheRawAnswer)
{
    struct Case
    {
        const char* name;
        const char* answer;
        const char* body;
    };
    const Case cases[] = {
        {"CR LF", "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n\r\n{\"a\":1}", "{\"a\":1}"},
        {"LF", "HTTP/1.1 200 OK\nContent-Type: application/json\n\n{\"a\":1}", "{\"a\":1}"},
        {"bare body", "{\"a\":1}", "{\"a\":1}"},
        {"several body lines", "HTTP/1.1 200 OK\r\nX: y\r\n\r\n{\"a\":1}\r\n{\"b\":2}\r\n", "{\"a\":1}\r"},
        {"nothing after the empty line", "HTTP/1.1 204 No Content\r\nX: y\r\n\r\n", ""},
        {"ends on a bare CR line", "HTTP/1.1 200 OK\r\nX: y\r\n\r", ""},
    };
    for (const Case& c: cases)
    {
        SCOPED_TRACE(c.name);
        setFault({.kind = Fault::Kind::rawAnswer, .rawText = c.answer});
        EXPECT_EQ(get("/rest/v4/servers/this"), c.body);
    }
    // An empty body is an answer, not a failure.
    EXPECT_FALSE(log.contains("Could not get response"));
}

TEST_F(HostRestClientTest, FailuresReachTheCallerAsAnEmptyText)
{
    struct Case
    {
        const char* name;
        Fault fault;
        const char* logged;
        std::chrono::milliseconds wait = kAnswerWait; //< for the host's answer
    };
    const std::string unanswered = "Http request failed: No answer from the host within "
        + std::to_string(kAnswerWait.count()) + " ms\n";
    const std::string oversized = "HTTP/1.1 200 OK\r\n\r\n[" + std::string(vyai::kMaxHostAnswerBytes, ' ') + "]";
    const std::string oversizedLine = "Http request failed: the host's answer of " + std::to_string(oversized.size())
        + " bytes is above the bound of " + std::to_string(vyai::kMaxHostAnswerBytes) + " bytes\n";
    const Case cases[] = {
        {"host error", {.kind = Fault::Kind::errorResult}, "Http request failed: Host request failed\n"},
        // Making 16 MiB may take longer than the short wait on a loaded machine.
        {"answer above the bound", {.kind = Fault::Kind::rawAnswer, .rawText = oversized}, oversizedLine.c_str(), 30s},
        {"host error without message", {.kind = Fault::Kind::errorWithoutMessage}, "Http request failed: \n"},
        {"success without value", {.kind = Fault::Kind::successWithoutValue}, "Http request failed: Result has no value.\n"},
        {"error status", {.kind = Fault::Kind::status, .status = 500}, "Http request failed: HTTP/1.1 500 Internal Server Error\n"},
        {"status code 000", {.kind = Fault::Kind::rawAnswer, .rawText = "HTTP/1.1 000 x\r\n\r\n{\"a\":1}"},
            "Http request failed: the status line cannot be read\n"},
        {"status code below 100", {.kind = Fault::Kind::rawAnswer, .rawText = "HTTP/1.1 099 x\r\n\r\n{\"a\":1}"},
            "Http request failed: the status line cannot be read\n"},
        {"no status code", {.kind = Fault::Kind::rawAnswer, .rawText = "HTTP/1.1\n\n{\"a\":1}"},
            "Http request failed: the status line cannot be read\n"},
        {"no answer", {.kind = Fault::Kind::neverAnswer}, unanswered.c_str()},
        {"late answer", {.kind = Fault::Kind::none, .delay = 4 * kAnswerWait}, unanswered.c_str()},
    };
    for (const Case& c: cases)
    {
        SCOPED_TRACE(c.name);
        vyai::test::ScopedHostAnswerTimeout wait(c.wait);
        setFault(c.fault);
        EXPECT_EQ(get("/rest/v4/servers/this"), "");
        EXPECT_TRUE(log.contains(c.logged)) << log.text();
    }
    EXPECT_TRUE(log.contains("Warning! Could not get response from API.\n"));
}

TEST_F(HostRestClientTest, ARequestAfterAnUnansweredOneSucceeds)
{
    setFault({.kind = Fault::Kind::neverAnswer, .count = 1});
    EXPECT_EQ(get("/rest/v4/servers/this"), "");
    setFault({.kind = Fault::Kind::none, .delay = 2 * kAnswerWait, .count = 1});
    EXPECT_EQ(get("/rest/v4/servers/this"), "");
    // The late answer of the previous request arrives meanwhile and is dropped.
    EXPECT_EQ(vyai::getDeviceParameters(host.utilityProvider(), "3f2b7c1e-0000-4000-8000-000000000001"),
        *host.store->device("3f2b7c1e-0000-4000-8000-000000000001"));
    host.provider->waitUntilIdle();
}

TEST_F(HostRestClientTest, ASecondCompletionIsIgnored)
{
    setFault({.kind = Fault::Kind::answerTwice});
    EXPECT_EQ(get("/rest/v4/servers/this"), host.store->server());
    host.provider->waitUntilIdle();
    EXPECT_TRUE(log.contains("Warning! Host completed a request twice; the second answer is ignored.\n"));
}

TEST_F(HostRestClientTest, NoProviderNoRequest)
{
    EXPECT_EQ(vyai::doRequest("/rest/v4/servers/this", "GET", "", "", nullptr), "");
    EXPECT_EQ(vyai::getDevicesParameters(nullptr), "");
    EXPECT_EQ(vyai::getServerParameters(nullptr), nullptr);
    EXPECT_TRUE(log.contains("Warning! doRequest called with invalid utility provider.\n"));
    EXPECT_TRUE(log.contains("Warning! getDevicesParameters called with invalid utility provider.\n"));
}

TEST_F(HostRestClientTest, RequestsAreSentOneAtATime)
{
    setFault({.kind = Fault::Kind::none, .delay = scaled(300ms)});
    std::thread first([this] { get("/rest/v4/servers/this"); });
    EXPECT_TRUE(vyai::test::eventually([&] { return !host.provider->requests().empty(); }));
    std::thread second([this] { get(kDevicePath); });
    // The second request must not reach the host while the first awaits its answer.
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(host.provider->requests().size(), 1u);
    first.join();
    second.join();
    EXPECT_EQ(host.provider->requests().size(), 2u);
}

TEST_F(HostRestClientTest, TheRequestsCarryTheirMethodPathAndBody)
{
    vyai::getServerParameters(host.utilityProvider());
    vyai::getDevicesParameters(host.utilityProvider());
    vyai::getDeviceParameters(host.utilityProvider(), "3f2b7c1e-0000-4000-8000-000000000001");
    vyai::patchDeviceParameters(host.utilityProvider(), R"({"parameters":{"vyAI":{}}})",
        "3f2b7c1e-0000-4000-8000-000000000001");
    vyai::patchServerParameters(host.utilityProvider(), R"({"parameters":{"vyAI":{}}})");

    const auto requests = host.provider->requests();
    ASSERT_EQ(requests.size(), 5u);
    const auto expect = [](const vyhost::UtilityProvider::Request& request, const char* method,
                            const std::string& path, const char* mimeType, const char* body) {
        EXPECT_EQ(request.domain, 1);
        EXPECT_EQ(request.method, method);
        EXPECT_EQ(request.path, path);
        EXPECT_EQ(request.mimeType, mimeType);
        EXPECT_EQ(request.body, body);
    };
    expect(requests[0], "GET", "/rest/v4/servers/this", "", "");
    expect(requests[1], "GET", std::string("/rest/v4/devices?serverId=") + vyai::test::kTestServerId, "", "");
    expect(requests[2], "GET", kDevicePath, "", "");
    expect(requests[3], "PATCH", kDevicePath, "application/json", R"({"parameters":{"vyAI":{}}})");
    expect(requests[4], "PATCH", "/rest/v4/servers/this", "application/json", R"({"parameters":{"vyAI":{}}})");
}

TEST_F(HostRestClientTest, ServerParametersAreParsed)
{
    const vyai::JsonDocument server = vyai::getServerParameters(host.utilityProvider());
    ASSERT_NE(server, nullptr);
    EXPECT_STREQ(yyjson_get_str(yyjson_obj_get(yyjson_doc_get_root(server.get()), "id")), vyai::test::kTestServerId);

    setFault({.kind = Fault::Kind::rawAnswer, .rawText = "HTTP/1.1 200 OK\r\n\r\nnot json"});
    EXPECT_EQ(vyai::getServerParameters(host.utilityProvider()), nullptr);
}

TEST_F(HostRestClientTest, OnlyThisServersDevicesAreListed)
{
    ASSERT_TRUE(host.store->putDevice(R"({"id":"other-server-device","serverId":"{99999999-0000-0000-0000-000000000000}"})"));
    const std::string devices = vyai::getDevicesParameters(host.utilityProvider());
    EXPECT_NE(devices.find("3f2b7c1e-0000-4000-8000-000000000001"), std::string::npos);
    EXPECT_EQ(devices.find("other-server-device"), std::string::npos);
}

TEST_F(HostRestClientTest, APatchMergesIntoTheDevicesParameters)
{
    const std::string answer = vyai::patchDeviceParameters(host.utilityProvider(),
        R"({"parameters":{"vyAI":{"selectedPipeline":"p-1","models":null}}})", "3f2b7c1e-0000-4000-8000-000000000001");
    EXPECT_EQ(answer, *host.store->device("3f2b7c1e-0000-4000-8000-000000000001"));
    EXPECT_NE(answer.find(R"("parameters":{"vyAI":{"PluginEnabled":true,"selectedPipeline":"p-1"}})"), std::string::npos)
        << answer;
}

TEST_F(HostRestClientTest, APatchOfAnUnknownDeviceFails)
{
    EXPECT_EQ(vyai::patchDeviceParameters(host.utilityProvider(), R"({"parameters":{"vyAI":{}}})", "no-such-device"), "");
    EXPECT_TRUE(log.contains("Http request failed: HTTP/1.1 404 Not Found\n"));
}

TEST_F(HostRestClientTest, RuntimeInformationIsPatchedIntoTheServer)
{
    vyai::updateRuntimeInformation(host.utilityProvider(), "Generic CPU", "application/x-vy-runtime-cpu");
    const auto requests = host.provider->requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].body,
        R"({"parameters":{"vyAI":{"runtimeInformation":[{"mimetypes":["application/x-vy-runtime-cpu"],"name":"Generic CPU"}]}}})");
    EXPECT_NE(host.store->server().find(
                  R"("vyAI":{"runtimeInformation":[{"mimetypes":["application/x-vy-runtime-cpu"],"name":"Generic CPU"}]})"),
        std::string::npos);
}

// A host that accepts a PATCH without sending the record back has taken it: the loop must not
// try it again and again.
TEST_F(HostRestClientTest, AServerPatchCountsAsDoneWhenTheHostAcceptsItWithOrWithoutABody)
{
    const struct {
        const char* name;
        Fault fault;
        bool accepted;
    } cases[] = {
        {"the record sent back", {}, true},
        {"no content", {.kind = Fault::Kind::rawAnswer, .rawText = "HTTP/1.1 204 No Content\r\n\r\n"}, true},
        {"an empty body", {.kind = Fault::Kind::rawAnswer, .rawText = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"}, true},
        {"an error status", {.kind = Fault::Kind::status, .status = 500}, false},
        {"a host error", {.kind = Fault::Kind::errorResult}, false},
    };
    for (const auto& c: cases)
    {
        SCOPED_TRACE(c.name);
        setFault(c.fault);
        EXPECT_EQ(vyai::patchServerParameters(host.utilityProvider(), R"({"parameters":{"vyAI":{}}})"), c.accepted);
        EXPECT_EQ(vyai::updateRuntimeInformation(host.utilityProvider(), "Generic CPU", "application/x-onnx"),
            c.accepted);
    }
}

TEST_F(HostRestClientTest, DevicesAreSortedByTheirConfiguration)
{
    for (const char* device: {
             R"({"id":"full","parameters":{"vyAI":{"models":[],"pipelines":[]}}})",
             R"({"id":"pipelines-only","parameters":{"vyAI":{"pipelines":[]}}})",
             R"({"id":"enabled-only","parameters":{"vyAI":{"PluginEnabled":true}}})",
             R"({"id":"not-an-object","parameters":{"vyAI":"x"}})",
             R"({"id":"not-activated","parameters":{}})",
             R"({"id":"no-parameters"})",
         })
    {
        ASSERT_TRUE(host.store->putDevice(device));
    }
    const std::string cam = "3f2b7c1e-0000-4000-8000-000000000001"; // models only

    EXPECT_EQ(vyai::listConfiguredDevices(host.utilityProvider()),
        (std::vector<std::string>{cam, "full", "pipelines-only"}));
    EXPECT_EQ(vyai::listUnconfiguredDevices(host.utilityProvider()),
        (std::vector<std::string>{cam, "pipelines-only", "enabled-only", "not-an-object"}));
    EXPECT_TRUE(log.contains("Device not-activated not activated yet. Ignoring.\n"));
    EXPECT_TRUE(log.contains("Device no-parameters not activated yet. Ignoring.\n"));
    EXPECT_TRUE(log.contains("Device full has configuration. Ignoring.\n"));
    EXPECT_TRUE(log.contains("Device enabled-only has no configuration. Ignoring.\n"));
}

// A list that could not be read is no empty list: a reset of no devices would count as done.
TEST_F(HostRestClientTest, NoDeviceListWithoutTheHostsAnswer)
{
    const struct {
        const char* name;
        Fault fault;
        std::optional<std::vector<std::string>> listed;
    } cases[] = {
        {"an error status", {.kind = Fault::Kind::status, .status = 500}, std::nullopt},
        {"no list", {.kind = Fault::Kind::rawAnswer, .rawText = R"({"error":"x"})"}, std::nullopt},
        {"an empty list", {.kind = Fault::Kind::rawAnswer, .rawText = "[]"}, std::vector<std::string>{}},
    };
    for (const auto& c: cases)
    {
        SCOPED_TRACE(c.name);
        setFault(c.fault);
        EXPECT_EQ(vyai::listConfiguredDevices(host.utilityProvider()), c.listed);
        EXPECT_EQ(vyai::listUnconfiguredDevices(host.utilityProvider()), c.listed);
    }
    EXPECT_EQ(log.count("Warning! Could not patch default device parameters."), 4);
}
