#include "host/dialog_buttons.h"

#include <yyjson.h>

namespace vyhost {

namespace {

// A missing "visible" means shown: only an explicit false hides an item and what it holds.
bool hidden(yyjson_val* item)
{
    return yyjson_is_false(yyjson_obj_get(item, "visible"));
}

void collectShownButtons(yyjson_val* container, std::map<std::string, std::string>& buttons)
{
    for (const char* key: {"items", "sections"})
    {
        size_t index = 0;
        size_t count = 0;
        yyjson_val* item = nullptr;
        yyjson_arr_foreach(yyjson_obj_get(container, key), index, count, item)
        {
            if (!yyjson_is_obj(item) || hidden(item))
                continue;
            const char* type = yyjson_get_str(yyjson_obj_get(item, "type"));
            const char* name = yyjson_get_str(yyjson_obj_get(item, "name"));
            if (type && name && std::string(type) == "Button")
            {
                const char* caption = yyjson_get_str(yyjson_obj_get(item, "caption"));
                buttons.emplace(name, caption ? caption : "");
            }
            collectShownButtons(item, buttons);
        }
    }
}

} // namespace

std::map<std::string, std::string> shownButtons(const std::string& modelText)
{
    std::map<std::string, std::string> buttons;
    yyjson_doc* doc = yyjson_read(modelText.data(), modelText.size(), YYJSON_READ_NOFLAG);
    if (!doc)
        return buttons;
    yyjson_val* root = yyjson_doc_get_root(doc);
    if (yyjson_is_obj(root) && !hidden(root))
        collectShownButtons(root, buttons);
    yyjson_doc_free(doc);
    return buttons;
}

} // namespace vyhost
