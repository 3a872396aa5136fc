#pragma once

#include <string_view>

#include "settings/json_builder.h"

// Item kinds that several parts of a settings model share, with their keys in the order the
// host is given them.

namespace vyai {

/** {"type":"Banner","icon":icon,"text":text} */
JsonObjectBuilder appendBanner(JsonArrayBuilder& items, const char* icon, std::string_view text);

/** {"type":"Button","name","caption","description","isActive":"true"}; the caller may add "visible". */
JsonObjectBuilder appendButton(JsonArrayBuilder& items, std::string_view name,
    std::string_view caption, const char* description);

/** The link to the product's support page that follows every warning. */
void appendTroubleshootingLink(JsonArrayBuilder& items);

} // namespace vyai
