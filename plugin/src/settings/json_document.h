#pragma once

#include <optional>
#include <string>

#include <yyjson.h>

#include "foundations/json_helpers.h"

namespace vyai {

// Writes the document's root with the given flags and frees the document in every outcome:
// the caller must not touch `doc` afterwards. Texts that are not valid UTF-8 are written with
// U+FFFD in place of their bad bytes (logged once per document). Nothing when the document is
// null or cannot be written.
std::optional<std::string> writeJsonDocument(yyjson_mut_doc* doc, yyjson_write_flag flags);

// Writes the document's root compactly (keys in insertion order) and frees the
// document in every outcome: the caller must not touch `doc` afterwards. A null
// document or a failed write is logged and gives "{}".
std::string jsonDocumentToString(yyjson_mut_doc* doc);

} // namespace vyai
