#pragma once

// One factor per build for every time a test allows the product: sanitizer builds
// run several times slower, and a loaded machine slower still. CTest sets
// VY_TEST_TIME_FACTOR from the preset; scripts/stress sets VY_TEST_LOAD_FACTOR for the
// CPU hog it runs beside the tests, and the two multiply. A test run by hand takes 1
// for each unless the variable is set.

#include <chrono>
#include <cstdlib>

namespace vyai::test {

namespace detail {

inline double factorFromEnvironment(const char* name)
{
    const char* text = std::getenv(name);
    const double value = text ? std::strtod(text, nullptr) : 1.0;
    return value >= 1.0 ? value : 1.0;
}

} // namespace detail

inline double timeFactor()
{
    static const double factor =
        detail::factorFromEnvironment("VY_TEST_TIME_FACTOR") * detail::factorFromEnvironment("VY_TEST_LOAD_FACTOR");
    return factor;
}

/** `duration` stretched by the build's time factor, in the same unit. */
template<typename Rep, typename Period>
std::chrono::duration<Rep, Period> scaled(std::chrono::duration<Rep, Period> duration)
{
    return std::chrono::duration<Rep, Period>(static_cast<Rep>(duration.count() * timeFactor()));
}

} // namespace vyai::test
