#include "host/dialog_buttons.h"

#include <functional>
#include <string_view>

#include <yyjson.h>

namespace vyhost {

namespace {

// A missing "visible" means shown: only an explicit false hides an item and what it holds.
bool hidden(yyjson_val* item)
{
    return yyjson_is_false(yyjson_obj_get(item, "visible"));
}

std::string_view textOf(yyjson_val* item, const char* key)
{
    const char* text = yyjson_get_str(yyjson_obj_get(item, key));
    return text ? text : "";
}

using ItemVisitor = std::function<void(yyjson_val* item)>;

void visitShownItems(yyjson_val* container, const ItemVisitor& visit)
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
            visit(item);
            visitShownItems(item, visit);
        }
    }
}

void visitShownItems(const std::string& modelText, const ItemVisitor& visit)
{
    yyjson_doc* doc = yyjson_read(modelText.data(), modelText.size(), YYJSON_READ_NOFLAG);
    if (!doc)
        return;
    yyjson_val* root = yyjson_doc_get_root(doc);
    if (yyjson_is_obj(root) && !hidden(root))
        visitShownItems(root, visit);
    yyjson_doc_free(doc);
}

} // namespace

std::map<std::string, std::string> shownButtons(const std::string& modelText)
{
    std::map<std::string, std::string> buttons;
    visitShownItems(modelText, [&](yyjson_val* item) {
        if (textOf(item, "type") == "Button" && yyjson_is_str(yyjson_obj_get(item, "name")))
            buttons.emplace(textOf(item, "name"), textOf(item, "caption"));
    });
    return buttons;
}

bool dialogShows(const std::string& modelText, const std::string& wanted)
{
    bool shown = false;
    visitShownItems(modelText, [&](yyjson_val* item) {
        const std::string_view type = textOf(item, "type");
        shown = shown || (type == "Button" && textOf(item, "name") == wanted)
            || (type == "Banner" && textOf(item, "text").find(wanted) != std::string_view::npos);
    });
    return shown;
}

} // namespace vyhost
