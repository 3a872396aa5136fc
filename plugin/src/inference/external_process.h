#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include <QProcessEnvironment>
#include <QStringList>

#include <vy/network/tcp/stream_socket.h>

#include "inference/repeated_warning.h"
#include "inference/shared_memory_channel.h"

namespace vyai {

/** What became of a request: handed over, turned away at admission (warned about there), or failed. */
enum class SendOutcome
{
    sent,
    turnedAway,
    failed,
};

/** A reply in place: valid until finishResponse. */
struct ExternalProcessReply
{
    const uint8_t* data = nullptr;
    uint64_t length = 0;
    bool ok = false;
};

/**
 * The link to one external processor: a child over two shared-memory channels, or a program
 * listening on a local TCP port (frames: u32 little-endian length, payload).
 *
 * One exchange at a time: sendMessage takes the exchange and, when a reply is expected, keeps
 * it for the calling thread until waitForOutput fails or finishResponse releases the reply, so
 * concurrent callers never see each other's replies. A reply that timed out is never taken as
 * a later request's answer: the child's is drained before the next request, the TCP connection
 * is closed.
 *
 * A stuck processor holds at most two callers: one in the exchange and one waiting for it.
 * Further callers are turned away at once, the waiting one gives up when the exchange it waits
 * for fails (a failed connect or send, a reply time-out), and no caller waits for a child that
 * has exited. Each refusal is counted and warned about at most once a second.
 */
class ExternalProcess
{
public:
    ~ExternalProcess();
    ExternalProcess(const ExternalProcess&) = delete;
    ExternalProcess& operator=(const ExternalProcess&) = delete;

    /** replyExpected false: the exchange ends here. */
    SendOutcome sendMessage(std::span<const uint8_t> request, bool replyExpected = true);
    /** As above, the request's `length` bytes written by `fill` straight into the channel's segment. */
    SendOutcome sendMessage(uint64_t length, const MessageFill& fill, bool replyExpected = true);
    ExternalProcessReply waitForOutput(uint32_t timeoutMs);
    /** Releases the reply (0 on success, or the acknowledgement's channel code); 0 when none is held. */
    int finishResponse();

    /** The child's process id while it runs, else 0. */
    int64_t childProcessId() const { return m_childPid.load(); }

    /** Requests turned away without an exchange: processor busy, failed meanwhile, or exited. */
    uint64_t refusedRequests() const;

private:
    struct StartRequest;

    ExternalProcess() = default;
    friend std::unique_ptr<ExternalProcess> makeExternalProcess(const std::string&,
        const std::string&, const QStringList&, const QProcessEnvironment&);
    friend std::unique_ptr<ExternalProcess> makeExternalProcessTcp(uint32_t);

    void monitorProcess(const StartRequest& request, std::promise<bool>& started);
    /** Takes the exchange for this thread and sends; the exchange ends unless a reply is awaited. */
    SendOutcome beginExchange(const std::function<bool()>& send, bool replyExpected);
    /** Takes the exchange, waiting for it as the one waiting caller; false (warned) when the request is turned away. */
    bool admit();
    bool sendOverChannel(uint64_t length, const MessageFill& fill);
    /** Out of step after a late acknowledgement: in step again once it has come. */
    bool resumeAfterLateAcknowledgement();
    bool awaitReady();
    bool drainOwedReplies();
    bool sendOverTcp(uint64_t length, const MessageFill& fill);
    ExternalProcessReply receiveOverChannel(uint32_t timeoutMs);
    ExternalProcessReply receiveOverTcp(uint32_t timeoutMs);
    bool receiveExactly(uint8_t* buffer, size_t size, std::chrono::steady_clock::time_point deadline);
    /** `failed`: the waiting caller gives up instead of taking its turn. */
    void endExchange(bool failed);
    bool holdsExchange() const { return m_exchangeOwner.load() == std::this_thread::get_id(); }
    /** False once a spawned child has exited: nothing would answer. */
    bool peerMayAnswer() const { return m_tcp || m_running.load(); }

    std::unique_ptr<SharedMemoryChannel> m_input;
    std::unique_ptr<SharedMemoryChannel> m_output;
    bool m_started = false;
    std::string m_name; //< the port or the program, for grouped warnings

    std::mutex m_admissionMutex;
    std::condition_variable m_admissionChanged;
    bool m_exchangeTaken = false; //< guarded by m_admissionMutex
    bool m_callerWaiting = false; //< guarded by m_admissionMutex
    uint64_t m_failedExchanges = 0; //< guarded by m_admissionMutex
    RepeatedWarning m_busy{"Warning! External process is busy with one request and has one waiting; request skipped.\n",
        false, "processor"};
    RepeatedWarning m_failedMeanwhile{"Warning! External process failed a request meanwhile; request skipped.\n",
        false, "processor"};
    RepeatedWarning m_exited{"Warning! External process has exited; request skipped.\n", false, "processor"};

    // Taken from a request to the release of its reply; the fields below are the holder's.
    std::atomic<std::thread::id> m_exchangeOwner{};
    bool m_replyHeld = false;
    int m_repliesOwed = 0; //< requests the child took whose replies were not read
    bool m_broken = false; //< the child stopped answering the input channel: out of step
    bool m_brokenRequestAwaitsReply = false; //< the request that broke the step expected a reply
    bool m_replyExpected = false; //< of the exchange being sent
    int32_t m_readyCheckAttempts = 0;

    std::thread m_watcher; //< owns the QProcess: no other thread touches it
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_stopRequested{false};
    std::atomic<int64_t> m_childPid{0};

    bool m_tcp = false;
    uint32_t m_port = 0;
    std::unique_ptr<vy::network::StreamSocket> m_socket;
    std::vector<uint8_t> m_sendBuffer; //< the exchange holder's: the TCP frame, made in place
    std::vector<uint8_t> m_receiveBuffer;
};

/** The spawned variant, or none when the child did not start (the reason is logged). */
std::unique_ptr<ExternalProcess> makeExternalProcess(const std::string& command,
    const std::string& logFilePath, const QStringList& arguments,
    const QProcessEnvironment& environment);

/** The TCP variant; it connects at the first request. */
std::unique_ptr<ExternalProcess> makeExternalProcessTcp(uint32_t port);

} // namespace vyai
