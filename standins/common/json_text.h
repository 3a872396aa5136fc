#pragma once

#include <cstdlib>
#include <memory>
#include <optional>
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

// One line, no spaces, keys in insertion order; nullopt (with *error set when given) when
// the document cannot be written, e.g. a text that is no UTF-8.
inline std::optional<std::string> writeCompact(
    const yyjson_mut_doc* doc, yyjson_write_flag flags, yyjson_write_err* error = nullptr)
{
    std::size_t length = 0;
    char* text = yyjson_mut_write_opts(doc, flags, nullptr, &length, error);
    if (!text)
        return std::nullopt;
    std::string result(text, length);
    std::free(text);
    return result;
}

inline std::string toCompactText(const yyjson_mut_doc* doc)
{
    return writeCompact(doc, YYJSON_WRITE_NOFLAG).value_or("{}");
}

// The body the stand-ins answer a refused request with: {"error":"<message>"}.
inline std::string errorJson(std::string_view message)
{
    return std::string(R"({"error":")").append(message).append(R"("})");
}

} // namespace vy::standins
