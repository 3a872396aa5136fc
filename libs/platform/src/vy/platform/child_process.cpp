#include "vy/platform/child_process.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace vy::platform {

namespace {

using Clock = std::chrono::steady_clock;

// A killed child that does not go away within this bound is stuck in the kernel (a hung driver
// call); waiting longer would hang the caller, which is what the time limit is there to prevent.
constexpr std::chrono::seconds kReapAfterKillLimit{5};
// How often a stop flag is looked at while the child runs.
constexpr std::chrono::milliseconds kStopPollInterval{20};

class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1): m_fd(fd) {}
    ~FileDescriptor() { reset(); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return m_fd; }
    void reset()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd;
};

class SpawnSetup {
public:
    SpawnSetup()
    {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
    }
    ~SpawnSetup()
    {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
};

int remainingMilliseconds(Clock::time_point deadline)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(std::min<long long>(left.count(), 1 << 30)) : 0;
}

bool stopRequested(const std::atomic<bool>* stop)
{
    return stop && stop->load();
}

// Reads the pipe into output until its end; false when the deadline passes or a stop is
// requested first.
bool readUntilEnd(int fd, Clock::time_point deadline, const std::atomic<bool>* stop, std::string& output)
{
    char buffer[4096];
    for (;;) {
        if (stopRequested(stop))
            return false;
        int wait = remainingMilliseconds(deadline);
        if (stop)
            wait = std::min(wait, static_cast<int>(kStopPollInterval.count()));
        pollfd entry{fd, POLLIN, 0};
        const int ready = ::poll(&entry, 1, wait);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready == 0 && Clock::now() < deadline)
            continue;
        if (ready == 0)
            return false;
        if (ready < 0)
            return true; // nothing more can be read; the exit status still tells the outcome
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (count <= 0)
            return true;
        output.append(buffer, static_cast<size_t>(count));
    }
}

enum class WaitOutcome { reaped, lost, timedOut };

// Waits for the child; timedOut (the deadline passed or a stop was requested) leaves it
// unreaped. lost: its status cannot be had, because the host ignores SIGCHLD (the kernel then
// reaps children itself) or another waiter took it.
WaitOutcome waitUntil(pid_t pid, Clock::time_point deadline, const std::atomic<bool>* stop, int& status)
{
    auto pause = std::chrono::milliseconds(1);
    for (;;) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid)
            return WaitOutcome::reaped;
        if (done < 0 && errno != EINTR)
            return WaitOutcome::lost;
        if (Clock::now() >= deadline || stopRequested(stop))
            return WaitOutcome::timedOut;
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::milliseconds(20));
    }
}

int exitCodeOf(int status)
{
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return -1;
}

} // namespace

ChildProcessResult runChildProcess(const std::vector<std::string>& arguments,
    std::chrono::milliseconds timeLimit, const std::atomic<bool>* stop)
{
    ChildProcessResult result;
    if (arguments.empty() || arguments.front().empty()) {
        result.errorNumber = EINVAL;
        return result;
    }
    if (stopRequested(stop)) {
        result.status = ChildProcessStatus::stopped;
        return result;
    }
    const auto deadline = Clock::now() + timeLimit;

    // Close-on-exec, so that children started by other threads meanwhile do not inherit the
    // write end and keep the pipe open after this child has ended.
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        result.status = ChildProcessStatus::pipeFailed;
        result.errorNumber = errno;
        return result;
    }
    FileDescriptor readEnd(ends[0]);
    FileDescriptor writeEnd(ends[1]);

    SpawnSetup setup;
    posix_spawn_file_actions_addopen(&setup.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&setup.actions, writeEnd.get(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&setup.actions, writeEnd.get(), STDERR_FILENO);
    // Own process group, so that a time-out reaches the whole tree; default signal handling and
    // an empty mask, whatever the host process has set up for itself.
    sigset_t noSignals;
    sigemptyset(&noSignals);
    sigset_t allSignals;
    sigfillset(&allSignals);
    posix_spawnattr_setflags(&setup.attributes,
        POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    posix_spawnattr_setpgroup(&setup.attributes, 0);
    posix_spawnattr_setsigmask(&setup.attributes, &noSignals);
    posix_spawnattr_setsigdefault(&setup.attributes, &allSignals);

    std::vector<char*> argv;
    argv.reserve(arguments.size() + 1);
    for (const std::string& argument: arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    pid_t pid = 0;
    const int spawnError = ::posix_spawnp(
        &pid, argv[0], &setup.actions, &setup.attributes, argv.data(), environ);
    if (spawnError != 0) {
        result.status = ChildProcessStatus::spawnFailed;
        result.errorNumber = spawnError;
        return result;
    }
    // Only the child may hold the write end now, so the read end reports the end when it exits.
    writeEnd.reset();

    int status = 0;
    const bool outputEnded = readUntilEnd(readEnd.get(), deadline, stop, result.output);
    const WaitOutcome outcome =
        outputEnded ? waitUntil(pid, deadline, stop, status) : WaitOutcome::timedOut;
    const int waitError = errno;
    readEnd.reset();
    if (outcome == WaitOutcome::reaped) {
        result.status = ChildProcessStatus::exited;
        result.exitCode = exitCodeOf(status);
        return result;
    }
    if (outcome == WaitOutcome::lost) {
        result.status = ChildProcessStatus::statusLost;
        result.errorNumber = waitError;
        return result;
    }

    // The group still exists while its leader is unreaped, so its id cannot have been reused.
    ::kill(-pid, SIGKILL);
    ::kill(pid, SIGKILL);
    waitUntil(pid, Clock::now() + kReapAfterKillLimit, nullptr, status);
    result.status = stopRequested(stop) ? ChildProcessStatus::stopped : ChildProcessStatus::timedOut;
    return result;
}

} // namespace vy::platform
