#include "vyai_crypto/file_md5.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <openssl/evp.h>

#include "foundations/file_helpers.h"
#include "foundations/log.h"
#include "vyai_crypto/encoding.h"

namespace vyai {

namespace {

constexpr size_t kMd5Length = 16;

struct DigestContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

} // namespace

unsigned char* fileMd5(const char* path, unsigned int* outLength)
{
    UniqueFile file(path ? std::fopen(path, "rb") : nullptr);
    if (!file) {
        logErrorToStderr("Error opening file: %s\n", path ? path : "");
        return nullptr;
    }
    std::unique_ptr<EVP_MD_CTX, DigestContextFree> context(EVP_MD_CTX_new());
    if (!context) {
        logErrorToStderr("EVP_MD_CTX_new failed.\n");
        return nullptr;
    }
    if (EVP_DigestInit_ex(context.get(), EVP_md5(), nullptr) != 1) {
        logErrorToStderr("EVP_DigestInit_ex failed.\n");
        return nullptr;
    }
    unsigned char block[4096];
    size_t count = 0;
    while ((count = std::fread(block, 1, sizeof block, file.get())) > 0) {
        if (EVP_DigestUpdate(context.get(), block, count) != 1) {
            logErrorToStderr("EVP_DigestUpdate failed.\n");
            return nullptr;
        }
    }
    // A read error also ends the loop: the digest of part of a file must not pass as the file's.
    if (std::ferror(file.get())) {
        logErrorToStderr("Error reading file: %s\n", path);
        return nullptr;
    }
    auto* digest = static_cast<unsigned char*>(malloc(kMd5Length));
    if (!digest) {
        logErrorToStderr("No memory for MD5 hash.\n");
        return nullptr;
    }
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), digest, &length) != 1) {
        logErrorToStderr("EVP_DigestFinal_ex failed.\n");
        free(digest);
        return nullptr;
    }
    if (outLength)
        *outLength = length;
    return digest;
}

std::optional<std::string> fileMd5Hex(const std::string& path)
{
    unsigned int length = 0;
    unsigned char* digest = fileMd5(path.c_str(), &length);
    if (!digest)
        return std::nullopt;
    char* hex = toHex(digest, length);
    free(digest);
    if (!hex)
        return std::nullopt;
    std::string text = hex;
    free(hex);
    return text;
}

} // namespace vyai
