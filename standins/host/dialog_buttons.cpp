#include "host/dialog_buttons.h"

#include <algorithm>
#include <functional>
#include <string_view>
#include <vector>

#include <yyjson.h>

namespace vyhost {

namespace {

// More repeats than any dialog shows: a count past it is a fault of the model, not a setting.
constexpr int64_t kMaxRepeats = 1000;

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

bool isSetting(yyjson_val* item)
{
    const std::string_view type = textOf(item, "type");
    return type != "Button" && type != "Banner" && type != "Section" && yyjson_is_str(yyjson_obj_get(item, "name"));
}

/** The settings a repeater shows: its template's, once for each number from 1 to its count in place of '#'. */
void addRepeatedSettings(yyjson_val* repeater, std::set<std::string>& settings)
{
    yyjson_val* repeated = yyjson_obj_get(repeater, "template");
    if (!yyjson_is_obj(repeated) || hidden(repeated))
        return;
    std::vector<std::string> names;
    const auto addName = [&names](yyjson_val* item) {
        if (isSetting(item))
            names.emplace_back(textOf(item, "name"));
    };
    addName(repeated);
    visitShownItems(repeated, addName);
    const int64_t count = yyjson_get_sint(yyjson_obj_get(repeater, "count"));
    for (int64_t number = 1; number <= std::min<int64_t>(count, kMaxRepeats); ++number)
    {
        for (std::string name: names)
        {
            for (size_t at = name.find('#'); at != std::string::npos; at = name.find('#', at))
                name.replace(at, 1, std::to_string(number));
            settings.insert(std::move(name));
        }
    }
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

std::set<std::string> shownSettings(const std::string& modelText)
{
    std::set<std::string> settings;
    visitShownItems(modelText, [&](yyjson_val* item) {
        if (isSetting(item))
            settings.emplace(textOf(item, "name"));
        if (textOf(item, "type") == "Repeater")
            addRepeatedSettings(item, settings);
    });
    return settings;
}

bool dialogShows(const std::string& modelText, const std::string& wanted)
{
    bool shown = false;
    visitShownItems(modelText, [&](yyjson_val* item) {
        shown = shown || textOf(item, "name") == wanted
            || (textOf(item, "type") == "Banner" && textOf(item, "text").find(wanted) != std::string_view::npos);
    });
    return shown || shownSettings(modelText).contains(wanted);
}

} // namespace vyhost
