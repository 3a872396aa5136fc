#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

#include <vy/sdk/helpers/ref_countable.h>
#include <vy/sdk/i_string_map.h>

/**
 * A string map as the host hands one in: items in the given index order, texts that may be
 * null, duplicate keys allowed, and a count that may disagree with the items.
 */
class HostStringMap: public vy::sdk::RefCountable<vy::sdk::IStringMap>
{
public:
    using Item = std::pair<const char*, const char*>;

    explicit HostStringMap(std::vector<Item> items, std::optional<int32_t> count = std::nullopt):
        m_items(std::move(items)),
        m_count(count.value_or(static_cast<int32_t>(m_items.size())))
    {
    }

    int32_t count() const override { return m_count; }
    const char* key(int32_t index) const override { return inRange(index) ? m_items[index].first : nullptr; }
    const char* value(int32_t index) const override { return inRange(index) ? m_items[index].second : nullptr; }

    const char* value(const char* key) const override
    {
        for (const auto& [itemKey, itemValue]: m_items)
        {
            if (key && itemKey && std::strcmp(key, itemKey) == 0)
                return itemValue;
        }
        return nullptr;
    }

private:
    bool inRange(int32_t index) const
    {
        return index >= 0 && static_cast<size_t>(index) < m_items.size();
    }

    std::vector<Item> m_items;
    int32_t m_count;
};
