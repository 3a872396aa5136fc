#pragma once

namespace vy::network::ssl {

// How a TLS client judges the server's certificate.
enum class CertificatePolicy
{
    // Verify the chain against the system's trusted roots and the host name.
    verifyWithSystemRoots,
};

inline constexpr CertificatePolicy kDefaultCertificateCheck = CertificatePolicy::verifyWithSystemRoots;

} // namespace vy::network::ssl
