#pragma once

#include <cstdarg>
#include <cstdint>
#include <utility>

#include "foundations/timer.h"

// The plug-in's process-wide text log: a start log, then a main log rotated to ".old".
// Format strings carry their own line ends. Lock order: the log's mutex is the innermost
// lock of the plug-in; nothing is called out while it is held.

namespace vyai {

/** Starts (or restarts) the log; with logToFile both files are created empty. */
void initLogFiles(const char* startLogPath, const char* mainLogPath, const char* prefix,
    bool logToConsole, bool logToFile, int32_t level);

/** Writes one line when the level is 1 or more. */
void logError(const char* format, ...) __attribute__((format(printf, 1, 2)));

/** Writes one line when the level is 2 or more. */
void logInfo(const char* format, ...) __attribute__((format(printf, 1, 2)));

/** Prints the text to stderr whatever the level, then logs it like logError. */
void logErrorToStderr(const char* format, ...) __attribute__((format(printf, 1, 2)));

/** The single writer behind the entry points; does not consume `args`' caller copy. */
void writeLogLine(const char* format, va_list args) __attribute__((format(printf, 1, 0)));

/** Stops the log and closes its files; safe while other threads are still logging. */
void shutdownLogging();

/**
 * One engine's hold on the process's log. The first session starts the log (initLogFiles);
 * sessions opened while it runs join it as it is; the log stops (shutdownLogging) only when
 * the last session ends, so that one engine's release does not silence the others.
 */
class LogSession
{
public:
    /** Holds nothing. */
    LogSession() = default;
    LogSession(const char* startLogPath, const char* mainLogPath, const char* prefix,
        bool logToConsole, bool logToFile, int32_t level);
    ~LogSession() { end(); }

    LogSession(LogSession&& other) noexcept: m_held(std::exchange(other.m_held, false)) {}
    LogSession& operator=(LogSession&& other) noexcept;
    LogSession(const LogSession&) = delete;
    LogSession& operator=(const LogSession&) = delete;

    /** Gives up the hold now; later calls and the destructor do nothing. */
    void end();

private:
    bool m_held = false;
};

/** Wall-clock microseconds since 1970: the clock of the line header. */
int64_t currentTimeMicros();

} // namespace vyai
