#pragma once

#include <chrono>
#include <thread>

#include "time_factor.h"

namespace vyai::test {

/** Polls `condition` every millisecond for at most `limit` (stretched by the build's time
 * factor); its last answer. */
template<typename Condition>
bool eventually(Condition&& condition, std::chrono::milliseconds limit = std::chrono::seconds(10))
{
    const auto deadline = std::chrono::steady_clock::now() + scaled(limit);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

} // namespace vyai::test
