#include "vy/sdk/helpers/uuid.h"

#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <random>

namespace vy::sdk {

namespace {

bool isPassedOver(char c)
{
    switch (c)
    {
        case '\t': case '\n': case '\r': case ' ': case '-': case '{': case '}':
            return true;
        default:
            return false;
    }
}

/** Reads a pair of characters with strtol's rules; false unless it is one byte. */
bool parseByte(const char pair[3], uint8_t* byte)
{
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(pair, &end, 16);
    if (end != pair + 2 || errno != 0 || value < 0 || value > 255)
        return false;
    *byte = static_cast<uint8_t>(value);
    return true;
}

bool has(UuidFormatOptions options, UuidFormatOptions option)
{
    return (static_cast<int32_t>(options) & static_cast<int32_t>(option)) != 0;
}

} // namespace

Uuid uuidFromString(const std::string& text)
{
    if (text.size() < 32)
        return {};

    Uuid uuid;
    size_t byteCount = 0;
    char pair[3] = {};
    int pairLength = 0;
    for (const char c: text)
    {
        if (isPassedOver(c))
            continue;
        if (byteCount == uuid.bytes.size())
            return {};
        pair[pairLength++] = c;
        if (pairLength == 2)
        {
            if (!parseByte(pair, &uuid.bytes[byteCount]))
                return {};
            ++byteCount;
            pairLength = 0;
        }
    }
    if (byteCount != uuid.bytes.size() || pairLength != 0)
        return {};
    return uuid;
}

Uuid randomUuid()
{
    struct Generator
    {
        std::mutex mutex; //< Guards engine.
        std::mt19937_64 engine{std::random_device{}()};
    };
    static Generator generator;

    uint64_t values[2];
    {
        const std::lock_guard lock(generator.mutex);
        values[0] = generator.engine();
        values[1] = generator.engine();
    }

    Uuid uuid;
    for (int i = 0; i < 16; ++i)
        uuid.bytes[i] = static_cast<uint8_t>(values[i / 8] >> (8 * (i % 8))); //< Little-endian.
    uuid.bytes[6] = (uuid.bytes[6] & 0x0F) | 0x40; //< Version 4.
    uuid.bytes[8] = (uuid.bytes[8] & 0x3F) | 0x80; //< Variant 10 (RFC 4122).
    return uuid;
}

std::string uuidToString(const Uuid& uuid, UuidFormatOptions options)
{
    const char* digits = has(options, UuidFormatOptions::uppercase)
        ? "0123456789ABCDEF" : "0123456789abcdef";
    const bool hyphens = has(options, UuidFormatOptions::hyphens);
    const bool braces = has(options, UuidFormatOptions::braces);

    std::string text;
    text.reserve(38);
    if (braces)
        text += '{';
    for (size_t i = 0; i < uuid.bytes.size(); ++i)
    {
        if (hyphens && (i == 4 || i == 6 || i == 8 || i == 10))
            text += '-';
        text += digits[uuid.bytes[i] >> 4];
        text += digits[uuid.bytes[i] & 0x0F];
    }
    if (braces)
        text += '}';
    return text;
}

} // namespace vy::sdk
