#include "core/host_rest_client.h"

#include <atomic>
#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <string_view>

#include <vy/network/http/status_line.h>

#include "core/vyai_completion_handler.h"
#include "foundations/json_helpers.h"
#include "foundations/log.h"
#include "settings/json_document.h"

namespace vyai {

namespace {

constexpr int32_t kHostRestDomain = vy::sdk::IUtilityProvider4::kHostRestDomain;

// Serialises every request of the process, held while the host answers.
std::mutex requestMutex;

std::atomic<std::chrono::milliseconds::rep> answerTimeoutMs{kDefaultHostAnswerTimeout.count()};

// The answer's text, or empty on failure (logged as "Http request failed").
std::string resultToText(VYAICompletionHandler& handler)
{
    const auto timeout = hostAnswerTimeout();
    const auto result = handler.waitForResult(timeout);
    if (!result)
    {
        logError("Http request failed: %s\n",
            ("No answer from the host within " + std::to_string(timeout.count()) + " ms").c_str());
        return {};
    }

    const vy::sdk::Error& error = result->error();
    std::string text;
    std::optional<std::string> failure;
    if (error.errorCode() != vy::sdk::ErrorCode::noError || error.errorMessage())
        failure = error.errorMessage() ? error.errorMessage()->str() : "";
    else if (!result->value())
        failure = "Result has no value.";
    else
    {
        const char* answer = result->value()->str();
        const std::size_t length = answer ? std::strlen(answer) : 0;
        if (length > kMaxHostAnswerBytes)
        {
            failure = "the host's answer of " + std::to_string(length) + " bytes is above the bound of "
                + std::to_string(kMaxHostAnswerBytes) + " bytes";
        }
        else if (answer)
        {
            text.assign(answer, length);
        }
    }
    releaseResultStrings(*result);

    if (failure)
        logError("Http request failed: %s\n", failure->c_str());
    return text;
}

struct AnswerParts
{
    bool hasHeaderPart = false;
    std::string_view firstLine;
    std::string_view bodyLine; //< the whole answer when it has no header part
};

// Splits at "\n" like a line reader: the header part ends at the first empty (or "\r")
// line, and the body is the one line after it.
AnswerParts splitAnswer(std::string_view answer)
{
    AnswerParts parts;
    parts.bodyLine = answer;
    bool first = true;
    for (std::size_t position = 0; position < answer.size();)
    {
        const std::size_t end = answer.find('\n', position);
        const std::string_view line = answer.substr(position, end == std::string_view::npos ? end : end - position);
        if (first)
            parts.firstLine = line;
        first = false;
        if (line.empty() || line == "\r")
        {
            parts.hasHeaderPart = true;
            // A text that ends on the empty line has no body line.
            const std::string_view rest = end == std::string_view::npos ? std::string_view() : answer.substr(end + 1);
            parts.bodyLine = rest.substr(0, rest.find('\n'));
            return parts;
        }
        if (end == std::string_view::npos)
            break;
        position = end + 1;
    }
    return parts;
}

// The device's "parameters" -> "vyAI" value; null (with a log line) when it has none.
yyjson_val* deviceVyAI(yyjson_val* device, const char* id)
{
    yyjson_val* parameters = yyjson_obj_get(device, "parameters");
    yyjson_val* vyAI = yyjson_is_obj(parameters) ? yyjson_obj_get(parameters, "vyAI") : nullptr;
    if (!vyAI)
        logInfo("Device %s not activated yet. Ignoring.\n", id);
    return vyAI;
}

// The devices of this server, in order, whose "vyAI" value `wanted` accepts; none when the
// host did not answer with a list, so that a caller does not take it for no devices.
std::optional<std::vector<std::string>> listDevices(UtilityProviderPtr provider,
    const std::function<bool(yyjson_val* vyAI, const char* id)>& wanted)
{
    // A failed request leaves an empty text, which is no JSON either.
    const JsonDocument doc = readJsonDocument(getDevicesParameters(std::move(provider)));
    yyjson_val* devices = yyjson_doc_get_root(doc.get());
    if (!yyjson_is_arr(devices))
    {
        logError("Warning! Could not patch default device parameters.\n");
        return std::nullopt;
    }

    std::vector<std::string> ids;
    std::size_t index = 0;
    std::size_t count = 0;
    yyjson_val* device = nullptr;
    yyjson_arr_foreach(devices, index, count, device)
    {
        // A device without a text id cannot be named in a request: skipped.
        const char* id = yyjson_get_str(yyjson_obj_get(device, "id"));
        if (!id)
            continue;
        yyjson_val* vyAI = deviceVyAI(device, id);
        if (vyAI && wanted(vyAI, id))
            ids.emplace_back(id);
    }
    return ids;
}

} // namespace

std::chrono::milliseconds hostAnswerTimeout()
{
    return std::chrono::milliseconds(answerTimeoutMs.load());
}

void setHostAnswerTimeout(std::chrono::milliseconds timeout)
{
    answerTimeoutMs = timeout.count();
}

std::string doRequest(const char* path, const char* method, const char* mimeType, const char* body,
    UtilityProviderPtr provider)
{
    return requestBody(path, method, mimeType, body, std::move(provider)).value_or(std::string());
}

std::optional<std::string> requestBody(const char* path, const char* method, const char* mimeType,
    const char* body, UtilityProviderPtr provider)
{
    if (!provider)
    {
        logError("Warning! doRequest called with invalid utility provider.\n");
        return std::nullopt;
    }

    std::string answer;
    {
        std::lock_guard lock(requestMutex);
        const auto handler = vy::sdk::newRefCounted<VYAICompletionHandler>();
        {
            // A reference for the duration of the call; the host takes its own to keep it.
            const auto lent = handler;
            provider->httpRequest(kHostRestDomain, path, method, mimeType, body, lent.get());
        }
        answer = resultToText(*handler);
    }
    if (answer.empty())
    {
        logError("Warning! Could not get response from API.\n");
        return std::nullopt;
    }

    const AnswerParts parts = splitAnswer(answer);
    // A head that names HTTP must carry a success status: one that cannot be read is none.
    if (parts.hasHeaderPart && parts.firstLine.starts_with("HTTP/"))
    {
        const auto statusLine = vy::network::http::StatusLine::parse(parts.firstLine);
        if (!statusLine || !statusLine->isSuccess())
        {
            logError("Http request failed: %s\n",
                statusLine ? statusLine->toString().c_str() : "the status line cannot be read");
            return std::nullopt;
        }
    }
    return std::string(parts.bodyLine);
}

JsonDocument getServerParameters(UtilityProviderPtr provider)
{
    // An empty text (a failed request) is no JSON either.
    return readJsonDocument(doRequest("/rest/v4/servers/this", "GET", "", "", std::move(provider)));
}

std::string getDevicesParameters(UtilityProviderPtr provider)
{
    if (!provider)
    {
        logError("Warning! getDevicesParameters called with invalid utility provider.\n");
        return {};
    }
    const char* serverId = provider->serverId();
    const std::string path = std::string("/rest/v4/devices?serverId=") + (serverId ? serverId : "");
    return doRequest(path.c_str(), "GET", "", "", std::move(provider));
}

std::string getDeviceParameters(UtilityProviderPtr provider, const std::string& deviceId)
{
    const std::string path = "/rest/v4/devices/" + deviceId;
    return doRequest(path.c_str(), "GET", "", "", std::move(provider));
}

std::string patchDeviceParameters(UtilityProviderPtr provider, const std::string& body, const std::string& deviceId)
{
    const std::string path = "/rest/v4/devices/" + deviceId;
    return doRequest(path.c_str(), "PATCH", "application/json", body.c_str(), std::move(provider));
}

bool patchServerParameters(UtilityProviderPtr provider, const std::string& body)
{
    // A host may accept a PATCH without sending the record back (204): that is no failure.
    return requestBody("/rest/v4/servers/this", "PATCH", "application/json", body.c_str(), std::move(provider))
        .has_value();
}

void addRuntimeInformation(yyjson_mut_doc* doc, yyjson_mut_val* vyAI, const std::string& name,
    const std::string& mimetype)
{
    yyjson_mut_val* list = yyjson_mut_obj_add_arr(doc, vyAI, "runtimeInformation");
    yyjson_mut_val* runtime = yyjson_mut_obj(doc);
    if (!list || !runtime)
        return;
    yyjson_mut_val* mimetypes = yyjson_mut_obj_add_arr(doc, runtime, "mimetypes");
    yyjson_mut_arr_add_strncpy(doc, mimetypes, mimetype.data(), mimetype.size());
    yyjson_mut_obj_add_strncpy(doc, runtime, "name", name.data(), name.size());
    yyjson_mut_arr_append(list, runtime);
}

bool updateRuntimeInformation(UtilityProviderPtr provider, const std::string& name, const std::string& mimetype)
{
    const ParametersDocument parameters = makeParametersDocument();
    if (!parameters.doc)
        return false;
    addRuntimeInformation(parameters.doc, parameters.vyAI, name, mimetype);
    return patchServerParameters(std::move(provider), jsonDocumentToString(parameters.doc));
}

std::optional<std::vector<std::string>> listConfiguredDevices(UtilityProviderPtr provider)
{
    return listDevices(std::move(provider), [](yyjson_val* vyAI, const char* id) {
        if (yyjson_obj_get(vyAI, "models") || yyjson_obj_get(vyAI, "pipelines"))
            return true;
        logInfo("Device %s has no configuration. Ignoring.\n", id);
        return false;
    });
}

std::optional<std::vector<std::string>> listUnconfiguredDevices(UtilityProviderPtr provider)
{
    return listDevices(std::move(provider), [](yyjson_val* vyAI, const char* id) {
        if (yyjson_obj_get(vyAI, "models") && yyjson_obj_get(vyAI, "pipelines"))
        {
            logInfo("Device %s has configuration. Ignoring.\n", id);
            return false;
        }
        return true;
    });
}

} // namespace vyai
