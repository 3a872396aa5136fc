#include "inference/messages/objects_message.h"

#include <vy/sdk/helpers/attribute.h>
#include <vy/sdk/helpers/uuid.h>

#include "foundations/log.h"
#include "foundations/text_helpers.h"
#include "inference/messages/image_message.h"
#include "inference/messages/message_reader.h"

namespace vyai {

namespace {

using vy::sdk::UuidFormatOptions;

void writeObject(MessageWriter& writer, const VyAIObject_t& object)
{
    writer.map(7);
    writer.str("ID");
    writer.str(vy::sdk::uuidToString(object.id, UuidFormatOptions::hyphens));
    const char* const boxKeys[] = {"x", "y", "width", "height"};
    for (size_t i = 0; i < 4; ++i)
    {
        writer.str(boxKeys[i]);
        writer.real(object.box[i]);
    }
    writer.str("confidence");
    writer.real(object.confidence);
    writer.str("attributes");
    writer.map(static_cast<uint32_t>(object.attributes.size()));
    for (const auto& attribute: object.attributes)
    {
        writer.str(attribute->name());
        writer.str(attribute->value());
    }
}

void writeTensors(MessageWriter& writer, const TensorSet_t& outputs)
{
    const std::span<const Tensor_t> tensors(outputs.tensors, outputs.count > 0 ? outputs.count : 0);
    writer.array(static_cast<uint32_t>(tensors.size()));
    for (const Tensor_t& tensor: tensors)
    {
        writer.map(4);
        writer.str("Name");
        writer.str(tensor.name ? tensor.name : "");
        writer.str("DataType");
        writer.integer(tensor.type);
        writer.str("Shape");
        writer.array(static_cast<uint32_t>(tensor.rank));
        for (int32_t i = 0; i < tensor.rank; ++i)
            writer.integer(tensor.shape[i]); // non-negative dimensions come out as uint
        writer.str("Data");
        writer.bin({static_cast<const uint8_t*>(tensor.data), tensor.data ? tensor.size : 0});
    }
}

std::optional<std::string> optionalStr(MessageReader& reader, MessageReader::Node map, const char* key)
{
    MessageReader::Node node = reader.find(map, key);
    if (!node)
        return std::nullopt;
    return std::string(reader.str(node));
}

std::array<float, 4> readBox(MessageReader& reader, MessageReader::Node map)
{
    return {static_cast<float>(reader.number(reader.require(map, "x"))),
        static_cast<float>(reader.number(reader.require(map, "y"))),
        static_cast<float>(reader.number(reader.require(map, "width"))),
        static_cast<float>(reader.number(reader.require(map, "height")))};
}

void readObjects(MessageReader& reader, MessageReader::Node objects, ObjectsReply_t& reply)
{
    for (const msgpack_object_kv& byClass: reader.mapEntries(objects))
    {
        if (!MessageReader::isStr(&byClass.key))
        {
            logError("Warning! Class key is not a string. Skipping.\n");
            continue;
        }
        const std::string className(reader.str(&byClass.key));
        for (const msgpack_object& item: reader.arrayItems(&byClass.val))
        {
            reader.clearError();
            ObjectsReplyEntry_t entry;
            entry.className = className;
            entry.id = optionalStr(reader, &item, "ID");
            entry.newId = optionalStr(reader, &item, "NewID");
            entry.box = readBox(reader, &item);
            entry.confidence = static_cast<float>(reader.number(reader.require(&item, "confidence")));
            if (MessageReader::Node skip = reader.find(&item, "skipFeatureExtraction"))
                entry.skipFeatureExtraction = reader.boolean(skip);
            MessageReader::Node attributes = reader.require(&item, "attributes");
            if (reader.failed())
            {
                logError("Warning! Object of class %s lacks a required field. Ignoring.\n", className.c_str());
                continue;
            }
            if (!MessageReader::isNil(attributes))
                for (const msgpack_object_kv& attribute: reader.mapEntries(attributes))
                {
                    if (!MessageReader::isStr(&attribute.key) || !MessageReader::isStr(&attribute.val))
                    {
                        logError("Warning! Failed to read attribute strings. Skipping.\n");
                        continue;
                    }
                    entry.attributes.emplace_back(reader.str(&attribute.key), reader.str(&attribute.val));
                }
            reply.objects.push_back(std::move(entry));
        }
    }
}

void readEvents(MessageReader& reader, MessageReader::Node events, ObjectsReply_t& reply)
{
    for (const msgpack_object& item: reader.arrayItems(events))
    {
        MessageReader::Node id = reader.find(&item, "ID");
        MessageReader::Node description = reader.find(&item, "Description");
        if (!MessageReader::isStr(id) || !MessageReader::isStr(description))
        {
            logError("Warning! Event missing required string fields. Skipping.\n");
            continue;
        }
        reply.events.push_back({std::string(reader.str(id)), std::string(reader.str(description))});
    }
}

void readBestShots(MessageReader& reader, MessageReader::Node bestShots, ObjectsReply_t& reply)
{
    for (const msgpack_object& item: reader.arrayItems(bestShots))
    {
        MessageReader::Node trackId = reader.find(&item, "TrackId");
        if (!MessageReader::isStr(trackId))
        {
            logError("Warning! BestShots entry missing or invalid TrackId. Skipping.\n");
            continue;
        }
        reader.clearError();
        ObjectsReplyBestShot_t shot{vy::sdk::uuidFromString(std::string(reader.str(trackId))), std::nullopt};
        MessageReader::Node box = reader.find(&item, "BoundingBox");
        if (box && !MessageReader::isNil(box))
        {
            shot.box = readBox(reader, box);
            if (reader.failed())
            {
                logError("Warning! BestShots entry has an invalid BoundingBox. Skipping.\n");
                continue;
            }
        }
        reply.bestShots.push_back(shot);
    }
}

void readSection(MessageReader& reader, const char* key, bool required,
    void (*read)(MessageReader&, MessageReader::Node, ObjectsReply_t&), ObjectsReply_t& reply)
{
    MessageReader::Node node = reader.find(reader.root(), key);
    if (!node || MessageReader::isNil(node))
    {
        if (!node && required)
            logError("Warning! Response of objects postprocessor lacks \"%s\".\n", key);
        return;
    }
    reader.clearError();
    read(reader, node, reply);
    if (reader.failed())
        logError("Warning! Response of objects postprocessor has an invalid \"%s\".\n", key);
}

// A processor may send back what it received: an attribute of a name the object already
// holds replaces it, so the list cannot grow from frame to frame.
void setAttribute(VyAIObject_t& object, const std::string& name, const std::string& value)
{
    auto attribute = vy::sdk::newRefCounted<vy::sdk::Attribute>(name, value, 1.0f);
    for (auto& held: object.attributes)
    {
        if (held && name == held->name())
        {
            held = std::move(attribute);
            return;
        }
    }
    object.attributes.push_back(std::move(attribute));
}

void updateObject(VyAIObject_t& object, const ObjectsReplyEntry_t& entry)
{
    object.box = entry.box;
    object.confidence = entry.confidence;
    object.skipFeatureExtraction = entry.skipFeatureExtraction;
    for (const auto& [name, value]: entry.attributes)
        setAttribute(object, name, value);
}

vy::sdk::Uuid uuidOrRandom(const std::string& text)
{
    const vy::sdk::Uuid uuid = vy::sdk::uuidFromString(text);
    return uuid.isNull() ? vy::sdk::randomUuid() : uuid;
}

} // namespace

std::optional<MessageBuffer> serializeObjectsRequest(const InferenceInput_t& input, const ObjectsByClass& objects,
    const std::vector<ObjectsEvent_t>& events, const ExternalPostprocessor_t& declaration,
    const TensorSet_t* outputs)
{
    static const std::map<std::string, std::string> kNoSettings;
    const auto& settings = input.stage ? input.stage->postprocessorSettings : kNoSettings;
    const bool withImage = declaration.ReceiveInputImage && input.frame;
    const bool withTensors = declaration.ReceiveBinaryData && outputs;
    MessageWriter writer;
    writer.map(5 + (input.object ? 1 : 0) + (settings.empty() ? 0 : 1) + (withImage ? 1 : 0) + (withTensors ? 1 : 0));
    writer.str("Timestamp");
    writer.integer(static_cast<int64_t>(input.timestamp));
    writer.str("DeviceID");
    writer.str(input.device ? input.device->id : "");
    writer.str("DeviceName");
    writer.str(input.device ? input.device->name : "");
    writer.str("Objects");
    writer.map(static_cast<uint32_t>(objects.size()));
    for (const auto& [className, list]: objects)
    {
        logInfo("Writing class %s with length %zu to postprocessor...\n", className.c_str(), list.size());
        writer.str(className);
        writer.array(static_cast<uint32_t>(list.size()));
        for (const auto& object: list)
            writeObject(writer, *object);
    }
    writer.str("Events");
    writer.array(static_cast<uint32_t>(events.size()));
    for (const ObjectsEvent_t& event: events)
    {
        writer.map(2);
        writer.str("ID");
        writer.str(event.typeId);
        writer.str("Description");
        writer.str(event.description);
    }
    if (input.object)
    {
        writer.str("OriginalObjectID");
        writer.str(vy::sdk::uuidToString(input.object->id, UuidFormatOptions::hyphens));
    }
    if (!settings.empty())
    {
        writer.str("UserSettings");
        writer.textMap(settings);
    }
    if (withImage)
    {
        writer.str("ImageData");
        writeImageData(writer, static_cast<uint64_t>(input.frame->height()), static_cast<uint64_t>(input.frame->width()),
            input.frame->layout(), input.frame->pixels());
    }
    if (withTensors)
    {
        writer.str("Tensors");
        writeTensors(writer, *outputs);
    }
    return writer.finish("Error: Failed to serialize objects for postprocessor\n");
}

std::optional<ObjectsReply_t> deserializeObjectsResponse(const uint8_t* data, size_t length)
{
    MessageReader reader;
    if (!reader.parse(data, length) || !MessageReader::isMap(reader.root()))
    {
        logError("Error: failed to parse incoming msgpack response\n");
        return std::nullopt;
    }
    ObjectsReply_t reply;
    readSection(reader, "Objects", true, &readObjects, reply);
    readSection(reader, "Events", true, &readEvents, reply);
    readSection(reader, "BestShots", false, &readBestShots, reply);
    return reply;
}

ObjectsByClass applyObjectsReply(const ObjectsReply_t& reply, const ObjectsByClass& deviceObjects, int64_t timestamp)
{
    ObjectsByClass result;
    for (const ObjectsReplyEntry_t& entry: reply.objects)
    {
        std::shared_ptr<VyAIObject_t> object;
        if (entry.id)
        {
            const vy::sdk::Uuid id = vy::sdk::uuidFromString(*entry.id);
            const auto known = deviceObjects.find(entry.className);
            if (known != deviceObjects.end())
                for (const auto& candidate: known->second)
                    if (candidate->id == id)
                        object = candidate;
            if (!object)
            {
                logError("Warning! Could not find object ID: %s in class %s. Ignoring.\n", entry.id->c_str(),
                    entry.className.c_str());
                continue;
            }
            if (entry.newId)
                object->id = uuidOrRandom(*entry.newId);
        }
        else if (entry.newId)
        {
            object = std::make_shared<VyAIObject_t>();
            object->id = uuidOrRandom(*entry.newId);
            object->typeId = "vy.vyai." + sanitizeIdentifier(entry.className);
            object->firstSeen = timestamp;
            object->lastSeen = timestamp;
        }
        else
        {
            logError("Warning! Object returned without ID or NewID. Ignoring.\n");
            continue;
        }
        updateObject(*object, entry);
        result[entry.className].push_back(std::move(object));
    }
    return result;
}

} // namespace vyai
