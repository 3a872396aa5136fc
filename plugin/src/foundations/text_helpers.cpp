#include "foundations/text_helpers.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <system_error>

#include "foundations/log.h"

namespace vyai {

namespace {

// ASCII only, whatever locale the host runs in: in a single-byte locale std::isalnum would
// pass parts of a UTF-8 letter and leave a broken byte sequence in the type id.
bool isIdentifierStart(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// Parts of a text split at a separator; like successive getline calls, a trailing separator
// adds no empty part.
std::vector<std::string> splitParts(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    std::istringstream stream(text);
    std::string part;
    while (std::getline(stream, part, separator))
        parts.push_back(part);
    return parts;
}

void appendHtmlEscaped(std::string& out, const std::string& text)
{
    for (char c: text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
}

struct LeadingInt {
    std::errc error;
    int32_t value;
};

// std::stoi's reading: leading blanks skipped, one optional sign, digits, anything after them
// ignored.
LeadingInt readLeadingInt(const std::string& text)
{
    size_t start = 0;
    while (start < text.size() && std::isspace(static_cast<unsigned char>(text[start])))
        ++start;
    // from_chars takes "-" but not "+".
    if (start < text.size() && text[start] == '+') {
        ++start;
        if (start < text.size() && text[start] == '-')
            return {std::errc::invalid_argument, 0};
    }
    int32_t value = 0;
    const auto parsed = std::from_chars(text.data() + start, text.data() + text.size(), value);
    return {parsed.ec, value};
}

} // namespace

std::string htmlLink(const std::string& url)
{
    if (url.empty())
        return {};
    // Addresses come partly from device parameters and the ini file: escaped, so that a quote
    // or an angle bracket cannot break or inject markup in the host's dialog.
    std::string link = "<a href=\"";
    appendHtmlEscaped(link, url);
    link += "\">";
    appendHtmlEscaped(link, url);
    link += "</a>";
    return link;
}

std::string sanitizeIdentifier(std::string text)
{
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (!(isIdentifierStart(c) || (i > 0 && c == '.')))
            text[i] = '_';
    }
    return text;
}

std::vector<std::string> parseOutputTensorName(std::string name)
{
    static const std::string kScoresPrefix = "scores-";
    std::vector<std::string> classes;
    for (std::string part: splitParts(name, ';')) {
        if (part.empty())
            continue;
        if (part.starts_with(kScoresPrefix))
            part.erase(0, kScoresPrefix.size());
        if (part.find("bboxes-format") != std::string::npos)
            continue;
        const size_t colon = part.find(':');
        if (colon == std::string::npos)
            continue;
        const auto index = parseLeadingInt(part.substr(0, colon));
        if (!index || *index != static_cast<int32_t>(classes.size()))
            return {};
        classes.push_back(part.substr(colon + 1));
    }
    return classes;
}

bool uuidEqualsIgnoringBraces(std::string a, std::string b)
{
    const auto stripBraces = [](std::string& text) {
        if (text.size() >= 2 && text.front() == '{' && text.back() == '}')
            text = text.substr(1, text.size() - 2);
    };
    stripBraces(a);
    stripBraces(b);
    return a == b;
}

std::optional<int32_t> parseLeadingInt(const std::string& text)
{
    const LeadingInt number = readLeadingInt(text);
    if (number.error != std::errc())
        return std::nullopt;
    return number.value;
}

int32_t stringToIntOr(std::string text, int32_t fallback)
{
    const LeadingInt number = readLeadingInt(text);
    if (number.error == std::errc())
        return number.value;
    // The standard conversion's own texts for its two errors.
    logError("Warning! Could not convert int to string: %s : %s\n", text.c_str(),
        number.error == std::errc::result_out_of_range ? "stoi argument out of range"
                                                       : "invalid stoi argument");
    return fallback;
}

const char* boolToString(bool value)
{
    return value ? "true" : "false";
}

char* mallocPrintf(size_t size, const char* format, ...)
{
    if (size == 0)
        size = 1;
    char* buffer = static_cast<char*>(malloc(size));
    if (!buffer)
        return nullptr;

    va_list args;
    va_start(args, format);
    // The first attempt consumes its own copy: a va_list must not be used twice.
    va_list firstAttempt;
    va_copy(firstAttempt, args);
    const int needed = vsnprintf(buffer, size, format, firstAttempt);
    va_end(firstAttempt);

    if (needed >= 0 && static_cast<size_t>(needed) >= size) {
        char* larger = static_cast<char*>(realloc(buffer, static_cast<size_t>(needed) + 1));
        if (larger) {
            buffer = larger;
            vsnprintf(buffer, static_cast<size_t>(needed) + 1, format, args);
        } else {
            free(buffer);
            buffer = nullptr;
        }
    }
    va_end(args);

    if (needed < 0) {
        free(buffer);
        return nullptr;
    }
    return buffer;
}

uint32_t formatSystemErrorMessage(uint32_t code, char* buffer, uint32_t size)
{
    if (!buffer || size == 0)
        return 0;
    const std::string message = std::system_category().message(static_cast<int>(code));
    const size_t length = std::min<size_t>(message.size(), size - 1);
    std::memcpy(buffer, message.data(), length);
    buffer[length] = '\0';
    return static_cast<uint32_t>(length);
}

void replaceAll(std::string& text, const std::string& from, const std::string& to)
{
    if (from.empty())
        return;
    for (size_t position = text.find(from); position != std::string::npos;
         position = text.find(from, position + to.size())) {
        text.replace(position, from.size(), to);
    }
}

std::optional<int32_t> compareVersions(const std::string& a, const std::string& b)
{
    const std::vector<std::string> aParts = splitParts(a, '.');
    const std::vector<std::string> bParts = splitParts(b, '.');
    const size_t count = std::max(aParts.size(), bParts.size());
    std::optional<int32_t> result = 0;
    for (size_t i = 0; i < count; ++i) {
        const auto aValue = i < aParts.size() ? parseLeadingInt(aParts[i]) : 0;
        const auto bValue = i < bParts.size() ? parseLeadingInt(bParts[i]) : 0;
        if (!aValue || !bValue)
            return std::nullopt;
        // The first difference decides, but every part must still be a number.
        if (*result == 0 && *aValue != *bValue)
            result = *aValue < *bValue ? -1 : 1;
    }
    return result;
}

} // namespace vyai
