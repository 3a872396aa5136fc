#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include <vy/sdk/i_ref_countable_registry.h>

namespace vyhost {

// Creations and destructions of one library's interface objects.
struct ObjectCounts
{
    std::atomic<int64_t> created{0};
    std::atomic<int64_t> destroyed{0};

    /** Objects still alive; after everything was released, the leaked ones. */
    int64_t live() const { return created.load() - destroyed.load(); }
};

// The registry a library context is given. The context owns it and deletes it when the
// library is unloaded, so the counts live in a record of their own that outlasts it.
class LeakRegistry: public vy::sdk::IRefCountableRegistry
{
public:
    explicit LeakRegistry(std::shared_ptr<ObjectCounts> counts): m_counts(std::move(counts)) {}

    void recordCreation(const vy::sdk::IRefCountable*, int32_t) override { ++m_counts->created; }
    void recordDestruction(const vy::sdk::IRefCountable*, int32_t) override
    {
        ++m_counts->destroyed;
    }

private:
    const std::shared_ptr<ObjectCounts> m_counts;
};

} // namespace vyhost
