// Objects replies of an external post-processor from raw bytes, applied to a device that
// tracks nothing yet: only entries with a "NewID" and no "ID" become objects, each under its
// class, with a type id of "vy.vyai." and identifier characters only.
#include <cctype>
#include <cstdint>

#include "fuzz_check.h"
#include "inference/messages/objects_message.h"

namespace {

bool isTypeIdText(const std::string& typeId)
{
    static const std::string kPrefix = "vy.vyai.";
    if (typeId.rfind(kPrefix, 0) != 0)
        return false;
    for (size_t i = kPrefix.size(); i < typeId.size(); ++i)
    {
        const unsigned char c = (unsigned char) typeId[i];
        const bool first = i == kPrefix.size();
        if (!std::isalnum(c) && c != '_' && (first || c != '.'))
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const auto reply = vyai::deserializeObjectsResponse(data, size);
    if (!reply)
        return 0;
    size_t expected = 0;
    for (const vyai::ObjectsReplyEntry_t& entry: reply->objects)
        expected += !entry.id && entry.newId ? 1 : 0;

    const vyai::ObjectsByClass objects = vyai::applyObjectsReply(*reply, {}, 42);
    size_t made = 0;
    for (const auto& [className, list]: objects)
    {
        for (const auto& object: list)
        {
            ++made;
            FUZZ_CHECK(object && object->firstSeen == 42 && object->lastSeen == 42,
                "a new object is first seen at the reply's frame");
            FUZZ_CHECK(isTypeIdText(object->typeId), "a new object's type id is an identifier");
        }
    }
    FUZZ_CHECK(made == expected, "only entries with a new id and no id become objects of a device that tracks none");
    return 0;
}
