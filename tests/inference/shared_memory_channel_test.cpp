#include "inference/shared_memory_channel.h"

#include <regex>

#include <gtest/gtest.h>

#include "captured_log.h"
#include "processor_harness.h"

namespace vyai::test {
namespace {

std::vector<uint8_t> pattern(size_t size)
{
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(i * 7 + 3);
    return bytes;
}

// Both channels of one vyprocessor child, driven directly.
struct ChannelPair
{
    explicit ChannelPair(const std::string& mode, std::vector<std::string> extra = {}):
        input(SharedMemoryChannel::create(1024)), output(SharedMemoryChannel::create(1024))
    {
        std::vector<std::string> arguments{input->descriptor(), output->descriptor(), "--mode", mode};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        child = std::make_unique<ProcessorChild>(arguments,
            std::vector<int>{input->eventHandle(0), input->eventHandle(1), output->eventHandle(0),
                output->eventHandle(1)});
    }

    /**
     * Handshake, one request of `request`, one reply into *reply: the first failing code, else
     * the receive's. The reply is acknowledged whatever it was.
     */
    int32_t exchange(const std::vector<uint8_t>& request, int32_t timeoutMs, std::vector<uint8_t>* reply = nullptr)
    {
        if (!input->isReady() && input->waitForReady(5000) != kChannelOk)
            return kChannelWaitFailed;
        const int32_t sent = input->send(static_cast<uint32_t>(request.size()), copyOf(request));
        if (sent != kChannelOk)
            return sent;
        const uint8_t* payload = nullptr;
        uint32_t length = 0;
        const int32_t received = output->receive(&payload, &length, timeoutMs);
        if (received == kChannelOk && reply)
            reply->assign(payload, payload + length);
        if (received != kChannelWaitFailed)
            output->sendAcknowledge();
        return received;
    }

    ~ChannelPair()
    {
        if (input)
            input->sendExitRequest();
        child.reset();
    }

    std::unique_ptr<SharedMemoryChannel> input;
    std::unique_ptr<SharedMemoryChannel> output;
    std::unique_ptr<ProcessorChild> child;
};

TEST(SharedMemoryChannel, DescriptorNamesTwoHexHandlesAndTwoSegments)
{
    const auto channel = SharedMemoryChannel::create(1024);
    ASSERT_TRUE(channel);
    EXPECT_TRUE(std::regex_match(channel->descriptor(),
        std::regex("[0-9A-F]{16}\\|[0-9A-F]{16}\\|/Global_RandomSHM_[0-9A-F]{8}\\|/Global_RandomSHM_[0-9A-F]{8}")))
        << channel->descriptor();
}

TEST(SharedMemoryChannel, DestroyRemovesBothSegments)
{
    auto channel = SharedMemoryChannel::create(1024);
    ASSERT_TRUE(channel);
    std::smatch names;
    const std::string descriptor = channel->descriptor();
    ASSERT_TRUE(std::regex_search(descriptor, names, std::regex("\\|(/[^|]+)\\|(/[^|]+)$")));
    EXPECT_TRUE(segmentExists(names[1]) && segmentExists(names[2]));
    channel.reset();
    EXPECT_FALSE(segmentExists(names[1]));
    EXPECT_FALSE(segmentExists(names[2]));
}

struct SizeCase
{
    const char* name;
    size_t size;
    bool reallocates;
};

class ChannelRoundTrip: public ::testing::TestWithParam<SizeCase>
{
};

TEST_P(ChannelRoundTrip, EchoComesBackWholeAndReallocatesOnlyWhenTooLarge)
{
    CapturedLog log;
    ChannelPair pair("echo");
    const std::vector<uint8_t> request = pattern(GetParam().size);
    std::vector<uint8_t> reply;
    ASSERT_EQ(pair.exchange(request, 5000, &reply), kChannelOk);
    EXPECT_EQ(reply, request);
    EXPECT_EQ(log.contains("Reallocating buffer from 1028 to"), GetParam().reallocates);
}

INSTANTIATE_TEST_SUITE_P(Sizes, ChannelRoundTrip,
    ::testing::Values(SizeCase{"empty", 0, false}, SizeCase{"exactFit", 1024, false},
        SizeCase{"oneByteMore", 1025, true}, SizeCase{"tensor640", 640 * 640 * 3 * 4, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SharedMemoryChannel, SendBeforeReadyIsRefusedAndWritesNothing)
{
    ChannelPair pair("never-ready");
    const std::vector<uint8_t> request = pattern(16);
    EXPECT_EQ(pair.input->send(16, copyOf(request)), kChannelNotReady);
    const uint8_t* payload = nullptr;
    uint32_t length = 0;
    // The child serves whatever arrives: a reply would mean the request went out.
    EXPECT_EQ(pair.output->receive(&payload, &length, 300), kChannelWaitFailed);
}

TEST(SharedMemoryChannel, ReadyNoticeDuringReplyWaitIsSkipped)
{
    ChannelPair pair("ready-spam");
    std::vector<uint8_t> reply;
    for (uint8_t round = 0; round < 3; ++round)
    {
        ASSERT_EQ(pair.exchange(pattern(100 + round), 5000, &reply), kChannelOk);
        EXPECT_EQ(reply, pattern(100 + round));
    }
}

TEST(SharedMemoryChannel, AcknowledgementOtherThanZeroIsReported)
{
    ChannelPair pair("wrong-ack");
    EXPECT_EQ(pair.exchange(pattern(8), 5000), kChannelNotAcknowledged);
}

TEST(SharedMemoryChannel, NegativeTimeOutWaitsForALateReply)
{
    ChannelPair pair("delay", {"--delay-ms", "300"});
    EXPECT_EQ(pair.exchange(pattern(8), -1), kChannelOk);
}

TEST(SharedMemoryChannel, ReplyFaultsAreRejectedWithoutReadingPastTheSegment)
{
    for (const char* mode: {"oversize", "wrong-status"})
    {
        SCOPED_TRACE(mode);
        ChannelPair pair(mode);
        std::vector<uint8_t> reply;
        EXPECT_EQ(pair.exchange(pattern(2000), 5000, &reply), kChannelUnexpectedStatus);
        EXPECT_TRUE(reply.empty());
    }
}

} // namespace
} // namespace vyai::test
