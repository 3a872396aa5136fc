#include "inference/external_process.h"

#include <algorithm>
#include <cstring>
#include <system_error>

#include <QProcess>

#include "foundations/ini.h"
#include "foundations/log.h"
#include "foundations/timer.h"

namespace vyai {

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kChannelCapacity = 1024;
constexpr int kStartTimeoutMs = 5000;
constexpr int32_t kReadyWaitMs = 1000;
constexpr uint32_t kConnectTimeoutMs = 1000;
constexpr auto kGracefulExitWait = std::chrono::milliseconds(2000);
constexpr auto kTerminateWait = std::chrono::milliseconds(1000);
constexpr auto kKillWait = std::chrono::milliseconds(1000);
constexpr int kWatchPollMs = 20;
// How often a wait for a child's reply checks that the child still runs.
constexpr int32_t kLivenessCheckMs = 50;
// What is kept of a child's output that goes to no log file, for the crash report.
constexpr qsizetype kOutputTail = 64 * 1024;
constexpr size_t kTcpChunk = 1 << 20;

void appendTail(QByteArray& tail, const QByteArray& more)
{
    tail += more;
    if (tail.size() > kOutputTail)
        tail.remove(0, tail.size() - kOutputTail);
}

void logStartFailure(QProcess& process)
{
    const std::string text = process.errorString().toStdString();
    switch (process.error())
    {
        case QProcess::FailedToStart:
            logError("ERROR: Failed to start external process (file not found or no permissions): %s\n",
                text.c_str());
            break;
        case QProcess::Crashed:
            logError("ERROR: External process crashed during startup: %s\n", text.c_str());
            break;
        case QProcess::Timedout: logError("ERROR: External process timed out during startup\n"); break;
        case QProcess::ReadError: logError("ERROR: Failed to read from external process\n"); break;
        case QProcess::WriteError: logError("ERROR: Failed to write to external process\n"); break;
        default: logError("ERROR: External process error: %d\n", static_cast<int>(process.error())); break;
    }
    const QByteArray output = process.readAll();
    if (!output.isEmpty())
        logError("External process output:\n%s\n", output.constData());
}

} // namespace

struct ExternalProcess::StartRequest
{
    QString program;
    QStringList arguments;
    QString logFilePath;
    QProcessEnvironment environment;
    int inheritedFds[4];
};

std::unique_ptr<ExternalProcess> makeExternalProcess(const std::string& command,
    const std::string& logFilePath, const QStringList& arguments,
    const QProcessEnvironment& environment)
{
    std::unique_ptr<ExternalProcess> process(new ExternalProcess);
    process->m_name = command;
    process->m_input = SharedMemoryChannel::create(kChannelCapacity);
    process->m_output = SharedMemoryChannel::create(kChannelCapacity);
    if (!process->m_input || !process->m_output)
    {
        logError("ERROR: Failed to create IPC channels for external process.\n");
        return nullptr;
    }
    const std::string inputDescriptor = process->m_input->descriptor();
    const std::string outputDescriptor = process->m_output->descriptor();
    if (inputDescriptor.empty() || outputDescriptor.empty())
    {
        logError("ERROR: Failed to serialize IPC channel descriptors for external process.\n");
        return nullptr;
    }
    ExternalProcess::StartRequest request{QString::fromStdString(command),
        QStringList{QString::fromStdString(inputDescriptor), QString::fromStdString(outputDescriptor)}
            + arguments,
        QString::fromStdString(logFilePath), environment,
        {process->m_input->eventHandle(0), process->m_input->eventHandle(1),
            process->m_output->eventHandle(0), process->m_output->eventHandle(1)}};

    logInfo("Starting external process at: %s\n", command.c_str());
    if (!logFilePath.empty())
        logInfo("External process log file: %s\n", logFilePath.c_str());

    std::promise<bool> started;
    std::future<bool> startedResult = started.get_future();
    try
    {
        ExternalProcess* self = process.get();
        process->m_watcher = std::thread([self, request, &started] { self->monitorProcess(request, started); });
    }
    catch (const std::system_error& error)
    {
        logError("ERROR: Could not start the watcher of external process: %s\n", error.what());
        return nullptr;
    }
    process->m_started = startedResult.get();
    if (!process->m_started)
        return nullptr; // the destructor joins the watcher, which has already ended
    return process;
}

std::unique_ptr<ExternalProcess> makeExternalProcessTcp(uint32_t port)
{
    std::unique_ptr<ExternalProcess> process(new ExternalProcess);
    process->m_started = true;
    process->m_tcp = true;
    process->m_port = port;
    process->m_name = "at port " + std::to_string(port);
    process->m_socket = vy::network::SocketFactory::createStreamSocket(
        vy::network::ssl::kAcceptAnyCertificate, false, 1);
    return process;
}

void ExternalProcess::monitorProcess(const StartRequest& request, std::promise<bool>& started)
{
    QProcess process;
    process.setProgram(request.program);
    process.setArguments(request.arguments);
    if (!request.logFilePath.isEmpty())
    {
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.setStandardOutputFile(request.logFilePath, QIODevice::Truncate);
    }
    if (!request.environment.isEmpty())
        process.setProcessEnvironment(request.environment);
    // The four events are close-on-exec everywhere else, so no other child gets them.
    const StartRequest* fds = &request;
    process.setChildProcessModifier([fds] {
        for (const int fd: fds->inheritedFds)
            vy::platform::inheritFd(fd);
    });
    process.start(QIODevice::ReadWrite);
    if (!process.waitForStarted(kStartTimeoutMs))
    {
        logStartFailure(process);
        started.set_value(false);
        return;
    }
    m_childPid = process.processId();
    m_running = true;
    started.set_value(true); // the promise is gone after this; the request lives in the thread

    // Output that goes to a file has no channel to read: reading it anyway makes Qt warn
    // on every poll.
    const bool outputToFile = !request.logFilePath.isEmpty();
    QByteArray standardOutput;
    QByteArray standardError;
    const auto keepOutput = [&] {
        if (outputToFile)
            return;
        appendTail(standardOutput, process.readAllStandardOutput());
        appendTail(standardError, process.readAllStandardError());
    };
    std::optional<Clock::time_point> stopRequestedAt;
    bool terminated = false;
    bool killed = false;
    while (!process.waitForFinished(kWatchPollMs) && process.state() != QProcess::NotRunning)
    {
        // Reading keeps a chatty child from blocking on a full pipe.
        keepOutput();
        if (!m_stopRequested)
            continue;
        if (!stopRequestedAt)
            stopRequestedAt = Clock::now();
        const auto waited = Clock::now() - *stopRequestedAt;
        if (!terminated && waited >= kGracefulExitWait)
        {
            logError("External process did not exit gracefully, terminating forcefully.\n");
            process.terminate();
            terminated = true;
        }
        else if (!killed && waited >= kGracefulExitWait + kTerminateWait)
        {
            // A child that ignores termination must not hold the host's shut-down.
            logError("External process ignored termination, killing it.\n");
            process.kill();
            killed = true;
        }
        else if (killed && waited >= kGracefulExitWait + kTerminateWait + kKillWait)
            break;
    }
    keepOutput();
    m_running = false;
    m_childPid = 0;
    if (process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
    {
        logError("INFO: External process exited normally with code: %d\n", process.exitCode());
        return;
    }
    logError("ERROR: External process crashed! Exit code: %d\n", process.exitCode());
    if (!standardOutput.isEmpty())
        logError("External process stdout_data:\n%s\n", standardOutput.constData());
    if (!standardError.isEmpty())
        logError("External process stderr:\n%s\n", standardError.constData());
}

ExternalProcess::~ExternalProcess()
{
    if (m_watcher.joinable())
    {
        if (m_running)
        {
            logError("Sending graceful exit signal to external process.\n");
            m_input->sendExitRequest();
        }
        else
            logError("External process already exited gracefully.\n");
        m_stopRequested = true;
        m_watcher.join();
    }
    if (m_socket)
    {
        m_socket->shutdown();
        m_socket->close();
    }
}

SendOutcome ExternalProcess::sendMessage(std::span<const uint8_t> request, bool replyExpected)
{
    return beginExchange(
        [&] { return m_tcp ? sendOverTcp(request.size(), copyOf(request)) : sendOverChannel(request.size(), copyOf(request)); },
        replyExpected);
}

SendOutcome ExternalProcess::sendMessage(uint64_t length, const MessageFill& fill, bool replyExpected)
{
    return beginExchange([&] { return m_tcp ? sendOverTcp(length, fill) : sendOverChannel(length, fill); }, replyExpected);
}

SendOutcome ExternalProcess::beginExchange(const std::function<bool()>& send, bool replyExpected)
{
    if (!admit())
        return SendOutcome::turnedAway;
    m_exchangeOwner = std::this_thread::get_id();
    m_replyExpected = replyExpected;
    const bool sent = send();
    if (!sent || !replyExpected)
        endExchange(!sent);
    return sent ? SendOutcome::sent : SendOutcome::failed;
}

bool ExternalProcess::admit()
{
    std::unique_lock lock(m_admissionMutex);
    RepeatedWarning* refusal = nullptr;
    if (!peerMayAnswer())
        refusal = &m_exited;
    else if (m_exchangeTaken && m_callerWaiting)
    {
        // Every further caller would hold a worker for up to a deadline of its own: together
        // they would take every worker of every camera, and hold a shut-down for as long.
        refusal = &m_busy;
    }
    else if (m_exchangeTaken)
    {
        m_callerWaiting = true;
        const uint64_t failuresBefore = m_failedExchanges;
        m_admissionChanged.wait(lock, [&] { return !m_exchangeTaken || m_failedExchanges != failuresBefore; });
        m_callerWaiting = false;
        // A peer that just failed one request would most likely fail this one after a deadline too.
        if (m_failedExchanges != failuresBefore)
            refusal = &m_failedMeanwhile;
    }
    if (refusal)
    {
        lock.unlock();
        refusal->report(m_name);
        return false;
    }
    m_exchangeTaken = true;
    return true;
}

void ExternalProcess::endExchange(bool failed)
{
    m_replyHeld = false;
    m_exchangeOwner = std::thread::id{};
    {
        std::lock_guard lock(m_admissionMutex);
        m_exchangeTaken = false;
        if (failed)
            ++m_failedExchanges;
    }
    m_admissionChanged.notify_all();
}

uint64_t ExternalProcess::refusedRequests() const
{
    return m_busy.total() + m_failedMeanwhile.total() + m_exited.total();
}

bool ExternalProcess::awaitReady()
{
    const int maxRetries = ini().ExternalProcessorReadyCheckMaxRetries;
    if (m_readyCheckAttempts >= maxRetries)
    {
        logInfo("Skipping sending input to external process. Max retries reached.\n");
        return true; // the channel, still not ready, refuses the send
    }
    ++m_readyCheckAttempts;
    if (m_input->waitForReady(kReadyWaitMs) != kChannelOk)
    {
        logError("Warning! External process not ready yet (attempt %d/%d).\n", m_readyCheckAttempts,
            maxRetries);
        return false;
    }
    logInfo("Received ready signal from external process\n");
    // The child attaches both channels before it announces itself.
    m_input->removeNames();
    m_output->removeNames();
    return true;
}

bool ExternalProcess::drainOwedReplies()
{
    while (m_repliesOwed > 0)
    {
        const uint8_t* payload = nullptr;
        uint32_t length = 0;
        const int32_t result = m_output->receive(&payload, &length, 0);
        if (result == kChannelWaitFailed)
        {
            logError("Warning! External process has not answered an earlier request yet; request skipped.\n");
            return false;
        }
        if (result == kChannelOk || result == kChannelUnexpectedStatus)
            m_output->sendAcknowledge();
        --m_repliesOwed;
    }
    return true;
}

bool ExternalProcess::resumeAfterLateAcknowledgement()
{
    // A message the child took late is answered late: its reply is read and dropped first.
    const bool replyFollows = m_brokenRequestAwaitsReply
        && m_input->unacknowledged() == SharedMemoryChannel::Unacknowledged::message;
    if (!m_input->takeLateAcknowledgement())
        return false;
    m_broken = false;
    if (replyFollows)
        ++m_repliesOwed;
    logError("External process acknowledged late and answers again; requests resume.\n");
    return true;
}

bool ExternalProcess::sendOverChannel(uint64_t length, const MessageFill& fill)
{
    if (m_broken && !resumeAfterLateAcknowledgement())
    {
        logError("Warning! External process stopped answering; request skipped.\n");
        return false;
    }
    if (!m_input->isReady() && !awaitReady())
        return false;
    if (!drainOwedReplies())
        return false;
    if (length > SharedMemoryChannel::kMaxPayload)
    {
        logError("Warning! Could not send input message: %d\n", kChannelNoControl);
        return false;
    }
    const int32_t result = m_input->send(static_cast<uint32_t>(length), fill);
    if (result != kChannelOk)
    {
        logError("Warning! Could not send input message: %d\n", result);
        // An acknowledgement that never came may still arrive and be taken for the next one's.
        if (result == kChannelWaitFailed)
        {
            m_broken = true;
            m_brokenRequestAwaitsReply = m_replyExpected;
        }
        return false;
    }
    logInfo("External process received message succesfully.\n");
    return true;
}

bool ExternalProcess::sendOverTcp(uint64_t length, const MessageFill& fill)
{
    if (m_port == 0 || m_port > 65535)
    {
        logError("Warning! Could not connect to external process at port: %u\n", m_port);
        return false;
    }
    if (!m_socket->isConnected())
    {
        if (!m_socket->connect("127.0.0.1", static_cast<uint16_t>(m_port), kConnectTimeoutMs))
        {
            logError("Warning! Could not connect to external process at port: %u\n", m_port);
            return false;
        }
        m_socket->setNoDelay(true);
        // A peer that stops reading must not hold the exchange, and the caller waiting behind
        // it, for longer than a shared-memory peer could; one that keeps reading a large
        // request slowly is never cut off.
        m_socket->setSendTimeout(SharedMemoryChannel::kSendTimeoutMs);
    }
    if (length > SharedMemoryChannel::kMaxPayload)
    {
        logError("Warning! Request of %zu bytes is too large for external process at port: %u\n",
            static_cast<size_t>(length), m_port);
        return false;
    }
    // The request is made straight after the frame's length, in a buffer kept for the next.
    std::vector<uint8_t>& frame = m_sendBuffer;
    frame.resize(length + 4);
    const auto announced = static_cast<uint32_t>(length);
    memcpy(frame.data(), &announced, 4);
    if (!fill({frame.data() + 4, static_cast<size_t>(length)}))
        return false;
    if (m_socket->send(frame.data(), frame.size()) != static_cast<int64_t>(frame.size()))
    {
        // A partial frame would leave the peer out of step: start over with a new connection.
        logError("Warning! Could not send input message to external process at port: %u; connection closed.\n",
            m_port);
        m_socket->close();
        return false;
    }
    return true;
}

ExternalProcessReply ExternalProcess::waitForOutput(uint32_t timeoutMs)
{
    if (!holdsExchange())
    {
        logError("Warning! No request of this thread awaits a reply from external process.\n");
        return {};
    }
    ExternalProcessReply reply = m_tcp ? receiveOverTcp(timeoutMs) : receiveOverChannel(timeoutMs);
    if (reply.ok)
        m_replyHeld = true;
    else
        endExchange(true);
    return reply;
}

ExternalProcessReply ExternalProcess::receiveOverChannel(uint32_t timeoutMs)
{
    const uint8_t* payload = nullptr;
    uint32_t length = 0;
    // Waited for in short turns: a child that exited meanwhile is not waited for any longer.
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    int32_t result = kChannelWaitFailed;
    do
    {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        const auto turn = static_cast<int32_t>(std::clamp<int64_t>(left, 0, kLivenessCheckMs));
        result = m_output->receive(&payload, &length, turn);
    } while (result == kChannelWaitFailed && m_running.load() && Clock::now() < deadline);
    if (result == kChannelOk)
    {
        logInfo("Received response from external process with size: %u\n", length);
        return {payload, length, true};
    }
    if (result == kChannelWaitFailed)
        ++m_repliesOwed; // taken, acknowledged and dropped before the next request
    else if (result == kChannelUnexpectedStatus)
        m_output->sendAcknowledge(); // the child waits for it before it writes again
    return {};
}

bool ExternalProcess::receiveExactly(uint8_t* buffer, size_t size, Clock::time_point deadline)
{
    size_t received = 0;
    while (received < size)
    {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0 || !m_socket->setRecvTimeout(static_cast<uint32_t>(left)))
            return false;
        const int64_t result = m_socket->recv(buffer + received, std::min(size - received, kTcpChunk));
        if (result < 1)
            return false;
        received += static_cast<size_t>(result);
    }
    return true;
}

ExternalProcessReply ExternalProcess::receiveOverTcp(uint32_t timeoutMs)
{
    Timer timer("waitForOutputTCP");
    if (!m_socket->isConnected())
    {
        logError("Warning! TCP connection to external process lost.\n");
        return {};
    }
    timer.lap("mutex lock");
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    m_receiveBuffer.clear();
    uint8_t header[4];
    if (!receiveExactly(header, sizeof header, deadline))
    {
        // Closing the connection keeps a late reply from being read as the next one.
        logError("Warning! Failed to receive header from external process!\n");
        m_socket->close();
        return {};
    }
    timer.lap("receive header");
    uint32_t length = 0;
    memcpy(&length, header, 4);
    if (length > SharedMemoryChannel::kMaxPayload)
    {
        logError("Warning! External process announced a reply of %u bytes; connection closed.\n", length);
        m_socket->close();
        return {};
    }
    m_receiveBuffer.resize(length);
    if (!receiveExactly(m_receiveBuffer.data(), length, deadline))
    {
        logError("Warning! TCP read error from external process.\n");
        m_socket->close();
        return {};
    }
    timer.lap("receive message");
    return {m_receiveBuffer.data(), m_receiveBuffer.size(), true};
}

int ExternalProcess::finishResponse()
{
    if (!holdsExchange())
        return 0; // a reply that was not taken is never acknowledged
    if (!m_replyHeld)
    {
        // The caller gave up before waiting: the reply is still to come.
        if (m_tcp)
            m_socket->close();
        else
            ++m_repliesOwed;
        endExchange(false);
        return 0;
    }
    const int result = m_tcp ? 0 : m_output->sendAcknowledge();
    endExchange(false);
    return result;
}

} // namespace vyai
