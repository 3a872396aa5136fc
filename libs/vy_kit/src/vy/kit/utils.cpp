#include "vy/kit/utils.h"

#include <cstdint>
#include <cstdio>
#include <string_view>

namespace vy::kit::utils {

namespace {

std::string quoted(std::string_view text)
{
    std::string result;
    result.reserve(text.size() + 2);
    result += '"';
    for (const char c: text)
    {
        switch (c)
        {
            case '"': result += "\\\""; break;
            case '\\': result += "\\\\"; break;
            case '\n': result += "\\n"; break;
            case '\r': result += "\\r"; break;
            case '\t': result += "\\t"; break;
            default:
            {
                const auto byte = static_cast<unsigned char>(c);
                if (byte < 0x20 || byte == 0x7F)
                {
                    char escaped[5];
                    std::snprintf(escaped, sizeof(escaped), "\\x%02X", byte);
                    result += escaped;
                }
                else
                {
                    result += c;
                }
            }
        }
    }
    result += '"';
    return result;
}

} // namespace

std::string toString(const char* text)
{
    return text ? quoted(text) : "null";
}

std::string toString(const std::string& text)
{
    return quoted(text);
}

std::string toString(const void* pointer)
{
    if (!pointer)
        return "null";
    char text[2 + 2 * sizeof(void*) + 1];
    std::snprintf(text, sizeof(text), "0x%jx", static_cast<uintmax_t>(reinterpret_cast<uintptr_t>(pointer)));
    return text;
}

} // namespace vy::kit::utils
