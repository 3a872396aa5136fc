#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <vy/sdk/analytics/helpers/event_metadata.h>
#include <vy/sdk/analytics/helpers/object_metadata.h>
#include <vy/sdk/helpers/uuid.h>

#include "captured_log.h"
#include "core_host.h"
#include "foundations/log.h"
#include "foundations/log_test_hooks.h"
#include "host/video_frame.h"

namespace {

namespace core = vy::vms_server_plugins::analytics::vyai;
using vy::sdk::Ptr;
using vy::sdk::newRefCounted;
using vy::sdk::analytics::EventMetadataPacket;
using vy::sdk::analytics::ObjectMetadataPacket;
using vy::sdk::analytics::ObjectTrackBestShotPacket;
using vyai::test::CapturedHandler;
using vyai::test::CoreHost;
using vyai::test::countOf;

constexpr const char* kDeviceId = "3f2b7c1e-0000-4000-8000-000000000001";
constexpr const char* kSentToInference =
    "Warning! Tried sending message to inference engine before it's initialized";

Ptr<ObjectMetadataPacket> objectPacket(int items)
{
    auto packet = newRefCounted<ObjectMetadataPacket>();
    packet->setTimestampUs(1'000'000);
    for (int i = 0; i < items; ++i)
    {
        auto item = newRefCounted<vy::sdk::analytics::ObjectMetadata>();
        item->setTypeId("vy.vyai.person");
        item->setTrackId(vy::sdk::randomUuid());
        item->setBoundingBox({0.1F, 0.2F, 0.3F, 0.4F});
        packet->addItem(item);
    }
    return packet;
}

Ptr<EventMetadataPacket> eventPacket()
{
    auto packet = newRefCounted<EventMetadataPacket>();
    packet->setTimestampUs(1'000'000);
    auto item = newRefCounted<vy::sdk::analytics::EventMetadata>();
    item->setTypeId("vy.vyai.linecrossing");
    packet->addItem(item);
    return packet;
}

Ptr<ObjectTrackBestShotPacket> bestShotPacket()
{
    return newRefCounted<ObjectTrackBestShotPacket>(
        vy::sdk::randomUuid(), 1'000'000, vy::sdk::analytics::BoundingBox{});
}

/** Pushes one frame the way the host does; the agent's handler must be set. */
void pushFrame(core::DeviceAgent& agent, int64_t timestampUs)
{
    const auto frame = newRefCounted<vyhost::VideoFrame>(64, 48, 16, timestampUs);
    vy::sdk::Result<void> result;
    agent.doPushDataPacket(&result, frame.get());
    EXPECT_TRUE(result.isOk());
}

std::string requestsText(const vyhost::UtilityProvider& provider)
{
    std::string text;
    for (const auto& request: provider.requests())
        text += request.method + " " + request.path + " " + request.body + "\n";
    return text;
}

// ---- Records

TEST(DeviceAgentRecords, StartsWithADefaultRecordAndCopiesWhatIsPublished)
{
    CoreHost host;
    const auto engine = host.obtainEngine();
    const auto agent = CoreHost::createAgent(*engine, kDeviceId, "Front door");
    EXPECT_EQ(agent->details()->name, "Front door");

    const auto initial = agent->copySettings();
    EXPECT_FALSE(initial->active);
    EXPECT_FALSE(initial->cloudParametersReceived);
    EXPECT_TRUE(initial->pipelines.empty());

    auto changed = agent->copySettings();
    changed->active = true;
    changed->selectedPipeline = "pipe-0001";
    agent->publishSettings(changed);

    const auto copy = agent->copySettings();
    EXPECT_NE(copy.get(), changed.get());
    EXPECT_TRUE(copy->active);
    EXPECT_EQ(copy->selectedPipeline, "pipe-0001");
    // The earlier copy was a copy: publishing did not reach it.
    EXPECT_FALSE(initial->active);
}

// ---- "PluginEnabled" in the device's parameters

TEST(DeviceAgentAnnouncement, PatchesPluginEnabledOnCreationAndDestruction)
{
    CoreHost host;
    host.putDevice(kDeviceId);
    const auto engine = host.obtainEngine();
    core::EngineTestAccess::holdLoop(*engine); // the loop's own requests are not the agent's
    auto agent = CoreHost::createAgent(*engine, "{3F2B7C1E-0000-4000-8000-000000000001}");
    EXPECT_NE(host.store->device(kDeviceId)->find(R"("PluginEnabled":true)"), std::string::npos);

    agent = nullptr;
    EXPECT_NE(host.store->device(kDeviceId)->find(R"("PluginEnabled":false)"), std::string::npos);
    EXPECT_EQ(requestsText(*host.provider),
        std::string("PATCH /rest/v4/devices/") + kDeviceId
            + R"( {"parameters":{"vyAI":{"PluginEnabled":true}}})" + "\n"
            + "PATCH /rest/v4/devices/" + kDeviceId
            + R"( {"parameters":{"vyAI":{"PluginEnabled":false}}})" + "\n");
}

TEST(DeviceAgentAnnouncement, ReplacedAgentLeavesTheDeviceEnabledForItsSuccessor)
{
    CoreHost host;
    host.putDevice(kDeviceId);
    const auto engine = host.obtainEngine();
    auto older = CoreHost::createAgent(*engine, kDeviceId);
    auto newer = CoreHost::createAgent(*engine, kDeviceId);

    older = nullptr;
    EXPECT_NE(host.store->device(kDeviceId)->find(R"("PluginEnabled":true)"), std::string::npos);
    EXPECT_EQ(countOf(requestsText(*host.provider), R"("PluginEnabled":false)"), 0);

    newer = nullptr;
    EXPECT_NE(host.store->device(kDeviceId)->find(R"("PluginEnabled":false)"), std::string::npos);
}

// ---- Lifecycle

TEST(DeviceAgentLifecycle, LogsTheNormalisedIdFromStartToEnd)
{
    CoreHost host;
    host.putDevice(kDeviceId);
    const auto engine = host.obtainEngine();
    host.connectToCloud(*engine);
    // At level 2, so that the informational lines are written too.
    vyai::test::CapturedLog log;
    {
        const auto agent = CoreHost::createAgent(*engine, "{3F2B7C1E-0000-4000-8000-000000000001}");
        CapturedHandler handler("camera");
        agent->setHandler(handler.handler.get());
        auto settings = agent->copySettings();
        settings->active = true;
        agent->publishSettings(settings);
        pushFrame(*agent, vyai::currentTimeMicros());
    }

    const std::string text = log.text();
    const std::string id = kDeviceId;
    const std::string lines[] = {
        "Device agent started: " + id + "\n",
        "Device " + id + " received uncompressed frame.\n",
        "Logged frame time.\n",
        "Destroying Device Agent " + id + "\n",
        "Setting status parameters...\n",
    };
    size_t previous = 0;
    for (const std::string& line: lines)
    {
        const size_t at = text.find(line);
        ASSERT_NE(at, std::string::npos) << line << text;
        EXPECT_GE(at, previous) << line << text;
        previous = at;
    }
}

// ---- Frame intake

struct IntakeCase
{
    const char* name;
    bool hasSettings;
    bool active;
    bool connected;
    bool sent; //< the frame reaches the inference manager
};

/** One frame through a fresh engine and agent; what the log says of it. */
std::string pushOneFrame(const IntakeCase& c)
{
    CoreHost host;
    {
        // Without a cloud token the runtime manager loop keeps the site unconnected.
        if (!c.connected)
            host.provider->setCloudToken(std::nullopt);
        const auto engine = host.obtainEngine();
        if (c.connected)
            host.connectToCloud(*engine);
        const auto agent = CoreHost::createAgent(*engine, kDeviceId);
        CapturedHandler handler("camera");
        agent->setHandler(handler.handler.get());
        if (!c.hasSettings)
        {
            agent->publishSettings(nullptr);
        }
        else
        {
            auto settings = agent->copySettings();
            settings->active = c.active;
            agent->publishSettings(settings);
        }
        pushFrame(*agent, vyai::currentTimeMicros());
    }
    return host.startLog();
}

bool intakeMatches(const IntakeCase& c)
{
    const std::string log = pushOneFrame(c);
    const bool noSettingsWarned =
        log.find("Warning! Device agent does not have settings!\n") != std::string::npos;
    return countOf(log, kSentToInference) == (c.sent ? 1 : 0) && noSettingsWarned == !c.hasSettings;
}

TEST(DeviceAgentIntake, GatesBySettingsCloudAndActiveSwitch)
{
    const IntakeCase cases[] = {
        {"no settings", false, false, true, false},
        {"not connected", true, true, false, false},
        {"inactive", true, false, true, false},
        {"active and connected", true, true, true, true},
    };
    for (const IntakeCase& c: cases)
        EXPECT_TRUE(intakeMatches(c)) << c.name << "\n" << pushOneFrame(c);
}

// The ini file is read once per process, so the option is tried in a process of its own.
TEST(DeviceAgentIntake, SendFramesOverrideLetsInactiveDevicesThroughButNotUnconnectedOnes)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    ScopedTempDirectory iniDirectory;
    std::ofstream(iniDirectory.path() / "vy_veltrin_plugin.ini") << "sendFramesOverride=1\n";
    ::setenv("VY_INI_DIR", iniDirectory.path().c_str(), 1);

    const auto run = [&]
    {
        const IntakeCase cases[] = {
            {"inactive, override", true, false, true, true},
            {"not connected, override", true, true, false, false},
            {"no settings, override", false, false, true, false},
        };
        bool all = true;
        for (const IntakeCase& c: cases)
            all = intakeMatches(c) && all;
        // The child re-ran this test's set-up and leaves through exit(), which runs no
        // destructors of locals: remove its own directory first.
        std::filesystem::remove_all(iniDirectory.path());
        std::exit(all ? 0 : 1);
    };
    EXPECT_EXIT(run(), testing::ExitedWithCode(0), "");
    ::unsetenv("VY_INI_DIR");
}

constexpr int64_t kNow = 1'700'000'000'000'000;
int64_t fixedClock() { return kNow; }

TEST(DeviceAgentIntake, WarnsAboutFramesOlderThanHalfASecondAndSendsThemAnyway)
{
    struct Case
    {
        int64_t ageUs;
        bool warned;
    };
    const Case cases[] = {{500'000, false}, {500'001, true}, {0, false}, {-1'000, false}};

    vyai::test_hooks::setWallClock(&fixedClock);
    for (const Case& c: cases)
    {
        CoreHost host;
        {
            const auto engine = host.obtainEngine();
            host.connectToCloud(*engine);
            const auto agent = CoreHost::createAgent(*engine, kDeviceId);
            CapturedHandler handler("camera");
            agent->setHandler(handler.handler.get());
            auto settings = agent->copySettings();
            settings->active = true;
            agent->publishSettings(settings);
            pushFrame(*agent, kNow - c.ageUs);
        }
        const std::string log = host.startLog();
        const std::string warning = "Warning! Frame age over 500ms. Time now:  "
            + std::to_string(kNow) + "  Frame time: " + std::to_string(kNow - c.ageUs)
            + " Device: " + kDeviceId + "\n";
        EXPECT_EQ(log.find(warning) != std::string::npos, c.warned) << c.ageUs << "\n" << log;
        EXPECT_EQ(countOf(log, kSentToInference), 1) << c.ageUs;
    }
    vyai::test_hooks::setWallClock(nullptr);
}

// ---- Metadata push

TEST(DeviceAgentPush, CompletionHandsEveryPacketToTheHost)
{
    CoreHost host;
    CapturedHandler handler("camera1");
    {
        const auto engine = host.obtainEngine();
        const auto agent = CoreHost::createAgent(*engine, kDeviceId);
        agent->setHandler(handler.handler.get());
        const auto completion = agent->frameCompletion();

        completion(objectPacket(2), eventPacket(), {bestShotPacket(), nullptr, bestShotPacket()});
        completion(nullptr, nullptr, {});
    }

    EXPECT_EQ(handler.counts.objects.load(), 1);
    EXPECT_EQ(handler.counts.events.load(), 1);
    EXPECT_EQ(handler.counts.bestShot.load(), 2);
    const std::string lines = handler.lines();
    EXPECT_NE(lines.find(R"({"type":"objects","camera":"camera1")"), std::string::npos) << lines;
    EXPECT_NE(lines.find(R"({"type":"events","camera":"camera1")"), std::string::npos) << lines;
    EXPECT_EQ(countOf(lines, R"({"type":"bestShot","camera":"camera1")"), 2) << lines;

    // The count is of the object packet's items; the empty completion logs nothing.
    const std::string log = host.startLog();
    EXPECT_EQ(countOf(log, std::string("Device ") + kDeviceId + " pushing 2 packets.\n"), 1);
    EXPECT_EQ(countOf(log, " pushing "), 1);
}

TEST(DeviceAgentConcurrency, CompletionAfterTheAgentIsGonePushesNothing)
{
    CoreHost host;
    CapturedHandler handler("camera1");
    vyai::MetadataCompletion completion;
    {
        const auto engine = host.obtainEngine();
        const auto agent = CoreHost::createAgent(*engine, kDeviceId);
        agent->setHandler(handler.handler.get());
        completion = agent->frameCompletion();
    }
    std::thread worker([&] { completion(objectPacket(1), eventPacket(), {bestShotPacket()}); });
    worker.join();

    EXPECT_EQ(handler.counts.objects.load() + handler.counts.events.load()
            + handler.counts.bestShot.load(),
        0);
    EXPECT_EQ(handler.lines(), "");
}

/** A host handler that holds the first packet until it is let go. */
class HoldingHandler: public vy::sdk::RefCountable<vy::sdk::analytics::IDeviceAgent::IHostHandler>
{
public:
    void handleMetadata(vy::sdk::analytics::IMetadataPacket* /*packet*/) override
    {
        std::unique_lock lock(m_mutex);
        m_entered = true;
        m_changed.notify_all();
        m_changed.wait(lock, [this] { return m_released; });
    }
    void handleDiagnosticEvent(vy::sdk::IRefCountable* /*event*/) override {}
    void pushManifest(const vy::sdk::IString* /*manifest*/) override {}

    void waitUntilEntered()
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_entered; });
    }
    void release()
    {
        const std::lock_guard lock(m_mutex);
        m_released = true;
        m_changed.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_entered = false;
    bool m_released = false;
};

TEST(DeviceAgentConcurrency, DestructionWaitsForThePushInFlight)
{
    CoreHost host;
    const auto holding = newRefCounted<HoldingHandler>();
    {
        const auto engine = host.obtainEngine();
        auto agent = CoreHost::createAgent(*engine, kDeviceId);
        agent->setHandler(holding.get());

        std::thread worker([completion = agent->frameCompletion()]
            { completion(objectPacket(1), nullptr, {}); });
        holding->waitUntilEntered();
        std::thread host([&agent] { agent = nullptr; });
        // Give the destructor a chance to overtake the push; it must not.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        holding->release();
        worker.join();
        host.join();
    }
    const std::string log = host.startLog();
    const auto pushed = log.find(std::string("Device ") + kDeviceId + " pushing 1 packets.\n");
    const auto destroyed = log.find(std::string("Destroying Device Agent ") + kDeviceId);
    ASSERT_NE(pushed, std::string::npos) << log;
    ASSERT_NE(destroyed, std::string::npos) << log;
    EXPECT_LT(pushed, destroyed) << log;
}

TEST(DeviceAgentConcurrency, ManyCamerasPushAtOnce)
{
    constexpr int kCameras = 6;
    constexpr int kFrames = 20;
    CoreHost host;
    std::vector<std::unique_ptr<CapturedHandler>> handlers;
    for (int i = 0; i < kCameras; ++i)
        handlers.push_back(std::make_unique<CapturedHandler>("camera" + std::to_string(i)));
    {
        const auto engine = host.obtainEngine();
        host.connectToCloud(*engine);
        std::vector<Ptr<core::DeviceAgent>> agents;
        for (int i = 0; i < kCameras; ++i)
        {
            const std::string id = "3f2b7c1e-0000-4000-8000-00000000000" + std::to_string(i);
            agents.push_back(CoreHost::createAgent(*engine, id));
            agents.back()->setHandler(handlers[i]->handler.get());
            auto settings = agents.back()->copySettings();
            settings->active = true;
            agents.back()->publishSettings(settings);
        }

        // Per camera a host thread pushing frames and an output worker completing them.
        std::vector<std::thread> threads;
        for (int i = 0; i < kCameras; ++i)
        {
            threads.emplace_back([&, i]
                {
                    for (int f = 0; f < kFrames; ++f)
                        pushFrame(*agents[i], vyai::currentTimeMicros());
                });
            threads.emplace_back([completion = agents[i]->frameCompletion()]
                {
                    for (int f = 0; f < kFrames; ++f)
                        completion(objectPacket(1), eventPacket(), {});
                });
        }
        for (auto& thread: threads)
            thread.join();
        // Every frame reached the manager, which refused it: no engine runs.
        EXPECT_EQ(engine->inferenceManager().counts().dropped, static_cast<uint64_t>(kCameras * kFrames));

        // Late completions race the agents' destruction; whatever lands must land whole.
        std::vector<std::thread> late;
        for (int i = 0; i < kCameras; ++i)
        {
            late.emplace_back([completion = agents[i]->frameCompletion()]
                {
                    for (int f = 0; f < kFrames; ++f)
                        completion(objectPacket(1), nullptr, {});
                });
        }
        agents.clear();
        for (auto& thread: late)
            thread.join();
    }

    for (int i = 0; i < kCameras; ++i)
    {
        EXPECT_GE(handlers[i]->counts.objects.load(), kFrames) << i;
        EXPECT_LE(handlers[i]->counts.objects.load(), 2 * kFrames) << i;
        EXPECT_EQ(handlers[i]->counts.events.load(), kFrames) << i;
    }
    // The refusal is written once a second per camera, with its count, not once per frame.
    EXPECT_GE(countOf(host.startLog(), kSentToInference), kCameras);
}

} // namespace
