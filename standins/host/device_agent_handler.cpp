#include "host/device_agent_handler.h"

#include "host/metadata_json.h"
#include "host/sdk_results.h"

namespace vyhost {

DeviceAgentHandler::DeviceAgentHandler(
    std::string camera, OutputStream& out, PacketCounts& counts, ObjectsObserver observer)
    :
    m_camera(std::move(camera)), m_out(out), m_counts(counts), m_observer(std::move(observer))
{
}

void DeviceAgentHandler::handleMetadata(vy::sdk::analytics::IMetadataPacket* metadataPacket)
{
    if (!metadataPacket)
    {
        m_out.log("camera " + m_camera + ": the plug-in handed over a null metadata packet");
        return;
    }
    const PacketKind kind = packetKind(metadataPacket);
    m_counts.count(kind);
    if (const auto line = metadataPacketLine(metadataPacket, kind, m_camera))
    {
        m_out.write(*line);
        if (kind == PacketKind::objects && m_observer)
            m_observer(m_camera, metadataPacket->timestampUs(), returnedObjects(*line));
    }
    else
        m_out.log("camera " + m_camera + ": metadata packet of unknown kind");
}

void DeviceAgentHandler::handleDiagnosticEvent(vy::sdk::IRefCountable* /*event*/)
{
    m_out.log("camera " + m_camera + ": unexpected diagnostic event");
}

void DeviceAgentHandler::pushManifest(const vy::sdk::IString* manifest)
{
    ++m_counts.manifests;
    JsonLine line("deviceManifest");
    line.addString("camera", m_camera);
    line.addJsonText("manifest", textOf(manifest));
    m_out.write(line);
}

} // namespace vyhost
