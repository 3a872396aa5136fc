#pragma once

#include <string>

#include <vy/sdk/helpers/ref_countable.h>
#include <vy/sdk/i_device_info.h>

namespace vyhost {

// One camera as the host describes it to the engine.
class DeviceInfo: public vy::sdk::RefCountable<vy::sdk::IDeviceInfo>
{
public:
    DeviceInfo(std::string id, std::string name): m_id(std::move(id)), m_name(std::move(name)) {}

    const char* id() const override { return m_id.c_str(); }
    const char* reservedText1() const override { return ""; }
    const char* reservedText2() const override { return ""; }
    const char* reservedText3() const override { return ""; }
    const char* name() const override { return m_name.c_str(); }

private:
    const std::string m_id;
    const std::string m_name;
};

} // namespace vyhost
