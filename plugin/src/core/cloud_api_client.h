#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "core/host_rest_client.h"

namespace vyai {

// The site's link to the cloud. Only `connected` lets frames through; the settings model
// shows a banner for each of the states from `checking` to `registrationFailed`.
enum class CloudConnectionState: uint32_t
{
    notChecked = 0,
    checking = 1,
    notConnected = 2, //< the host has no cloud token
    registering = 3,
    registrationFailed = 4,
    connected = 5,
};

// One pipeline the cloud offers a device.
struct AvailablePipeline
{
    // {"parameters": {"vyAI": the offer without "name" and "uuid", plus "selectedPipeline"}},
    // compact: the body of the device PATCH that selects this pipeline.
    std::string parametersJson;
    std::string name; //< empty when the offer has none
    std::string uuid; //< empty when the offer has none
};

// Client of the cloud pipeline service and keeper of the site's cloud connection state.
// Each request uses a client of its own; the calls may run on different threads at once.
class CloudApiClient
{
public:
    // Where the service is and the time limits of its requests.
    struct Endpoint
    {
        std::string baseUrl; //< request paths are appended to it
        std::chrono::milliseconds timeout; //< connect and idle limit of each request
    };
    // The ini options CloudAPI and HTTPRequestTimeout (seconds).
    static Endpoint endpointFromIni();

    explicit CloudApiClient(Endpoint endpoint = endpointFromIni());

    // Readable from any thread.
    CloudConnectionState cloudConnectionState() const { return m_cloudConnectionState.load(); }

    // Connected when the host holds a cloud token. Only the runtime manager loop calls it.
    void isCloudConnected(UtilityProviderPtr provider);

    // The pipelines the cloud offers the device, in the cloud's order; empty on any failure.
    std::vector<AvailablePipeline> fetchAvailablePipelines(UtilityProviderPtr provider, const std::string& deviceId);

    // Asks the cloud to configure the devices afresh and patches each device's new "vyAI"
    // value into the host. Only devices named in `deviceIds` are patched.
    void resetDevices(UtilityProviderPtr provider, std::vector<std::string> deviceIds);

private:
    const Endpoint m_endpoint;
    std::atomic<CloudConnectionState> m_cloudConnectionState{CloudConnectionState::notChecked};
};

} // namespace vyai
