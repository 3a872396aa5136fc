#include "inference/messages/tensor_message.h"

#include <cstdlib>
#include <cstring>

#include "foundations/log.h"
#include "inference/messages/message_reader.h"

namespace vyai {

namespace {

constexpr size_t kMaxNameBytes = 2047;
constexpr size_t kMaxRank = 16;

// Bytes per element of the codes a reply may carry; 0 for codes whose size is unknown here
// (strings, undefined), which no reply may use.
size_t knownElementSize(int64_t type)
{
    switch (type)
    {
        case TensorDataType_Uint8: case TensorDataType_Int8: case TensorDataType_Bool: return 1;
        case TensorDataType_Uint16: case TensorDataType_Int16: case TensorDataType_Float16: return 2;
        case TensorDataType_Float: case TensorDataType_Int32: case 12: return 4; // 12: uint32
        case TensorDataType_Int64: case 11: case 13: return 8; // 11: double, 13: uint64
        default: return 0;
    }
}

// One reply tensor into *tensor (C heap, so freeTensorSet frees it); false when inconsistent.
bool readTensor(MessageReader& reader, const msgpack_object_kv& entry, const msgpack_object& shape,
    const msgpack_object& type, Tensor_t* tensor)
{
    const std::string_view name = reader.str(&entry.key);
    const std::span<const uint8_t> data = reader.bin(&entry.val);
    const std::span<const msgpack_object> dims = reader.arrayItems(&shape);
    const int64_t typeCode = reader.integer(&type);
    if (reader.failed() || name.size() > kMaxNameBytes || name.find('\0') != std::string_view::npos
        || dims.size() > kMaxRank)
        return false;
    uint64_t elements = 1;
    tensor->shape = static_cast<int32_t*>(calloc(dims.size() ? dims.size() : 1, sizeof(int32_t)));
    tensor->name = strndup(name.data(), name.size());
    if (!tensor->shape || !tensor->name)
        return false;
    for (size_t i = 0; i < dims.size(); ++i)
    {
        const int64_t dim = reader.integer(&dims[i]);
        if (reader.failed() || dim < 0 || dim > INT32_MAX || __builtin_mul_overflow(elements, uint64_t(dim), &elements))
            return false;
        tensor->shape[i] = static_cast<int32_t>(dim);
    }
    tensor->rank = static_cast<int32_t>(dims.size());
    tensor->type = static_cast<int32_t>(typeCode);
    const size_t elementSize = knownElementSize(typeCode);
    uint64_t bytes = 0;
    if (elementSize == 0 || __builtin_mul_overflow(elements, elementSize, &bytes) || bytes != data.size())
        return false;
    tensor->size = data.size();
    if (!data.empty())
    {
        tensor->data = malloc(data.size());
        if (!tensor->data)
            return false;
        memcpy(tensor->data, data.data(), data.size());
    }
    return true;
}

} // namespace

TensorRequest::TensorRequest(uint64_t timestamp, const DeviceAgentDetails_t& device, const TensorSet_t& tensors,
    const std::map<std::string, std::string>& userSettings):
    m_timestamp(timestamp), m_device(device), m_tensors(tensors), m_userSettings(userSettings)
{
    MessageWriter counter{MessageWriter::Counting{}};
    write(counter);
    if (counter.failed())
        logError("Error: Failed to serialize objects for postprocessor\n");
    else
        m_size = counter.size();
}

bool TensorRequest::writeInto(std::span<uint8_t> target) const
{
    if (!m_size || target.size() != *m_size)
        return false;
    MessageWriter writer(target);
    write(writer);
    return !writer.failed() && writer.size() == target.size();
}

void TensorRequest::write(MessageWriter& writer) const
{
    const auto count = static_cast<uint32_t>(m_tensors.count > 0 ? m_tensors.count : 0);
    const std::span<const Tensor_t> all(m_tensors.tensors, count);
    writer.map(m_userSettings.empty() ? 6 : 7);
    writer.str("Timestamp");
    writer.integer(static_cast<int64_t>(m_timestamp));
    writer.str("DeviceID");
    writer.str(m_device.id);
    writer.str("DeviceName");
    writer.str(m_device.name);
    writer.str("Tensors");
    writer.map(count);
    for (const Tensor_t& tensor: all)
    {
        writer.str(tensor.name ? tensor.name : "");
        writer.bin({static_cast<const uint8_t*>(tensor.data), tensor.data ? tensor.size : 0});
    }
    writer.str("TensorShapes");
    writer.array(count);
    for (const Tensor_t& tensor: all)
    {
        writer.array(static_cast<uint32_t>(tensor.rank));
        for (int32_t i = 0; i < tensor.rank; ++i)
            writer.integer(tensor.shape[i]);
    }
    writer.str("TensorDataTypes");
    writer.array(count);
    for (const Tensor_t& tensor: all)
        writer.integer(tensor.type);
    if (!m_userSettings.empty())
    {
        writer.str("UserSettings");
        writer.textMap(m_userSettings);
    }
}

TensorSetPtr deserializeTensorMessage(const uint8_t* data, size_t length)
{
    MessageReader reader;
    if (!reader.parse(data, length))
    {
        logError("Error: failed to parse incoming tensor message\n");
        return nullptr;
    }
    const std::span<const msgpack_object_kv> entries = reader.mapEntries(reader.require(reader.root(), "Tensors"));
    const std::span<const msgpack_object> shapes = reader.arrayItems(reader.require(reader.root(), "TensorShapes"));
    const std::span<const msgpack_object> types = reader.arrayItems(reader.require(reader.root(), "TensorDataTypes"));
    if (reader.failed())
    {
        logError("Error: missing or invalid fields in tensor message\n");
        return nullptr;
    }
    TensorSetPtr set(static_cast<TensorSet_t*>(calloc(1, sizeof(TensorSet_t))));
    bool ok = set && shapes.size() == entries.size() && types.size() == entries.size()
        && entries.size() <= INT32_MAX;
    if (ok && !entries.empty())
    {
        set->tensors = static_cast<Tensor_t*>(calloc(entries.size(), sizeof(Tensor_t)));
        set->count = set->tensors ? static_cast<int32_t>(entries.size()) : 0;
        ok = set->tensors != nullptr;
    }
    for (size_t i = 0; ok && i < entries.size(); ++i)
        ok = readTensor(reader, entries[i], shapes[i], types[i], &set->tensors[i]);
    if (!ok)
    {
        logError("Error: failed to read tensor fields from message\n");
        return nullptr;
    }
    return set;
}

} // namespace vyai
