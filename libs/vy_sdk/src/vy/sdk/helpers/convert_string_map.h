#pragma once

#include <cstdint>
#include <map>
#include <string>

#include <vy/sdk/helpers/output_settings.h>
#include <vy/sdk/i_string_map.h>

namespace vy::sdk {

/**
 * Copies the host's map into `destination` (inserting or overwriting; nothing is removed),
 * in the source's index order, and with the output switch on prints it under `caption`,
 * each line indented by `indentation` spaces. A null source or a negative count writes an
 * error line whatever the switch, leaves `destination` untouched and returns false. An item
 * whose key is null is skipped; a null value is copied as the empty text.
 */
bool convertStringMap(const OutputSettings& output,
    std::map<std::string, std::string>& destination, const IStringMap* source,
    const std::string& caption, int32_t indentation);

} // namespace vy::sdk
