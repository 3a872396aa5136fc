#pragma once

// The stand-in host's REST store and utility provider, in-process, for tests of the code that
// talks to the host (and, through it, to the cloud).

#include <chrono>
#include <memory>
#include <string>

#include <host/rest_store.h>
#include <host/utility_provider.h>

#include "core/host_rest_client.h"

namespace vyai::test {

inline constexpr const char* kTestServerId = "{11111111-2222-3333-4444-555555555555}";
inline constexpr const char* kTestCloudSystemId = "sys-1";
inline constexpr const char* kTestCloudToken = "test-token-123";

/** A REST store and a utility provider answering from it, with a site id and a token. */
struct StandinHost
{
    explicit StandinHost(vyhost::UtilityProvider::Identity identity = defaultIdentity()):
        store(std::make_shared<vyhost::RestStore>(identity.serverId)),
        provider(vy::sdk::newRefCounted<vyhost::UtilityProvider>(store, std::move(identity)))
    {
    }

    static vyhost::UtilityProvider::Identity defaultIdentity()
    {
        return {"/tmp/vyhost-test", "second text", kTestServerId, kTestCloudSystemId, kTestCloudToken};
    }

    /** A new reference to the provider, as the plug-in holds it. */
    UtilityProviderPtr utilityProvider() const { return UtilityProviderPtr(provider); }

    std::shared_ptr<vyhost::RestStore> store;
    vy::sdk::Ptr<vyhost::UtilityProvider> provider;
};

/** Shortens the wait for the host's answer while in scope. */
class ScopedHostAnswerTimeout
{
public:
    explicit ScopedHostAnswerTimeout(std::chrono::milliseconds timeout): m_previous(hostAnswerTimeout())
    {
        setHostAnswerTimeout(timeout);
    }
    ~ScopedHostAnswerTimeout() { setHostAnswerTimeout(m_previous); }
    ScopedHostAnswerTimeout(const ScopedHostAnswerTimeout&) = delete;
    ScopedHostAnswerTimeout& operator=(const ScopedHostAnswerTimeout&) = delete;

private:
    std::chrono::milliseconds m_previous;
};

} // namespace vyai::test
