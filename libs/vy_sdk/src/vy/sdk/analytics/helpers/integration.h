#pragma once

#include <functional>
#include <mutex>
#include <string>

#include <vy/sdk/analytics/i_integration.h>
#include <vy/sdk/helpers/ref_countable.h>
#include <vy/sdk/i_utility_provider.h>
#include <vy/sdk/ptr.h>

namespace vy::sdk::analytics {

/**
 * Base of the plug-in's integration: keeps the host's utility provider and turns the host's
 * manifest and engine requests into manifestString() and doObtainEngine().
 */
class Integration: public RefCountable<IIntegration>
{
public:
    using CreateEngine = std::function<IEngine*(Integration*)>;

protected:
    Integration();
    /** Deprecated form: a fixed manifest and an engine factory instead of the overrides. */
    Integration(std::string integrationManifest, CreateEngine createEngine);

public:
    ~Integration() override;

    /** Keeps one reference to the provider; null releases the one kept. */
    void attachUtilityProvider(IUtilityProvider4* utilityProvider) override;
    /** The fixed manifest if one was given, else manifestString(), in a new String. */
    Result<const IString*> manifest() const override;
    /** The engine from the factory if one was given, else doObtainEngine(). */
    Result<IEngine*> provideEngine() override;

    /** An empty text; nothing calls it. */
    virtual std::string reservedText() const;

    /** The provider the host attached, with a reference of the caller's own; null when none. */
    Ptr<IUtilityProvider4> utilityProvider() const;

protected:
    /** A new engine with its creator's reference; the default reports a missing override. */
    virtual Result<IEngine*> doObtainEngine();
    /** The manifest (JSON); the default reports a missing override and gives "". */
    virtual std::string manifestString() const;

private:
    Result<IEngine*> obtainEngine();

    const std::string m_integrationManifest;
    const CreateEngine m_createEngine;
    // The host may attach another provider while the plug-in's threads read it.
    mutable std::mutex m_utilityProviderMutex;
    Ptr<IUtilityProvider4> m_utilityProvider; //< protected by m_utilityProviderMutex
};

} // namespace vy::sdk::analytics
