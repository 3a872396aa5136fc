#pragma once

#include <vy/sdk/analytics/i_metadata_packet.h>
#include <vy/sdk/i_settings_response.h>
#include <vy/sdk/i_string.h>
#include <vy/sdk/i_string_map.h>
#include <vy/sdk/interface.h>
#include <vy/sdk/result.h>

namespace vy::sdk::analytics {

/** The plug-in's object for one camera. */
class IDeviceAgent: public Interface<IDeviceAgent>
{
public:
    static constexpr const char* kInterfaceIds[] = {"vy::sdk::analytics::IDeviceAgent"};

    /** The host's receiver of what a device agent produces. */
    class IHostHandler: public Interface<IHostHandler>
    {
    public:
        static constexpr const char* kInterfaceIds[] = {
            "vy::sdk::analytics::IDeviceAgent::IHostHandler"};

        /** Takes one packet; the handler acquires a reference if it keeps it. */
        virtual void handleMetadata(IMetadataPacket* metadataPacket) = 0;
        /** Diagnostic events of the integration; the plug-in raises none. */
        virtual void handleDiagnosticEvent(IRefCountable* event) = 0;
        /** Takes a new device agent manifest (JSON); the handler acquires it if it keeps it. */
        virtual void pushManifest(const IString* manifest) = 0;
    };

    /** New settings values from the host; the response and its reference go to the host. */
    virtual Result<const ISettingsResponse*> applySettings(const IStringMap* settings) = 0;
    /** The settings the plug-in side holds, for the host's dialog. */
    virtual void getIntegrationSideSettings(Result<const ISettingsResponse*>* outResult) const = 0;
    virtual Result<const IString*> manifest() const = 0;
    /** The agent keeps its own reference to the handler; null removes it. */
    virtual void setHandler(IHostHandler* handler) = 0;
    /** An operation whose meaning is the host's; the plug-in does nothing in it. */
    virtual void reservedOperation() = 0;
};

} // namespace vy::sdk::analytics
