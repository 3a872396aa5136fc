#include "core/pipeline_parse_report.h"

#include <map>
#include <mutex>
#include <set>

namespace vyai {

namespace {

const char* const kParsePipelineCode = "PARSE_PIPELINE";

struct FailingDevices
{
    std::mutex mutex; //< taken before the message store's
    std::map<const MessagingManager*, std::set<std::string>> byStore; //< protected by mutex
};

FailingDevices& failingDevices()
{
    static FailingDevices devices;
    return devices;
}

void settle(FailingDevices& devices, MessagingManager& messages, const std::string& deviceId)
{
    const auto store = devices.byStore.find(&messages);
    if (store == devices.byStore.end())
        return;
    store->second.erase(deviceId);
    if (!store->second.empty())
        return;
    devices.byStore.erase(store);
    messages.removeMessage(kParsePipelineCode);
}

} // namespace

void reportPipelineParse(
    MessagingManager& messages, const std::string& deviceId, const std::vector<std::string>& failures)
{
    FailingDevices& devices = failingDevices();
    const std::lock_guard lock(devices.mutex);
    if (failures.empty())
    {
        settle(devices, messages, deviceId);
        // A store that never saw a failure of ours may still hold an older one.
        if (!devices.byStore.contains(&messages))
            messages.removeMessage(kParsePipelineCode);
        return;
    }
    devices.byStore[&messages].insert(deviceId);
    messages.addMessage(kParsePipelineCode,
        "Could not parse pipeline details. Probably an error with metadata: " + failures.back(),
        kMessageTypeWarning);
}

void forgetPipelineParse(MessagingManager& messages, const std::string& deviceId)
{
    FailingDevices& devices = failingDevices();
    const std::lock_guard lock(devices.mutex);
    settle(devices, messages, deviceId);
}

} // namespace vyai
