#pragma once

#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include <yyjson.h>

namespace vy::standins {

struct JsonDocFree
{
    void operator()(yyjson_doc* doc) const { yyjson_doc_free(doc); }
    void operator()(yyjson_mut_doc* doc) const { yyjson_mut_doc_free(doc); }
};
using JsonDoc = std::unique_ptr<yyjson_doc, JsonDocFree>;
using MutableJsonDoc = std::unique_ptr<yyjson_mut_doc, JsonDocFree>;

// Strict JSON; null when the text is not JSON.
inline JsonDoc parseJson(std::string_view text)
{
    return JsonDoc(yyjson_read(text.data(), text.size(), YYJSON_READ_NOFLAG));
}

inline MutableJsonDoc newJsonDoc()
{
    return MutableJsonDoc(yyjson_mut_doc_new(nullptr));
}

// One line, no spaces, keys in insertion order.
inline std::string toCompactText(const yyjson_mut_doc* doc)
{
    std::size_t length = 0;
    char* text = yyjson_mut_write(doc, YYJSON_WRITE_NOFLAG, &length);
    if (!text)
        return "{}";
    std::string result(text, length);
    std::free(text);
    return result;
}

} // namespace vy::standins
