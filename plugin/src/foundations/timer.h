#pragma once

#include <cstdint>

namespace vyai {

/** Sets the process-wide profiling switch; timers made while it is off stay silent. */
void setTimingEnabled(bool enabled);

/**
 * Scope timer: lap() and the destructor write "[Timer] name::label | +lap us | total us"
 * through logError when profiling was on at construction.
 */
class Timer
{
public:
    explicit Timer(const char* name); //< name is not copied: pass a literal.
    ~Timer();

    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    void lap(const char* label);

private:
    void writeLine(const char* label);

    const char* m_name;
    bool m_enabled;
    int64_t m_start = 0; //< steady clock, nanoseconds
    int64_t m_lapStart = 0; //< steady clock, nanoseconds
};

} // namespace vyai
