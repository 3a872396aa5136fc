#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vy::standins {

/** The id of the one object the objects mode adds to every reply, class "note". */
inline constexpr char kNoteObjectId[] = "5e1f0a2b-3c4d-4e5f-8a9b-0c1d2e3f4a5b";

/**
 * The objects mode's reply to an objects request: every object of the request answered by
 * its "ID" (with `newId` as its "NewID" when given), with its box and confidence and the
 * attributes it came with plus "Processed" = "yes"; and one new object of class "note" under
 * kNoteObjectId. No events. False when the request is not an objects request.
 */
bool replyToObjects(const std::vector<uint8_t>& request, const std::optional<std::string>& newId,
    std::vector<uint8_t>* reply);

} // namespace vy::standins
