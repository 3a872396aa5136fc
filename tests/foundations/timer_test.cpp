#include "foundations/timer.h"

#include <atomic>

#include <gtest/gtest.h>

#include "log_test_fixture.h"
#include "test_files.h"

namespace vyai {
namespace {

using test::readFile;

class TimerTest: public test::LogFixture
{
protected:
    void SetUp() override
    {
        LogFixture::SetUp();
        s_steadyNanos = 0;
        test_hooks::setSteadyClock(&fakeSteady);
        start(1);
    }

    void TearDown() override
    {
        setTimingEnabled(false);
        test_hooks::setSteadyClock(nullptr);
        LogFixture::TearDown();
    }

    static int64_t fakeSteady() { return s_steadyNanos.load(); }
    static inline std::atomic<int64_t> s_steadyNanos{0};
};

TEST_F(TimerTest, LapsAndTotalsAreTruncatedToWholeMicroseconds)
{
    setTimingEnabled(true);
    {
        Timer timer("scope");
        s_steadyNanos = 999;
        timer.lap("first");
        s_steadyNanos = 2998;
        timer.lap("second");
        s_steadyNanos = 5000;
    }
    shutdownLogging();

    EXPECT_EQ(readFile(startPath),
        header() + "[Timer] scope::first | +0 us | total 0 us\n"
        + header() + "[Timer] scope::second | +1 us | total 2 us\n"
        + header() + "[Timer] scope::scope | +2 us | total 5 us\n");
}

TEST_F(TimerTest, TimerMadeWhileProfilingIsOffStaysSilent)
{
    {
        Timer timer("scope");
        setTimingEnabled(true);
        s_steadyNanos = 5000;
        timer.lap("lap");
    }
    shutdownLogging();

    EXPECT_EQ(readFile(startPath), "");
}

} // namespace
} // namespace vyai
