#pragma once

#include <vy/sdk/analytics/i_data_packet.h>
#include <vy/sdk/analytics/i_device_agent.h>
#include <vy/sdk/i_active_setting_changed_action.h>
#include <vy/sdk/i_active_setting_changed_response.h>
#include <vy/sdk/result.h>

namespace vy::sdk::analytics {

/** A device agent that takes the camera's data packets from the host. */
class IConsumingDeviceAgent0: public Interface<IConsumingDeviceAgent0, IDeviceAgent>
{
public:
    static constexpr const char* kInterfaceIds[] = {
        "vy::sdk::analytics::IConsumingDeviceAgent"};

    /** A frame or other packet of the camera; the result stays as passed on success. */
    virtual void doPushDataPacket(Result<void>* outResult, IDataPacket* dataPacket) = 0;
};

class IConsumingDeviceAgent1: public Interface<IConsumingDeviceAgent1, IConsumingDeviceAgent0>
{
public:
    static constexpr const char* kInterfaceIds[] = {
        "vy::sdk::analytics::IConsumingDeviceAgent1"};

    /** The host is about to release the agent. */
    virtual void finalize() = 0;
};

class IConsumingDeviceAgent: public Interface<IConsumingDeviceAgent, IConsumingDeviceAgent1>
{
public:
    static constexpr const char* kInterfaceIds[] = {
        "vy::sdk::analytics::IConsumingDeviceAgent2"};

    /** A button or instantly applied setting of the agent's dialog was used. */
    virtual void handleActiveSettingChange(Result<IActiveSettingChangedResponse*>* outResult,
        const IActiveSettingChangedAction* action) = 0;
};

} // namespace vy::sdk::analytics
