#pragma once

#include <atomic>
#include <cstdint>

#include <vy/sdk/i_ref_countable.h>

namespace vy::sdk {

namespace detail {

/** Tell the library context's registry, when one is set. */
void recordCreation(const IRefCountable* object);
void recordDestruction(const IRefCountable* object, int32_t count);

} // namespace detail

/**
 * Base of every concrete interface object: `class Thing: public RefCountable<IThing>`.
 * Created with a count of 1 owned by the creator (see newRefCounted()); destroyed by the
 * dropRef() that brings the count to 0. Counting is atomic, so references may be taken and
 * given back on any thread.
 */
template<class RefCountableInterface>
class RefCountable: public RefCountableInterface
{
public:
    RefCountable(const RefCountable&) = delete;
    RefCountable& operator=(const RefCountable&) = delete;

    int32_t acquireRef() const override { return ++m_count; }

    int32_t dropRef() const override
    {
        const int32_t count = --m_count;
        if (count == 0 && m_objectToDestroy)
            delete m_objectToDestroy;
        return count;
    }

    /** The current count (a plain read, for tests and diagnostics). */
    int32_t refCount() const { return m_count.load(); }

protected:
    RefCountable(): m_objectToDestroy(this) { detail::recordCreation(this); }

    ~RefCountable() override { detail::recordDestruction(this, m_count.load()); }

private:
    mutable std::atomic<int32_t> m_count{1};
    IRefCountable* const m_objectToDestroy;
};

} // namespace vy::sdk
