#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <yyjson.h>

#include <vy/sdk/i_utility_provider.h>
#include <vy/sdk/ptr.h>

#include "foundations/json_helpers.h"

// The client of the host's own REST interface, reached through the utility provider. Every
// request blocks its thread until the host has answered; all requests of the process are
// serialised by one mutex (held while waiting for the answer, innermost apart from the log).
// Every value the plug-in writes travels in the envelope {"parameters": {"vyAI": {...}}}.

namespace vyai {

using UtilityProviderPtr = vy::sdk::Ptr<vy::sdk::IUtilityProvider4>;

// How long a request waits for the host's answer before it counts as failed. The host
// normally answers every request; the bound keeps a lost answer from stalling the plug-in
// (and its shut-down) for good.
inline constexpr std::chrono::milliseconds kDefaultHostAnswerTimeout{30'000};
std::chrono::milliseconds hostAnswerTimeout();
void setHostAnswerTimeout(std::chrono::milliseconds timeout);

// Answers longer than this are refused as failed requests: the plug-in's records in the host
// are a few KiB each, and nothing of this size is parsed or copied.
inline constexpr std::size_t kMaxHostAnswerBytes = std::size_t{16} << 20;

// Sends one request to the host's REST interface and returns the first line of the answer's
// body (the host answers compact one-line JSON). Empty on every failure: no provider, an
// error or an empty result from the host, no answer in time, an answer above the bound, or a
// status other than 2xx.
std::string doRequest(const char* path, const char* method, const char* mimeType, const char* body,
    UtilityProviderPtr provider);
// doRequest that tells a failure (none) from a successful answer without a body (empty).
std::optional<std::string> requestBody(const char* path, const char* method, const char* mimeType,
    const char* body, UtilityProviderPtr provider);

// GET /rest/v4/servers/this parsed as JSON; null when the request failed or the answer is
// not JSON.
JsonDocument getServerParameters(UtilityProviderPtr provider);
// GET /rest/v4/devices?serverId=<this server>: a JSON array of this server's devices.
std::string getDevicesParameters(UtilityProviderPtr provider);
// GET /rest/v4/devices/<id>: one device object.
std::string getDeviceParameters(UtilityProviderPtr provider, const std::string& deviceId);
// PATCH with a "parameters" envelope; the answer is the updated record.
std::string patchDeviceParameters(UtilityProviderPtr provider, const std::string& body, const std::string& deviceId);
// PATCH of the server's record; true when the host accepted it, whether or not it answered
// with a body.
bool patchServerParameters(UtilityProviderPtr provider, const std::string& body);

// Adds "runtimeInformation": [{"mimetypes": [mimetype], "name": name}] to the server's
// "vyAI" object being built in `doc`.
void addRuntimeInformation(yyjson_mut_doc* doc, yyjson_mut_val* vyAI, const std::string& name,
    const std::string& mimetype);
// Patches the runtime information into the server's parameters; false when the host refused.
bool updateRuntimeInformation(UtilityProviderPtr provider, const std::string& name, const std::string& mimetype);

// Ids of this server's devices whose "vyAI" holds "models" or "pipelines", in the host's order;
// none when the host's list could not be read (an empty list: no such device).
std::optional<std::vector<std::string>> listConfiguredDevices(UtilityProviderPtr provider);
// Ids of this server's devices whose "vyAI" lacks "models" or "pipelines", in the host's order;
// none when the host's list could not be read.
std::optional<std::vector<std::string>> listUnconfiguredDevices(UtilityProviderPtr provider);

} // namespace vyai
