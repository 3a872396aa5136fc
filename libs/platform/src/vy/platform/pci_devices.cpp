#include "vy/platform/pci_devices.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace vy::platform {

namespace {

// A sysfs id file holds "0x10de\n".
std::optional<unsigned> readHexId(const std::filesystem::path& file)
{
    std::ifstream stream(file);
    std::string text;
    if (!(stream >> text))
        return std::nullopt;
    unsigned value = 0;
    if (std::sscanf(text.c_str(), "%x", &value) != 1 || value > 0xffff)
        return std::nullopt;
    return value;
}

} // namespace

std::optional<std::vector<std::string>> pciDeviceKeys(const std::string& devicesRoot)
{
    std::error_code error;
    std::filesystem::directory_iterator devices(devicesRoot, error);
    if (error)
        return std::nullopt;
    std::vector<std::string> keys;
    for (const auto& device: devices)
    {
        const auto vendor = readHexId(device.path() / "vendor");
        const auto deviceId = readHexId(device.path() / "device");
        if (!vendor || !deviceId)
            continue;
        char key[32];
        std::snprintf(key, sizeof key, "VEN_%04X&DEV_%04X", *vendor, *deviceId);
        keys.emplace_back(key);
    }
    std::sort(keys.begin(), keys.end());
    return keys;
}

} // namespace vy::platform
