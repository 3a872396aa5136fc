#include "vy/sdk/helpers/string_map.h"

#include <vy/sdk/helpers/failure_report.h>

namespace vy::sdk {

void StringMap::setItem(std::string key, std::string value)
{
    if (key.empty())
        detail::reportFailure("!key.empty()", __FILE__, __LINE__);
    m_items.insert_or_assign(std::move(key), std::move(value));

    const std::lock_guard lock(m_indexMutex);
    m_index.clear();
}

int32_t StringMap::count() const
{
    return static_cast<int32_t>(m_items.size());
}

const char* StringMap::key(int32_t index) const
{
    return indexedText(index, /*wantKey*/ true);
}

const char* StringMap::value(const char* key) const
{
    if (!key)
        return nullptr;
    const auto it = m_items.find(key);
    return it == m_items.end() ? nullptr : it->second.c_str();
}

const char* StringMap::value(int32_t index) const
{
    return indexedText(index, /*wantKey*/ false);
}

const char* StringMap::indexedText(int32_t index, bool wantKey) const
{
    if (index < 0 || index >= count())
        return nullptr;

    const std::lock_guard lock(m_indexMutex);
    if (m_index.empty())
    {
        try
        {
            m_index.reserve(2 * m_items.size());
        }
        catch (...)
        {
            return nullptr; //< Read by the host: no exception may reach it.
        }
        for (const auto& [itemKey, itemValue]: m_items)
        {
            m_index.push_back(itemKey.c_str());
            m_index.push_back(itemValue.c_str());
        }
    }
    return m_index[2 * static_cast<size_t>(index) + (wantKey ? 0 : 1)];
}

} // namespace vy::sdk
