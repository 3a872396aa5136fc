#include "core/cloud_api_client.h"

#include <algorithm>
#include <memory>
#include <optional>

#include <vy/network/http/http_client.h>

#include "core/host_text.h"
#include "foundations/plugin_version.h"
#include "foundations/ini.h"
#include "foundations/json_helpers.h"
#include "foundations/log.h"
#include "settings/json_document.h"

namespace vyai {

namespace {

using vy::network::http::HttpClient;

std::unique_ptr<HttpClient> makeCloudClient(const CloudApiClient::Endpoint& endpoint,
    const UtilityProviderPtr& provider)
{
    auto client = std::make_unique<HttpClient>(vy::network::ssl::kDefaultCertificateCheck);
    client->setAllTimeouts(endpoint.timeout);
    client->setDeadline(endpoint.deadline);
    client->setMaxBodySize(CloudApiClient::kMaxAnswerBytes);
    client->addAdditionalHeader("User-Agent", std::string("VYAI-Plugin/") + kPluginVersion);
    // No token: sent empty, and the service refuses the request.
    const char* token = provider ? provider->cloudToken() : nullptr;
    client->addAdditionalHeader("Authorization", token ? token : "");
    return client;
}

// The client's own account of a failure (a time limit, the answer bound), when it has one.
void logFailureReason(const HttpClient& client, const std::string& url)
{
    if (const std::string reason = client.failure(); !reason.empty())
        logError("Cloud request to %s failed: %s\n", url.c_str(), reason.c_str());
}

// True when the request got status 200; otherwise logs why, starting with `failurePrefix`.
bool isSuccessful(HttpClient& client, bool requestMade, const std::string& url, const char* failurePrefix)
{
    const vy::network::http::Response* response = client.response();
    if (!response)
    {
        logError("Couldn't get a response from endpoint: %s\n", url.c_str());
        logFailureReason(client, url);
        return false;
    }
    if (requestMade && response->statusLine.statusCode == 200)
        return true;

    std::string failure = std::string(failurePrefix) + url + " Code: "
        + std::to_string(response->statusLine.statusCode) + " Line: " + response->statusLine.toString();
    if (const auto body = client.fetchEntireMessageBody())
        failure += " Body: " + body->toString();
    logError("%s", failure.c_str());
    return false;
}

// A new document {"parameters": {"vyAI": <deep copy of value>}}; `copy` is set to the copy.
yyjson_mut_doc* newParametersEnvelope(yyjson_val* value, yyjson_mut_val** copy)
{
    yyjson_mut_doc* doc = yyjson_mut_doc_new(nullptr);
    yyjson_mut_val* root = yyjson_mut_obj(doc);
    yyjson_mut_doc_set_root(doc, root);
    yyjson_mut_val* parameters = yyjson_mut_obj_add_obj(doc, root, "parameters");
    *copy = yyjson_val_mut_copy(doc, value);
    yyjson_mut_obj_add_val(doc, parameters, "vyAI", *copy);
    return doc;
}

AvailablePipeline toAvailablePipeline(yyjson_val* offer)
{
    const char* name = yyjson_get_str(yyjson_obj_get(offer, "name"));
    const char* uuid = yyjson_get_str(yyjson_obj_get(offer, "uuid"));

    yyjson_mut_val* vyAI = nullptr;
    yyjson_mut_doc* doc = newParametersEnvelope(offer, &vyAI);
    if (yyjson_mut_is_obj(vyAI))
    {
        yyjson_mut_obj_remove_key(vyAI, "name");
        yyjson_mut_obj_remove_key(vyAI, "uuid");
        if (uuid)
            yyjson_mut_obj_add_strcpy(doc, vyAI, "selectedPipeline", uuid);
    }
    return {jsonDocumentToString(doc), name ? name : "", uuid ? uuid : ""};
}

std::string resetRequestBody(const std::string& systemId, const char* serverId, const std::vector<std::string>& deviceIds)
{
    yyjson_mut_doc* doc = yyjson_mut_doc_new(nullptr);
    yyjson_mut_val* root = yyjson_mut_obj(doc);
    yyjson_mut_doc_set_root(doc, root);
    yyjson_mut_obj_add_strncpy(doc, root, "SystemId", systemId.data(), systemId.size());
    yyjson_mut_obj_add_strcpy(doc, root, "ServerId", serverId ? serverId : "");
    yyjson_mut_val* devices = yyjson_mut_obj_add_arr(doc, root, "Devices");
    for (const std::string& id: deviceIds)
        yyjson_mut_arr_add_strncpy(doc, devices, id.data(), id.size());
    return jsonDocumentToString(doc);
}

} // namespace

CloudApiClient::Endpoint CloudApiClient::endpointFromIni()
{
    const char* cloudApi = ini().CloudAPI;
    const std::chrono::milliseconds timeout(int64_t{ini().HTTPRequestTimeout} * 1000);
    return {cloudApi ? cloudApi : "", timeout, std::max(kRequestDeadline, 2 * timeout)};
}

CloudApiClient::CloudApiClient(Endpoint endpoint): m_endpoint(std::move(endpoint))
{
}

void CloudApiClient::isCloudConnected(UtilityProviderPtr provider)
{
    auto notChecked = CloudConnectionState::notChecked;
    m_cloudConnectionState.compare_exchange_strong(notChecked, CloudConnectionState::checking);
    if (!provider)
    {
        logError("Warning! Utility provider is null, cannot check cloud connection.\n");
        return;
    }

    const char* token = provider->cloudToken();
    if (!token)
        logError("Warning! Cloud token is NULL. This could indicate an incompatible VMS.\n");
    if (token && token[0] != '\0')
    {
        logInfo("Got cloud token.\n");
        m_cloudConnectionState = CloudConnectionState::connected;
    }
    else
    {
        logError("Couldn't get cloud token. Assuming not connected to cloud.\n");
        m_cloudConnectionState = CloudConnectionState::notConnected;
    }
}

std::vector<AvailablePipeline> CloudApiClient::fetchAvailablePipelines(
    UtilityProviderPtr provider, const std::string& deviceId, std::function<bool()> cancelled)
{
    if (!provider)
        return {};
    const auto client = makeCloudClient(m_endpoint, provider);
    if (cancelled)
        client->setCancelCheck(std::move(cancelled));
    const std::string url = m_endpoint.baseUrl + "/system/" + takeHostText(provider->cloudSystemId())
        + "/device/" + deviceId + "/available-pipelines";
    const bool requestMade = client->doGet(vy::Url(url));
    if (!isSuccessful(*client, requestMade, url, "Failed to fetch pipelines! Endpoint:"))
        return {};

    const auto body = client->fetchEntireMessageBody();
    if (!body)
    {
        logError("Failed to fetch available pipelines! Body can not be read.\n");
        logFailureReason(*client, url);
        return {};
    }
    const JsonDocument answer = readJsonDocument(body->view());
    yyjson_val* offers = yyjson_doc_get_root(answer.get());
    if (!yyjson_is_arr(offers))
        return {};

    std::vector<AvailablePipeline> pipelines;
    std::size_t index = 0;
    std::size_t count = 0;
    yyjson_val* offer = nullptr;
    yyjson_arr_foreach(offers, index, count, offer)
    {
        AvailablePipeline& pipeline = pipelines.emplace_back(toAvailablePipeline(offer));
        logError("Got available pipeline: %s:\n%s\n", pipeline.name.c_str(), pipeline.parametersJson.c_str());
    }
    return pipelines;
}

bool CloudApiClient::resetDevices(UtilityProviderPtr provider, std::vector<std::string> deviceIds)
{
    if (!provider)
    {
        logError("Warning! Utility provider is null, cannot reset device pipelines.\n");
        return false;
    }
    const std::string systemId = takeHostText(provider->cloudSystemId());
    const std::string body = resetRequestBody(systemId, provider->serverId(), deviceIds);

    const auto client = makeCloudClient(m_endpoint, provider);
    logError("Resetting configuration of %zu devices. String: %s\n", deviceIds.size(), body.c_str());
    const std::string url = m_endpoint.baseUrl + "/reset/" + systemId;
    const bool requestMade = client->doPost(vy::Url(url), "application/json", vy::BasicBuffer(body));
    if (!isSuccessful(*client, requestMade, url, "Failed to configure devices! Endpoint:"))
        return false;

    const auto answerBody = client->fetchEntireMessageBody();
    if (!answerBody)
    {
        logFailureReason(*client, url);
        return false;
    }
    const JsonDocument answer = readJsonDocument(answerBody->view());
    yyjson_val* devices = yyjson_obj_get(yyjson_doc_get_root(answer.get()), "Devices");
    // Nothing asked, nothing to patch: the cloud's acceptance is the whole reset.
    if (!yyjson_is_obj(devices))
        return deviceIds.empty();

    bool allPatched = true;
    std::size_t index = 0;
    std::size_t count = 0;
    yyjson_val* key = nullptr;
    yyjson_val* configuration = nullptr;
    yyjson_obj_foreach(devices, index, count, key, configuration)
    {
        // Whole, NUL included: cut at a NUL, another id could pass for one asked about.
        const std::string deviceId(yyjson_get_str(key), yyjson_get_len(key));
        // The id becomes part of a host REST path: only ids we asked about are trusted.
        if (std::find(deviceIds.begin(), deviceIds.end(), deviceId) == deviceIds.end())
        {
            logError("Warning! Cloud reset answered for device %s, which was not asked for. Ignoring.\n",
                deviceId.c_str());
            continue;
        }
        yyjson_mut_val* vyAI = nullptr;
        const std::string parameters = jsonDocumentToString(newParametersEnvelope(configuration, &vyAI));
        logInfo("Patching parameters to device: %s : %s\n", deviceId.c_str(), parameters.c_str());
        allPatched = !patchDeviceParameters(provider, parameters, deviceId).empty() && allPatched;
    }
    return allPatched;
}

} // namespace vyai
