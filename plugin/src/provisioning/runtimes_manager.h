#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "foundations/messaging_manager.h"
#include "foundations/system_info.h"

namespace vyai {

/** Where the runtime setup stands; the loop, the dialogs and the engine's actions move it. */
enum RuntimeInstallState : uint32_t {
    kRuntimeNothingDecided = 0,
    kRuntimeAwaitingChoice = 1,
    kRuntimeChosen = 2,
    kRuntimeInstalling = 3,
    kRuntimeInstallFailed = 4,
    kRuntimeNoneCompatible = 5,
    kRuntimeInstalled = 6,
    kRuntimeReselect = 7,
};

/** The engine's keeper of accelerator runtimes, all kept under one runtime folder. */
class RuntimesManager
{
public:
    explicit RuntimesManager(std::string rootDirectory);

    RuntimesManager(const RuntimesManager&) = delete;
    RuntimesManager& operator=(const RuntimesManager&) = delete;

    /** Checks the processor prerequisites; runs once, on the thread that builds the engine. */
    void init(MessagingManager& messages);

    /** Makes a running runtime package download end at its next buffer; any thread. */
    void requestCancel() { m_cancelRequested.store(true); }

    /** RuntimeInstallState; moved by the loop, the runtime install and the dialogs' buttons. */
    uint32_t installState() const { return m_state.load(); }

    /** The user's choice in a dialog: the loop installs this runtime next; any thread. */
    void chooseRuntime(std::string runtimeName);

private:
    std::string m_rootDirectory;
    SystemInfo m_systemInfo;
    // Written by the loop and by host threads (the dialogs' buttons), hence atomic.
    std::atomic<uint32_t> m_state{kRuntimeNothingDecided};
    // Set by host threads while a download on the loop's thread polls it.
    std::atomic<bool> m_cancelRequested{false};
    mutable std::mutex m_selectionMutex;
    std::string m_selectedRuntime; //< protected by m_selectionMutex
    std::string m_osName;
    std::string m_osVersion;
    int32_t m_architecture = 0;
};

} // namespace vyai
