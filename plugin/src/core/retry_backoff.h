#pragma once

#include <chrono>

namespace vyai {

/**
 * When a failing step of the runtime manager loop may be tried again: one second after the
 * first failure, the pause doubling with each further failure up to a minute; a success
 * makes the step due at every pass again.
 */
class RetryBackoff
{
public:
    using Clock = std::chrono::steady_clock;

    static constexpr std::chrono::seconds kFirstPause{1};
    static constexpr std::chrono::seconds kLongestPause{60};

    bool isDue(Clock::time_point now) const { return now >= m_nextTry; }
    void failed(Clock::time_point now);
    void succeeded();
    /**
     * Notes the outcome of a try and returns it. The pause runs from the end of the try: the
     * clock is read here, once the argument, usually the try itself, has been evaluated.
     */
    template<typename Now>
    bool record(bool succeededNow, Now&& now)
    {
        if (succeededNow)
            succeeded();
        else
            failed(now());
        return succeededNow;
    }

    std::chrono::seconds pause() const { return m_pause; }

private:
    std::chrono::seconds m_pause{0};
    Clock::time_point m_nextTry{};
};

} // namespace vyai
