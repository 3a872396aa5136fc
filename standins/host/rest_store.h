#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace vyhost {

// The host's REST interface as far as the plug-in uses it, in memory: this server's record
// and its devices' records, as JSON objects. A PATCH merges its body into the record (objects
// merge member by member, null removes a member, anything else replaces), so each writer may
// send only its own members. Thread-safe.
class RestStore
{
public:
    struct Answer
    {
        int status = 200;
        std::string body; //< compact JSON on one line
    };

    // Starts with the server {"id": serverId, "name": "vyhost", "parameters": {}} and no devices.
    explicit RestStore(std::string serverId);

    // A device record: an object with a text "id"; "serverId" is added when missing. Replaces
    // a device of the same id. False when the text is no such object.
    bool putDevice(const std::string& deviceJson);

    // Told of every record a PATCH through handle() changed: the device id (empty for the
    // server) and the whole record after the merge. Called after the store's lock is released,
    // on the requesting thread. Set before the first request.
    using PatchObserver = std::function<void(const std::string& deviceId, const std::string& record)>;
    void setPatchObserver(PatchObserver observer);

    // PATCH /rest/v4/servers/this as the host itself does it: the observer is not told.
    Answer patchServer(const std::string& body);

    // Current records as compact JSON; nullopt for an unknown device.
    std::string server() const;
    std::optional<std::string> device(const std::string& deviceId) const;

    // GET /rest/v4/servers/this, GET /rest/v4/devices?serverId=, GET /rest/v4/devices/{id},
    // PATCH /rest/v4/servers/this, PATCH /rest/v4/devices/{id}. Device ids match without
    // regard to braces and case.
    Answer handle(const std::string& method, const std::string& path, const std::string& body);

private:
    // Called with m_mutex held.
    template<typename Self>
    static auto* findDeviceLocked(Self& self, const std::string& deviceId);
    Answer patchLocked(std::string& record, const std::string& body);
    Answer handleLocked(const std::string& method, const std::string& path, const std::string& body,
        std::string* patchedDeviceId, bool* patched);

    PatchObserver m_patchObserver;

    const std::string m_serverId;

    mutable std::mutex m_mutex; //< guards the records
    std::string m_server;
    std::vector<std::string> m_devices; //< in the order first put
};

// The PATCH body that sets the server's "parameters" -> "vyAI" -> "siteID"; nullopt removes it.
std::string siteIdPatchBody(const std::optional<std::string>& siteId);

// "{3F2B...}" and "3f2b..." name the same record.
std::string normalizedId(const std::string& id);

} // namespace vyhost
