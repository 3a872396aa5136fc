#pragma once

#include <cstdint>
#include <string_view>

#include <yyjson.h>

// Appending to the objects and arrays of a mutable yyjson document. Texts are copied into the
// document, so that no outside text is ever pasted into JSON unescaped; keys must be string
// literals (yyjson keeps the pointer). yyjson refuses to add a null value, so a failed
// allocation leaves that one key or element out and the document stays well formed.

namespace vyai {

class JsonArrayBuilder;

class JsonObjectBuilder
{
public:
    JsonObjectBuilder(yyjson_mut_doc* doc, yyjson_mut_val* object): m_doc(doc), m_object(object) {}

    JsonObjectBuilder& text(const char* key, std::string_view value);
    JsonObjectBuilder& flag(const char* key, bool value);
    JsonObjectBuilder& integer(const char* key, int64_t value);
    JsonObjectBuilder& real(const char* key, double value);
    /** Appends even when the key is already present: the host reads duplicate keys too. */
    JsonObjectBuilder& value(const char* key, yyjson_mut_val* value);
    /** Like text, for a key that is not a literal: the key is copied too. */
    JsonObjectBuilder& entry(std::string_view key, std::string_view value);
    JsonObjectBuilder object(const char* key);
    JsonArrayBuilder array(const char* key);

    yyjson_mut_doc* doc() const { return m_doc; }
    yyjson_mut_val* val() const { return m_object; }

private:
    yyjson_mut_doc* m_doc;
    yyjson_mut_val* m_object; //< null after a failed allocation: every append is then a no-op
};

class JsonArrayBuilder
{
public:
    JsonArrayBuilder(yyjson_mut_doc* doc, yyjson_mut_val* array): m_doc(doc), m_array(array) {}

    JsonArrayBuilder& text(std::string_view value);
    /** Appends a new, empty object. */
    JsonObjectBuilder object();
    /** Appends a new settings item: an object that starts with "type": type. */
    JsonObjectBuilder item(const char* type);

    yyjson_mut_doc* doc() const { return m_doc; }
    yyjson_mut_val* val() const { return m_array; }

private:
    yyjson_mut_doc* m_doc;
    yyjson_mut_val* m_array;
};

/** A string value holding a copy of the text; null when out of memory. */
yyjson_mut_val* jsonText(yyjson_mut_doc* doc, std::string_view text);

/** A new document whose root is an empty object; null members when out of memory. */
JsonObjectBuilder newJsonDocument();

} // namespace vyai
