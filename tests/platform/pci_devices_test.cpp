#include "vy/platform/pci_devices.h"

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "scoped_temp_directory.h"

namespace vy::platform {
namespace {

void addDevice(const std::filesystem::path& root, const std::string& slot, const char* vendor,
    const char* device)
{
    std::filesystem::create_directories(root / slot);
    if (vendor)
        std::ofstream(root / slot / "vendor") << vendor << "\n";
    if (device)
        std::ofstream(root / slot / "device") << device << "\n";
}

TEST(PciDevices, DevicesAreNamedLikeRegistryKeys)
{
    ScopedTempDirectory root;
    addDevice(root.path(), "0000:01:00.0", "0x10de", "0x2204");
    addDevice(root.path(), "0000:00:02.0", "0x8086", "0x9a49");
    addDevice(root.path(), "0000:00:03.0", "0x8086", nullptr); // unreadable: left out
    addDevice(root.path(), "0000:00:04.0", "junk", "0x0001");
    const auto keys = pciDeviceKeys(root.path().string());
    ASSERT_TRUE(keys);
    EXPECT_EQ(*keys, (std::vector<std::string>{"VEN_10DE&DEV_2204", "VEN_8086&DEV_9A49"}));
}

TEST(PciDevices, AMissingFolderIsNoList)
{
    ScopedTempDirectory root;
    EXPECT_FALSE(pciDeviceKeys(root.file("absent")));
    EXPECT_EQ(pciDeviceKeys(root.path().string())->size(), 0u);
}

} // namespace
} // namespace vy::platform
