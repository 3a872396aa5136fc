#include "vy/platform/shared_memory_section.h"

#include <cerrno>
#include <cstring>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vy::platform {

SharedMemorySection::~SharedMemorySection()
{
    close();
}

SharedMemorySection::SharedMemorySection(SharedMemorySection&& other) noexcept:
    m_fd(std::exchange(other.m_fd, -1)),
    m_owner(std::exchange(other.m_owner, false)),
    m_view(std::exchange(other.m_view, nullptr)),
    m_name(std::move(other.m_name)),
    m_lastError(other.m_lastError)
{
}

SharedMemorySection& SharedMemorySection::operator=(SharedMemorySection&& other) noexcept
{
    if (this != &other)
    {
        close();
        m_fd = std::exchange(other.m_fd, -1);
        m_owner = std::exchange(other.m_owner, false);
        m_view = std::exchange(other.m_view, nullptr);
        m_name = std::move(other.m_name);
        m_lastError = other.m_lastError;
    }
    return *this;
}

SectionCreateResult SharedMemorySection::create(const std::string& name)
{
    close();
    // O_EXCL: a name someone else made first is never attached to.
    const int fd = shm_open(name.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0)
    {
        m_lastError = errno;
        return m_lastError == EEXIST ? SectionCreateResult::nameTaken : SectionCreateResult::failed;
    }
    m_fd = fd;
    m_owner = true;
    m_name = name;
    return SectionCreateResult::created;
}

bool SharedMemorySection::open(const std::string& name)
{
    close();
    const int fd = shm_open(name.c_str(), O_RDWR | O_CLOEXEC, 0);
    if (fd < 0)
    {
        m_lastError = errno;
        return false;
    }
    m_fd = fd;
    m_name = name;
    return true;
}

bool SharedMemorySection::commit(uint64_t bytes)
{
    if (m_fd < 0)
    {
        m_lastError = EBADF;
        return false;
    }
    if (bytes > kSharedMemoryReserve)
    {
        m_lastError = EFBIG;
        return false;
    }
    if (committedSize() >= bytes)
        return true;
    // posix_fallocate reports a full /dev/shm now instead of a SIGBUS at the first write.
    const int result = posix_fallocate(m_fd, 0, static_cast<off_t>(bytes));
    if (result != 0)
    {
        m_lastError = result;
        return false;
    }
    return true;
}

uint64_t SharedMemorySection::committedSize() const
{
    struct stat status{};
    if (m_fd < 0 || fstat(m_fd, &status) != 0)
        return 0;
    return static_cast<uint64_t>(status.st_size);
}

bool SharedMemorySection::map()
{
    if (m_view)
        return true;
    void* view = mmap(nullptr, kSharedMemoryReserve, PROT_READ | PROT_WRITE, MAP_SHARED, m_fd, 0);
    if (view == MAP_FAILED)
    {
        m_lastError = errno;
        return false;
    }
    m_view = static_cast<uint8_t*>(view);
    return true;
}

void SharedMemorySection::unmap()
{
    if (m_view)
        munmap(m_view, kSharedMemoryReserve);
    m_view = nullptr;
}

void SharedMemorySection::close()
{
    unmap();
    if (m_fd >= 0)
        ::close(m_fd);
    removeName();
    m_fd = -1;
}

void SharedMemorySection::removeName()
{
    if (m_owner)
        shm_unlink(m_name.c_str());
    m_owner = false;
}

void copyForPeer(void* target, const void* source, size_t size)
{
    // Below this the lines mostly fit in this core's cache, where the peer takes them fast.
    constexpr size_t kStreamedFrom = 256 * 1024;
#if defined(__SSE2__)
    if (size >= kStreamedFrom)
    {
        auto* to = static_cast<uint8_t*>(target);
        const auto* from = static_cast<const uint8_t*>(source);
        const size_t head = (16 - reinterpret_cast<uintptr_t>(to) % 16) % 16;
        memcpy(to, from, head);
        size_t done = head;
        for (; done + 16 <= size; done += 16)
            _mm_stream_si128(reinterpret_cast<__m128i*>(to + done),
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + done)));
        memcpy(to + done, from + done, size - done);
        _mm_sfence();
        return;
    }
#endif
    if (size > 0)
        memcpy(target, source, size);
}

std::string systemErrorText(int errorNumber)
{
    char buffer[256];
    return strerror_r(errorNumber, buffer, sizeof buffer);
}

} // namespace vy::platform
