#include "inference/runtime_args.h"

#include <algorithm>
#include <string_view>

#include <yyjson.h>

#include "foundations/file_helpers.h"
#include "foundations/json_helpers.h"
#include "foundations/log.h"

namespace vyai {

void readRuntimeArgs(const std::filesystem::path& workingDirectory, std::vector<std::string>& keys,
    std::vector<std::string>& values)
{
    const std::filesystem::path path = workingDirectory / "runtime_args.json";
    logError("Trying to load runtime args from '%s'\n", path.c_str());
    if (!std::filesystem::exists(path)) {
        logError("Runtime args file not found at %s, using empty config.\n", path.c_str());
        return;
    }

    const std::string text = readTextFile(path).value_or(std::string());
    if (text.empty()) {
        logError("Warning! Runtime args file is empty: %s\n", path.c_str());
        return;
    }

    const JsonDocument document = readJsonDocument(text);
    if (!document) {
        logError("Warning! Failed to parse runtime args JSON: %s\n", path.c_str());
        return;
    }
    yyjson_val* root = yyjson_doc_get_root(document.get());
    if (!yyjson_is_obj(root)) {
        logError("Warning! Runtime args JSON is not an object: %s\n", path.c_str());
        return;
    }

    size_t index = 0;
    size_t count = 0;
    yyjson_val* key = nullptr;
    yyjson_val* value = nullptr;
    yyjson_obj_foreach(root, index, count, key, value)
    {
        if (!yyjson_is_str(value)) {
            logError("Warning! Runtime arg '%s' has a non-string value, skipping.\n", yyjson_get_str(key));
            continue;
        }
        const std::string_view name(yyjson_get_str(key), yyjson_get_len(key));
        const std::string_view text(yyjson_get_str(value), yyjson_get_len(value));
        // The runtime reads texts up to their first NUL: it would get another key or value.
        if (name.find('\0') != std::string_view::npos || text.find('\0') != std::string_view::npos) {
            logError("Warning! Runtime arg '%s' holds a NUL character, skipping.\n", yyjson_get_str(key));
            continue;
        }
        keys.emplace_back(name);
        values.emplace_back(text);
    }
    logError("Loaded %zu runtime args from %s\n", keys.size(), path.c_str());
}

RuntimeArgsView::RuntimeArgsView(const std::vector<std::string>& keys, const std::vector<std::string>& values)
{
    const size_t count = std::min(keys.size(), values.size());
    m_keys.reserve(count);
    m_values.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        m_keys.push_back(keys[i].c_str());
        m_values.push_back(values[i].c_str());
    }
}

RuntimeArgs_t RuntimeArgsView::args() const
{
    RuntimeArgs_t args{};
    args.count = static_cast<int32_t>(m_keys.size());
    args.keys = m_keys.empty() ? nullptr : m_keys.data();
    args.values = m_values.empty() ? nullptr : m_values.data();
    return args;
}

} // namespace vyai
