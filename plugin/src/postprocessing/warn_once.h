#pragma once

#include <mutex>
#include <set>
#include <string>

namespace vyai {

/**
 * Remembers which setting problems were already reported, so that a bad mask or line is
 * logged once rather than on every frame. Safe from any thread.
 */
class WarnOnce
{
public:
    /** True the first time a key is seen. */
    bool first(const std::string& key);

private:
    std::mutex m_mutex;
    std::set<std::string> m_seen; //< guarded by m_mutex; one entry per bad setting, bounded
};

} // namespace vyai
