#include "host/rest_store.h"

#include <algorithm>
#include <cctype>

#include <common/json_text.h>

namespace vyhost {

using vy::standins::JsonDoc;
using vy::standins::MutableJsonDoc;
using vy::standins::newJsonDoc;
using vy::standins::parseJson;
using vy::standins::toCompactText;

namespace {

constexpr std::string_view kServerPath = "/rest/v4/servers/this";
constexpr std::string_view kDevicesPath = "/rest/v4/devices";

RestStore::Answer errorAnswer(int status, const char* message)
{
    return {status, vy::standins::errorJson(message)};
}

yyjson_val* rootObject(const JsonDoc& doc)
{
    yyjson_val* root = doc ? yyjson_doc_get_root(doc.get()) : nullptr;
    return yyjson_is_obj(root) ? root : nullptr;
}

std::string idOf(const std::string& record)
{
    const JsonDoc doc = parseJson(record);
    const char* id = yyjson_get_str(yyjson_obj_get(rootObject(doc), "id"));
    return id ? id : "";
}

// The value of `name` in a query text "a=1&b=2"; nullopt when absent.
std::optional<std::string> queryValue(std::string_view query, std::string_view name)
{
    while (!query.empty())
    {
        const std::size_t end = std::min(query.find('&'), query.size());
        const std::string_view item = query.substr(0, end);
        if (item.size() > name.size() && item.starts_with(name) && item[name.size()] == '=')
            return std::string(item.substr(name.size() + 1));
        query.remove_prefix(std::min(end + 1, query.size()));
    }
    return std::nullopt;
}

} // namespace

std::string normalizedId(const std::string& id)
{
    std::string result;
    for (const char c: id)
    {
        if (c != '{' && c != '}')
            result += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return result;
}

std::string siteIdPatchBody(const std::optional<std::string>& siteId)
{
    MutableJsonDoc doc = newJsonDoc();
    yyjson_mut_val* root = yyjson_mut_obj(doc.get());
    yyjson_mut_doc_set_root(doc.get(), root);
    yyjson_mut_val* parameters = yyjson_mut_obj_add_obj(doc.get(), root, "parameters");
    yyjson_mut_val* vyAI = yyjson_mut_obj_add_obj(doc.get(), parameters, "vyAI");
    if (siteId)
        yyjson_mut_obj_add_strcpy(doc.get(), vyAI, "siteID", siteId->c_str());
    else
        yyjson_mut_obj_add_null(doc.get(), vyAI, "siteID");
    return toCompactText(doc.get());
}

RestStore::RestStore(std::string serverId): m_serverId(std::move(serverId))
{
    MutableJsonDoc doc = newJsonDoc();
    yyjson_mut_val* root = yyjson_mut_obj(doc.get());
    yyjson_mut_doc_set_root(doc.get(), root);
    yyjson_mut_obj_add_strcpy(doc.get(), root, "id", m_serverId.c_str());
    yyjson_mut_obj_add_str(doc.get(), root, "name", "vyhost");
    yyjson_mut_obj_add_val(doc.get(), root, "parameters", yyjson_mut_obj(doc.get()));
    m_server = toCompactText(doc.get());
}

template<typename Self>
auto* RestStore::findDeviceLocked(Self& self, const std::string& deviceId)
{
    const std::string wanted = normalizedId(deviceId);
    const auto found = std::find_if(self.m_devices.begin(), self.m_devices.end(),
        [&wanted](const std::string& record) { return normalizedId(idOf(record)) == wanted; });
    return found == self.m_devices.end() ? nullptr : &*found;
}

bool RestStore::putDevice(const std::string& deviceJson)
{
    const JsonDoc parsed = parseJson(deviceJson);
    yyjson_val* record = rootObject(parsed);
    const char* id = yyjson_get_str(yyjson_obj_get(record, "id"));
    if (!id)
        return false;

    MutableJsonDoc doc = newJsonDoc();
    yyjson_mut_val* root = yyjson_val_mut_copy(doc.get(), record);
    yyjson_mut_doc_set_root(doc.get(), root);
    if (!yyjson_obj_get(record, "serverId"))
        yyjson_mut_obj_add_strcpy(doc.get(), root, "serverId", m_serverId.c_str());
    std::string text = toCompactText(doc.get());

    std::lock_guard lock(m_mutex);
    if (std::string* existing = findDeviceLocked(*this, id))
        *existing = std::move(text);
    else
        m_devices.push_back(std::move(text));
    return true;
}

std::string RestStore::server() const
{
    std::lock_guard lock(m_mutex);
    return m_server;
}

std::optional<std::string> RestStore::device(const std::string& deviceId) const
{
    std::lock_guard lock(m_mutex);
    if (const std::string* record = findDeviceLocked(*this, deviceId))
        return *record;
    return std::nullopt;
}

void RestStore::setPatchObserver(PatchObserver observer)
{
    m_patchObserver = std::move(observer);
}

RestStore::Answer RestStore::patchServer(const std::string& body)
{
    std::lock_guard lock(m_mutex);
    return patchLocked(m_server, body);
}

RestStore::Answer RestStore::handle(const std::string& method, const std::string& path, const std::string& body)
{
    std::string patchedDeviceId;
    bool patched = false;
    Answer answer;
    {
        std::lock_guard lock(m_mutex);
        answer = handleLocked(method, path, body, &patchedDeviceId, &patched);
    }
    if (patched && answer.status == 200 && m_patchObserver)
        m_patchObserver(patchedDeviceId, answer.body);
    return answer;
}

RestStore::Answer RestStore::handleLocked(const std::string& method, const std::string& path,
    const std::string& body, std::string* patchedDeviceId, bool* patched)
{
    const std::size_t queryStart = std::min(path.find('?'), path.size());
    const std::string_view route = std::string_view(path).substr(0, queryStart);
    const std::string_view query = std::string_view(path).substr(std::min(queryStart + 1, path.size()));

    *patched = method == "PATCH";
    if (route == kServerPath)
    {
        if (method == "GET")
            return {200, m_server};
        if (method == "PATCH")
            return patchLocked(m_server, body);
        return errorAnswer(405, "method not allowed");
    }
    if (route == kDevicesPath && method == "GET")
    {
        const std::optional<std::string> serverId = queryValue(query, "serverId");
        std::string list = "[";
        for (const std::string& record: m_devices)
        {
            const JsonDoc doc = parseJson(record);
            const char* owner = yyjson_get_str(yyjson_obj_get(rootObject(doc), "serverId"));
            if (serverId && normalizedId(owner ? owner : "") != normalizedId(*serverId))
                continue;
            list += (list.size() > 1 ? "," : "") + record;
        }
        return {200, list + "]"};
    }
    if (route.starts_with(std::string(kDevicesPath) + "/"))
    {
        std::string* record = findDeviceLocked(*this, std::string(route.substr(kDevicesPath.size() + 1)));
        if (!record)
            return errorAnswer(404, "no such device");
        if (method == "GET")
            return {200, *record};
        if (method == "PATCH")
        {
            *patchedDeviceId = idOf(*record);
            return patchLocked(*record, body);
        }
        return errorAnswer(405, "method not allowed");
    }
    return errorAnswer(404, "no such resource");
}

RestStore::Answer RestStore::patchLocked(std::string& record, const std::string& body)
{
    const JsonDoc patch = parseJson(body);
    if (!rootObject(patch))
        return errorAnswer(400, "body is not a JSON object");
    const JsonDoc original = parseJson(record);

    MutableJsonDoc merged = newJsonDoc();
    yyjson_mut_val* root = yyjson_merge_patch(merged.get(), yyjson_doc_get_root(original.get()),
        yyjson_doc_get_root(patch.get()));
    if (!root)
        return errorAnswer(500, "merge failed");
    // A record keeps its identity whatever the body says.
    yyjson_mut_obj_put(root, yyjson_mut_str(merged.get(), "id"),
        yyjson_val_mut_copy(merged.get(), yyjson_obj_get(yyjson_doc_get_root(original.get()), "id")));
    yyjson_mut_doc_set_root(merged.get(), root);
    record = toCompactText(merged.get());
    return {200, record};
}

} // namespace vyhost
