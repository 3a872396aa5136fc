#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>

// The engine's store of user-visible messages, shown as banners in the settings dialogs.

namespace vyai {

enum MessageType : uint32_t {
    kMessageTypeMessage = 0,
    kMessageTypeWarning = 1,
};

struct Message_t {
    uint32_t type = kMessageTypeMessage; // MessageType
    std::string text;
};

class MessagingManager
{
public:
    using Messages = std::unordered_map<std::string, Message_t>;

    /** Adds or replaces the code's entry; logs unless the text is the one already stored. */
    void addMessage(const std::string& code, const std::string& text, uint32_t type);

    /** Removes every warning; messages stay. */
    void clearWarnings();

    /** A copy of every entry, so that readers work without the lock. */
    Messages getMessages() const;

    /** Removes the code's entry if there is one. */
    void removeMessage(const std::string& code);

private:
    // Guards m_messages. The log's mutex is taken inside it (log lines are written while it is
    // held), never the reverse.
    mutable std::mutex m_mutex;
    Messages m_messages;
};

} // namespace vyai
