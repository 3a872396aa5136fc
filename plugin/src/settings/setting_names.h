#pragma once

#include <string>

#include <yyjson.h>

// Item names of settings that external processors declare are prefixed with the stage and the
// kind of processor, so that the device agent can tell them apart when the host returns them.

namespace vyai {

/**
 * Applies prefixSettingName with the prefix head + suffix to every object of the array;
 * other elements are skipped and a value that is no array is left alone.
 */
void prefixSettingNames(yyjson_mut_doc* doc, yyjson_mut_val* array, const std::string& suffix,
    const std::string& head);

/**
 * Rewrites the item's first string "name" to prefix + name, placed last among its keys (every
 * other "name" key goes); then does the same for the objects of its first "items" array, with
 * the same prefix, and for its "template" object, if any. A non-string "name" stays as it is.
 */
void prefixSettingName(yyjson_mut_doc* doc, yyjson_mut_val* item, const std::string& suffix,
    const std::string& head, const std::string& prefix);

} // namespace vyai
