#include "provisioning/runtimes_manager.h"

#include <utility>

#include "foundations/log.h"
#include "foundations/message_codes.h"

namespace vyai {

RuntimesManager::RuntimesManager(std::string rootDirectory):
    m_rootDirectory(std::move(rootDirectory))
{
}

void RuntimesManager::init(MessagingManager& messages)
{
    if (m_rootDirectory.empty())
    {
        logError("ERROR: The bin directory path is empty. Please make sure the bin directory of "
            "the Veltrin is supplied.\n");
        return;
    }

    logError("Initializing Runtimes Manager\n");
    m_systemInfo = SystemInfo();
    m_osName = m_systemInfo.getOsName();
    m_osVersion = m_systemInfo.getOsVersion();
    m_architecture = m_systemInfo.getCpuArchitecture();
    if (m_osName.empty() || m_architecture == kArchitectureUnknown)
    {
        logError("Error: The OS name or CPU architecture are not extracted correctly from the "
            "system.\n");
        return;
    }

    if (m_architecture == kArchitectureX86_64 && !cpuHasAvx2())
    {
        messages.addMessage(kMessageMissingAvx2Error, kMissingAvx2Text, kMessageTypeWarning);
        return;
    }
    if (!isLibraryInstalled("libgomp.so"))
    {
        messages.addMessage(kMessageMissingLibgompError, kMissingLibgompText, kMessageTypeWarning);
        return;
    }

    logError("Runtimes Manager initialized.\n");
    logError("Machine Info:\n");
    logError("OS Name: %s, OS Version: %s, CPU Architecture: %s\n", m_osName.c_str(),
        m_osVersion.c_str(), cpuArchitectureName(m_architecture).c_str());
}

// Minimal stand-ins until the runtime install is built.

namespace {

void logNotAvailable(const char* operation)
{
    logError("Warning! RuntimesManager::%s is not available yet.\n", operation);
}

} // namespace

bool RuntimesManager::isInstalledRuntimePresent()
{
    logNotAvailable("isInstalledRuntimePresent");
    return false;
}

std::string RuntimesManager::readInstalledRuntimeName()
{
    logNotAvailable("readInstalledRuntimeName");
    return {};
}

void RuntimesManager::reportRuntimeDocumentation(MessagingManager&, const std::string&)
{
    logNotAvailable("reportRuntimeDocumentation");
}

std::vector<std::string> RuntimesManager::getCompatibleRuntimes(MessagingManager&, const std::string&)
{
    logNotAvailable("getCompatibleRuntimes");
    return {};
}

void RuntimesManager::setCompatibleRuntimes(std::vector<std::string>)
{
    logNotAvailable("setCompatibleRuntimes");
}

std::string RuntimesManager::selectedRuntime() const
{
    logNotAvailable("selectedRuntime");
    return {};
}

void RuntimesManager::installRuntime(const std::string&, MessagingManager&, bool)
{
    logNotAvailable("installRuntime");
}

void RuntimesManager::saveInstalledRuntimeName(const std::string&)
{
    logNotAvailable("saveInstalledRuntimeName");
}

std::string RuntimesManager::getRuntimeMimeType(const std::string&)
{
    logNotAvailable("getRuntimeMimeType");
    return {};
}

void RuntimesManager::removeInstalledRuntime()
{
    logNotAvailable("removeInstalledRuntime");
}

} // namespace vyai
