#include "foundations/json_helpers.h"

#include <stdexcept>
#include <string>

namespace vyai {

JsonDocument readJsonDocument(std::string_view text)
{
    return JsonDocument(yyjson_read(text.data(), text.size(), YYJSON_READ_NOFLAG));
}

ParametersDocument makeParametersDocument()
{
    yyjson_mut_doc* doc = yyjson_mut_doc_new(nullptr);
    if (!doc)
        return {};
    yyjson_mut_val* root = yyjson_mut_obj(doc);
    yyjson_mut_doc_set_root(doc, root);
    yyjson_mut_val* parameters = yyjson_mut_obj_add_obj(doc, root, "parameters");
    yyjson_mut_val* vyAI = yyjson_mut_obj_add_obj(doc, parameters, "vyAI");
    if (!vyAI) {
        yyjson_mut_doc_free(doc);
        return {};
    }
    return {doc, vyAI};
}

const char* requireJsonString(yyjson_val* object, const char* key)
{
    yyjson_val* value = key && yyjson_is_obj(object) ? yyjson_obj_get(object, key) : nullptr;
    if (!yyjson_is_str(value))
        throw std::runtime_error(std::string("missing required string: ") + (key ? key : ""));
    return yyjson_get_str(value);
}

yyjson_val* requireJsonKey(yyjson_val* object, const char* key)
{
    yyjson_val* value = key && yyjson_is_obj(object) ? yyjson_obj_get(object, key) : nullptr;
    if (!value)
        throw std::runtime_error(std::string("missing required key: ") + (key ? key : ""));
    return value;
}

} // namespace vyai
