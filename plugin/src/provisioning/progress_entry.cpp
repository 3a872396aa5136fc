#include "provisioning/progress_entry.h"

#include <utility>

#include "foundations/messaging_manager.h"

namespace vyai {

namespace {

constexpr uint64_t kBytesProgressStep = 1 << 20;

} // namespace

ProgressEntry::ProgressEntry(MessagingManager& messages, std::string code, std::string text):
    m_messages(messages), m_code(std::move(code)), m_text(std::move(text))
{
}

ProgressEntry::~ProgressEntry()
{
    m_messages.removeMessage(m_code);
}

void ProgressEntry::showStarted()
{
    m_messages.addMessage(m_code, m_text, kMessageTypeMessage);
}

void ProgressEntry::showPercent(uint64_t percent)
{
    post(std::to_string(percent) + "%");
}

void ProgressEntry::showBytes(uint64_t bytes)
{
    if (m_bytesPosted && bytes - m_lastBytesPosted < kBytesProgressStep)
        return;
    m_bytesPosted = true;
    m_lastBytesPosted = bytes;
    post(std::to_string(bytes) + " bytes");
}

void ProgressEntry::post(const std::string& amount)
{
    m_messages.addMessage(
        m_code, m_text + " (" + amount + ")\nPress 'Refresh' to see updated progress.", kMessageTypeMessage);
}

} // namespace vyai
