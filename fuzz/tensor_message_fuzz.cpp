// Tensor replies of an external processor from raw bytes. An accepted reply holds tensors
// whose bytes match their shape and element type; written again as a message it reads back
// as the same tensors, names, shapes, types and bytes.
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "inference/messages/tensor_message.h"

namespace {

uint64_t elementCount(const Tensor_t& tensor)
{
    uint64_t count = 1;
    for (int32_t i = 0; i < tensor.rank; ++i)
        count *= (uint64_t) tensor.shape[i];
    return count;
}

void checkSame(const TensorSet_t& a, const TensorSet_t& b)
{
    FUZZ_CHECK(a.count == b.count, "a re-read reply has as many tensors");
    for (int32_t i = 0; i < a.count; ++i)
    {
        const Tensor_t& x = a.tensors[i];
        const Tensor_t& y = b.tensors[i];
        FUZZ_CHECK(std::string(x.name) == y.name, "a re-read tensor keeps its name");
        FUZZ_CHECK(x.type == y.type && x.rank == y.rank, "a re-read tensor keeps its type and rank");
        FUZZ_CHECK(x.rank == 0 || std::memcmp(x.shape, y.shape, sizeof(int32_t) * (size_t) x.rank) == 0,
            "a re-read tensor keeps its shape");
        FUZZ_CHECK(x.size == y.size && (x.size == 0 || std::memcmp(x.data, y.data, x.size) == 0),
            "a re-read tensor keeps its bytes");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const vyai::TensorSetPtr set = vyai::deserializeTensorMessage(data, size);
    if (!set)
        return 0;
    for (int32_t i = 0; i < set->count; ++i)
    {
        const Tensor_t& tensor = set->tensors[i];
        FUZZ_CHECK(tensor.name != nullptr && std::strlen(tensor.name) <= 2047, "a tensor has a bounded name");
        FUZZ_CHECK(tensor.size == elementCount(tensor) * vyai::tensorDataTypeSize(tensor.type),
            "a tensor's bytes match its shape and element type");
    }
    vyai::DeviceAgentDetails_t device;
    device.id = "fuzz";
    const std::map<std::string, std::string> noSettings;
    const vyai::TensorRequest request(1, device, *set, noSettings);
    FUZZ_CHECK(request.size().has_value(), "an accepted reply can be written again");
    std::vector<uint8_t> written(*request.size());
    FUZZ_CHECK(request.writeInto(written), "an accepted reply is written in the size counted");
    const vyai::TensorSetPtr again = vyai::deserializeTensorMessage(written.data(), written.size());
    FUZZ_CHECK(again != nullptr, "a written tensor message reads back");
    checkSame(*set, *again);
    return 0;
}
