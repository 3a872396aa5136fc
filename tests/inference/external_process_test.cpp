#include "inference/external_process.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <future>
#include <latch>
#include <optional>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <QtGlobal>

#include <gtest/gtest.h>

#include "captured_log.h"
#include "eventually.h"
#include "processor_harness.h"
#include "time_factor.h"

namespace vyai::test {
namespace {

enum class Transport { sharedMemory, tcp };

// One vyprocessor and the plug-in's link to it; checks at the end that neither the child nor
// a shared-memory segment outlives the link.
class Peer
{
public:
    Peer(Transport transport, const std::string& mode, const std::vector<std::string>& extra = {})
    {
        std::vector<std::string> arguments{"--mode", mode};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        if (transport == Transport::tcp)
        {
            arguments.insert(arguments.begin(), {"--listen", "0"});
            m_tcpChild = std::make_unique<ProcessorChild>(arguments, std::vector<int>{});
            m_pid = m_tcpChild->pid();
            process = makeExternalProcessTcp(m_tcpChild->announcedPort());
            return;
        }
        QStringList qtArguments;
        for (const std::string& argument: arguments)
            qtArguments << QString::fromStdString(argument);
        process = makeExternalProcess(processorProgram(), "", qtArguments, QProcessEnvironment());
        if (process)
        {
            m_pid = static_cast<pid_t>(process->childProcessId());
            // The child's command line may still be the forking parent's for a moment.
            EXPECT_TRUE(eventually([&] { return !(m_segments = segmentNamesOf(m_pid)).empty(); }))
                << "child " << m_pid << " was never given its segments";
        }
    }

    ~Peer()
    {
        process.reset();
        m_tcpChild.reset();
        if (m_pid > 0)
        {
            EXPECT_FALSE(processExists(m_pid)) << "child " << m_pid << " left behind";
        }
        for (const std::string& name: m_segments)
            EXPECT_FALSE(segmentExists(name)) << name << " left behind";
    }

    // The default reply deadline is the build's: a sanitizer build echoes a large request slowly.
    std::optional<std::vector<uint8_t>> exchange(const std::vector<uint8_t>& request,
        uint32_t timeoutMs = static_cast<uint32_t>(scaled(std::chrono::milliseconds(5000)).count()))
    {
        if (process->sendMessage(request) != SendOutcome::sent)
            return std::nullopt;
        const ExternalProcessReply reply = process->waitForOutput(timeoutMs);
        std::optional<std::vector<uint8_t>> result;
        if (reply.ok)
            result.emplace(reply.data, reply.data + reply.length);
        process->finishResponse();
        return result;
    }

    std::unique_ptr<ExternalProcess> process;
    size_t segmentCount() const { return m_segments.size(); }
    const std::vector<std::string>& segments() const { return m_segments; }

private:
    std::unique_ptr<ProcessorChild> m_tcpChild;
    pid_t m_pid = -1;
    std::vector<std::string> m_segments;
};

std::vector<uint8_t> numbered(size_t size, uint32_t number)
{
    std::vector<uint8_t> bytes(std::max<size_t>(size, 4), static_cast<uint8_t>(number * 13));
    memcpy(bytes.data(), &number, 4);
    bytes.resize(size);
    return bytes;
}

bool waitForLog(const CapturedLog& log, const std::string& fragment)
{
    for (int i = 0; i < 250 && !log.contains(fragment); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return log.contains(fragment);
}

/**
 * Sends numbered requests, from 2 on and at most `attempts`, until three were answered;
 * expects every answer to be its own request's echo. The number answered.
 */
int ownAnswers(Peer& peer, uint32_t attempts)
{
    int answered = 0;
    for (uint32_t number = 2; number < attempts && answered < 3; ++number)
    {
        const std::vector<uint8_t> request = numbered(32, number);
        if (const auto reply = peer.exchange(request, 2000))
        {
            EXPECT_EQ(*reply, request);
            ++answered;
        }
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return answered;
}

/** A TCP socket bound to a free loopback port, or -1. */
int boundLoopbackSocket(uint16_t& port)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
        || getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
    {
        if (fd >= 0)
            close(fd);
        return -1;
    }
    port = ntohs(address.sin_port);
    return fd;
}

class ExternalProcessTransport: public ::testing::TestWithParam<Transport>
{
};

TEST_P(ExternalProcessTransport, RepliesComeBackWholeAcrossSizes)
{
    Peer peer(GetParam(), "echo");
    ASSERT_TRUE(peer.process);
    if (GetParam() == Transport::sharedMemory)
    {
        EXPECT_EQ(peer.segmentCount(), 4u);
    }
    uint32_t number = 0;
    for (const size_t size: {size_t{0}, size_t{1500}, size_t{640 * 640 * 3 * 4}, size_t{10}})
    {
        const std::vector<uint8_t> request = numbered(size, ++number);
        EXPECT_EQ(peer.exchange(request), request) << size;
    }
}

TEST_P(ExternalProcessTransport, ConcurrentCallersGetTheirOwnReplies)
{
    Peer peer(GetParam(), "echo");
    ASSERT_TRUE(peer.process);
    constexpr uint32_t kCallers = 4;
    constexpr int kReplies = 10;
    const auto deadline = static_cast<uint32_t>(scaled(std::chrono::milliseconds(5000)).count());
    std::latch ready(kCallers);
    std::atomic<int> mismatches{0};
    std::atomic<int> lostReplies{0};
    std::atomic<uint64_t> notSent{0};
    std::array<int, kCallers> own{};
    std::array<bool, kCallers> served{};
    std::vector<std::thread> callers;
    for (uint32_t caller = 0; caller < kCallers; ++caller)
        callers.emplace_back([&, caller] {
            ready.arrive_and_wait();
            // A caller that finds one exchange under way and one caller waiting goes on without
            // a reply, so each asks again until it has its replies. On a starved machine a send
            // may also fail when the child acknowledges it too late.
            uint32_t number = caller * 1000000;
            served[caller] = eventually(
                [&] {
                    const std::vector<uint8_t> request = numbered(64 + caller * 700, number++);
                    if (peer.process->sendMessage(request) != SendOutcome::sent)
                    {
                        ++notSent;
                        return false;
                    }
                    const ExternalProcessReply reply = peer.process->waitForOutput(deadline);
                    if (!reply.ok)
                        ++lostReplies;
                    else if (std::equal(request.begin(), request.end(), reply.data, reply.data + reply.length))
                        ++own[caller];
                    else
                        ++mismatches;
                    peer.process->finishResponse();
                    return own[caller] == kReplies;
                },
                std::chrono::seconds(30));
        });
    for (std::thread& caller: callers)
        caller.join();
    EXPECT_EQ(mismatches, 0);
    // A request the exchange took always has its reply come back to its own caller.
    EXPECT_EQ(lostReplies, 0);
    for (uint32_t caller = 0; caller < kCallers; ++caller)
        EXPECT_TRUE(served[caller]) << "caller " << caller << " got " << own[caller] << " of its replies";
    EXPECT_LE(peer.process->refusedRequests(), notSent.load());
}

TEST_P(ExternalProcessTransport, AStuckPeerHoldsTwoCallersForOneDeadlineAndTurnsTheOthersAway)
{
    Peer peer(GetParam(), "hang");
    ASSERT_TRUE(peer.process);
    const auto deadline = scaled(std::chrono::milliseconds(2000));
    constexpr int kCallers = 8;
    std::latch ready(kCallers);
    std::atomic<int> answered{0};
    std::vector<std::thread> callers;
    const auto start = std::chrono::steady_clock::now();
    for (int caller = 0; caller < kCallers; ++caller)
        callers.emplace_back([&, caller] {
            ready.arrive_and_wait();
            if (peer.exchange(numbered(8, static_cast<uint32_t>(caller)), static_cast<uint32_t>(deadline.count())))
                ++answered;
        });
    for (std::thread& caller: callers)
        caller.join();
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(answered, 0);
    // One exchange timed out; the caller waiting for it gave up with it, the rest at once.
    EXPECT_EQ(peer.process->refusedRequests(), static_cast<uint64_t>(kCallers - 1));
    EXPECT_LT(elapsed, 2 * deadline) << "queued callers each waited a deadline of their own";
}

TEST_P(ExternalProcessTransport, LateReplyIsNeverTakenAsALaterAnswer)
{
    Peer peer(GetParam(), "delay", {"--delay-ms", "500", "--delay-requests", "1"});
    ASSERT_TRUE(peer.process);
    EXPECT_FALSE(peer.exchange(numbered(32, 1), 100));
    EXPECT_EQ(ownAnswers(peer, 60), 3);
}

TEST_P(ExternalProcessTransport, OversizeReplyIsRejected)
{
    CapturedLog log;
    Peer peer(GetParam(), "oversize");
    ASSERT_TRUE(peer.process);
    EXPECT_FALSE(peer.exchange(numbered(100, 1)));
    EXPECT_FALSE(peer.exchange(numbered(100, 2)));
    EXPECT_TRUE(log.contains(GetParam() == Transport::tcp ? "announced a reply of 4294967280 bytes"
                                                           : "announced 65636 bytes"));
}

TEST_P(ExternalProcessTransport, CrashEndsTheExchange)
{
    CapturedLog log;
    Peer peer(GetParam(), "crash");
    ASSERT_TRUE(peer.process);
    EXPECT_FALSE(peer.exchange(numbered(8, 1), 2000));
    EXPECT_FALSE(peer.exchange(numbered(8, 2), 500));
    if (GetParam() == Transport::sharedMemory)
    {
        EXPECT_TRUE(waitForLog(log, "ERROR: External process crashed! Exit code:"));
    }
}

TEST(ExternalProcess, AnExitedChildIsNotWaitedFor)
{
    CapturedLog log;
    Peer peer(Transport::sharedMemory, "crash");
    ASSERT_TRUE(peer.process);
    constexpr uint32_t kLongDeadlineMs = 60000;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(peer.exchange(numbered(8, 1), kLongDeadlineMs));
    EXPECT_LT(std::chrono::steady_clock::now() - start, scaled(std::chrono::seconds(10)))
        << "the reply of a child that crashed was waited for";
    ASSERT_TRUE(eventually([&] { return peer.process->childProcessId() == 0; }));
    const auto again = std::chrono::steady_clock::now();
    EXPECT_FALSE(peer.exchange(numbered(8, 2), kLongDeadlineMs));
    EXPECT_FALSE(peer.exchange(numbered(8, 3), kLongDeadlineMs));
    EXPECT_LT(std::chrono::steady_clock::now() - again, scaled(std::chrono::seconds(1)));
    EXPECT_EQ(peer.process->refusedRequests(), 2u);
    EXPECT_EQ(log.count("Warning! External process has exited; request skipped."), 1) << "not grouped";
}

TEST(ExternalProcess, ATcpPeerThatKeepsReadingSlowlyIsNeverCutOff)
{
    uint16_t port = 0;
    const int listener = boundLoopbackSocket(port);
    ASSERT_GE(listener, 0);
    ASSERT_EQ(listen(listener, 1), 0);
    // 256 KB every 25 ms: a 32 MB request takes the peer over three seconds, far past the
    // send deadline, though bytes move all the time.
    constexpr size_t kRequest = 32u << 20;
    auto reader = std::async(std::launch::async, [listener] {
        const int connection = accept(listener, nullptr, nullptr);
        std::vector<uint8_t> chunk(256 << 10);
        size_t total = 0;
        for (ssize_t got = 1; got > 0 && total < kRequest + 4;)
        {
            got = recv(connection, chunk.data(), chunk.size(), 0);
            total += got > 0 ? static_cast<size_t>(got) : 0;
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
        close(connection);
        return total;
    });
    auto process = makeExternalProcessTcp(port);
    EXPECT_EQ(process->sendMessage(numbered(kRequest, 1), false), SendOutcome::sent);
    EXPECT_EQ(reader.get(), kRequest + 4);
    close(listener);
}

TEST_P(ExternalProcessTransport, HungPeerCostsATimeOutAndShutDownStillEnds)
{
    Peer peer(GetParam(), "hang");
    ASSERT_TRUE(peer.process);
    EXPECT_FALSE(peer.exchange(numbered(8, 1), 200));
    EXPECT_FALSE(peer.exchange(numbered(8, 2), 200));
}

INSTANTIATE_TEST_SUITE_P(Transports, ExternalProcessTransport,
    ::testing::Values(Transport::sharedMemory, Transport::tcp),
    [](const auto& info) { return info.param == Transport::tcp ? "tcp" : "sharedMemory"; });

TEST(ExternalProcess, SegmentNamesAreGoneOnceTheChildHasThemOpenAndGrowingStillWorks)
{
    Peer peer(Transport::sharedMemory, "echo");
    ASSERT_TRUE(peer.process);
    ASSERT_EQ(peer.segmentCount(), 4u);
    const std::vector<uint8_t> first = numbered(16, 1);
    ASSERT_EQ(peer.exchange(first), first);
    // A crash of either side from now on leaves nothing in the shared-memory folder.
    for (const std::string& name: peer.segments())
        EXPECT_FALSE(segmentExists(name)) << name;
    // Both sides grow the unnamed segments through their open handles.
    const std::vector<uint8_t> large = numbered(640 * 640 * 3 * 4, 2);
    EXPECT_EQ(peer.exchange(large), large);
}

// An acknowledgement past the deadline puts the link out of step for a while only: once it
// has come, the late request's reply is dropped and every later request gets its own answer.
TEST(ExternalProcess, AChildThatAcknowledgedLateIsUsedAgainOnceInStep)
{
    CapturedLog log;
    Peer peer(Transport::sharedMemory, "late-ack", {"--delay-ms", "1500", "--delay-requests", "1"});
    ASSERT_TRUE(peer.process);
    EXPECT_FALSE(peer.exchange(numbered(32, 1)));
    EXPECT_EQ(ownAnswers(peer, 200), 3);
    EXPECT_TRUE(log.contains("acknowledged late and answers again"));
}

TEST(ExternalProcess, ChildIgnoringTerminationIsKilled)
{
    CapturedLog log;
    {
        Peer peer(Transport::sharedMemory, "ignore-termination");
        ASSERT_TRUE(peer.process);
        EXPECT_TRUE(peer.exchange(numbered(8, 1)));
    }
    EXPECT_TRUE(log.contains("terminating forcefully"));
    EXPECT_TRUE(log.contains("ignored termination, killing it"));
}

TEST(ExternalProcess, ChildThatNeverAnnouncesItselfGetsNoRequest)
{
    CapturedLog log;
    Peer peer(Transport::sharedMemory, "never-ready");
    ASSERT_TRUE(peer.process);
    EXPECT_EQ(peer.process->sendMessage(numbered(8, 1)), SendOutcome::failed);
    EXPECT_TRUE(log.contains("Warning! External process not ready yet (attempt 1/5)."));
}

TEST(ExternalProcess, MissingProgramDoesNotStart)
{
    CapturedLog log;
    EXPECT_FALSE(makeExternalProcess("/nonexistent/vyprocessor", "", {}, QProcessEnvironment()));
    EXPECT_TRUE(log.contains("ERROR: Failed to start external process (file not found or no permissions)"));
}

TEST(ExternalProcess, LogFileTakesTheChildsOutput)
{
    ScopedTempDirectory directory;
    const std::string logFile = (directory.path() / "processor.log").string();
    {
        std::ofstream(logFile) << "old run\n";
        // An unknown mode makes the child print its usage and end.
        auto process = makeExternalProcess(processorProgram(), logFile, {"--mode", "nonsense"}, QProcessEnvironment());
        ASSERT_TRUE(process);
        for (int i = 0; i < 250 && process->childProcessId() != 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const std::string text = readFile(logFile);
    EXPECT_EQ(text.find("old run"), std::string::npos);
    EXPECT_NE(text.find("unknown mode nonsense"), std::string::npos);
}

std::atomic<int> g_qtMessages{0};

TEST(ExternalProcess, OutputGoingToALogFileIsNeverReadBack)
{
    ScopedTempDirectory directory;
    g_qtMessages = 0;
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) { ++g_qtMessages; });
    {
        auto process = makeExternalProcess(processorProgram(), (directory.path() / "processor.log").string(),
            {"--mode", "echo"}, QProcessEnvironment());
        ASSERT_TRUE(process);
        // The watcher polls the child every 20 ms while it runs.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    qInstallMessageHandler(previous);
    EXPECT_EQ(g_qtMessages, 0);
}

TEST(ExternalProcess, TcpPortsOutsideTheRangeAreRejected)
{
    CapturedLog log;
    for (const uint32_t port: {0u, 65536u, 70000u})
    {
        auto process = makeExternalProcessTcp(port);
        EXPECT_EQ(process->sendMessage(numbered(8, 1)), SendOutcome::failed);
        EXPECT_TRUE(log.contains("Could not connect to external process at port: " + std::to_string(port)));
    }
}

TEST(ExternalProcess, TcpPeerNotListeningFailsTheRequest)
{
    uint16_t port = 0;
    const int probe = boundLoopbackSocket(port);
    ASSERT_GE(probe, 0);
    close(probe);
    auto process = makeExternalProcessTcp(port);
    EXPECT_EQ(process->sendMessage(numbered(8, 1)), SendOutcome::failed);
    EXPECT_FALSE(process->waitForOutput(100).ok);
}

TEST(ExternalProcess, TcpPeerThatStopsReadingFailsEachRequestAndFreesTheExchange)
{
    CapturedLog log;
    Peer peer(Transport::tcp, "stop-reading", {"--stop-after", "1"});
    ASSERT_TRUE(peer.process);
    ASSERT_TRUE(peer.exchange(numbered(8, 1)));
    // Larger than what the loopback buffers take, so the send itself has to wait on the peer.
    // Made before the callers start, so that the second comes while the first one's send waits.
    const size_t large = 64u << 20;
    const std::vector<uint8_t> requests[] = {numbered(large, 2), numbered(large, 3)};
    const std::string skipped = "failed a request meanwhile; request skipped.";
    // On a loaded machine the second caller may come only once the first one's send has failed;
    // it then sends and fails on its own, and the pair is tried again (each time on a new
    // connection the peer never reads from).
    for (int round = 0; round < 5 && !log.contains(skipped); ++round)
    {
        auto first = std::async(std::launch::async, [&] { return peer.process->sendMessage(requests[0]); });
        auto queued = std::async(std::launch::async, [&] { return peer.process->sendMessage(requests[1]); });
        ASSERT_EQ(first.wait_for(scaled(std::chrono::seconds(30))), std::future_status::ready)
            << "send never ended";
        ASSERT_EQ(queued.wait_for(scaled(std::chrono::seconds(30))), std::future_status::ready)
            << "caller stayed queued";
        EXPECT_NE(first.get(), SendOutcome::sent);
        EXPECT_NE(queued.get(), SendOutcome::sent);
    }
    EXPECT_TRUE(log.contains("Could not send input message to external process at port"));
    EXPECT_TRUE(log.contains("connection closed"));
    // Whichever went second waited for the first and gave up without a deadline of its own.
    EXPECT_TRUE(log.contains(skipped));
}

} // namespace
} // namespace vyai::test
