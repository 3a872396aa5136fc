#pragma once

#include <memory>
#include <string_view>

#include <yyjson.h>

// Building and reading the JSON that the plug-in exchanges with the host and the cloud.

namespace vyai {

// Owners of yyjson documents. A deleter object rather than a pointer to yyjson's inline
// free functions, which some builds cannot take the address of.
struct JsonDocumentFree {
    void operator()(yyjson_doc* doc) const { yyjson_doc_free(doc); }
    void operator()(yyjson_mut_doc* doc) const { yyjson_mut_doc_free(doc); }
};
using JsonDocument = std::unique_ptr<yyjson_doc, JsonDocumentFree>;
using MutableJsonDocument = std::unique_ptr<yyjson_mut_doc, JsonDocumentFree>;

// The text parsed as strict JSON; null when it is not JSON.
JsonDocument readJsonDocument(std::string_view text);

/** A new parameter patch {"parameters": {"vyAI": {}}}; the caller owns (and frees) doc. */
struct ParametersDocument {
    yyjson_mut_doc* doc = nullptr; // null when out of memory
    yyjson_mut_val* vyAI = nullptr; // the inner object that the caller fills
};
ParametersDocument makeParametersDocument();

/**
 * The string member key of object. Throws std::runtime_error "missing required string: <key>"
 * when object is not an object or the member is absent or not a string.
 */
const char* requireJsonString(yyjson_val* object, const char* key);

/**
 * The member key of object, of any type (JSON null included). Throws std::runtime_error
 * "missing required key: <key>" when object is not an object or the member is absent.
 */
yyjson_val* requireJsonKey(yyjson_val* object, const char* key);

} // namespace vyai
