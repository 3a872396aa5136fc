#include "postprocessing/warn_once.h"

namespace vyai {

bool WarnOnce::first(const std::string& key)
{
    std::lock_guard lock(m_mutex);
    return m_seen.insert(key).second;
}

} // namespace vyai
