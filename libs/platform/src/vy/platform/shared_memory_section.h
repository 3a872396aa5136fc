#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vy::platform {

// Every section reserves this much address space; only the committed start is usable.
inline constexpr uint64_t kSharedMemoryReserve = 209715200;

enum class SectionCreateResult {
    created,
    nameTaken, // another object of that name exists (ours or anyone's): never attached to
    failed,
};

/**
 * One POSIX shared-memory object and this process's mapping of it. The mapping always spans
 * the whole reserve, so growing the object (by either side) needs no new mapping; bytes past
 * the object's size must not be touched. The creator removes the name when the section is
 * closed. Move-only; errors leave errno-style numbers in lastError().
 */
class SharedMemorySection
{
public:
    SharedMemorySection() = default;
    ~SharedMemorySection();
    SharedMemorySection(SharedMemorySection&& other) noexcept;
    SharedMemorySection& operator=(SharedMemorySection&& other) noexcept;
    SharedMemorySection(const SharedMemorySection&) = delete;
    SharedMemorySection& operator=(const SharedMemorySection&) = delete;

    /** Creates the object exclusively, readable and writable by this user only. */
    SectionCreateResult create(const std::string& name);
    /** Opens an object another process created. */
    bool open(const std::string& name);
    /** Grows the object to at least `bytes`; it never shrinks. */
    bool commit(uint64_t bytes);
    /** The object's current size, as the kernel sees it now; 0 on failure. */
    uint64_t committedSize() const;
    bool map();
    void unmap();
    /** Unmaps, closes and (creator only) removes the name; safe to call twice. */
    void close();
    /**
     * Creator only: removes the name now, so that nothing is left behind should this process
     * die. The object and every mapping of it stay until closed; no one can open it any more.
     */
    void removeName();

    bool isOpen() const { return m_fd >= 0; }
    bool isMapped() const { return m_view != nullptr; }
    uint8_t* view() const { return m_view; }
    const std::string& name() const { return m_name; }
    int lastError() const { return m_lastError; }

private:
    int m_fd = -1;
    bool m_owner = false;
    uint8_t* m_view = nullptr;
    std::string m_name;
    int m_lastError = 0;
};

/**
 * memcpy for a message that another process (or thread) reads next, as into a section's
 * view: a large one is written past this core's caches, because lines the peer last read
 * would first have to be fetched back, at about three times the cost of the copy. The bytes
 * are ordered before any later store, such as the status that hands them over.
 */
void copyForPeer(void* target, const void* source, size_t size);

/** strerror text of an errno value. */
std::string systemErrorText(int errorNumber);

} // namespace vy::platform
