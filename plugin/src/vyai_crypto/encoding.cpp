#include "vyai_crypto/encoding.h"

#include <climits>
#include <cstdlib>
#include <openssl/evp.h>

namespace vyai {

unsigned char* base64Decode(const char* text, size_t length, size_t* outLength)
{
    if (outLength)
        *outLength = 0;
    if (!text || length > INT_MAX)
        return nullptr;
    const size_t expected = length * 3 / 4;
    auto* buffer = static_cast<unsigned char*>(calloc(expected + 1, 1));
    if (!buffer)
        return nullptr;
    const int decoded = EVP_DecodeBlock(buffer, reinterpret_cast<const unsigned char*>(text),
        static_cast<int>(length));
    // A negative result is a decoding error; it must not turn into a huge unsigned length.
    if (decoded < 0 || static_cast<size_t>(decoded) != expected) {
        free(buffer);
        return nullptr;
    }
    // EVP_DecodeBlock counts the bytes that "=" padding stands for; they are not key bytes.
    size_t padding = 0;
    while (padding < 2 && padding < length && text[length - 1 - padding] == '=')
        ++padding;
    const size_t decodedLength = expected - padding;
    buffer[decodedLength] = 0;
    if (outLength)
        *outLength = decodedLength;
    return buffer;
}

char* toHex(const unsigned char* bytes, size_t length)
{
    if (!bytes || length == 0)
        return nullptr;
    static constexpr char kDigits[] = "0123456789abcdef";
    auto* text = static_cast<char*>(malloc(2 * length + 1));
    if (!text)
        return nullptr;
    for (size_t i = 0; i < length; ++i) {
        text[2 * i] = kDigits[bytes[i] >> 4];
        text[2 * i + 1] = kDigits[bytes[i] & 0x0f];
    }
    text[2 * length] = '\0';
    return text;
}

} // namespace vyai
