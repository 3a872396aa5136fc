#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>

namespace vyai {

/**
 * A warning that would otherwise be written for every frame of a camera (refused, dropped):
 * written at most once per second per camera and text, with the number of times it occurred
 * since it was last written. The key may name something else than a camera (a processor):
 * `subject` says what. Safe from any thread.
 */
class RepeatedWarning
{
public:
    using Clock = std::chrono::steady_clock;

    /** `text` is the warning as written, ending in a new line; `detail` writes it at the log's detail level. */
    explicit RepeatedWarning(std::string text, bool detail = false, std::string subject = "camera"):
        m_text(std::move(text)), m_subject(std::move(subject)), m_detail(detail)
    {
    }

    /** Counts one occurrence for the camera and writes the warning when its second is up. */
    void report(const std::string& camera, Clock::time_point now = Clock::now());

    /** Occurrences of every camera since construction. */
    uint64_t total() const;

private:
    struct CameraCount
    {
        Clock::time_point lastWritten{};
        uint64_t sinceWritten = 0;
        bool written = false;
    };

    const std::string m_text;
    const std::string m_subject;
    const bool m_detail;
    mutable std::mutex m_mutex;
    std::map<std::string, CameraCount, std::less<>> m_cameras; //< guarded by m_mutex
    uint64_t m_total = 0; //< guarded by m_mutex
};

} // namespace vyai
