#include "vyai_crypto/model_decryption.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <unistd.h>

#include "foundations/file_helpers.h"
#include "foundations/log.h"

namespace vyai {

namespace {

constexpr size_t kIvLength = 12;
constexpr size_t kTagLength = 16;
constexpr size_t kChunkLength = 1024;

struct CipherContextFree {
    void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};

// A new file that only the owner can read: the plain model is what the encryption protects,
// and the temporary folder is shared with other users. O_EXCL refuses a link planted at the
// path since the old file was removed.
UniqueFile createPrivateFile(const char* path)
{
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return nullptr;
    FILE* file = ::fdopen(fd, "wb");
    if (!file)
        ::close(fd);
    return UniqueFile(file);
}

bool readExactly(FILE* file, off_t offset, unsigned char* buffer, size_t length)
{
    return ::fseeko(file, offset, SEEK_SET) == 0 && std::fread(buffer, 1, length, file) == length;
}

// The output of one decryption; every failure deletes the output file.
class Decryption {
public:
    Decryption(const char* inputPath, const char* outputPath):
        m_inputPath(inputPath), m_outputPath(outputPath)
    {
    }

    bool run(const unsigned char* key);

private:
    bool fail()
    {
        m_output.reset();
        std::error_code ignored;
        std::filesystem::remove(m_outputPath, ignored);
        return false;
    }
    bool failWithOpenSslErrors()
    {
        ERR_print_errors_fp(stderr);
        return fail();
    }
    bool write(const unsigned char* bytes, size_t length)
    {
        if (length == 0 || std::fwrite(bytes, 1, length, m_output.get()) == length)
            return true;
        logError("Error writing output file '%s': %s\n", m_outputPath, std::strerror(errno));
        return false;
    }
    bool decryptChunks(EVP_CIPHER_CTX* context, off_t cipherLength);

    const char* m_inputPath;
    const char* m_outputPath;
    UniqueFile m_input;
    UniqueFile m_output;
};

bool Decryption::run(const unsigned char* key)
{
    m_input.reset(std::fopen(m_inputPath, "rb"));
    if (!m_input) {
        logError("Error opening input file: %s\n", m_inputPath);
        return false;
    }
    std::error_code removeError;
    std::filesystem::remove(m_outputPath, removeError);
    if (removeError) {
        logError("Error removing existing output file '%s': %s\n", m_outputPath,
            removeError.message().c_str());
        return false;
    }
    m_output = createPrivateFile(m_outputPath);
    if (!m_output) {
        logError("Error opening output file: %s\n", m_outputPath);
        return false;
    }

    off_t size = -1;
    if (::fseeko(m_input.get(), 0, SEEK_END) == 0)
        size = ::ftello(m_input.get());
    if (size < static_cast<off_t>(kIvLength + kTagLength)) {
        logError("Input file invalid or too small: %s\n", m_inputPath);
        return fail();
    }
    unsigned char tag[kTagLength];
    unsigned char iv[kIvLength];
    if (!readExactly(m_input.get(), size - static_cast<off_t>(kTagLength), tag, kTagLength)
        || !readExactly(m_input.get(), 0, iv, kIvLength)) {
        logError("Input file invalid or too small: %s\n", m_inputPath);
        return fail();
    }

    std::unique_ptr<EVP_CIPHER_CTX, CipherContextFree> context(EVP_CIPHER_CTX_new());
    if (!context) {
        logError("Failed to create cipher context for '%s'\n", m_inputPath);
        return failWithOpenSslErrors();
    }
    if (EVP_DecryptInit_ex(context.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr) != 1) {
        logError("EVP_DecryptInit_ex (cipher) failed for '%s'\n", m_inputPath);
        return failWithOpenSslErrors();
    }
    if (EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_IVLEN, kIvLength, nullptr) != 1) {
        logError("EVP_CTRL_GCM_SET_IVLEN failed for '%s'\n", m_inputPath);
        return failWithOpenSslErrors();
    }
    if (EVP_DecryptInit_ex(context.get(), nullptr, nullptr, key, iv) != 1) {
        logError("EVP_DecryptInit_ex (key+IV) failed for '%s'\n", m_inputPath);
        return failWithOpenSslErrors();
    }
    if (EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_TAG, kTagLength, tag) != 1) {
        logError("EVP_CTRL_GCM_SET_TAG failed for '%s'\n", m_inputPath);
        return failWithOpenSslErrors();
    }

    // The reading goes on right after the IV.
    if (!decryptChunks(context.get(), size - static_cast<off_t>(kIvLength + kTagLength)))
        return failWithOpenSslErrors();

    unsigned char final[EVP_MAX_BLOCK_LENGTH];
    int finalLength = 0;
    if (EVP_DecryptFinal_ex(context.get(), final, &finalLength) != 1) {
        logError("Tag verification failed for '%s' - wrong key or corrupt file\n", m_inputPath);
        return failWithOpenSslErrors();
    }
    if (!write(final, static_cast<size_t>(finalLength)))
        return fail();
    // Buffered bytes meet a full disk only here: a failed close is a failed decryption.
    if (std::fclose(m_output.release()) != 0) {
        logError("Error writing output file '%s': %s\n", m_outputPath, std::strerror(errno));
        return fail();
    }
    return true;
}

bool Decryption::decryptChunks(EVP_CIPHER_CTX* context, off_t cipherLength)
{
    unsigned char cipher[kChunkLength];
    unsigned char plain[kChunkLength + EVP_MAX_BLOCK_LENGTH];
    off_t remaining = cipherLength;
    while (remaining > 0) {
        const size_t wanted = static_cast<size_t>(std::min<off_t>(remaining, kChunkLength));
        const size_t got = std::fread(cipher, 1, wanted, m_input.get());
        if (got == 0)
            return false;
        int plainLength = 0;
        if (EVP_DecryptUpdate(context, plain, &plainLength, cipher, static_cast<int>(got)) != 1)
            return false;
        if (!write(plain, static_cast<size_t>(plainLength)))
            return false;
        remaining -= static_cast<off_t>(got);
    }
    return true;
}

} // namespace

bool decryptModelFile(const unsigned char* key, const char* inputPath, const char* outputPath)
{
    if (!key || !inputPath || !outputPath) {
        logError("Error! decryptModelFile needs a key, an input path and an output path.\n");
        return false;
    }
    return Decryption(inputPath, outputPath).run(key);
}

} // namespace vyai
