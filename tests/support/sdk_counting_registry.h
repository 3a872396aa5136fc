#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <stdexcept>
#include <vector>

#include <vy/sdk/helpers/lib_context.h>
#include <vy/sdk/i_ref_countable_registry.h>

/**
 * A thread-safe registry that keeps every live object and the order of the records. The
 * library context owns it once installed, so tests reach the installed one through
 * installedCountingRegistry().
 */
class CountingRegistry: public vy::sdk::IRefCountableRegistry
{
public:
    struct Record
    {
        const vy::sdk::IRefCountable* object;
        int32_t count;
        bool creation;
    };

    void recordCreation(const vy::sdk::IRefCountable* object, int32_t count) override
    {
        const std::lock_guard lock(m_mutex);
        ++m_live[object];
        m_records.push_back({object, count, true});
    }

    void recordDestruction(const vy::sdk::IRefCountable* object, int32_t count) override
    {
        const std::lock_guard lock(m_mutex);
        if (--m_live[object] == 0)
            m_live.erase(object);
        m_records.push_back({object, count, false});
    }

    /** Objects created and not yet destroyed (a negative entry is a destruction too many). */
    int liveCount() const
    {
        const std::lock_guard lock(m_mutex);
        int count = 0;
        for (const auto& [object, n]: m_live)
            count += n;
        return count;
    }

    bool isLive(const vy::sdk::IRefCountable* object) const
    {
        const std::lock_guard lock(m_mutex);
        return m_live.count(object) > 0;
    }

    /** The records about `object`, in order. */
    std::vector<Record> recordsOf(const vy::sdk::IRefCountable* object) const
    {
        const std::lock_guard lock(m_mutex);
        std::vector<Record> result;
        for (const auto& record: m_records)
        {
            if (record.object == object)
                result.push_back(record);
        }
        return result;
    }

private:
    mutable std::mutex m_mutex;
    std::map<const vy::sdk::IRefCountable*, int> m_live;
    std::vector<Record> m_records;
};

/**
 * The registry of this test program's library context, installed at the first call (the
 * context takes only one registry, so every test of the program shares it).
 */
inline CountingRegistry& installedCountingRegistry()
{
    static CountingRegistry* const registry =
        []
        {
            auto& context = vy::sdk::libContext();
            if (!context.refCountableRegistry())
                context.setRefCountableRegistry(new CountingRegistry());
            auto* installed = dynamic_cast<CountingRegistry*>(context.refCountableRegistry());
            if (!installed)
                throw std::logic_error("another kind of registry is installed");
            return installed;
        }();
    return *registry;
}
