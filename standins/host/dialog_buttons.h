#pragma once

#include <map>
#include <string>

namespace vyhost {

// What a settings model shows the user: the items among the model's "items" and
// "sections", walked into, except those that have "visible": false on themselves or on
// any item around them. A text that is not a JSON object shows nothing.

/** The buttons shown ("Button" items), name to caption. */
std::map<std::string, std::string> shownButtons(const std::string& modelText);

/** True when a shown button is named `wanted` or a shown banner's text contains it. */
bool dialogShows(const std::string& modelText, const std::string& wanted);

} // namespace vyhost
