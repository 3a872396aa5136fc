#include "host/metadata_json.h"

#include <cstdio>
#include <cstdlib>

#include <vy/sdk/analytics/i_event_metadata.h>
#include <vy/sdk/analytics/i_event_metadata_packet.h>
#include <vy/sdk/analytics/i_object_metadata.h>
#include <vy/sdk/analytics/i_object_metadata_packet.h>
#include <vy/sdk/analytics/i_object_track_best_shot_packet.h>
#include <vy/sdk/helpers/uuid.h>
#include <vy/sdk/ptr.h>

namespace vyhost {

using namespace vy::sdk::analytics;
using vy::sdk::queryInterface;
using vy::sdk::toPtr;

namespace {

// A float as JSON shows it best: 0.9f prints as 0.9, not as its double expansion.
double jsonNumber(float value)
{
    char text[32];
    std::snprintf(text, sizeof(text), "%.7g", value);
    return std::strtod(text, nullptr);
}

const char* text(const char* value)
{
    return value ? value : "";
}

void addFloat(yyjson_mut_doc* doc, yyjson_mut_val* object, const char* key, float value)
{
    yyjson_mut_obj_add_real(doc, object, key, jsonNumber(value));
}

void addTrackId(yyjson_mut_doc* doc, yyjson_mut_val* object, const vy::sdk::Uuid& trackId)
{
    yyjson_mut_obj_add_strcpy(doc, object, "trackId",
        vy::sdk::uuidToString(trackId, vy::sdk::UuidFormatOptions::hyphens).c_str());
}

void addBox(yyjson_mut_doc* doc, yyjson_mut_val* object, const BoundingBox& box)
{
    yyjson_mut_val* value = yyjson_mut_obj_add_obj(doc, object, "box");
    addFloat(doc, value, "x", box.x);
    addFloat(doc, value, "y", box.y);
    addFloat(doc, value, "width", box.width);
    addFloat(doc, value, "height", box.height);
}

/** Reads attributes through an item or a best shot, which list them the same way. */
template<class Holder>
void addAttributes(yyjson_mut_doc* doc, yyjson_mut_val* object, const Holder& holder)
{
    yyjson_mut_val* list = yyjson_mut_obj_add_arr(doc, object, "attributes");
    const int32_t count = holder.attributeCount();
    for (int32_t i = 0; i < count; ++i)
    {
        const auto attribute = toPtr(holder.attribute(i));
        if (!attribute)
            continue;
        yyjson_mut_val* value = yyjson_mut_arr_add_obj(doc, list);
        yyjson_mut_obj_add_strcpy(doc, value, "name", text(attribute->name()));
        yyjson_mut_obj_add_strcpy(doc, value, "value", text(attribute->value()));
        addFloat(doc, value, "confidence", attribute->confidence());
    }
}

/** Objects, best shots and the newest events all give a track id and a box. */
template<class Holder>
void addTrackIdAndBox(yyjson_mut_doc* doc, yyjson_mut_val* object, const Holder& holder)
{
    vy::sdk::Uuid trackId;
    holder.getTrackId(&trackId);
    addTrackId(doc, object, trackId);
    BoundingBox box;
    holder.getBoundingBox(&box);
    addBox(doc, object, box);
}

void addEventItem(yyjson_mut_doc* doc, yyjson_mut_val* item, const IMetadata& metadata)
{
    if (const auto event = queryInterface<IEventMetadata0>(&metadata))
    {
        yyjson_mut_obj_add_strcpy(doc, item, "caption", text(event->caption()));
        yyjson_mut_obj_add_strcpy(doc, item, "description", text(event->description()));
        yyjson_mut_obj_add_bool(doc, item, "isActive", event->isActive());
    }
    if (const auto event = queryInterface<IEventMetadata>(&metadata))
        addTrackIdAndBox(doc, item, *event);
}

void addItems(JsonLine& line, const ICompoundMetadataPacket& packet, PacketKind kind)
{
    yyjson_mut_doc* doc = line.doc();
    yyjson_mut_obj_add_int(doc, line.root(), "durationUs", packet.durationUs());
    yyjson_mut_val* items = yyjson_mut_obj_add_arr(doc, line.root(), "items");
    const int32_t count = packet.count();
    for (int32_t i = 0; i < count; ++i)
    {
        const auto metadata = toPtr(packet.at(i));
        if (!metadata)
            continue;
        yyjson_mut_val* item = yyjson_mut_arr_add_obj(doc, items);
        yyjson_mut_obj_add_strcpy(doc, item, "typeId", text(metadata->typeId()));
        addFloat(doc, item, "confidence", metadata->confidence());
        if (kind == PacketKind::objects)
        {
            if (const auto object = queryInterface<IObjectMetadata>(metadata))
                addTrackIdAndBox(doc, item, *object);
        }
        else
        {
            addEventItem(doc, item, *metadata);
        }
        addAttributes(doc, item, *metadata);
    }
}

void addBestShot(JsonLine& line, const IObjectTrackBestShotPacket0& packet)
{
    addTrackIdAndBox(line.doc(), line.root(), packet);
    if (const auto withAttributes = queryInterface<IObjectTrackBestShotPacket1>(&packet))
        addAttributes(line.doc(), line.root(), *withAttributes);
}

} // namespace

PacketKind packetKind(const IMetadataPacket* packet)
{
    if (queryInterface<IObjectMetadataPacket>(packet))
        return PacketKind::objects;
    if (queryInterface<IEventMetadataPacket>(packet))
        return PacketKind::events;
    if (queryInterface<IObjectTrackBestShotPacket>(packet))
        return PacketKind::bestShot;
    return PacketKind::unknown;
}

std::unique_ptr<JsonLine> metadataPacketLine(
    const IMetadataPacket* packet, PacketKind kind, const std::string& camera)
{
    const char* type = kind == PacketKind::objects ? "objects"
        : kind == PacketKind::events ? "events"
        : kind == PacketKind::bestShot ? "bestShot"
        : nullptr;
    if (!type)
        return nullptr;

    auto line = std::make_unique<JsonLine>(type);
    line->addString("camera", camera);
    yyjson_mut_obj_add_int(line->doc(), line->root(), "timestampUs", packet->timestampUs());
    if (kind == PacketKind::bestShot)
    {
        if (const auto bestShot = queryInterface<IObjectTrackBestShotPacket0>(packet))
            addBestShot(*line, *bestShot);
    }
    else if (const auto compound = queryInterface<ICompoundMetadataPacket>(packet))
    {
        addItems(*line, *compound, kind);
    }
    return line;
}

std::vector<ReturnedObject> returnedObjects(const JsonLine& objectsLine)
{
    const auto string = [](yyjson_mut_val* object, const char* key)
        {
            const char* value = yyjson_mut_get_str(yyjson_mut_obj_get(object, key));
            return std::string(value ? value : "");
        };
    const auto number = [](yyjson_mut_val* object, const char* key)
        { return yyjson_mut_get_num(yyjson_mut_obj_get(object, key)); };

    std::vector<ReturnedObject> objects;
    yyjson_mut_val* items = yyjson_mut_obj_get(objectsLine.root(), "items");
    size_t index = 0;
    size_t count = 0;
    yyjson_mut_val* item = nullptr;
    yyjson_mut_arr_foreach(items, index, count, item)
    {
        yyjson_mut_val* box = yyjson_mut_obj_get(item, "box");
        objects.push_back({string(item, "typeId"), string(item, "trackId"), number(box, "x"),
            number(box, "y"), number(box, "width"), number(box, "height")});
    }
    return objects;
}

} // namespace vyhost
