#pragma once

// One factor per build for every time a test allows the product: sanitizer builds
// run several times slower, and a loaded machine slower still. CTest sets
// VY_TEST_TIME_FACTOR from the preset (scripts/test --stress raises it); a test run
// by hand takes 1 unless the variable is set.

#include <chrono>
#include <cstdlib>
#include <string>

namespace vyai::test {

inline double timeFactor()
{
    static const double factor = [] {
        const char* text = std::getenv("VY_TEST_TIME_FACTOR");
        const double value = text ? std::strtod(text, nullptr) : 1.0;
        return value >= 1.0 ? value : 1.0;
    }();
    return factor;
}

/** `duration` stretched by the build's time factor, in the same unit. */
template<typename Rep, typename Period>
std::chrono::duration<Rep, Period> scaled(std::chrono::duration<Rep, Period> duration)
{
    return std::chrono::duration<Rep, Period>(static_cast<Rep>(duration.count() * timeFactor()));
}

/** The factor as text, for a child process's environment or a declaration file. */
inline std::string timeFactorText()
{
    return std::to_string(timeFactor());
}

} // namespace vyai::test
