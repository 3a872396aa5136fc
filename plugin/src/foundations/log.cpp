#include "foundations/log.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <sys/stat.h>

#include "foundations/log_test_hooks.h"

namespace vyai {

namespace {

// 10 MB counted in decimal, for the start log and the main log alike.
constexpr uint64_t kDefaultSizeLimit = 10'000'000;
// Readable by others, writable only by the owner: other users must not forge log lines.
constexpr mode_t kLogFileMode = 0644;

int64_t realWallClockMicros()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

std::atomic<int64_t (*)()> g_wallClock{&realWallClockMicros};

struct Logger
{
    // Fast-path copies of the settings, read without the mutex by every entry point;
    // written only under the mutex.
    std::atomic<int32_t> level{0};
    std::atomic<bool> logToConsole{false};
    std::atomic<bool> logToFile{false};
    std::atomic<uint64_t> previousLineTime{0};

    // Innermost lock of the plug-in. Guards every member below; the strings are read only
    // under it, so shutdownLogging can release them while other threads still log.
    std::mutex mutex;
    bool initialised = false;
    bool startLogDone = false;
    bool writeFailureReported = false;
    uint64_t bytesWritten = 0;
    uint64_t sizeLimit = kDefaultSizeLimit;
    std::string startLogPath;
    std::string mainLogPath;
    std::string oldLogPath;
    std::string prefix;
    FILE* startLog = nullptr;
    FILE* mainLog = nullptr;
    uint32_t sessions = 0; //< LogSessions holding the log
};

Logger& logger()
{
    static Logger instance;
    return instance;
}

void closeFile(FILE*& file)
{
    if (file != nullptr)
    {
        std::fclose(file);
        file = nullptr;
    }
}

/** Called with the mutex held. */
FILE* createLogFile(const std::string& path)
{
    FILE* file = std::fopen(path.c_str(), "w");
    if (file == nullptr)
    {
        std::printf("Failed to initialise logfile: %s\n", path.c_str());
        return nullptr;
    }
    // Only a file the log owns gets its mode; a path that names a device keeps its own.
    struct stat status{};
    if (fstat(fileno(file), &status) == 0 && S_ISREG(status.st_mode))
        fchmod(fileno(file), kLogFileMode);
    return file;
}

/** The "%s%llu %09llu: " header: prefix, milliseconds since 1970, delta in microseconds. */
std::string lineHeader(const std::string& prefix, uint64_t nowMicros, uint64_t deltaMicros)
{
    char numbers[48];
    std::snprintf(numbers, sizeof numbers, "%llu %09llu: ", (unsigned long long) (nowMicros / 1000),
        (unsigned long long) deltaMicros);
    return prefix + numbers;
}

/** Called with the mutex held; adds what reached the file to bytesWritten. */
void writeLine(Logger& log, FILE* file, const std::string& header, const std::string& line)
{
    const size_t headerBytes = std::fwrite(header.data(), 1, header.size(), file);
    log.bytesWritten += headerBytes;
    const size_t lineBytes = std::fwrite(line.data(), 1, line.size(), file);
    log.bytesWritten += lineBytes;
    // Every line reaches the file at once: the lines before a crash or a kill are the ones
    // that explain it. A full disk shows up here, at the latest when the line is flushed.
    const bool flushed = std::fflush(file) == 0;
    if ((headerBytes != header.size() || lineBytes != line.size() || !flushed) && !log.writeFailureReported)
    {
        // Once per start: a full disk would otherwise repeat it for every line.
        log.writeFailureReported = true;
        std::fprintf(stderr, "Failed to write to log file!\n");
    }
    if (log.level.load(std::memory_order_relaxed) >= 2)
        std::fflush(stdout);
}

/** Called with the mutex held. Returns the main log ready for one more line, or null. */
FILE* mainLogForNextLine(Logger& log)
{
    if (log.mainLog == nullptr)
    {
        log.mainLog = std::fopen(log.mainLogPath.c_str(), "a");
        if (log.mainLog == nullptr)
        {
            std::fprintf(stderr, "Error creating log file");
            return nullptr;
        }
    }
    if (log.bytesWritten > log.sizeLimit)
    {
        closeFile(log.mainLog);
        std::remove(log.oldLogPath.c_str());
        if (std::rename(log.mainLogPath.c_str(), log.oldLogPath.c_str()) != 0)
        {
            // The main log stays closed: the next line reopens it and tries again.
            std::fprintf(stderr, "Error renaming file: %s\n", std::strerror(errno));
            return nullptr;
        }
        log.mainLog = std::fopen(log.mainLogPath.c_str(), "w");
        log.bytesWritten = 0;
        if (log.mainLog == nullptr)
            std::fprintf(stderr, "Error creating log file");
    }
    return log.mainLog;
}

/** Called with the mutex held. */
void writeToFiles(Logger& log, const std::string& header, const std::string& line)
{
    if (!log.startLogDone)
    {
        if (log.bytesWritten >= log.sizeLimit)
        {
            closeFile(log.startLog);
            log.startLogDone = true;
            log.bytesWritten = 0;
        }
        else if (log.startLog != nullptr)
        {
            writeLine(log, log.startLog, header, line);
            return;
        }
    }
    if (FILE* file = mainLogForNextLine(log))
        writeLine(log, file, header, line);
}

/** The formatted text, ending in one line break whether or not the format has it. */
std::string formatLine(const char* format, va_list args)
{
    va_list sizeArgs;
    va_copy(sizeArgs, args);
    const int size = std::vsnprintf(nullptr, 0, format, sizeArgs);
    va_end(sizeArgs);
    std::string line(size > 0 ? size_t(size) : 0, '\0');
    if (size > 0)
        std::vsnprintf(line.data(), line.size() + 1, format, args);
    // Otherwise the next line would be glued onto this one.
    if (line.empty() || line.back() != '\n')
        line += '\n';
    return line;
}

void logAtLevel(int32_t minimumLevel, const char* format, va_list args)
{
    if (logger().level.load(std::memory_order_relaxed) >= minimumLevel)
        writeLogLine(format, args);
}

/** Called with the mutex held. */
void startLocked(Logger& log, const char* startLogPath, const char* mainLogPath, const char* prefix,
    bool logToConsole, bool logToFile, int32_t level)
{
    // A second start must not leak the files of the first.
    closeFile(log.startLog);
    closeFile(log.mainLog);
    log.startLogDone = false;
    log.writeFailureReported = false;
    log.bytesWritten = 0;
    log.startLogPath = startLogPath ? startLogPath : "";
    log.mainLogPath = mainLogPath ? mainLogPath : "";
    log.prefix = prefix ? prefix : "";
    log.oldLogPath = log.mainLogPath + ".old";
    log.initialised = true;
    log.previousLineTime.store(0, std::memory_order_relaxed); //< First delta: nine zeros.
    if (logToFile)
    {
        if (!log.startLogPath.empty())
            log.startLog = createLogFile(log.startLogPath);
        if (!log.mainLogPath.empty())
            log.mainLog = createLogFile(log.mainLogPath);
    }
    log.logToConsole.store(logToConsole, std::memory_order_relaxed);
    log.logToFile.store(logToFile, std::memory_order_relaxed);
    log.level.store(level, std::memory_order_relaxed);
}

/** Called with the mutex held. */
void stopLocked(Logger& log)
{
    log.logToConsole.store(false, std::memory_order_relaxed);
    log.logToFile.store(false, std::memory_order_relaxed);
    log.level.store(0, std::memory_order_relaxed);
    closeFile(log.startLog);
    closeFile(log.mainLog);
    log.startLogDone = true;
    log.bytesWritten = 0;
    log.initialised = false;
    log.startLogPath.clear();
    log.mainLogPath.clear();
    log.oldLogPath.clear();
    log.prefix.clear();
}

} // namespace

int64_t currentTimeMicros()
{
    return g_wallClock.load(std::memory_order_relaxed)();
}

void initLogFiles(const char* startLogPath, const char* mainLogPath, const char* prefix,
    bool logToConsole, bool logToFile, int32_t level)
{
    Logger& log = logger();
    std::lock_guard lock(log.mutex);
    startLocked(log, startLogPath, mainLogPath, prefix, logToConsole, logToFile, level);
}

void writeLogLine(const char* format, va_list args)
{
    Logger& log = logger();
    if (log.level.load(std::memory_order_relaxed) <= 0)
        return;
    if (!log.logToFile.load(std::memory_order_relaxed)
        && !log.logToConsole.load(std::memory_order_relaxed))
    {
        return;
    }

    const auto now = uint64_t(currentTimeMicros());
    uint64_t previous = log.previousLineTime.exchange(now);
    if (previous == 0)
        previous = now;
    // Racing threads or a clock stepping back would make the delta negative.
    const uint64_t delta = now > previous ? now - previous : 0;

    va_list lineArgs;
    va_copy(lineArgs, args);
    const std::string line = formatLine(format, lineArgs);
    va_end(lineArgs);
    std::string header;
    bool toConsole = false;
    {
        std::lock_guard lock(log.mutex);
        const int32_t level = log.level.load(std::memory_order_relaxed);
        if (!log.initialised || level <= 0)
            return; //< Shut down meanwhile.
        toConsole = log.logToConsole.load(std::memory_order_relaxed);
        header = lineHeader(log.prefix, now, delta);
        if (log.logToFile.load(std::memory_order_relaxed) && !log.startLogPath.empty()
            && !log.mainLogPath.empty())
        {
            writeToFiles(log, header, line);
        }
    }
    // The console echo stays outside the mutex: console lines of threads may interleave.
    if (toConsole)
    {
        std::fwrite(header.data(), 1, header.size(), stdout);
        std::fwrite(line.data(), 1, line.size(), stdout);
        if (log.level.load(std::memory_order_relaxed) >= 2)
            std::fflush(stdout);
    }
}

void logError(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    logAtLevel(1, format, args);
    va_end(args);
}

void logInfo(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    logAtLevel(2, format, args);
    va_end(args);
}

void logErrorToStderr(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    va_list stderrArgs;
    va_copy(stderrArgs, args);
    std::vfprintf(stderr, format, stderrArgs);
    va_end(stderrArgs);
    logAtLevel(1, format, args);
    va_end(args);
}

void shutdownLogging()
{
    Logger& log = logger();
    std::lock_guard lock(log.mutex);
    stopLocked(log);
}

LogSession::LogSession(const char* startLogPath, const char* mainLogPath, const char* prefix,
    bool logToConsole, bool logToFile, int32_t level):
    m_held(true)
{
    Logger& log = logger();
    std::lock_guard lock(log.mutex);
    if (log.sessions++ == 0)
        startLocked(log, startLogPath, mainLogPath, prefix, logToConsole, logToFile, level);
}

LogSession& LogSession::operator=(LogSession&& other) noexcept
{
    if (this != &other)
    {
        end();
        m_held = std::exchange(other.m_held, false);
    }
    return *this;
}

void LogSession::end()
{
    if (!std::exchange(m_held, false))
        return;
    Logger& log = logger();
    std::lock_guard lock(log.mutex);
    if (log.sessions > 0 && --log.sessions == 0)
        stopLocked(log);
}

namespace test_hooks {

void setLogSizeLimit(uint64_t bytes)
{
    Logger& log = logger();
    std::lock_guard lock(log.mutex);
    log.sizeLimit = bytes == 0 ? kDefaultSizeLimit : bytes;
}

void setWallClock(int64_t (*microsSince1970)())
{
    g_wallClock.store(microsSince1970 ? microsSince1970 : &realWallClockMicros);
}

} // namespace test_hooks

} // namespace vyai
