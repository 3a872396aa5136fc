#pragma once

#include <cstddef>
#include <type_traits>
#include <utility>

namespace vy::sdk {

/**
 * Owns exactly one reference to an interface object: copying calls acquireRef(), resetting
 * or destroying calls dropRef(). Built from a raw pointer it takes over the reference that
 * the pointer carries (a creator's, or one returned by findInterface()); use shareToPtr()
 * to take a new reference instead.
 */
template<class RefCountableInterface>
class Ptr
{
public:
    using element_type = RefCountableInterface;

    Ptr() = default;
    Ptr(std::nullptr_t) {}

    /** Takes over the reference that `ptr` carries. */
    explicit Ptr(RefCountableInterface* ptr): m_ptr(ptr) {}

    Ptr(const Ptr& other): m_ptr(other.m_ptr) { acquire(); }
    Ptr(Ptr&& other) noexcept: m_ptr(std::exchange(other.m_ptr, nullptr)) {}

    template<class Other,
        typename = std::enable_if_t<std::is_convertible_v<Other*, RefCountableInterface*>>>
    Ptr(const Ptr<Other>& other): m_ptr(other.get())
    {
        acquire();
    }

    template<class Other,
        typename = std::enable_if_t<std::is_convertible_v<Other*, RefCountableInterface*>>>
    Ptr(Ptr<Other>&& other) noexcept: m_ptr(other.releasePtr())
    {
    }

    ~Ptr() { release(); }

    Ptr& operator=(const Ptr& other)
    {
        Ptr(other).swap(*this);
        return *this;
    }

    Ptr& operator=(Ptr&& other) noexcept
    {
        Ptr(std::move(other)).swap(*this);
        return *this;
    }

    Ptr& operator=(std::nullptr_t)
    {
        reset();
        return *this;
    }

    /** Gives back the held reference and takes over the one that `ptr` carries. */
    void reset(RefCountableInterface* ptr = nullptr) { Ptr(ptr).swap(*this); }

    /** Gives up ownership without dropRef(): the reference passes to the caller. */
    [[nodiscard]] RefCountableInterface* releasePtr() { return std::exchange(m_ptr, nullptr); }

    void swap(Ptr& other) noexcept { std::swap(m_ptr, other.m_ptr); }

    RefCountableInterface* get() const { return m_ptr; }
    RefCountableInterface* operator->() const { return m_ptr; }
    RefCountableInterface& operator*() const { return *m_ptr; }
    explicit operator bool() const { return m_ptr != nullptr; }

    template<class Other>
    bool operator==(const Ptr<Other>& other) const { return m_ptr == other.get(); }
    template<class Other>
    bool operator==(const Other* other) const { return m_ptr == other; }
    bool operator==(std::nullptr_t) const { return m_ptr == nullptr; }

private:
    void acquire() const
    {
        if (m_ptr)
            m_ptr->acquireRef();
    }

    void release()
    {
        if (m_ptr)
            std::exchange(m_ptr, nullptr)->dropRef();
    }

    RefCountableInterface* m_ptr = nullptr;
};

/** A Ptr that takes over the reference `ptr` carries (no acquireRef()). */
template<class RefCountableInterface>
Ptr<RefCountableInterface> toPtr(RefCountableInterface* ptr)
{
    return Ptr<RefCountableInterface>(ptr);
}

/** A Ptr with a new reference of its own (acquireRef()); the caller keeps its reference. */
template<class RefCountableInterface>
Ptr<RefCountableInterface> shareToPtr(RefCountableInterface* ptr)
{
    if (ptr)
        ptr->acquireRef();
    return Ptr<RefCountableInterface>(ptr);
}

/** Constructs the object on the heap; the Ptr takes over the constructor's reference. */
template<class RefCountableObject, typename... Args>
Ptr<RefCountableObject> newRefCounted(Args&&... args)
{
    return Ptr<RefCountableObject>(new RefCountableObject(std::forward<Args>(args)...));
}

/**
 * Asks `object` for `Target` by its newest id; the result adopts the reference that
 * findInterface() returns. A const object gives a Ptr to const.
 */
template<class Target, class Source>
auto queryInterface(Source* object)
    -> Ptr<std::conditional_t<std::is_const_v<Source>, const Target, Target>>
{
    using Result = std::conditional_t<std::is_const_v<Source>, const Target, Target>;
    if (!object)
        return nullptr;
    auto* found = const_cast<std::remove_const_t<Source>*>(object)->findInterface(
        Target::interfaceId());
    return Ptr<Result>(static_cast<Target*>(found));
}

template<class Target, class Source>
auto queryInterface(const Ptr<Source>& object)
{
    return queryInterface<Target>(object.get());
}

} // namespace vy::sdk
