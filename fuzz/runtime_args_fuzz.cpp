// A runtime's runtime_args.json of any bytes. Reading it never throws; the keys and values
// pair up one to one, each pair is a member of the file's top-level object whose value is a
// text without a NUL, in the file's order; and the runtime is given exactly those texts.
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <yyjson.h>

#include "fuzz_check.h"
#include "inference/runtime_args.h"

namespace {

// The object's text members as an independent reader sees them, but those a text ending at its
// first NUL cannot carry whole.
std::vector<std::pair<std::string, std::string>> textMembers(const std::string& text)
{
    std::vector<std::pair<std::string, std::string>> members;
    yyjson_doc* doc = yyjson_read(text.data(), text.size(), YYJSON_READ_NOFLAG);
    yyjson_val* root = yyjson_doc_get_root(doc);
    size_t index = 0;
    size_t count = 0;
    yyjson_val* key = nullptr;
    yyjson_val* value = nullptr;
    if (yyjson_is_obj(root))
    {
        yyjson_obj_foreach(root, index, count, key, value)
        {
            const std::string name(yyjson_get_str(key), yyjson_get_len(key));
            if (!yyjson_is_str(value) || name.find('\0') != std::string::npos)
                continue;
            const std::string argument(yyjson_get_str(value), yyjson_get_len(value));
            if (argument.find('\0') == std::string::npos)
                members.emplace_back(name, argument);
        }
    }
    yyjson_doc_free(doc);
    return members;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::filesystem::path folder = fuzzTemporaryDirectory("fuzz-runtime-args");
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::ofstream(folder / "runtime_args.json", std::ios::binary | std::ios::trunc) << text;

    std::vector<std::string> keys;
    std::vector<std::string> values;
    vyai::readRuntimeArgs(folder, keys, values);
    FUZZ_CHECK(keys.size() == values.size(), "keys and values pair up");
    const auto expected = textMembers(text);
    FUZZ_CHECK(keys.size() == expected.size(), "every text member a runtime can be given is an argument");
    for (size_t i = 0; i < keys.size(); ++i)
        FUZZ_CHECK(keys[i] == expected[i].first && values[i] == expected[i].second, "arguments keep the file's order and texts");

    const vyai::RuntimeArgsView view(keys, values);
    const RuntimeArgs_t args = view.args();
    FUZZ_CHECK(args.count == static_cast<int32_t>(keys.size()), "the runtime is given every argument");
    for (int32_t i = 0; i < args.count; ++i)
    {
        FUZZ_CHECK(std::strlen(args.keys[i]) == keys[i].size() && std::strlen(args.values[i]) == values[i].size(),
            "the runtime is given each text whole");
    }
    return 0;
}
