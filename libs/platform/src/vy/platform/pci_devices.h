#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vy::platform {

// Where the kernel lists the machine's PCI devices, one folder each.
inline constexpr char kPciDevicesRoot[] = "/sys/bus/pci/devices";

// The PCI devices below a devices folder laid out like kPciDevicesRoot, each named the way the
// device registry names it: "VEN_xxxx&DEV_xxxx" (upper-case hex ids), sorted. A device whose
// vendor or device file cannot be read is left out. None when the folder cannot be listed.
std::optional<std::vector<std::string>> pciDeviceKeys(const std::string& devicesRoot = kPciDevicesRoot);

} // namespace vy::platform
