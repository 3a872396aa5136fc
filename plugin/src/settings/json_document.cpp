#include "settings/json_document.h"

#include <cstdlib>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "foundations/log.h"

namespace vyai {

namespace {

// Length of the well-formed UTF-8 sequence that starts at text[at]; 0 when it is ill-formed
// (stray continuation byte, overlong form, surrogate, beyond U+10FFFF or cut short).
size_t utf8SequenceLength(std::string_view text, size_t at)
{
    const auto lead = static_cast<unsigned char>(text[at]);
    if (lead < 0x80)
        return 1;
    size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF)
    {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    }
    else if (lead >= 0xF0 && lead <= 0xF4)
    {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    }
    else
        return 0;
    if (text.size() - at < length)
        return 0;
    for (size_t i = 1; i < length; ++i)
    {
        const auto byte = static_cast<unsigned char>(text[at + i]);
        if (byte < (i == 1 ? low : 0x80) || byte > (i == 1 ? high : 0xBF))
            return 0;
    }
    return length;
}

bool isValidUtf8(std::string_view text)
{
    for (size_t at = 0; at < text.size();)
    {
        const size_t length = utf8SequenceLength(text, at);
        if (length == 0)
            return false;
        at += length;
    }
    return true;
}

// The text with every byte that starts no well-formed sequence replaced by U+FFFD.
std::string toValidUtf8(std::string_view text)
{
    std::string valid;
    valid.reserve(text.size() + 8);
    for (size_t at = 0; at < text.size();)
    {
        const size_t length = utf8SequenceLength(text, at);
        if (length == 0)
        {
            valid += "\xEF\xBF\xBD";
            ++at;
            continue;
        }
        valid.append(text, at, length);
        at += length;
    }
    return valid;
}

void repairString(yyjson_mut_doc* doc, yyjson_mut_val* string)
{
    const std::string_view text(yyjson_mut_get_str(string), yyjson_mut_get_len(string));
    if (isValidUtf8(text))
        return;
    const std::string valid = toValidUtf8(text);
    yyjson_mut_val* copy = yyjson_mut_strncpy(doc, valid.data(), valid.size());
    if (copy)
        yyjson_mut_set_strn(string, yyjson_mut_get_str(copy), valid.size());
    else
        yyjson_mut_set_strn(string, "", 0);
}

// Makes every key and string of the document valid UTF-8. Iterative: copied processor
// settings may nest deeper than the stack allows.
void repairStrings(yyjson_mut_doc* doc)
{
    std::vector<yyjson_mut_val*> pending{yyjson_mut_doc_get_root(doc)};
    while (!pending.empty())
    {
        yyjson_mut_val* value = pending.back();
        pending.pop_back();
        if (yyjson_mut_is_str(value))
            repairString(doc, value);
        else if (yyjson_mut_is_arr(value))
        {
            yyjson_mut_val* element = nullptr;
            yyjson_mut_arr_iter elements = yyjson_mut_arr_iter_with(value);
            while ((element = yyjson_mut_arr_iter_next(&elements)))
                pending.push_back(element);
        }
        else if (yyjson_mut_is_obj(value))
        {
            yyjson_mut_val* key = nullptr;
            yyjson_mut_obj_iter members = yyjson_mut_obj_iter_with(value);
            while ((key = yyjson_mut_obj_iter_next(&members)))
            {
                repairString(doc, key);
                pending.push_back(yyjson_mut_obj_iter_get_val(key));
            }
        }
    }
}

std::optional<std::string> writeOwnedDocument(const yyjson_mut_doc* doc, yyjson_write_flag flags,
    yyjson_write_err* error)
{
    size_t length = 0;
    // yyjson allocates the text with the C allocator when no allocator is given.
    const std::unique_ptr<char, decltype(&std::free)> text(
        yyjson_mut_write_opts(doc, flags, nullptr, &length, error), &std::free);
    if (!text)
        return std::nullopt;
    return std::string(text.get(), length);
}

} // namespace

std::optional<std::string> writeJsonDocument(yyjson_mut_doc* doc, yyjson_write_flag flags)
{
    const MutableJsonDocument owned(doc);
    yyjson_write_err error{};
    std::optional<std::string> text = writeOwnedDocument(owned.get(), flags, &error);
    if (text || error.code != YYJSON_WRITE_ERROR_INVALID_STRING)
        return text;

    // A model name, a cloud text or a file path in another encoding must not cost the whole
    // document: the bad bytes become U+FFFD and the rest is written as built.
    logError("Warning! Invalid UTF-8 text in a JSON document was replaced.\n");
    repairStrings(owned.get());
    return writeOwnedDocument(owned.get(), flags, nullptr);
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
