#pragma once

#include <map>
#include <string>

namespace vyhost {

/**
 * The buttons a settings model shows the user, name to caption: items of type "Button" among
 * the model's "items" and "sections", walked into, left out when the item or any item around
 * it has "visible": false. Empty for a text that is not a JSON object.
 */
std::map<std::string, std::string> shownButtons(const std::string& modelText);

} // namespace vyhost
