#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <vy/sdk/analytics/helpers/consuming_device_agent.h>
#include <vy/sdk/analytics/helpers/event_metadata_packet.h>
#include <vy/sdk/analytics/helpers/object_metadata.h>
#include <vy/sdk/analytics/helpers/object_metadata_packet.h>
#include <vy/sdk/analytics/helpers/object_track_best_shot_packet.h>
#include <vy/sdk/helpers/error.h>
#include <vy/sdk/helpers/lib_context.h>
#include <vy/sdk/helpers/settings_response.h>
#include <vy/sdk/helpers/string_map.h>

#include "host/device_info.h"
#include "kit_debug_capture.h"
#include "sdk_host_fakes.h"
#include "sdk_host_string_map.h"

namespace {

using namespace vy::sdk;
using namespace vy::sdk::analytics;
using namespace sdk_fakes;

/** A device agent whose overridables do what a test sets and record that they were called. */
class TestAgent: public ConsumingDeviceAgent
{
public:
    TestAgent(const IDeviceInfo* deviceInfo, bool enableOutput):
        ConsumingDeviceAgent(deviceInfo, enableOutput)
    {
    }

    using ConsumingDeviceAgent::currentSettingMap;
    using ConsumingDeviceAgent::submitManifest;
    using ConsumingDeviceAgent::submitMetadataPacket;

    bool pushResult = true;
    bool pullResult = true;
    bool throwInPush = false;
    bool throwInSettings = false;
    std::vector<Ptr<IMetadataPacket>> packetsToPull;
    std::vector<std::string> calls;

protected:
    std::string manifestString() const override
    {
        if (throwInSettings)
            throw std::runtime_error("no manifest");
        return R"({"typeLibrary":{}})";
    }

    bool pushCompressedVideoFrame(Ptr<ICompressedVideoPacket>) override
    {
        return push("compressed");
    }
    bool pushUncompressedVideoFrame(Ptr<const IUncompressedVideoFrame>) override
    {
        return push("uncompressed");
    }
    bool pushCustomMetadataPacket(Ptr<ICustomMetadataPacket>) override { return push("custom"); }

    bool pullMetadataPackets(std::vector<IMetadataPacket*>* packets) override
    {
        calls.push_back("pull");
        for (const auto& packet: packetsToPull)
            packets->push_back(shareToPtr(packet.get()).releasePtr());
        return pullResult;
    }

    Result<const ISettingsResponse*> settingsReceived() override
    {
        if (throwInSettings)
            throw std::runtime_error("bad settings");
        auto response = newRefCounted<SettingsResponse>();
        response->setModel("{}");
        return response.releasePtr();
    }

private:
    bool push(const char* kind)
    {
        calls.push_back(kind);
        if (throwInPush)
            throw std::runtime_error("boom");
        return pushResult;
    }
};

Ptr<ObjectMetadataPacket> objectPacket(int64_t timestampUs, std::vector<std::string> typeIds)
{
    auto packet = newRefCounted<ObjectMetadataPacket>();
    packet->setTimestampUs(timestampUs);
    for (auto& typeId: typeIds)
    {
        auto item = newRefCounted<ObjectMetadata>();
        item->setTypeId(std::move(typeId));
        packet->addItem(item);
    }
    return packet;
}

int32_t refCountOf(const IRefCountable* object)
{
    object->acquireRef();
    return object->dropRef();
}

class ConsumingDeviceAgentTest: public ::testing::Test
{
protected:
    Ptr<TestAgent> makeAgent(bool enableOutput)
    {
        const auto info = newRefCounted<vyhost::DeviceInfo>("dev-1", "camera");
        auto agent = newRefCounted<TestAgent>(info.get(), enableOutput);
        debug.clear();
        return agent;
    }

    DebugCapture debug;
    const Ptr<RecordingDeviceAgentHandler> handler = newRefCounted<RecordingDeviceAgentHandler>();
};

struct PushCase
{
    const char* name;
    std::function<Ptr<IDataPacket>()> packet;
    std::function<void(TestAgent&)> setUp;
    bool setHandler;
    ErrorCode expectedCode;
    std::string expectedMessage; //< empty for a success
    std::vector<std::string> expectedCalls;
};

TEST_F(ConsumingDeviceAgentTest, DataPacketsAreDispatchedOrRefusedByKind)
{
    const auto frame =
        [](int64_t ts) { return [ts] { return Ptr<IDataPacket>(newRefCounted<FakeFrame>(ts)); }; };
    const auto nothing = [](TestAgent&) {};
    const auto refusePush = [](TestAgent& agent) { agent.pushResult = false; };
    const PushCase cases[] = {
        {"null packet", [] { return Ptr<IDataPacket>(); }, nothing, true,
            ErrorCode::invalidParams, "dataPacket is null; discarding it.", {}},
        {"negative timestamp", frame(-1), nothing, true, ErrorCode::invalidParams,
            "dataPacket has invalid timestamp -1; discarding the packet.", {}},
        {"timestamp zero", frame(0), nothing, true, ErrorCode::noError, "",
            {"uncompressed", "pull"}},
        {"compressed", [] { return Ptr<IDataPacket>(newRefCounted<FakeCompressedPacket>(5)); },
            nothing, true, ErrorCode::noError, "", {"compressed", "pull"}},
        {"custom", [] { return Ptr<IDataPacket>(newRefCounted<FakeCustomPacket>(5)); },
            nothing, true, ErrorCode::noError, "", {"custom", "pull"}},
        {"frame that is also custom metadata",
            [] { return Ptr<IDataPacket>(newRefCounted<FakeFrame>(5, true)); }, nothing, true,
            ErrorCode::noError, "", {"uncompressed", "pull"}},
        {"unknown kind", [] { return Ptr<IDataPacket>(newRefCounted<FakeBarePacket>(5)); },
            nothing, true, ErrorCode::invalidParams, "Unsupported frame supplied; ignored.", {}},
        {"compressed refused",
            [] { return Ptr<IDataPacket>(newRefCounted<FakeCompressedPacket>(5)); }, refusePush,
            true, ErrorCode::otherError, "pushCompressedVideoFrame() failed.", {"compressed"}},
        {"frame refused", frame(5), refusePush, true, ErrorCode::otherError,
            "pushUncompressedVideoFrame() failed.", {"uncompressed"}},
        {"custom refused", [] { return Ptr<IDataPacket>(newRefCounted<FakeCustomPacket>(5)); },
            refusePush, true, ErrorCode::otherError, "pushCustomMetadataPacket() failed.",
            {"custom"}},
        {"no handler yet", frame(5), nothing, false, ErrorCode::internalError,
            "setHandler() was not called.", {"uncompressed"}},
        {"pull refused", frame(5), [](TestAgent& agent) { agent.pullResult = false; }, true,
            ErrorCode::otherError, "pullMetadataPackets() failed.", {"uncompressed", "pull"}},
        {"push throws", frame(5), [](TestAgent& agent) { agent.throwInPush = true; }, true,
            ErrorCode::otherError, "doPushDataPacket() threw: boom", {"uncompressed"}},
    };

    for (const PushCase& c: cases)
    {
        SCOPED_TRACE(c.name);
        const auto agent = makeAgent(/*enableOutput*/ false);
        c.setUp(*agent);
        if (c.setHandler)
            agent->setHandler(handler.get());
        const Ptr<IDataPacket> packet = c.packet();

        Result<void> result;
        agent->doPushDataPacket(&result, packet.get());

        EXPECT_EQ(result.error().errorCode(), c.expectedCode);
        EXPECT_EQ(takeMessage(result.error()), c.expectedMessage);
        EXPECT_EQ(agent->calls, c.expectedCalls);
        if (packet)
        {
            EXPECT_EQ(refCountOf(packet.get()), 1) << "the agent kept a reference";
        }

        // With the output switch off a success writes nothing; a failure writes one line
        // without "END ".
        const auto lines = debug.lines();
        if (c.expectedMessage.empty())
        {
            EXPECT_TRUE(lines.empty());
        }
        else
        {
            ASSERT_EQ(lines.size(), 1U);
            EXPECT_NE(lines[0].find("doPushDataPacket() -> " + toString(c.expectedCode) + ": "
                + c.expectedMessage), std::string::npos) << lines[0];
        }
    }
}

TEST_F(ConsumingDeviceAgentTest, WithOutputOnAFailureLineSaysEnd)
{
    const auto agent = makeAgent(/*enableOutput*/ true);
    agent->setHandler(handler.get());
    Result<void> result;
    agent->doPushDataPacket(&result, newRefCounted<FakeBarePacket>(7).get());
    takeMessage(result.error());

    EXPECT_EQ(debug.countLinesContaining("doPushDataPacket() BEGIN"), 1);
    EXPECT_EQ(debug.countLinesContaining(
        "doPushDataPacket() END -> invalidParams: Unsupported frame supplied; ignored."), 1);
}

TEST_F(ConsumingDeviceAgentTest, PulledPacketsReachTheHandlerInOrderAndAreGivenBack)
{
    const auto agent = makeAgent(/*enableOutput*/ true);
    agent->setHandler(handler.get());
    const auto first = objectPacket(10, {"vy.vyai.person"});
    const auto second = objectPacket(11, {"vy.vyai.car", "vy.vyai.car", "vy.vyai.bus"});
    agent->packetsToPull = {first, nullptr, second};

    Result<void> result;
    agent->doPushDataPacket(&result, newRefCounted<FakeFrame>(5).get());

    ASSERT_TRUE(result.isOk());
    {
        const auto delivered = handler->packets();
        ASSERT_EQ(delivered.size(), 2U);
        EXPECT_EQ(delivered[0].get(), static_cast<IMetadataPacket*>(first.get()));
        EXPECT_EQ(delivered[1].get(), static_cast<IMetadataPacket*>(second.get()));
    }
    EXPECT_EQ(debug.countLinesContaining(
        "processMetadataPackets(): Producing 3 metadata packet(s)."), 1);
    EXPECT_EQ(debug.countLinesContaining("WARNING: Null metadata packet #1 found; discarded."), 1);
    EXPECT_EQ(debug.countLinesContaining(
        "Object metadata packet #0 contains 1 item of type vy.vyai.person."), 1);
    EXPECT_EQ(debug.countLinesContaining("Object metadata packet #2 contains 3 item(s)."), 1);

    handler->clear();
    agent->packetsToPull.clear();
    EXPECT_EQ(first->refCount(), 1);
    EXPECT_EQ(second->refCount(), 1);
}

TEST_F(ConsumingDeviceAgentTest, AnEmptyPullProducesNothing)
{
    const auto agent = makeAgent(/*enableOutput*/ true);
    agent->setHandler(handler.get());
    Result<void> result;
    agent->doPushDataPacket(&result, newRefCounted<FakeFrame>(5).get());

    EXPECT_TRUE(result.isOk());
    EXPECT_TRUE(handler->packets().empty());
    EXPECT_EQ(debug.countLinesContaining("Producing"), 0);
    EXPECT_EQ(debug.countLinesContaining("doPushDataPacket() END"), 1);
}

struct LogCase
{
    const char* name;
    std::function<Ptr<IMetadataPacket>()> packet;
    std::vector<std::string> expectedLines;
    std::vector<std::string> absentLines;
};

TEST_F(ConsumingDeviceAgentTest, SubmittedPacketsAreDescribedByKind)
{
    const LogCase cases[] = {
        {"one item", [] { return Ptr<IMetadataPacket>(objectPacket(3, {"vy.vyai.dog"})); },
            {"(): Object metadata packet contains 1 item of type vy.vyai.dog."}, {"WARNING"}},
        {"empty", [] { return Ptr<IMetadataPacket>(objectPacket(3, {})); },
            {"(): WARNING: Object metadata packet is empty."}, {"contains"}},
        {"timestamp zero", [] { return Ptr<IMetadataPacket>(objectPacket(0, {"a", "b"})); },
            {"Object metadata packet contains 2 item(s).",
                "(): WARNING: Object metadata packet has timestamp 0."},
            {}},
        {"event",
            []
            {
                auto packet = newRefCounted<EventMetadataPacket>();
                packet->setTimestampUs(4);
                return Ptr<IMetadataPacket>(packet);
            },
            {"WARNING: Event metadata packet is empty."}, {"unknown type"}},
        {"best shot",
            []
            {
                return Ptr<IMetadataPacket>(
                    newRefCounted<ObjectTrackBestShotPacket>(Uuid(), 4, BoundingBox()));
            },
            {}, {"WARNING", "contains"}},
        {"negative timestamp", [] { return Ptr<IMetadataPacket>(objectPacket(-5, {"x"})); },
            {"metadataPacket->timestampUs() >= 0"}, {}},
    };

    for (const LogCase& c: cases)
    {
        SCOPED_TRACE(c.name);
        handler->clear();
        const auto agent = makeAgent(/*enableOutput*/ true);
        agent->setHandler(handler.get());
        const auto packet = c.packet();

        agent->submitMetadataPacket(packet);

        EXPECT_EQ(handler->packets().size(), 1U) << "delivered whatever the lines say";
        for (const auto& line: c.expectedLines)
            EXPECT_EQ(debug.countLinesContaining(line), 1) << line << "\n" << debug.text();
        for (const auto& line: c.absentLines)
            EXPECT_EQ(debug.countLinesContaining(line), 0) << line << "\n" << debug.text();
    }
}

TEST_F(ConsumingDeviceAgentTest, WithoutHandlerPacketsAndManifestsAreDroppedWithAnErrorLine)
{
    const auto agent = makeAgent(/*enableOutput*/ false);
    const auto packet = objectPacket(3, {"x"});

    agent->submitMetadataPacket(packet);
    agent->submitManifest("{}");

    EXPECT_EQ(packet->refCount(), 1);
    EXPECT_EQ(debug.countLinesContaining("processMetadataPacket(): INTERNAL ERROR: "
        "setHandler() was not called; ignoring the packet"), 1);
    EXPECT_EQ(debug.countLinesContaining("submitManifest(): INTERNAL ERROR"), 1);
}

TEST_F(ConsumingDeviceAgentTest, ManifestGoesToTheCurrentHandlerAndNotAfterItIsRemoved)
{
    const auto agent = makeAgent(/*enableOutput*/ false);
    agent->setHandler(handler.get());
    agent->submitManifest(R"({"a":1})");
    agent->setHandler(nullptr);
    agent->submitManifest(R"({"b":2})");

    EXPECT_EQ(handler->manifests(), std::vector<std::string>{R"({"a":1})"});
    EXPECT_EQ(debug.countLinesContaining("submitManifest(): INTERNAL ERROR"), 1);
}

TEST_F(ConsumingDeviceAgentTest, TheAgentHoldsOneReferenceToItsHandler)
{
    auto agent = makeAgent(/*enableOutput*/ false);
    const auto other = newRefCounted<RecordingDeviceAgentHandler>();

    agent->setHandler(handler.get());
    agent->setHandler(handler.get());
    EXPECT_EQ(handler->refCount(), 2);

    agent->setHandler(other.get());
    EXPECT_EQ(handler->refCount(), 1);
    EXPECT_EQ(other->refCount(), 2);

    agent->setHandler(nullptr);
    EXPECT_EQ(other->refCount(), 1);

    agent->setHandler(other.get());
    agent.reset();
    EXPECT_EQ(other->refCount(), 1);
}

TEST_F(ConsumingDeviceAgentTest, SettingsAreMergedAndBadMapsAreRefused)
{
    const auto agent = makeAgent(/*enableOutput*/ false);
    const auto apply = [&agent](const IStringMap* map) { return applySettingsTo(*agent, map); };

    EXPECT_TRUE(apply(newRefCounted<HostStringMap>(
        std::vector<HostStringMap::Item>{{"a", "1"}, {"b", "2"}}).get()).isOk());
    EXPECT_TRUE(apply(newRefCounted<HostStringMap>(
        std::vector<HostStringMap::Item>{{"b", "3"}}).get()).isOk());
    const std::map<std::string, std::string> merged{{"a", "1"}, {"b", "3"}};
    EXPECT_EQ(agent->currentSettingMap(), merged);

    const Error nullMap = apply(nullptr);
    EXPECT_EQ(nullMap.errorCode(), ErrorCode::invalidParams);
    EXPECT_EQ(takeMessage(nullMap), "Settings are invalid");

    const Error negative = apply(newRefCounted<HostStringMap>(
        std::vector<HostStringMap::Item>{{"a", "9"}}, -1).get());
    EXPECT_EQ(negative.errorCode(), ErrorCode::invalidParams);
    EXPECT_EQ(takeMessage(negative), "Settings are invalid");
    EXPECT_EQ(agent->currentSettingMap(), merged);
}

TEST_F(ConsumingDeviceAgentTest, ExceptionsOfOverridesBecomeErrors)
{
    const auto agent = makeAgent(/*enableOutput*/ false);
    agent->throwInSettings = true;

    const auto settings = agent->applySettings(newRefCounted<StringMap>().get());
    EXPECT_EQ(settings.error().errorCode(), ErrorCode::otherError);
    EXPECT_EQ(takeMessage(settings.error()), "applySettings() threw: bad settings");
    EXPECT_EQ(settings.value(), nullptr);

    const auto manifest = agent->manifest();
    EXPECT_EQ(manifest.error().errorCode(), ErrorCode::otherError);
    EXPECT_EQ(takeMessage(manifest.error()), "manifest() threw: no manifest");
    EXPECT_EQ(debug.countLinesContaining("ERROR: "), 2);
}

TEST_F(ConsumingDeviceAgentTest, PrintPrefixNamesTheDevice)
{
    const std::string name = libContext().name();
    {
        const auto info = newRefCounted<vyhost::DeviceInfo>("{dev-2}", "camera");
        const auto agent = newRefCounted<TestAgent>(info.get(), false);
        agent->finalize();
    }
    {
        const auto agent = newRefCounted<TestAgent>(nullptr, true);
        agent->finalize();
    }
    const auto lines = debug.lines();
    ASSERT_EQ(lines.size(), 6U) << debug.text();
    EXPECT_EQ(lines[0].rfind("[" + name + "_device_{dev-2}] Created 0x", 0), 0U) << lines[0];
    EXPECT_EQ(lines[1].rfind("[" + name + "_device_{dev-2}] Destroyed 0x", 0), 0U) << lines[1];
    EXPECT_EQ(lines[2].rfind("[" + name + "_device] ", 0), 0U) << lines[2];
    EXPECT_NE(lines[2].find("(deviceInfo)"), std::string::npos) << lines[2];
    EXPECT_EQ(lines[4], "[" + name + "_device] finalize()");
}

} // namespace
