#pragma once

namespace vy::network::ssl {

// How a TLS client judges the server's certificate.
enum class CertificatePolicy
{
    // Verify the chain against the system's trusted roots (or those that
    // SSL_CERT_FILE and SSL_CERT_DIR name) and the host name.
    verifyWithSystemRoots,
};

inline constexpr CertificatePolicy kDefaultCertificateCheck = CertificatePolicy::verifyWithSystemRoots;

} // namespace vy::network::ssl

namespace vy::network::ssl {

// For stream sockets to peers on this machine: any certificate is taken (plain TCP here).
struct AcceptAnyCertificate
{
};
inline constexpr AcceptAnyCertificate kAcceptAnyCertificate{};

} // namespace vy::network::ssl
