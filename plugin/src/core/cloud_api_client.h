#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "core/host_rest_client.h"
#include "records/available_pipeline.h"
#include "records/cloud_connection_state.h"

namespace vyai {

// Client of the cloud pipeline service and keeper of the site's cloud connection state.
// Each request uses a client of its own; the calls may run on different threads at once.
class CloudApiClient
{
public:
    // The service's answers are small: a request takes at most this long in all, so that a
    // server sending a byte now and then cannot hold a thread (and a device agent's release).
    static constexpr std::chrono::milliseconds kRequestDeadline{30'000};
    // Answers above this are refused.
    static constexpr std::uint64_t kMaxAnswerBytes = std::uint64_t{4} << 20;

    // Where the service is and the time limits of its requests.
    struct Endpoint
    {
        std::string baseUrl; //< request paths are appended to it
        std::chrono::milliseconds timeout; //< connect and idle limit of each request
        std::chrono::milliseconds deadline = kRequestDeadline; //< for each whole request
    };
    // The ini options CloudAPI and HTTPRequestTimeout (seconds); the deadline is never below
    // twice the idle limit.
    static Endpoint endpointFromIni();

    explicit CloudApiClient(Endpoint endpoint = endpointFromIni());

    // Readable from any thread.
    CloudConnectionState cloudConnectionState() const { return m_cloudConnectionState.load(); }

    // Connected when the host holds a cloud token. Only the runtime manager loop calls it.
    void isCloudConnected(UtilityProviderPtr provider);

    // The pipelines the cloud offers the device, in the cloud's order; empty on any failure.
    // Once `cancelled` (when given) answers true, the request ends within a fraction of a
    // second, without pipelines.
    std::vector<AvailablePipeline> fetchAvailablePipelines(UtilityProviderPtr provider, const std::string& deviceId,
        std::function<bool()> cancelled = {});

    // Asks the cloud to configure the devices afresh and patches each device's new "vyAI"
    // value into the host. Only devices named in `deviceIds` are patched. True when the cloud
    // answered and every device it configured was patched.
    bool resetDevices(UtilityProviderPtr provider, std::vector<std::string> deviceIds);

    // Points the client elsewhere; only before its first request (tests drive an engine's
    // client against a stand-in service this way, the ini being read once per process).
    void useEndpoint(Endpoint endpoint) { m_endpoint = std::move(endpoint); }

private:
    Endpoint m_endpoint;
    std::atomic<CloudConnectionState> m_cloudConnectionState{CloudConnectionState::notChecked};
};

} // namespace vyai
