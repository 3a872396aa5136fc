#include "settings/json_document.h"

#include <cstdlib>
#include <memory>

#include "foundations/json_helpers.h"
#include "foundations/log.h"

namespace vyai {

std::string jsonDocumentToString(yyjson_mut_doc* doc)
{
    const MutableJsonDocument owned(doc);

    size_t length = 0;
    // yyjson allocates the text with the C allocator when no allocator is given.
    const std::unique_ptr<char, decltype(&std::free)> text(
        yyjson_mut_write(owned.get(), YYJSON_WRITE_NOFLAG, &length), &std::free);
    if (!text)
    {
        logError("Error creating settings model string\n");
        return "{}";
    }
    return std::string(text.get(), length);
}

} // namespace vyai
