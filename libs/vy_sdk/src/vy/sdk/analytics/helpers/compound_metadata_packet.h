#pragma once

#include <cstdint>
#include <vector>

#include <vy/sdk/analytics/i_metadata.h>
#include <vy/sdk/helpers/failure_report.h>
#include <vy/sdk/helpers/ref_countable.h>
#include <vy/sdk/ptr.h>

namespace vy::sdk::analytics {

/**
 * What the event and the object packet share: a timestamp, a duration and an ordered list of
 * items, one reference held to each. Filled by one thread, then only read.
 */
template<class PacketInterface, class ItemInterface>
class CompoundMetadataPacket: public RefCountable<PacketInterface>
{
public:
    void setTimestampUs(int64_t timestampUs) { m_timestampUs = timestampUs; }
    void setDurationUs(int64_t durationUs) { m_durationUs = durationUs; }
    void setExtraValue(int32_t extraValue) { m_extraValue = extraValue; }

    /** Gives back every item's reference. */
    void clear() { m_items.clear(); }

    int64_t timestampUs() const override { return m_timestampUs; }
    int64_t durationUs() const override { return m_durationUs; }
    int32_t count() const override { return static_cast<int32_t>(m_items.size()); }
    int32_t extraValue() const override { return m_extraValue; }

    /** The item with a new reference for the caller; null outside 0..count-1. */
    const IMetadata* at(int32_t index) const override
    {
        if (index < 0 || index >= count())
            return nullptr;
        return shareToPtr<const IMetadata>(m_items[index].get()).releasePtr();
    }

protected:
    /** A null item is reported with `condition` under the packet's source file prefix. */
    void appendItem(Ptr<const ItemInterface> item, const char* condition, const char* sourceFile,
        int line)
    {
        if (!item)
        {
            vy::sdk::detail::reportFailure(condition, sourceFile, line);
            return;
        }
        m_items.push_back(std::move(item));
    }

private:
    int32_t m_extraValue = 0;
    int64_t m_timestampUs = 0;
    int64_t m_durationUs = 0;
    std::vector<Ptr<const ItemInterface>> m_items;
};

} // namespace vy::sdk::analytics
