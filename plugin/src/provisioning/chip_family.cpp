#include "provisioning/chip_family.h"

#include <vy/platform/pci_devices.h>

#include "foundations/constants.h"
#include "foundations/ini.h"
#include "foundations/log.h"
#include "foundations/system_info.h"
#include "foundations/text_helpers.h"

namespace vyai {

RuntimeStorage_t RuntimeStorage_t::fromIni()
{
    const char* configured = ini().RuntimesStorageURL;
    return {configured ? configured : "", kRuntimeStorageBaseUrl + "/KAVU/runtimes/" + "2.0.0",
        ini().enableNvidiaTRTIntegration};
}

NvidiaProbe_t NvidiaProbe_t::system()
{
    return {vy::platform::kPciDevicesRoot};
}

bool RuntimeLink::hasMimeType(const std::string& mime) const
{
    if (mime.empty())
        return true;
    for (const std::string& entry: mimeTypes)
    {
        if (entry == mime)
            return true;
    }
    return false;
}

std::string ChipFamily::getDownloadLink(const std::string& runtimeName) const
{
    const auto found = runtimes.find(runtimeName);
    if (found == runtimes.end())
    {
        logError("ERROR: Runtime %s not found 1\n", runtimeName.c_str());
        return {};
    }
    if (found->second.mimeTypes.empty())
        logError("ERROR: No supported mime types found for the runtime\n");
    logError("Download link: %s (mimetype: %s)\n", found->second.url.c_str(),
        found->second.firstMimeType().c_str());
    return found->second.url;
}

std::string ChipFamily::getMimeType(const std::string& runtimeName) const
{
    const auto found = runtimes.find(runtimeName);
    if (found == runtimes.end())
    {
        logError("ERROR: Runtime %s not found 2\n", runtimeName.c_str());
        return {};
    }
    return found->second.firstMimeType();
}

std::vector<std::string> ChipFamily::getRuntimeNames(const std::string& mimeFilter) const
{
    std::vector<std::string> names;
    for (const auto& [name, link]: runtimes)
    {
        if (link.hasMimeType(mimeFilter))
            names.push_back(name);
    }
    return names;
}

void ChipFamily::log() const
{
    if (!chipDetected)
        return;
    logError("Chip name: %s, Chip detected: %d, Correctly installed: %d, Number of chips: %d, "
        "API version: %s\n", chipName.c_str(), chipDetected ? 1 : 0, correctlyInstalled ? 1 : 0,
        static_cast<int>(numberOfChips), apiVersion.c_str());
}

std::string buildRuntimeDownloadLink(const std::string& baseUrl, const std::string& chipName,
    uint32_t architecture, const std::string& osName, const std::string& osVersion,
    const std::string& driverVersion)
{
    std::string url = baseUrl;
    if (!url.ends_with('/'))
        url += '/';
    url += "{chip_name}/{cpu_arch}/{os_name}{/os_version}/library{-driver_version}.tar.gz";
    replaceAll(url, "{chip_name}", chipName);
    replaceAll(url, "{cpu_arch}", cpuArchitectureName(static_cast<int32_t>(architecture)));
    replaceAll(url, "{os_name}", osName);
    replaceAll(url, "{/os_version}", osVersion.empty() ? std::string() : "/" + osVersion);
    replaceAll(url, "{-driver_version}", driverVersion.empty() ? std::string() : "-" + driverVersion);
    return url;
}

} // namespace vyai
