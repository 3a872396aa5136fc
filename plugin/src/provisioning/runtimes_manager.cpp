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

void RuntimesManager::chooseRuntime(std::string runtimeName)
{
    const std::lock_guard lock(m_selectionMutex);
    m_selectedRuntime = std::move(runtimeName);
    m_state.store(kRuntimeChosen);
}

} // namespace vyai
