#include "settings/json_builder.h"

namespace vyai {

namespace {

// The child once it is in place; null when it could not be made or added.
yyjson_mut_val* addToObject(yyjson_mut_doc* doc, yyjson_mut_val* object, const char* key,
    yyjson_mut_val* child)
{
    // yyjson_mut_obj_add checks the object, the key and the value for null.
    return yyjson_mut_obj_add(object, yyjson_mut_str(doc, key), child) ? child : nullptr;
}

yyjson_mut_val* appendToArray(yyjson_mut_val* array, yyjson_mut_val* child)
{
    return yyjson_mut_arr_append(array, child) ? child : nullptr;
}

} // namespace

JsonObjectBuilder& JsonObjectBuilder::text(const char* key, std::string_view value)
{
    return this->value(key, jsonText(m_doc, value));
}

JsonObjectBuilder& JsonObjectBuilder::flag(const char* key, bool value)
{
    return this->value(key, yyjson_mut_bool(m_doc, value));
}

JsonObjectBuilder& JsonObjectBuilder::integer(const char* key, int64_t value)
{
    return this->value(key, yyjson_mut_sint(m_doc, value));
}

JsonObjectBuilder& JsonObjectBuilder::real(const char* key, double value)
{
    return this->value(key, yyjson_mut_real(m_doc, value));
}

JsonObjectBuilder& JsonObjectBuilder::value(const char* key, yyjson_mut_val* value)
{
    addToObject(m_doc, m_object, key, value);
    return *this;
}

JsonObjectBuilder& JsonObjectBuilder::entry(std::string_view key, std::string_view value)
{
    yyjson_mut_obj_add(m_object, jsonText(m_doc, key), jsonText(m_doc, value));
    return *this;
}

JsonObjectBuilder JsonObjectBuilder::object(const char* key)
{
    return {m_doc, addToObject(m_doc, m_object, key, yyjson_mut_obj(m_doc))};
}

JsonArrayBuilder JsonObjectBuilder::array(const char* key)
{
    return {m_doc, addToObject(m_doc, m_object, key, yyjson_mut_arr(m_doc))};
}

JsonArrayBuilder& JsonArrayBuilder::text(std::string_view value)
{
    appendToArray(m_array, jsonText(m_doc, value));
    return *this;
}

JsonObjectBuilder JsonArrayBuilder::object()
{
    return {m_doc, appendToArray(m_array, yyjson_mut_obj(m_doc))};
}

JsonObjectBuilder JsonArrayBuilder::item(const char* type)
{
    JsonObjectBuilder item = object();
    item.text("type", type);
    return item;
}

yyjson_mut_val* jsonText(yyjson_mut_doc* doc, std::string_view text)
{
    // An empty view may carry no pointer at all, which yyjson would take for a failure.
    return yyjson_mut_strncpy(doc, text.empty() ? "" : text.data(), text.size());
}

JsonObjectBuilder newJsonDocument()
{
    yyjson_mut_doc* doc = yyjson_mut_doc_new(nullptr);
    yyjson_mut_val* root = yyjson_mut_obj(doc);
    yyjson_mut_doc_set_root(doc, root);
    return {doc, root};
}

} // namespace vyai
