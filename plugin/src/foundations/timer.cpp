#include "foundations/timer.h"

#include <atomic>
#include <chrono>

#include "foundations/log.h"
#include "foundations/log_test_hooks.h"

namespace vyai {

namespace {

int64_t realSteadyNanos()
{
    using namespace std::chrono;
    return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
}

std::atomic<bool> g_timingEnabled{false};
std::atomic<int64_t (*)()> g_steadyClock{&realSteadyNanos};

int64_t steadyNanos()
{
    return g_steadyClock.load(std::memory_order_relaxed)();
}

} // namespace

void setTimingEnabled(bool enabled)
{
    g_timingEnabled.store(enabled, std::memory_order_relaxed);
}

Timer::Timer(const char* name):
    m_name(name),
    m_enabled(g_timingEnabled.load(std::memory_order_relaxed))
{
    if (m_enabled)
        m_start = m_lapStart = steadyNanos();
}

Timer::~Timer()
{
    writeLine(m_name);
}

void Timer::lap(const char* label)
{
    writeLine(label);
}

void Timer::writeLine(const char* label)
{
    if (!m_enabled)
        return;
    const int64_t now = steadyNanos();
    // Signed division truncates toward zero: a lap of 999 ns is written as +0 us.
    const long long lapMicros = (now - m_lapStart) / 1000;
    const long long totalMicros = (now - m_start) / 1000;
    logError("[Timer] %s::%s | +%lld us | total %lld us\n", m_name, label, lapMicros,
        totalMicros);
    m_lapStart = now;
}

namespace test_hooks {

void setSteadyClock(int64_t (*nanos)())
{
    g_steadyClock.store(nanos ? nanos : &realSteadyNanos);
}

} // namespace test_hooks

} // namespace vyai
