#pragma once

#include <memory>
#include <string>
#include <vector>

#include <vy/sdk/analytics/i_metadata_packet.h>

#include "host/frame_truth.h"
#include "host/json_line.h"

namespace vyhost {

enum class PacketKind
{
    objects,
    events,
    bestShot,
    unknown,
};

/** The packet's kind, asked as the host asks: by the newest interface of each kind. */
PacketKind packetKind(const vy::sdk::analytics::IMetadataPacket* packet);

/**
 * The output line of one metadata packet, read through its interfaces as the host reads it:
 * "objects" and "events" with their items, "bestShot" with its track and box; every line
 * with "camera" and "timestampUs". kind is packetKind(packet); null for an unknown kind.
 */
std::unique_ptr<JsonLine> metadataPacketLine(const vy::sdk::analytics::IMetadataPacket* packet,
    PacketKind kind, const std::string& camera);

/** The items of an "objects" line as metadataPacketLine() wrote them. */
std::vector<ReturnedObject> returnedObjects(const JsonLine& objectsLine);

} // namespace vyhost
