#pragma once

#include <vy/sdk/analytics/i_device_agent.h>
#include <vy/sdk/i_action_request.h>
#include <vy/sdk/i_device_info.h>
#include <vy/sdk/i_engine_description.h>
#include <vy/sdk/i_settings_response.h>
#include <vy/sdk/i_string.h>
#include <vy/sdk/i_string_map.h>
#include <vy/sdk/interface.h>
#include <vy/sdk/ptr.h>
#include <vy/sdk/result.h>

namespace vy::sdk::analytics {

/**
 * What an engine action gives back. The meaning of the four fields is the host's; the
 * plug-in leaves them empty. Not trivially copyable, so it crosses the boundary only behind
 * an out-pointer. A failure result holds neither reference and both flags false.
 */
struct ActionResult
{
    Ptr<IRefCountable> firstObject;
    Ptr<IRefCountable> secondObject;
    bool firstFlag = false;
    bool secondFlag = false;
};

/** The plug-in's analytics engine: makes a device agent per camera. */
class IEngine0: public Interface<IEngine0>
{
public:
    static constexpr const char* kInterfaceIds[] = {"vy::sdk::analytics::IEngine"};

    /** The host's receiver for the engine; the plug-in sends nothing through it. */
    class IHostHandler: public Interface<IHostHandler>
    {
    public:
        static constexpr const char* kInterfaceIds[] = {
            "vy::sdk::analytics::IEngine::IHostHandler"};
    };

    /** The host's description of the engine; not kept. Null is accepted. */
    virtual void attachEngineInfo(const IEngineDescription* engineInfo) = 0;
    virtual Result<const ISettingsResponse*> applySettings(const IStringMap* settings) = 0;
    virtual void getIntegrationSideSettings(Result<const ISettingsResponse*>* outResult) const = 0;
    virtual Result<const IString*> manifest() const = 0;
    /** A query whose meaning is the host's; answered with true. */
    virtual bool reservedQuery() const = 0;
    /** A new device agent for the camera, with its creator's reference for the host. */
    virtual void doCreateDeviceAgent(Result<IDeviceAgent*>* outResult,
        const IDeviceInfo* deviceInfo) = 0;
    virtual void doExecuteAction(Result<ActionResult>* outResult,
        const IActionRequest* actionRequest) = 0;
    /** The engine keeps its own reference to the handler; null removes it. */
    virtual void setHandler(IHostHandler* handler) = 0;
};

class IEngine: public Interface<IEngine, IEngine0>
{
public:
    static constexpr const char* kInterfaceIds[] = {"vy::sdk::analytics::IEngine1"};

    /** An operation whose meaning is the host's; the plug-in does nothing in it. */
    virtual void reservedOperation() = 0;
};

} // namespace vy::sdk::analytics
