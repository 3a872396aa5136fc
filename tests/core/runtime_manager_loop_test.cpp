#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <cloud/cloud_standin.h>

#include "../provisioning/fake_tools.h"
#include "captured_log.h"
#include "core_host.h"
#include "eventually.h"
#include "foundations/message_codes.h"
#include "runtimes_manager_test_access.h"
#include "test_files.h"

using namespace std::chrono_literals;
using vy::standins::CloudStandin;

namespace {

using vyai::test::CoreHost;
using vyai::test::countOf;
namespace core = vy::vms_server_plugins::analytics::vyai;

constexpr const char* kSite = "site-1";
constexpr const char* kCam1 = "3f2b7c1e-0000-4000-8000-000000000001";
constexpr const char* kCam2 = "3f2b7c1e-0000-4000-8000-000000000002";
constexpr const char* kDevicesPath = "/rest/v4/devices?serverId";

constexpr const char* kCatalogue = R"([
    {"name":"People","uuid":"p-1","models":[],"pipelines":[{"modelUUID":"m-1"}]}
])";

// The loop's clock in the tests that move time themselves.
std::atomic<std::chrono::steady_clock::rep> g_fakeTicks{0};

// Requests that take a while: the clock also moves by `each` for every one of them a stand-in
// has received, so a clock read before such a request misses it and one read after sees it.
struct SlowRequests
{
    std::function<size_t()> count;
    std::chrono::steady_clock::duration each{};
};
SlowRequests g_slowRequests;

std::chrono::steady_clock::time_point fakeNow()
{
    const auto slow = g_slowRequests.count
        ? g_slowRequests.each * static_cast<std::chrono::steady_clock::rep>(g_slowRequests.count())
        : std::chrono::steady_clock::duration::zero();
    return std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(g_fakeTicks.load()) + slow);
}

void advanceFakeClock(std::chrono::steady_clock::duration step)
{
    g_fakeTicks += step.count();
}

/**
 * A runtime the plug-in installs itself, as after a user's choice: the "Generic CPU" package
 * from the stand-in storage, on an x86-64 machine with the given (fake) tools.
 */
void installRuntime(core::Engine& engine, CloudStandin& cloud, const vyai::test::FakeTools& tools)
{
    ASSERT_TRUE(cloud.storage().loadRuntimePackage(VY_TEST_RUNTIME_PACKAGE));
    vyai::RuntimesManager& runtimes = engine.runtimesManager();
    vyai::RuntimesManagerTestAccess::useMachine(runtimes, vyai::kArchitectureX86_64,
        {{"", cloud.baseUrl() + "/runtimes", false}, false, {tools.pciRoot()}});
    runtimes.detectAccelerators(engine.messages());
    runtimes.installRuntime("Generic CPU", engine.messages(), false);
    ASSERT_EQ(runtimes.getState(), vyai::kRuntimeInstalled);
}

/**
 * An engine whose loop the test drives pass by pass, against the host's REST store and the
 * stand-in cloud service. Both cameras start enabled but without a cloud configuration.
 */
class LoopPasses: public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(cloud.setPipelines(kCatalogue));
        cloud.setSystemId(kSite);
        ASSERT_TRUE(cloud.start());
        host.provider->setCloudSystemId(std::string(kSite));
        for (const char* id: {kCam1, kCam2})
        {
            ASSERT_TRUE(host.store->putDevice(std::string(R"({"id":")") + id
                + R"(","parameters":{"vyAI":{"PluginEnabled":true}}})"));
        }
        engine = host.obtainEngine();
        core::EngineTestAccess::holdLoop(*engine);
        core::EngineTestAccess::useCloud(*engine, cloud.baseUrl());
        core::EngineTestAccess::useClock(*engine, &fakeNow);
    }

    void TearDown() override { g_slowRequests = {}; }

    void pass() { core::EngineTestAccess::runPass(*engine); }

    /**
     * Passes while the cloud refuses every reset: one at once, the next after a second's
     * pause, none in the two seconds after it; `check` is called after each pass with the
     * number of resets it made.
     */
    void passWhileTheCloudRefusesResets(const std::function<void(size_t pass, size_t newResets)>& check)
    {
        cloud.setFault(CloudStandin::Route::reset, {.status = 500});
        const struct {
            std::chrono::milliseconds after; //< since the pass before
            size_t resets; //< reset requests the cloud has had after the pass
        } passes[] = {
            {0ms, 1}, // fails: a second's pause
            {999ms, 1},
            {1ms, 2}, // fails: two seconds' pause
            {1999ms, 2},
        };
        for (size_t i = 0; i < std::size(passes); ++i)
        {
            advanceFakeClock(passes[i].after);
            const size_t resets = cloudResets().size();
            pass();
            EXPECT_EQ(cloudResets().size(), passes[i].resets) << "pass " << i;
            check(i, cloudResets().size() - resets);
        }
    }

    /**
     * Passes after the host failed to list its devices once: at once and 999 ms later no reset
     * reaches the cloud (`check` is called after each of these passes); a second after the
     * failure a reset of both cameras does.
     */
    void passAfterAFailedDeviceListing(const std::function<void(std::chrono::milliseconds after)>& check)
    {
        host.provider->setRequestFault({.kind = vyhost::UtilityProvider::RequestFault::Kind::status,
            .status = 500, .pathPrefix = kDevicesPath, .count = 1});
        for (const auto after: {0ms, 999ms})
        {
            advanceFakeClock(after);
            pass();
            EXPECT_TRUE(cloudResets().empty()) << "after " << after.count() << " ms";
            check(after);
        }
        advanceFakeClock(1ms);
        pass();
        ASSERT_EQ(cloudResets().size(), 1u);
        EXPECT_NE(cloudResets()[0].find(kCam1), std::string::npos) << cloudResets()[0];
        EXPECT_NE(cloudResets()[0].find(kCam2), std::string::npos) << cloudResets()[0];
    }

    /**
     * Each of the tries `tries` counts takes 5 s and fails: the next is due a second after the
     * end of the last, not a second after it began.
     */
    void expectThePauseToRunFromTheEndOfAFailedTry(std::function<size_t()> tries)
    {
        g_slowRequests = {tries, std::chrono::seconds(5)};
        pass();
        ASSERT_EQ(tries(), 1u);
        advanceFakeClock(999ms);
        pass();
        EXPECT_EQ(tries(), 1u) << "tried again before the pause after the try had passed";
        advanceFakeClock(1ms);
        pass();
        EXPECT_EQ(tries(), 2u);
    }

    /** The server already carries the plug-in's parameters, saved for this site id. */
    void saveServerParameters(const std::string& siteId)
    {
        const auto answer = host.store->handle("PATCH", "/rest/v4/servers/this",
            R"({"parameters":{"vyAI":{"pluginVersion":"0","siteID":")" + siteId + R"("}}})");
        ASSERT_EQ(answer.status, 200);
    }

    /** Both cameras carry a cloud configuration. */
    void configureDevices()
    {
        for (const char* id: {kCam1, kCam2})
        {
            ASSERT_TRUE(host.store->putDevice(std::string(R"({"id":")") + id
                + R"(","parameters":{"vyAI":{"PluginEnabled":true,"models":[],"pipelines":[],)"
                + R"("deviceAdmin":"https://admin.test/)" + id + R"("}}})"));
        }
    }

    /** Connected, the server configured and a runtime ready: passes reach the actions. */
    void bringUp()
    {
        saveServerParameters(kSite);
        configureDevices();
        ASSERT_NO_FATAL_FAILURE(installRuntime(*engine, cloud, tools));
        pass();
    }

    std::vector<std::string> cloudResets() const
    {
        std::vector<std::string> bodies;
        for (const auto& request: cloud.requests())
        {
            if (request.path.starts_with("/reset/"))
                bodies.push_back(request.body);
        }
        return bodies;
    }

    int hostRequests(const std::string& method, const std::string& pathPrefix) const
    {
        int count = 0;
        for (const auto& request: host.provider->requests())
            count += request.method == method && request.path.starts_with(pathPrefix) ? 1 : 0;
        return count;
    }

    bool hasMessage(const char* code) const { return engine->messages().getMessages().count(code) > 0; }

    vyai::test::ScopedHostAnswerTimeout shortWait{vyai::test::scaled(5000ms)};
    vyai::test::FakeTools tools; // no accelerator tools, no PCI devices
    CloudStandin cloud;
    CoreHost host;
    vy::sdk::Ptr<core::Engine> engine;
};

TEST_F(LoopPasses, FirstConfigurationPublishesTheServerAndResetsTheUnconfiguredDevices)
{
    pass();

    const std::string server = host.store->server();
    EXPECT_NE(server.find(R"("pluginVersion":"5.0.19")"), std::string::npos) << server;
    EXPECT_NE(server.find(R"("siteID":"site-1")"), std::string::npos) << server;
    EXPECT_NE(server.find(R"("LineCrossing":"Line Crossing","Object Counting":"Object Counting",)"
                          R"("Illegal Dumping":"Illegal Dumping","LoiteringDetection":"Loitering Detection")"),
        std::string::npos) << server;
    ASSERT_EQ(cloudResets().size(), 1u);
    EXPECT_NE(cloudResets()[0].find(kCam1), std::string::npos);
    EXPECT_NE(cloudResets()[0].find(kCam2), std::string::npos);
    EXPECT_NE(host.store->device(kCam1)->find(R"("selectedPipeline":"p-1")"), std::string::npos);

    // The first of the two patches clears the processor lists.
    const auto requests = host.provider->requests();
    std::vector<std::string> patches;
    for (const auto& request: requests)
    {
        if (request.method == "PATCH" && request.path == "/rest/v4/servers/this")
            patches.push_back(request.body);
    }
    ASSERT_EQ(patches.size(), 2u);
    EXPECT_NE(patches[0].find(R"("availablePostprocessors":null,"availablePreprocessors":null)"),
        std::string::npos) << patches[0];

    // Configured once: later passes neither read the server record nor reset again.
    const int serverReads = hostRequests("GET", "/rest/v4/servers/this");
    pass();
    pass();
    EXPECT_EQ(hostRequests("GET", "/rest/v4/servers/this"), serverReads);
    EXPECT_EQ(cloudResets().size(), 1u);
}

TEST_F(LoopPasses, AFailedServerReadIsTriedAgainAfterAPauseWhileTheDevicesAreFollowed)
{
    configureDevices();
    ASSERT_NO_FATAL_FAILURE(installRuntime(*engine, cloud, tools));
    host.provider->setRequestFault({.kind = vyhost::UtilityProvider::RequestFault::Kind::status,
        .status = 500, .pathPrefix = "/rest/v4/servers/this", .count = 1});
    pass();
    EXPECT_EQ(host.store->server().find("pluginVersion"), std::string::npos);
    EXPECT_EQ(hostRequests("GET", kDevicesPath), 1) << "the devices do not wait for the server";

    advanceFakeClock(900ms);
    pass();
    EXPECT_EQ(hostRequests("GET", "/rest/v4/servers/this"), 1) << "not every pass";
    EXPECT_EQ(hostRequests("GET", kDevicesPath), 2);

    advanceFakeClock(100ms);
    pass();
    EXPECT_EQ(hostRequests("GET", "/rest/v4/servers/this"), 2);
    EXPECT_NE(host.store->server().find(R"("pluginVersion":"5.0.19")"), std::string::npos);
}

// The processors load on a thread of their own; names published before they were in are
// published again once they are, so the cloud learns of declared processors.
TEST_F(LoopPasses, ProcessorNamesArePublishedAgainOnceTheProcessorsAreLoaded)
{
    saveServerParameters(kSite);
    configureDevices();
    ASSERT_FALSE(engine->inferenceManager().processorsLoaded()) << "no agent asked for them yet";
    pass();
    const int patches = hostRequests("PATCH", "/rest/v4/servers/this");
    ASSERT_GT(patches, 0);
    pass();
    EXPECT_EQ(hostRequests("PATCH", "/rest/v4/servers/this"), patches) << "nothing new to publish";

    engine->inferenceManager().initProcessors();
    ASSERT_TRUE(vyai::test::eventually([&] { return engine->inferenceManager().processorsLoaded(); }));
    pass();
    EXPECT_GT(hostRequests("PATCH", "/rest/v4/servers/this"), patches);
    const int republished = hostRequests("PATCH", "/rest/v4/servers/this");
    pass();
    EXPECT_EQ(hostRequests("PATCH", "/rest/v4/servers/this"), republished) << "published once";
}

// Pipelines parsed before the processors were in name no processor: the devices' parameters
// are parsed again, once, when loading ends, though their text did not change.
TEST_F(LoopPasses, DevicesParametersAreParsedAgainOnceTheProcessorsAreLoaded)
{
    vyai::test::CapturedLog log;
    bringUp();
    pass();
    const int parses = log.count("Detected change in devices parameters.");
    ASSERT_GT(parses, 0);
    pass();
    ASSERT_EQ(log.count("Detected change in devices parameters."), parses) << "unchanged text is not parsed";

    engine->inferenceManager().initProcessors();
    ASSERT_TRUE(vyai::test::eventually([&] { return engine->inferenceManager().processorsLoaded(); }));
    pass();
    EXPECT_EQ(log.count("Detected change in devices parameters."), parses + 1);
    pass();
    EXPECT_EQ(log.count("Detected change in devices parameters."), parses + 1) << "parsed again once";
}

// The pause after each failure doubles from a second; the other steps run at every pass.
TEST_F(LoopPasses, ASiteChangeIsKeptUntilTheResetOfItsDevicesSucceededAfterGrowingPauses)
{
    saveServerParameters("old-site");
    configureDevices();
    ASSERT_NO_FATAL_FAILURE(installRuntime(*engine, cloud, tools));
    int devicesReads = hostRequests("GET", kDevicesPath);
    passWhileTheCloudRefusesResets([&](size_t pass, size_t newResets) {
        // A reset attempt lists the devices first; the devices' step reads them once more.
        EXPECT_EQ(hostRequests("GET", kDevicesPath), devicesReads + 1 + int(newResets)) << "pass " << pass;
        devicesReads = hostRequests("GET", kDevicesPath);
        EXPECT_NE(host.store->server().find(R"("siteID":"old-site")"), std::string::npos)
            << "a failed reset must leave the old site id saved";
    });

    cloud.clearFaults();
    advanceFakeClock(1ms);
    pass();
    ASSERT_EQ(cloudResets().size(), 3u);
    EXPECT_NE(cloudResets()[2].find(kCam1), std::string::npos);
    EXPECT_NE(host.store->server().find(R"("siteID":"site-1")"), std::string::npos);
    EXPECT_NE(host.store->device(kCam2)->find(R"("selectedPipeline":"p-1")"), std::string::npos);

    advanceFakeClock(120s);
    pass();
    EXPECT_EQ(cloudResets().size(), 3u);
}

// Devices the host did not list are not reset: the site change is kept and tried again after
// the pause, as after the cloud's refusal.
TEST_F(LoopPasses, ASiteChangeIsKeptWhileTheHostCannotListItsDevices)
{
    saveServerParameters("old-site");
    configureDevices();
    ASSERT_NO_FATAL_FAILURE(installRuntime(*engine, cloud, tools));
    passAfterAFailedDeviceListing([&](std::chrono::milliseconds after) {
        EXPECT_NE(host.store->server().find(R"("siteID":"old-site")"), std::string::npos)
            << "no reset may save the new site id; after " << after.count() << " ms";
    });
    EXPECT_NE(host.store->server().find(R"("siteID":"site-1")"), std::string::npos);
}

TEST_F(LoopPasses, APauseAfterAFailedServerReadRunsFromTheEndOfTheRead)
{
    configureDevices();
    ASSERT_NO_FATAL_FAILURE(installRuntime(*engine, cloud, tools));
    host.provider->setRequestFault({.kind = vyhost::UtilityProvider::RequestFault::Kind::status,
        .status = 500, .pathPrefix = "/rest/v4/servers/this"});
    expectThePauseToRunFromTheEndOfAFailedTry(
        [this] { return size_t(hostRequests("GET", "/rest/v4/servers/this")); });
}

TEST_F(LoopPasses, APauseAfterAFailedResetOfTheSitesDevicesRunsFromTheEndOfTheReset)
{
    saveServerParameters("old-site");
    configureDevices();
    ASSERT_NO_FATAL_FAILURE(installRuntime(*engine, cloud, tools));
    cloud.setFault(CloudStandin::Route::reset, {.status = 500});
    expectThePauseToRunFromTheEndOfAFailedTry([this] { return cloudResets().size(); });
}

TEST(RetryBackoff, ThePauseDoublesFromASecondToAMinuteAndASuccessEndsIt)
{
    vyai::RetryBackoff retry;
    const auto start = std::chrono::steady_clock::time_point(1000s);
    EXPECT_TRUE(retry.isDue(start));
    auto now = start;
    const auto clock = [&now] { return now; };
    for (const int seconds: {1, 2, 4, 8, 16, 32, 60, 60})
    {
        EXPECT_FALSE(retry.record(false, clock));
        EXPECT_EQ(retry.pause(), std::chrono::seconds(seconds));
        EXPECT_FALSE(retry.isDue(now + std::chrono::seconds(seconds) - 1ms));
        now += std::chrono::seconds(seconds);
        EXPECT_TRUE(retry.isDue(now));
    }
    EXPECT_TRUE(retry.record(true, clock));
    EXPECT_TRUE(retry.isDue(now));
    retry.failed(now);
    EXPECT_EQ(retry.pause(), 1s);
}

TEST_F(LoopPasses, ASavedSiteIdInBracesIsTheSameSite)
{
    saveServerParameters("{site-1}");
    configureDevices();
    pass();
    pass();
    EXPECT_TRUE(cloudResets().empty());
}

TEST_F(LoopPasses, DevicesParametersReachTheirAgentsAndTheModelMap)
{
    host.putDevice(kCam1);
    const auto agent = CoreHost::createAgent(*engine, kCam1);
    saveServerParameters(kSite);
    ASSERT_NO_FATAL_FAILURE(installRuntime(*engine, cloud, tools));
    // The host writes the id its own way: the agent is found all the same.
    const std::string model = R"({"UUID":"m-1","UpdatedAt":"2026-01-02T03:04:05","Name":"People",)"
        R"("Downloads":[],"InputDriverDetails":{"width":64,"height":48,"channels":3,)"
        R"("vars":[1,1,1],"means":[0,0,0],"order":0},"NamedInput":[],"NamedOutput":[]})";
    ASSERT_TRUE(host.store->putDevice(R"({"id":"{3F2B7C1E-0000-4000-8000-000000000001}","parameters":)"
        R"({"vyAI":{"PluginEnabled":true,"models":[)" + model + R"(],"pipelines":[],)"
        R"("deviceAdmin":"https://admin.test/first"}}})"));
    pass();
    EXPECT_EQ(agent->copySettings()->deviceAdminUrl, "https://admin.test/first");
    const vyai::ModelDetailsMap models = engine->copyModelDetails();
    ASSERT_EQ(models.count("m-1"), 1u);
    // No runtime is installed yet, so no download suits it.
    EXPECT_EQ(models.at("m-1")->status.load(), vyai::kModelFailed);

    // An unchanged text is not processed again; a changed one is.
    ASSERT_TRUE(host.store->putDevice(R"({"id":"{3F2B7C1E-0000-4000-8000-000000000001}","name":"Renamed",)"
        R"("parameters":{"vyAI":{"PluginEnabled":true,"models":[],"pipelines":[],)"
        R"("deviceAdmin":"https://admin.test/renamed"}}})"));
    pass();
    EXPECT_EQ(agent->copySettings()->deviceAdminUrl, "https://admin.test/renamed");
    EXPECT_TRUE(engine->copyModelDetails().empty());
}

TEST_F(LoopPasses, ATextWhoseProcessingFailedIsProcessedAgain)
{
    host.putDevice(kCam1);
    const auto agent = CoreHost::createAgent(*engine, kCam1);
    saveServerParameters(kSite);
    configureDevices();
    ASSERT_NO_FATAL_FAILURE(installRuntime(*engine, cloud, tools));
    // A link to itself: the file system cannot even say whether the file is there.
    const auto rawConfig = host.dataDirectory() / "raw_postprocessing.json";
    std::filesystem::create_symlink(rawConfig, rawConfig);

    EXPECT_THROW(pass(), std::filesystem::filesystem_error);
    EXPECT_FALSE(agent->copySettings()->cloudParametersReceived);

    std::filesystem::remove(rawConfig);
    pass();
    EXPECT_TRUE(agent->copySettings()->cloudParametersReceived);
}

TEST_F(LoopPasses, ARefreshIsAnsweredOnlyByAReadingThatBeganAfterIt)
{
    bringUp();
    EXPECT_FALSE(engine->requestParametersRefresh(0)) << "no pass ran since the request";

    // The devices are being read while the request is made: that reading does not answer it.
    host.provider->setRequestFault({.kind = vyhost::UtilityProvider::RequestFault::Kind::none,
        .delay = vyai::test::scaled(1000ms), .pathPrefix = kDevicesPath, .count = 1});
    const int readsBefore = hostRequests("GET", kDevicesPath);
    std::thread slowPass([&] { pass(); });
    EXPECT_TRUE(vyai::test::eventually([&] { return hostRequests("GET", kDevicesPath) > readsBefore; }));
    auto waiter = std::async(std::launch::async, [&] { return engine->requestParametersRefresh(30); });
    slowPass.join();
    EXPECT_EQ(waiter.wait_for(300ms), std::future_status::timeout);

    pass();
    EXPECT_TRUE(waiter.get());
}

TEST_F(LoopPasses, ActionsArePerformedOnePerPassInTheirOrder)
{
    bringUp();
    engine->messages().addMessage("SOME_WARNING", "w", vyai::kMessageTypeWarning);
    engine->resetDevice(kCam1);
    engine->resetDevice(kCam2); // a second press adds its device, it does not replace the first
    engine->clearCache();
    engine->retryModelDownloads();
    EXPECT_FALSE(hasMessage("SOME_WARNING"));
    EXPECT_TRUE(hasMessage(vyai::kMessageResetDevice));

    pass();
    ASSERT_EQ(cloudResets().size(), 1u);
    EXPECT_NE(cloudResets()[0].find(kCam1), std::string::npos);
    EXPECT_NE(cloudResets()[0].find(kCam2), std::string::npos);
    EXPECT_FALSE(hasMessage(vyai::kMessageResetDevice));
    EXPECT_TRUE(hasMessage(vyai::kMessageClearCache));

    const int devicesReads = hostRequests("GET", kDevicesPath);
    pass();
    EXPECT_FALSE(hasMessage(vyai::kMessageClearCache));
    EXPECT_TRUE(hasMessage(vyai::kMessageRetryDownloads));
    EXPECT_EQ(hostRequests("GET", kDevicesPath), devicesReads) << "clearing the cache ends the pass";

    // Clearing removed the runtime; the next passes install it again.
    ASSERT_NO_FATAL_FAILURE(installRuntime(*engine, cloud, tools));
    pass();
    EXPECT_FALSE(hasMessage(vyai::kMessageRetryDownloads));
    EXPECT_GT(hostRequests("GET", kDevicesPath), devicesReads) << "a retry goes on to the devices";
}

// The user is told while a reset the cloud refused waits to be tried again, after growing pauses.
TEST_F(LoopPasses, AFailedResetStaysShownAndIsTriedAgainAfterGrowingPauses)
{
    bringUp();
    engine->resetDevice(kCam1);
    passWhileTheCloudRefusesResets([&](size_t pass, size_t) {
        const auto messages = engine->messages().getMessages();
        ASSERT_TRUE(messages.contains(vyai::kMessageResetDevice)) << "pass " << pass;
        EXPECT_EQ(messages.at(vyai::kMessageResetDevice).type, vyai::kMessageTypeWarning) << "pass " << pass;
        EXPECT_NE(messages.at(vyai::kMessageResetDevice).text.find("could not reach the cloud"), std::string::npos)
            << messages.at(vyai::kMessageResetDevice).text;
    });

    cloud.clearFaults();
    advanceFakeClock(1ms);
    pass();
    ASSERT_EQ(cloudResets().size(), 3u);
    EXPECT_NE(cloudResets()[2].find(kCam1), std::string::npos) << cloudResets()[2];
    EXPECT_FALSE(hasMessage(vyai::kMessageResetDevice));
    advanceFakeClock(120s);
    pass();
    EXPECT_EQ(cloudResets().size(), 3u) << "done once";
}

// A reset of all devices that the host could not list stays shown and is tried again after
// the pause, as after the cloud's refusal.
TEST_F(LoopPasses, AResetOfAllDevicesTheHostCannotListIsTriedAgainAfterAPause)
{
    bringUp();
    engine->resetAllDevices();
    passAfterAFailedDeviceListing([&](std::chrono::milliseconds after) {
        const auto messages = engine->messages().getMessages();
        ASSERT_TRUE(messages.contains(vyai::kMessageResetDevice)) << "after " << after.count() << " ms";
        EXPECT_EQ(messages.at(vyai::kMessageResetDevice).type, vyai::kMessageTypeWarning);
    });
    EXPECT_FALSE(hasMessage(vyai::kMessageResetDevice));
}

TEST_F(LoopPasses, AResetOfAllDevicesWidensAnEarlierSingleReset)
{
    bringUp();
    ASSERT_TRUE(host.store->putDevice(std::string(R"({"id":")") + kCam2
        + R"(","parameters":{"vyAI":{"PluginEnabled":true}}})"));
    const std::string unlisted = "3f2b7c1e-0000-4000-8000-0000000000ff";
    engine->resetDevice(unlisted);
    engine->resetAllDevices();
    pass();
    ASSERT_EQ(cloudResets().size(), 1u);
    const std::string body = cloudResets()[0];
    EXPECT_NE(body.find(kCam1), std::string::npos) << body;
    EXPECT_EQ(body.find(kCam2), std::string::npos) << "not configured: " << body;
    EXPECT_EQ(body.find(unlisted), std::string::npos) << body;
}

TEST_F(LoopPasses, ReselectingTheRuntimeClearsTheServersRuntimeInformation)
{
    bringUp();
    engine->messages().addMessage(vyai::kMessageRuntimeDocumentation, "docs", vyai::kMessageTypeMessage);
    engine->reselectRuntime();
    EXPECT_FALSE(hasMessage(vyai::kMessageRuntimeDocumentation));
    EXPECT_EQ(engine->runtimesManager().getState(), vyai::kRuntimeReselect);

    pass();
    EXPECT_NE(host.store->server().find(R"("runtimeInformation":[{"mimetypes":[""],"name":""}])"),
        std::string::npos) << host.store->server();
}

} // namespace

namespace {

TEST(RuntimeManagerLoop, ARefreshWakesTheRunningLoopAndIsAnswered)
{
    CloudStandin cloud;
    ASSERT_TRUE(cloud.start());
    CoreHost host;
    host.provider->setCloudSystemId(std::string(kSite));
    host.putDevice(kCam1);
    const auto engine = host.obtainEngine();
    core::EngineTestAccess::useCloud(*engine, cloud.baseUrl());
    vyai::test::FakeTools tools;
    ASSERT_NO_FATAL_FAILURE(installRuntime(*engine, cloud, tools));
    const auto agent = CoreHost::createAgent(*engine, kCam1); // starts the loop

    EXPECT_TRUE(engine->requestParametersRefresh(30));
    EXPECT_TRUE(engine->requestParametersRefresh(30)) << "an unchanged reading answers too";
}

} // namespace

namespace {

namespace fs = std::filesystem;

/** The runtime step on a machine of the test's choice, with runtime packages from the stand-in storage. */
class RuntimeStep: public LoopPasses
{
protected:
    void SetUp() override
    {
        LoopPasses::SetUp();
        ASSERT_TRUE(cloud.storage().loadRuntimePackage(VY_TEST_RUNTIME_PACKAGE));
        saveServerParameters(kSite);
        configureDevices();
    }

    /** Before the first pass, which detects the accelerators. */
    void onMachine(int32_t architecture)
    {
        const std::string storage = cloud.baseUrl() + "/runtimes";
        vyai::RuntimesManagerTestAccess::useMachine(
            engine->runtimesManager(), architecture, {{"", storage, false}, false, {tools.pciRoot()}});
    }

    vyai::RuntimesManager& runtimes() { return engine->runtimesManager(); }

    /** The user's "Reselect Runtime" and the pass that removes the runtime. */
    void reselect()
    {
        engine->reselectRuntime();
        pass();
        EXPECT_EQ(state(), vyai::kRuntimeNothingDecided);
        EXPECT_FALSE(std::filesystem::exists(runtimeFolder() / vyai::kRuntimeLibraryFileName));
    }
    uint32_t state() { return runtimes().getState(); }

    fs::path runtimeFolder() const { return host.dataDirectory() / "inference_engine"; }

    int packageRequests()
    {
        int count = 0;
        for (const auto& request: cloud.storage().requests())
            count += request.path.starts_with("/runtimes/") ? 1 : 0;
        return count;
    }

    std::string serverRuntimeInformation() const
    {
        const std::string server = host.store->server();
        const auto at = server.find(R"("runtimeInformation":)");
        return at == std::string::npos ? std::string() : server.substr(at, server.find("}]", at) - at + 2);
    }

};

TEST_F(RuntimeStep, NoCompatibleRuntimeOffersNothingAndInstallsNothing)
{
    onMachine(vyai::kArchitectureUnknown);
    pass();
    pass();
    EXPECT_EQ(state(), vyai::kRuntimeNoneCompatible);
    EXPECT_TRUE(runtimes().getOfferedRuntimes().empty());
    EXPECT_EQ(packageRequests(), 0);
}

TEST_F(RuntimeStep, TheOnlyCompatibleRuntimeIsInstalledWithoutAChoiceAndAgainAfterAReselect)
{
    onMachine(vyai::kArchitectureAarch64);
    pass();
    ASSERT_EQ(state(), vyai::kRuntimeInstalled);
    EXPECT_TRUE(runtimes().getOfferedRuntimes().empty()) << "nothing to choose from";
    EXPECT_EQ(vyai::test::readFile(runtimeFolder() / vyai::kInstalledRuntimeFileName), "Generic CPU");
    EXPECT_EQ(serverRuntimeInformation(), R"("runtimeInformation":[{"mimetypes":["application/x-onnx"],"name":"Generic CPU"}])");
    pass();
    EXPECT_EQ(packageRequests(), 1);

    reselect();
    EXPECT_EQ(serverRuntimeInformation(), R"("runtimeInformation":[{"mimetypes":[""],"name":""}])");
    pass();
    EXPECT_EQ(state(), vyai::kRuntimeInstalled);
    EXPECT_EQ(packageRequests(), 2);
}

TEST_F(RuntimeStep, SeveralCompatibleRuntimesWaitForTheUsersChoiceAndAReselectOffersThemAgain)
{
    onMachine(vyai::kArchitectureX86_64);
    pass();
    pass();
    EXPECT_EQ(state(), vyai::kRuntimeAwaitingChoice);
    EXPECT_EQ(runtimes().getOfferedRuntimes(), (std::vector<std::string>{"Generic CPU", "Intel"}));
    EXPECT_EQ(packageRequests(), 0);

    runtimes().selectRuntime("Intel");
    pass();
    ASSERT_EQ(state(), vyai::kRuntimeInstalled);
    EXPECT_EQ(vyai::test::readFile(runtimeFolder() / vyai::kInstalledRuntimeFileName), "Intel");
    EXPECT_NE(serverRuntimeInformation().find(R"("name":"Intel")"), std::string::npos) << serverRuntimeInformation();

    reselect();
    pass();
    EXPECT_EQ(state(), vyai::kRuntimeAwaitingChoice);
    EXPECT_EQ(packageRequests(), 1);
}

TEST_F(RuntimeStep, ARuntimeInformationTheHostRefusedIsSentAgainAfterAPause)
{
    onMachine(vyai::kArchitectureX86_64);
    pass();
    host.provider->setRequestFault({.kind = vyhost::UtilityProvider::RequestFault::Kind::status,
        .status = 500, .pathPrefix = "/rest/v4/servers/this", .count = 1});
    runtimes().selectRuntime("Generic CPU");
    pass();
    ASSERT_EQ(state(), vyai::kRuntimeInstalled);
    EXPECT_EQ(serverRuntimeInformation().find("Generic CPU"), std::string::npos);
    const int patches = hostRequests("PATCH", "/rest/v4/servers/this");

    advanceFakeClock(999ms);
    pass();
    EXPECT_EQ(hostRequests("PATCH", "/rest/v4/servers/this"), patches) << "not before the pause ends";
    advanceFakeClock(1ms);
    pass();
    EXPECT_EQ(serverRuntimeInformation(), R"("runtimeInformation":[{"mimetypes":["application/x-onnx"],"name":"Generic CPU"}])");
    pass();
    EXPECT_EQ(hostRequests("PATCH", "/rest/v4/servers/this"), patches + 1) << "sent once";
}

TEST_F(RuntimeStep, ACancelPressedBeforeTheInstallBeganEndsItAndTheNextChoiceInstalls)
{
    onMachine(vyai::kArchitectureX86_64);
    pass();
    runtimes().selectRuntime("Generic CPU");
    runtimes().requestCancel(); // "Cancel Download" while the choice waits for the loop
    pass();
    EXPECT_EQ(state(), vyai::kRuntimeInstallFailed);
    EXPECT_TRUE(runtimes().wasCancelledByUser());
    EXPECT_EQ(packageRequests(), 0);
    pass();
    EXPECT_EQ(state(), vyai::kRuntimeInstallFailed) << "after a cancel only the user starts again";

    runtimes().selectRuntime("Generic CPU");
    pass();
    EXPECT_EQ(state(), vyai::kRuntimeInstalled);
    EXPECT_FALSE(runtimes().wasCancelledByUser());
}

// The model step: a model assigned to a camera is fetched for the installed runtime, once.
TEST_F(RuntimeStep, AnAssignedModelIsDownloadedForTheInstalledRuntimeOnce)
{
    onMachine(vyai::kArchitectureAarch64);
    pass();
    ASSERT_EQ(state(), vyai::kRuntimeInstalled);
    cloud.storage().putModel("m1.vyc", R"({"boxes":[]})", 1767225600);
    const std::string model = R"({"UUID":"m-1","UpdatedAt":"2026-01-02T03:04:05","Name":"People",)"
        R"("Downloads":[{"RuntimeArchitecture":"application/x-onnx","Url":")" + cloud.baseUrl()
        + R"(/models/m1.vyc","LastModified":"2026-01-01T00:00:00","Size":100}],)"
        R"("InputDriverDetails":{"width":64,"height":48,"channels":3,)"
        R"("vars":[1,1,1],"means":[0,0,0],"order":0},"NamedInput":[],"NamedOutput":[]})";
    ASSERT_TRUE(host.store->putDevice(std::string(R"({"id":")") + kCam1
        + R"(","parameters":{"vyAI":{"PluginEnabled":true,"models":[)" + model
        + R"(],"pipelines":[],"deviceAdmin":"https://admin.test/cam1"}}})"));

    pass();
    const vyai::ModelDetailsMap models = engine->copyModelDetails();
    ASSERT_EQ(models.count("m-1"), 1u);
    EXPECT_TRUE(fs::exists(models.at("m-1")->modelFilePath)) << models.at("m-1")->modelFilePath;
    const auto modelRequests = [&] {
        int count = 0;
        for (const auto& request: cloud.storage().requests())
            count += request.path.starts_with("/models/") ? 1 : 0;
        return count;
    };
    EXPECT_EQ(modelRequests(), 1);
    for (const auto& request: cloud.storage().requests())
    {
        if (request.path.starts_with("/models/"))
        {
            EXPECT_NE(request.authorization.find(vyai::test::kTestCloudToken), std::string::npos)
                << request.authorization;
        }
    }

    pass();
    EXPECT_EQ(modelRequests(), 1) << "an unchanged model is not fetched again";
}

} // namespace
