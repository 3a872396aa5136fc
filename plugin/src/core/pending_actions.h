#pragma once

#include <atomic>
#include <mutex>
#include <optional>
#include <set>
#include <string>

namespace vyai {

/**
 * The engine actions that users requested and the runtime manager loop has not performed
 * yet. Host threads record them; the loop takes each one whole, so that a request arriving
 * while the loop works is kept for its next pass rather than merged or lost.
 */
class PendingActions
{
public:
    /** Devices whose pipelines the cloud is to assign again. */
    struct Reset
    {
        bool allConfiguredDevices = false; //< wins over the ids
        std::set<std::string> deviceIds;
    };

    void requestDeviceReset(const std::string& deviceId);
    void requestResetOfAllDevices();
    void requestCacheClearing() { m_clearCache.store(true); }
    void requestDownloadRetry() { m_retryDownloads.store(true); }

    /** The resets requested so far, forgotten here; none when there are none. */
    std::optional<Reset> takeReset();
    /** Puts back a reset taken but not done, joined with any requested since. */
    void restoreReset(const Reset& reset);
    bool takeCacheClearing() { return m_clearCache.exchange(false); }
    bool takeDownloadRetry() { return m_retryDownloads.exchange(false); }

private:
    std::mutex m_resetMutex;
    Reset m_reset; //< protected by m_resetMutex
    bool m_resetPending = false; //< protected by m_resetMutex
    std::atomic<bool> m_clearCache{false};
    std::atomic<bool> m_retryDownloads{false};
};

} // namespace vyai
