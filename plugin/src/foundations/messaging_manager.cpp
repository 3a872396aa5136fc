#include "foundations/messaging_manager.h"

#include "foundations/log.h"

namespace vyai {

void MessagingManager::addMessage(const std::string& code, const std::string& text, uint32_t type)
{
    std::lock_guard lock(m_mutex);
    const auto [entry, inserted] = m_messages.try_emplace(code, Message_t{type, text});
    if (!inserted) {
        const bool sameText = entry->second.text == text;
        entry->second = Message_t{type, text};
        // Posted again on every loop pass while its cause lasts: only a change is worth a line.
        if (sameText)
            return;
    }
    if (type == kMessageTypeWarning)
        logError("Adding warning: %s : %s\n", code.c_str(), text.c_str());
    else
        logInfo("Adding message: %s : %s\n", code.c_str(), text.c_str());
}

void MessagingManager::clearWarnings()
{
    logInfo("Clearing all warning messages.\n");
    std::lock_guard lock(m_mutex);
    std::erase_if(m_messages, [](const auto& entry) { return entry.second.type == kMessageTypeWarning; });
}

MessagingManager::Messages MessagingManager::getMessages() const
{
    std::lock_guard lock(m_mutex);
    return m_messages;
}

void MessagingManager::removeMessage(const std::string& code)
{
    std::lock_guard lock(m_mutex);
    if (m_messages.erase(code) > 0)
        logInfo("Removed message: %s \n", code.c_str());
}

} // namespace vyai
