#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <vy/sdk/helpers/ref_countable.h>
#include <vy/sdk/i_device_info.h>
#include <vy/sdk/i_settings_response.h>
#include <vy/sdk/i_string.h>

#include "../provisioning/fake_tools.h"
#include "core_host.h"
#include "eventually.h"
#include "runtimes_manager_test_access.h"
#include "test_files.h"
#include "time_factor.h"
#include "foundations/log.h"
#include "settings/settings_manager.h"

namespace {

namespace core = vy::vms_server_plugins::analytics::vyai;
using vyai::test::CoreHost;
using vyai::test::countOf;
using vyai::test::eventually;
using vyai::test::scaled;

constexpr const char* kDeviceId = "3f2b7c1e-0000-4000-8000-000000000001";

TEST(EngineManifest, IsTheSettingsManagersManifest)
{
    CoreHost host;
    const auto engine = host.obtainEngine();
    const auto manifest = engine->manifest();
    ASSERT_TRUE(manifest.isOk());
    const vy::sdk::Ptr<const vy::sdk::IString> text(manifest.value());
    EXPECT_EQ(std::string(text->str()),
        core::SettingsManager::createEngineManifestString());
}

TEST(EngineSettings, EachCallGivesANewResponseWithTheSameDocumentationModel)
{
    CoreHost host;
    const auto engine = host.obtainEngine();
    vy::sdk::Result<const vy::sdk::ISettingsResponse*> first;
    vy::sdk::Result<const vy::sdk::ISettingsResponse*> second;
    engine->getIntegrationSideSettings(&first);
    engine->getIntegrationSideSettings(&second);
    ASSERT_TRUE(first.isOk() && first.value());
    ASSERT_TRUE(second.isOk() && second.value());
    const vy::sdk::Ptr<const vy::sdk::ISettingsResponse> a(first.value());
    const vy::sdk::Ptr<const vy::sdk::ISettingsResponse> b(second.value());

    EXPECT_NE(a.get(), b.get());
    EXPECT_EQ(vy::sdk::toPtr(a->values()), nullptr);
    const auto modelA = vy::sdk::toPtr(a->model());
    const auto modelB = vy::sdk::toPtr(b->model());
    ASSERT_TRUE(modelA && modelB);
    const std::string model = modelA->str();
    EXPECT_EQ(model, modelB->str());
    EXPECT_EQ(model,
        "{\n"
        "    \"type\": \"Settings\",\n"
        "    \"items\": [\n"
        "        {\n"
        "            \"type\": \"Link\",\n"
        "            \"caption\": \"Veltrin documentation\",\n"
        "            \"url\": \"https://docs.vyai.example.com\"\n"
        "        }\n"
        "    ]\n"
        "}");
}

TEST(EngineInterfaces, EngineAndDeviceAgentAnswerTheirIdsOnly)
{
    CoreHost host;
    const auto engine = host.obtainEngine();
    const auto agent = CoreHost::createAgent(*engine, kDeviceId);
    struct Case
    {
        vy::sdk::IRefCountable* object;
        std::vector<const char*> answered;
        std::vector<const char*> refused;
    };
    const Case cases[] = {
        {engine.get(),
            {"vy::sdk::analytics::IEngine1", "vy::sdk::analytics::IEngine",
                "vy::sdk::IRefCountable"},
            {"vy::sdk::analytics::IDeviceAgent", "vy::sdk::analytics::IIntegration"}},
        {agent.get(),
            {"vy::sdk::analytics::IConsumingDeviceAgent2",
                "vy::sdk::analytics::IConsumingDeviceAgent1",
                "vy::sdk::analytics::IConsumingDeviceAgent", "vy::sdk::analytics::IDeviceAgent",
                "vy::sdk::IRefCountable"},
            {"vy::sdk::analytics::IEngine", "vy::sdk::analytics::IConsumingDeviceAgent3"}},
    };
    // The count of references held, read without changing it.
    const auto refCount = [](const vy::sdk::IRefCountable* object)
    {
        object->acquireRef();
        return object->dropRef();
    };
    for (const Case& c: cases)
    {
        const int refs = refCount(c.object);
        for (const char* id: c.answered)
        {
            vy::sdk::IRefCountable* found = c.object->findInterface(id);
            EXPECT_EQ(found, c.object) << id;
            if (found)
                found->dropRef();
        }
        for (const char* id: c.refused)
            EXPECT_EQ(c.object->findInterface(id), nullptr) << id;
        EXPECT_EQ(refCount(c.object), refs);
    }
}

TEST(EngineLifecycle, BuildsItsManagersAndTearsDownInOrder)
{
    CoreHost host;
    {
        const auto engine = host.obtainEngine();
        // Only the first agent starts the loop.
        const auto first = CoreHost::createAgent(*engine, kDeviceId);
        const auto second = CoreHost::createAgent(*engine, "3f2b7c1e-0000-4000-8000-000000000002");
    }
    const std::string log = host.startLog();
    const std::string lines[] = {
        "Using Veltrin root folder: " + host.dataDirectory().string() + "\n",
        "Initializing Runtimes Manager\n",
        "Initialized engine. Plugin version: 5.0.19\n",
        "Destroying Veltrin Engine...\n",
        "Waiting runtime loop to finish...\n",
        "Runtime loop sucessfully finished.\n",
        "Finalizing logging...\n",
    };
    size_t previous = 0;
    for (const std::string& line: lines)
    {
        EXPECT_EQ(countOf(log, line), 1) << line << log;
        const size_t at = log.find(line);
        EXPECT_GE(at, previous) << line << log;
        previous = at == std::string::npos ? previous : at;
    }
}

/** Something the host throws that is no std::exception. */
struct HostFault
{
};

/** A device description whose name cannot be read. */
class ThrowingDeviceInfo: public vy::sdk::RefCountable<vy::sdk::IDeviceInfo>
{
public:
    const char* id() const override { return kDeviceId; }
    const char* reservedText1() const override { return ""; }
    const char* reservedText2() const override { return ""; }
    const char* reservedText3() const override { return ""; }
    const char* name() const override { throw HostFault(); }
};

TEST(EngineRegistry, AnAgentThatCannotBeMadeIsAnErrorNotAnException)
{
    CoreHost host;
    host.putDevice(kDeviceId);
    {
        const auto engine = host.obtainEngine();
        const auto info = vy::sdk::newRefCounted<ThrowingDeviceInfo>();
        vy::sdk::Result<vy::sdk::analytics::IDeviceAgent*> result;
        engine->doCreateDeviceAgent(&result, info.get());
        EXPECT_EQ(result.error().errorCode(), vy::sdk::ErrorCode::otherError);
        EXPECT_EQ(result.value(), nullptr);
        if (result.error().errorMessage())
            result.error().errorMessage()->dropRef();

        // The engine is still usable: its lock was let go and nothing stayed registered.
        EXPECT_FALSE(engine->removeDeviceAgent(kDeviceId, nullptr));
        const auto agent = CoreHost::createAgent(*engine, kDeviceId);
        EXPECT_TRUE(agent);
    }
    EXPECT_EQ(countOf(host.startLog(),
        "Error! Cannot create a device agent: an exception of unknown type\n"), 1);
}

TEST(EngineRegistry, TheOlderAgentOfADeviceDoesNotUnregisterTheNewerOne)
{
    CoreHost host;
    const auto engine = host.obtainEngine();
    auto older = CoreHost::createAgent(*engine, "{3F2B7C1E-0000-4000-8000-000000000001}");
    auto newer = CoreHost::createAgent(*engine, kDeviceId);
    ASSERT_EQ(older->details()->id, kDeviceId);
    ASSERT_EQ(newer->details()->id, kDeviceId);

    older = nullptr;
    // Still registered: the removal succeeds exactly once, for the newer agent.
    EXPECT_FALSE(engine->removeDeviceAgent(kDeviceId, nullptr));
    EXPECT_TRUE(engine->removeDeviceAgent(kDeviceId, newer.get()));
    EXPECT_FALSE(engine->removeDeviceAgent(kDeviceId, newer.get()));
}

TEST(EngineRegistry, DeviceIdsAreNormalised)
{
    struct Case
    {
        const char* hostId;
        const char* id;
    };
    const Case cases[] = {
        {"3f2b7c1e-0000-4000-8000-000000000001", "3f2b7c1e-0000-4000-8000-000000000001"},
        {"{3F2B7C1E-0000-4000-8000-00000000000A}", "3f2b7c1e-0000-4000-8000-00000000000a"},
        {"not a uuid", "00000000-0000-0000-0000-000000000000"},
    };
    for (const Case& c: cases)
        EXPECT_EQ(core::normalizedDeviceId(c.hostId), c.id) << c.hostId;
}

TEST(EngineConcurrency, AgentsOnOtherThreadsKeepTheEngineUntilTheLastOneGoes)
{
    constexpr int kAgents = 8;
    CoreHost host;
    auto engine = host.obtainEngine();

    std::atomic<int> created{0};
    std::atomic<bool> engineReleased{false};
    std::vector<std::thread> cameras;
    for (int i = 0; i < kAgents; ++i)
    {
        cameras.emplace_back(
            [&, i, engineRef = engine]() mutable
            {
                const std::string id = "3f2b7c1e-0000-4000-8000-00000000000" + std::to_string(i);
                auto agent = CoreHost::createAgent(*engineRef, id);
                engineRef = nullptr;
                ++created;
                while (!engineReleased.load())
                    std::this_thread::yield();
                // The engine lives on through the agent.
                const auto manifest = agent->manifest();
                EXPECT_TRUE(manifest.isOk());
                if (manifest.value())
                    manifest.value()->dropRef();
            });
    }
    while (created.load() < kAgents)
        std::this_thread::yield();
    engine = nullptr; // the host's reference
    engineReleased = true;
    for (auto& camera: cameras)
        camera.join();

    const std::string log = host.startLog();
    EXPECT_EQ(countOf(log, "Destroying Device Agent "), kAgents);
    const auto engineGone = log.find("Destroying Veltrin Engine...\n");
    ASSERT_NE(engineGone, std::string::npos);
    EXPECT_GT(engineGone, log.rfind("Destroying Device Agent "));
    EXPECT_NE(log.find("Runtime loop sucessfully finished.\n"), std::string::npos);
    EXPECT_EQ(host.plugin->refCount(), 1);
}

TEST(EngineRegistry, ASlowHostAnswerToANewAgentDoesNotHoldUpTheRegistry)
{
    CoreHost host;
    host.putDevice(kDeviceId);
    const auto engine = host.obtainEngine();
    core::EngineTestAccess::holdLoop(*engine);
    host.provider->setRequestFault({.kind = vyhost::UtilityProvider::RequestFault::Kind::none,
        .delay = scaled(std::chrono::milliseconds(1500)), .pathPrefix = "/rest/v4/devices/", .count = 1});

    std::atomic<bool> created{false};
    std::thread slow([&] {
        CoreHost::createAgent(*engine, kDeviceId);
        created = true;
    });
    // The new agent announces itself to the host meanwhile; the registry stays free.
    EXPECT_TRUE(eventually([&] { return !host.provider->requests().empty(); }));
    EXPECT_FALSE(engine->removeDeviceAgent("3f2b7c1e-0000-4000-8000-0000000000ff", nullptr));
    EXPECT_FALSE(created.load()) << "the registry waited for the host's answer";
    slow.join();
}

TEST(EngineShutdown, UtilityProviderIsRefusedWithAWarningOnEveryCall)
{
    CoreHost host;
    {
        const auto engine = host.obtainEngine();
        EXPECT_EQ(engine->utilityProvider().get(), host.provider.get());

        core::EngineTestAccess::beginShutdown(*engine);
        EXPECT_EQ(engine->utilityProvider(), nullptr);
        EXPECT_EQ(engine->utilityProvider(), nullptr);
    }
    EXPECT_EQ(countOf(host.startLog(),
        "Warning! Tried to access utility provider while shutting down.\n"), 2);
}

TEST(EngineShutdown, RunningLoopEndsOnceShutdownBegins)
{
    CoreHost host;
    const auto engine = host.obtainEngine();
    const auto agent = CoreHost::createAgent(*engine, kDeviceId);
    core::EngineTestAccess::beginShutdown(*engine);
    EXPECT_EQ(engine->utilityProvider(), nullptr);
    // Ended on its own, before the destructor joins it.
    EXPECT_TRUE(eventually([&] { return countOf(host.startLog(), "Runtime Manager Loop interrupted.\n") == 1; }))
        << host.startLog();
}

// Engine creation is a host call: the accelerators' tools run later, on the loop.
TEST(EngineCreation, ReturnsWithinTwoSecondsWhileTheAcceleratorToolsHang)
{
    vyai::test::FakeTools tools;
    tools.addHangingProgram("dxrt-cli");
    tools.addHangingProgram("nvidia-smi");
    CoreHost host;
    const auto start = std::chrono::steady_clock::now();
    {
        const auto engine = host.obtainEngine();
        EXPECT_LT(std::chrono::steady_clock::now() - start, scaled(std::chrono::seconds(2)));
        EXPECT_FALSE(engine->runtimesManager().acceleratorsDetected());
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, scaled(std::chrono::seconds(2)));
}

// The loop detects the accelerators on its first pass; a driver tool that hangs there is ended
// by the engine's release, which must not wait for the tool's own time limit.
TEST(EngineShutdown, ReleaseEndsAHangingAcceleratorToolWithinTwoSeconds)
{
    vyai::test::FakeTools tools;
    const std::filesystem::path started = tools.addHangingProgram("dxrt-cli");
    CoreHost host;
    auto engine = host.obtainEngine();
    // A machine whose DEEPX detection runs, whatever this one is.
    vyai::RuntimesManagerTestAccess::useMachine(engine->runtimesManager(), vyai::kArchitectureX86_64,
        {{"", "http://127.0.0.1:1/runtimes", false}, false, {tools.pciRoot()}});
    auto agent = CoreHost::createAgent(*engine, kDeviceId); // starts the loop
    ASSERT_TRUE(vyai::test::eventually([&] { return !vyai::test::readFile(started).empty(); }))
        << "the loop never ran the tool";
    const pid_t tool = std::stoi(vyai::test::readFile(started));

    const auto start = std::chrono::steady_clock::now();
    agent.reset();
    engine.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, vyai::test::scaled(std::chrono::seconds(2)));
    EXPECT_NE(::kill(tool, 0), 0) << "the tool " << tool << " is still there";
}

// Each engine holds the log: the release of one leaves it running for another.
TEST(EngineLog, TheReleaseOfOneEngineLeavesTheLogOfAnother)
{
    CoreHost host;
    const auto first = host.obtainEngine();
    {
        const auto second = host.obtainEngine();
    }
    ::vyai::logError("After the second engine: %s\n", "still logging");
    EXPECT_EQ(countOf(host.startLog(), "After the second engine: still logging\n"), 1) << host.startLog();
}

TEST(EngineShutdown, EngineWithoutAgentsJoinsNoLoop)
{
    CoreHost host;
    host.obtainEngine();
    const std::string log = host.startLog();
    EXPECT_NE(log.find("Destroying Veltrin Engine...\n"), std::string::npos);
    EXPECT_EQ(log.find("Waiting runtime loop to finish...\n"), std::string::npos);
}

} // namespace

namespace {

TEST(EngineLoop, ConnectsToTheCloudOnceTheHostHoldsAToken)
{
    CoreHost host;
    host.provider->setCloudToken(std::nullopt);
    {
        const auto engine = host.obtainEngine();
        const auto agent = CoreHost::createAgent(*engine, kDeviceId); // starts the loop
        EXPECT_TRUE(eventually([&] {
            return engine->cloudApiClient().cloudConnectionState()
                == vyai::CloudConnectionState::notConnected;
        }));
        host.provider->setCloudToken(std::string("late-token"));
        EXPECT_TRUE(eventually([&] {
            return engine->cloudApiClient().cloudConnectionState()
                == vyai::CloudConnectionState::connected;
        }));
    }
    const std::string log = host.startLog();
    EXPECT_GE(countOf(log, "Checking cloud connection\n"), 2) << log;
    EXPECT_GE(countOf(log, "Server/Site not connected to cloud.\n"), 1) << log;
    EXPECT_EQ(countOf(log, "Runtime Manager Loop interrupted.\n"), 1) << log;
}

} // namespace
