#pragma once

// Makes encrypted model files the way the cloud does: 12-byte IV, AES-256-GCM ciphertext,
// 16-byte tag. Tests that use it link OpenSSL::Crypto.

#include <openssl/evp.h>
#include <stdexcept>
#include <string>

namespace vyai::test {

inline std::string encryptModel(
    const std::string& plain, const unsigned char* key32, const unsigned char* iv12)
{
    EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
    std::string cipher(plain.size() + 16, '\0');
    unsigned char tag[16];
    int length = 0;
    int finalLength = 0;
    const bool ok = context
        && EVP_EncryptInit_ex(context, EVP_aes_256_gcm(), nullptr, nullptr, nullptr) == 1
        && EVP_CIPHER_CTX_ctrl(context, EVP_CTRL_GCM_SET_IVLEN, 12, nullptr) == 1
        && EVP_EncryptInit_ex(context, nullptr, nullptr, key32, iv12) == 1
        && EVP_EncryptUpdate(context, reinterpret_cast<unsigned char*>(cipher.data()), &length,
               reinterpret_cast<const unsigned char*>(plain.data()), int(plain.size())) == 1
        && EVP_EncryptFinal_ex(
               context, reinterpret_cast<unsigned char*>(cipher.data()) + length, &finalLength) == 1
        && EVP_CIPHER_CTX_ctrl(context, EVP_CTRL_GCM_GET_TAG, 16, tag) == 1;
    EVP_CIPHER_CTX_free(context);
    if (!ok)
        throw std::runtime_error("encryption of the test model failed");
    cipher.resize(size_t(length + finalLength));
    return std::string(reinterpret_cast<const char*>(iv12), 12) + cipher
        + std::string(reinterpret_cast<const char*>(tag), 16);
}

} // namespace vyai::test
