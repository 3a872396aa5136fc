#pragma once

#include <map>
#include <set>
#include <string>

namespace vyhost {

// What a settings model shows the user: the items among the model's "items" and
// "sections", walked into, except those that have "visible": false on themselves or on
// any item around them. A text that is not a JSON object shows nothing.

/** The buttons shown ("Button" items), name to caption. */
std::map<std::string, std::string> shownButtons(const std::string& modelText);

/**
 * The settings shown: the names of the items that are not buttons, banners or sections; a
 * "Repeater" shows its template's once for each number from 1 to its "count", in place of '#'.
 */
std::set<std::string> shownSettings(const std::string& modelText);

/** True when a shown item (a button, a setting) is named `wanted` or a shown banner's text contains it. */
bool dialogShows(const std::string& modelText, const std::string& wanted);

} // namespace vyhost
