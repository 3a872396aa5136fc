#pragma once

// A self-signed TLS identity for 127.0.0.1 made in the test, and a loopback https server that
// the plug-in trusts the way an administrator makes a machine trust a private authority:
// through the certificate file that OpenSSL's SSL_CERT_FILE names.

#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cloud/loopback_server.h>

#include "scoped_environment.h"
#include "scoped_temp_directory.h"

namespace vyai::test {

struct TlsIdentity
{
    EVP_PKEY* key = nullptr;
    X509* certificate = nullptr;

    TlsIdentity()
    {
        key = EVP_RSA_gen(2048);
        certificate = X509_new();
        X509_set_version(certificate, 2);
        ASN1_INTEGER_set(X509_get_serialNumber(certificate), 1);
        X509_gmtime_adj(X509_getm_notBefore(certificate), 0);
        X509_gmtime_adj(X509_getm_notAfter(certificate), 3600);
        X509_NAME* name = X509_get_subject_name(certificate);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
            reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
        X509_set_issuer_name(certificate, name);
        X509_set_pubkey(certificate, key);
        // Clients match an address against the alternative names only.
        X509V3_CTX context;
        X509V3_set_ctx_nodb(&context);
        X509V3_set_ctx(&context, certificate, certificate, nullptr, nullptr, 0);
        if (X509_EXTENSION* names = X509V3_EXT_conf_nid(nullptr, &context, NID_subject_alt_name, "IP:127.0.0.1"))
        {
            X509_add_ext(certificate, names, -1);
            X509_EXTENSION_free(names);
        }
        X509_sign(certificate, key, EVP_sha256());
    }
    ~TlsIdentity()
    {
        X509_free(certificate);
        EVP_PKEY_free(key);
    }
    TlsIdentity(const TlsIdentity&) = delete;
    TlsIdentity& operator=(const TlsIdentity&) = delete;

    // The certificate in PEM form, as a trust store file.
    void writeCertificate(const std::filesystem::path& path) const
    {
        BIO* file = BIO_new_file(path.c_str(), "w");
        PEM_write_bio_X509(file, certificate);
        BIO_free(file);
    }
};

// An https server on 127.0.0.1 whose certificate clients of this process trust for its scope.
class TrustedTlsServer
{
public:
    TrustedTlsServer():
        m_server(std::make_unique<httplib::SSLServer>(m_identity.certificate, m_identity.key)),
        m_trust("SSL_CERT_FILE", trustFile())
    {
    }

    httplib::Server& http() { return m_server.http(); }
    bool start() { return m_server.start(); }
    void stop() { m_server.stop(); }
    std::string url(const std::string& path) const
    {
        return "https://127.0.0.1:" + std::to_string(m_server.port()) + path;
    }

private:
    std::string trustFile()
    {
        const auto path = m_folder.path() / "trusted.pem";
        m_identity.writeCertificate(path);
        return path.string();
    }

    TlsIdentity m_identity;
    ScopedTempDirectory m_folder;
    vy::standins::LoopbackServer m_server;
    ScopedEnv m_trust;
};

} // namespace vyai::test
