#pragma once

#include <cstdint>
#include <string>

namespace vyai {

class MessagingManager;

/**
 * The message-store entry that shows how far a long step (a download, an extraction) has come:
 * the text, then " (42%)" or " (1048576 bytes)", then "\nPress 'Refresh' to see updated
 * progress.". Removed when the entry ends, however the step ended.
 */
class ProgressEntry
{
public:
    ProgressEntry(MessagingManager& messages, std::string code, std::string text);
    ~ProgressEntry();
    ProgressEntry(const ProgressEntry&) = delete;
    ProgressEntry& operator=(const ProgressEntry&) = delete;

    /** Posts the text alone, before any progress is known. */
    void showStarted();
    void showPercent(uint64_t percent);
    /** For steps of unknown size; posted at most once per MiB, so the log is not flooded. */
    void showBytes(uint64_t bytes);

private:
    void post(const std::string& amount);

    MessagingManager& m_messages;
    std::string m_code;
    std::string m_text;
    bool m_bytesPosted = false;
    uint64_t m_lastBytesPosted = 0;
};

} // namespace vyai
