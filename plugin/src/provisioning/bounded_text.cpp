#include "provisioning/bounded_text.h"

namespace vyai {

namespace {

// Length of the valid UTF-8 sequence at text[at], or 0 when it is not one.
size_t sequenceLength(const std::string& text, size_t at)
{
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    size_t length = 0;
    unsigned minimum = 0;
    unsigned value = 0;
    if (lead < 0x80)
        return 1;
    if (lead >= 0xc2 && lead <= 0xdf)
        length = 2, minimum = 0x80, value = lead & 0x1f;
    else if (lead >= 0xe0 && lead <= 0xef)
        length = 3, minimum = 0x800, value = lead & 0x0f;
    else if (lead >= 0xf0 && lead <= 0xf4)
        length = 4, minimum = 0x10000, value = lead & 0x07;
    else
        return 0;
    if (at + length > text.size())
        return 0;
    for (size_t i = 1; i < length; ++i)
    {
        if ((byte(at + i) & 0xc0) != 0x80)
            return 0;
        value = (value << 6) | (byte(at + i) & 0x3f);
    }
    const bool surrogate = value >= 0xd800 && value <= 0xdfff;
    return value < minimum || value > 0x10ffff || surrogate ? 0 : length;
}

} // namespace

std::string boundedText(const std::string& text, size_t maxBytes)
{
    constexpr char kEllipsis[] = "...";
    std::string result;
    for (size_t at = 0; at < text.size();)
    {
        const size_t length = sequenceLength(text, at);
        const size_t added = length == 0 ? 1 : length;
        if (result.size() + added > maxBytes)
        {
            while (result.size() + sizeof kEllipsis - 1 > maxBytes && !result.empty())
            {
                // Drop one whole character: its continuation bytes, then its lead.
                while (!result.empty() && (static_cast<unsigned char>(result.back()) & 0xc0) == 0x80)
                    result.pop_back();
                if (!result.empty())
                    result.pop_back();
            }
            return result + kEllipsis;
        }
        if (length == 0)
            result += '?';
        else
            result.append(text, at, length);
        at += added;
    }
    return result;
}

} // namespace vyai
