#pragma once

#include <functional>
#include <string>
#include <vector>

#include <vy/sdk/analytics/i_device_agent.h>
#include <vy/sdk/helpers/ref_countable.h>

#include "host/frame_truth.h"
#include "host/json_line.h"
#include "host/packet_counts.h"

namespace vyhost {

// The host's receiver of one camera's metadata and manifests: prints each as one line.
// Called on the plug-in's threads; never calls back into the device agent.
class DeviceAgentHandler:
    public vy::sdk::RefCountable<vy::sdk::analytics::IDeviceAgent::IHostHandler>
{
public:
    /** Called with the items of each "objects" packet, on the plug-in's thread. */
    using ObjectsObserver =
        std::function<void(const std::string& camera, int64_t timestampUs, std::vector<ReturnedObject>)>;

    /** out and counts must outlive the handler. */
    DeviceAgentHandler(std::string camera, OutputStream& out, PacketCounts& counts,
        ObjectsObserver observer = {});

    void handleMetadata(vy::sdk::analytics::IMetadataPacket* metadataPacket) override;
    void handleDiagnosticEvent(vy::sdk::IRefCountable* event) override;
    void pushManifest(const vy::sdk::IString* manifest) override;

private:
    const std::string m_camera;
    OutputStream& m_out;
    PacketCounts& m_counts;
    const ObjectsObserver m_observer;
};

} // namespace vyhost
