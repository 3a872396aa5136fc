#include "settings/json_document.h"

#include <cstdlib>
#include <memory>
#include <utility>

#include "foundations/log.h"

namespace vyai {

std::optional<std::string> writeJsonDocument(yyjson_mut_doc* doc, yyjson_write_flag flags)
{
    const MutableJsonDocument owned(doc);

    size_t length = 0;
    // yyjson allocates the text with the C allocator when no allocator is given.
    const std::unique_ptr<char, decltype(&std::free)> text(
        yyjson_mut_write(owned.get(), flags, &length), &std::free);
    if (!text)
        return std::nullopt;
    return std::string(text.get(), length);
}

std::string jsonDocumentToString(yyjson_mut_doc* doc)
{
    std::optional<std::string> text = writeJsonDocument(doc, YYJSON_WRITE_NOFLAG);
    if (!text)
    {
        logError("Error creating settings model string\n");
        return "{}";
    }
    return std::move(*text);
}

} // namespace vyai
