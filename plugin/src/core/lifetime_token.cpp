#include "core/lifetime_token.h"

namespace vyai {

void LifetimeToken::close()
{
    std::unique_lock lock(m_mutex);
    m_closed = true;
    m_passesLeft.wait(lock, [this] { return m_passes == 0; });
}

bool LifetimeToken::enter()
{
    const std::lock_guard lock(m_mutex);
    if (m_closed)
        return false;
    ++m_passes;
    return true;
}

void LifetimeToken::leave()
{
    const std::lock_guard lock(m_mutex);
    if (--m_passes == 0)
        m_passesLeft.notify_all();
}

} // namespace vyai
