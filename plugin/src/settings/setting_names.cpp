#include "settings/setting_names.h"

#include <vector>

namespace vyai {

namespace {

void appendObjectElements(yyjson_mut_val* array, std::vector<yyjson_mut_val*>& pending)
{
    if (!yyjson_mut_is_arr(array))
        return;
    yyjson_mut_val* element = nullptr;
    yyjson_mut_arr_iter elements = yyjson_mut_arr_iter_with(array);
    while ((element = yyjson_mut_arr_iter_next(&elements)))
    {
        if (yyjson_mut_is_obj(element))
            pending.push_back(element);
    }
}

void prefixName(yyjson_mut_doc* doc, yyjson_mut_val* item, const std::string& prefix)
{
    yyjson_mut_val* name = yyjson_mut_obj_get(item, "name");
    if (!yyjson_mut_is_str(name))
        return;
    std::string prefixed = prefix;
    prefixed.append(yyjson_mut_get_str(name), yyjson_mut_get_len(name));
    // Allocated before the old names go, so that running out of memory keeps the item named.
    yyjson_mut_val* key = yyjson_mut_str(doc, "name");
    yyjson_mut_val* value = yyjson_mut_strncpy(doc, prefixed.data(), prefixed.size());
    if (!key || !value)
        return;
    yyjson_mut_obj_remove_key(item, "name");
    yyjson_mut_obj_add(item, key, value);
}

// Prefixes the item and the chain of "template" objects below it; collects the objects of
// their "items" arrays, which take the prefix of their array, in pending.
void prefixTemplateChain(yyjson_mut_doc* doc, yyjson_mut_val* item, const std::string& prefix,
    std::vector<yyjson_mut_val*>& pending)
{
    for (; yyjson_mut_is_obj(item); item = yyjson_mut_obj_get(item, "template"))
    {
        prefixName(doc, item, prefix);
        appendObjectElements(yyjson_mut_obj_get(item, "items"), pending);
    }
}

// Declared settings are outside data: walked with a list of pending items rather than by
// recursion, so that no nesting depth can exhaust the stack.
void prefixPendingItems(yyjson_mut_doc* doc, std::vector<yyjson_mut_val*>& pending,
    const std::string& prefix)
{
    while (!pending.empty())
    {
        yyjson_mut_val* item = pending.back();
        pending.pop_back();
        prefixTemplateChain(doc, item, prefix, pending);
    }
}

} // namespace

void prefixSettingNames(yyjson_mut_doc* doc, yyjson_mut_val* array, const std::string& suffix,
    const std::string& head)
{
    std::vector<yyjson_mut_val*> pending;
    appendObjectElements(array, pending);
    prefixPendingItems(doc, pending, head + suffix);
}

void prefixSettingName(yyjson_mut_doc* doc, yyjson_mut_val* item, const std::string& suffix,
    const std::string& head, const std::string& prefix)
{
    std::vector<yyjson_mut_val*> pending;
    prefixTemplateChain(doc, item, prefix, pending);
    prefixPendingItems(doc, pending, head + suffix);
}

} // namespace vyai
