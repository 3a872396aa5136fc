#include <atomic>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <vy/sdk/analytics/helpers/consuming_device_agent.h>
#include <vy/sdk/analytics/helpers/object_metadata_packet.h>

#include "host/device_info.h"
#include "kit_debug_capture.h"
#include "sdk_host_fakes.h"

namespace {

using namespace vy::sdk;
using namespace vy::sdk::analytics;
using namespace sdk_fakes;

/** Every pushed frame yields one packet to pull, as a plug-in that answers each frame. */
class AnsweringAgent: public ConsumingDeviceAgent
{
public:
    explicit AnsweringAgent(const IDeviceInfo* deviceInfo):
        ConsumingDeviceAgent(deviceInfo, /*enableOutput*/ false)
    {
    }

    using ConsumingDeviceAgent::submitManifest;
    using ConsumingDeviceAgent::submitMetadataPacket;

    std::atomic<int> pulled{0};

protected:
    std::string manifestString() const override { return "{}"; }

    bool pullMetadataPackets(std::vector<IMetadataPacket*>* packets) override
    {
        auto packet = newRefCounted<ObjectMetadataPacket>();
        packet->setTimestampUs(1);
        packets->push_back(packet.releasePtr());
        ++pulled;
        return true;
    }
};

// The host replaces and removes the handler while frames are pushed on its threads and the
// plug-in's workers submit packets and manifests: every packet is delivered to a live
// handler or dropped with its error line, and no handler reference is lost or left over.
TEST(ConsumingDeviceAgentConcurrency, HandlerReplacedWhilePacketsArePushed)
{
    constexpr int kPushThreads = 3;
    constexpr int kSubmitThreads = 2;
    constexpr int kIterations = 400;

    DebugCapture debug;
    const auto info = newRefCounted<vyhost::DeviceInfo>("dev-race", "camera");
    auto agent = newRefCounted<AnsweringAgent>(info.get());
    const Ptr<RecordingDeviceAgentHandler> handlers[] = {
        newRefCounted<RecordingDeviceAgentHandler>(), newRefCounted<RecordingDeviceAgentHandler>()};
    agent->setHandler(handlers[0].get());

    std::atomic<bool> stop = false;
    std::atomic<int> pushesRefusedForNoHandler = 0;
    std::thread replacer(
        [&]
        {
            for (int i = 0; !stop; ++i)
            {
                agent->setHandler(i % 3 == 2 ? nullptr : handlers[i % 3].get());
                std::this_thread::yield();
            }
        });

    std::vector<std::thread> workers;
    for (int t = 0; t < kPushThreads; ++t)
    {
        workers.emplace_back(
            [&]
            {
                for (int i = 0; i < kIterations; ++i)
                {
                    Result<void> result;
                    agent->doPushDataPacket(&result, newRefCounted<FakeFrame>(i).get());
                    if (result.error().errorCode() == ErrorCode::internalError)
                        ++pushesRefusedForNoHandler;
                    toPtr(result.error().errorMessage()).reset();
                }
            });
    }
    for (int t = 0; t < kSubmitThreads; ++t)
    {
        workers.emplace_back(
            [&]
            {
                for (int i = 0; i < kIterations; ++i)
                {
                    auto packet = newRefCounted<ObjectMetadataPacket>();
                    packet->setTimestampUs(2);
                    agent->submitMetadataPacket(packet);
                    agent->submitManifest("{}");
                }
            });
    }
    for (auto& worker: workers)
        worker.join();
    stop = true;
    replacer.join();

    const int delivered =
        int(handlers[0]->packets().size() + handlers[1]->packets().size());
    const int dropped = debug.countLinesContaining("ignoring the packet");
    const int offered = agent->pulled + kSubmitThreads * kIterations;
    EXPECT_EQ(delivered + dropped, offered);
    EXPECT_EQ(agent->pulled + pushesRefusedForNoHandler, kPushThreads * kIterations);

    const int manifests =
        int(handlers[0]->manifests().size() + handlers[1]->manifests().size());
    EXPECT_EQ(manifests + debug.countLinesContaining("ignoring the manifest"),
        kSubmitThreads * kIterations);

    agent.reset();
    for (const auto& handler: handlers)
    {
        EXPECT_EQ(handler->refCount(), 1);
        handler->clear();
    }
}

} // namespace
