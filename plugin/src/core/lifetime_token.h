#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace vyai {

/**
 * Lets work that finishes on other threads (frame completions, tasks) use an object only
 * while it is alive. Such work holds the token through a shared pointer and enters it for as
 * long as it touches the object; the object's owner closes it first thing in its destructor,
 * which waits until every entered pass has been left and refuses new ones.
 */
class LifetimeToken
{
public:
    /** Entered while it converts to true; left when it goes. */
    class Pass
    {
    public:
        explicit Pass(LifetimeToken& token): m_token(token.enter() ? &token : nullptr) {}
        ~Pass()
        {
            if (m_token)
                m_token->leave();
        }
        Pass(const Pass&) = delete;
        Pass& operator=(const Pass&) = delete;

        explicit operator bool() const { return m_token != nullptr; }

    private:
        LifetimeToken* m_token;
    };

    /** Refuses every pass from now on and waits until the passes in flight are left. */
    void close();

private:
    bool enter();
    void leave();

    std::mutex m_mutex;
    std::condition_variable m_passesLeft;
    bool m_closed = false; //< protected by m_mutex
    int64_t m_passes = 0; //< protected by m_mutex
};

} // namespace vyai
