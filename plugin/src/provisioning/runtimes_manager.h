#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "foundations/messaging_manager.h"
#include "foundations/system_info.h"
#include "provisioning/archive_extraction.h"
#include "provisioning/chip_family.h"

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

/** The file the inference engine loads from the runtime folder. */
inline constexpr char kRuntimeLibraryFileName[] = "RuntimeLibrary.so";
/** The runtime folder's record of the installed runtime's name. */
inline constexpr char kInstalledRuntimeFileName[] = "installed_runtime.txt";

/** What the manager takes from the ini options; tests set their own. */
struct RuntimeOptions_t
{
    RuntimeStorage_t storage;
    bool cacheRuntimeArchives = false;
    NvidiaProbe_t nvidiaProbe;

    static RuntimeOptions_t fromIni();
};

/**
 * The engine's keeper of accelerator runtimes, all kept under one runtime folder. init runs on
 * the thread that builds the engine; the install operations on the runtime manager loop. The
 * state, the offered and selected names and the flags are also read and written by host threads
 * (dialogs, buttons): they are atomic or guarded by one mutex, and never held while calling out.
 */
class RuntimesManager
{
public:
    explicit RuntimesManager(std::string rootDirectory);
    RuntimesManager(std::string rootDirectory, RuntimeOptions_t options);
    ~RuntimesManager();

    RuntimesManager(const RuntimesManager&) = delete;
    RuntimesManager& operator=(const RuntimesManager&) = delete;

    /** Checks the processor prerequisites and detects the accelerator families. */
    void init(MessagingManager& messages);
    /**
     * init in two halves: the prerequisites are quick; the detection runs the accelerators'
     * tools, which may hang until their time limit, so the engine runs it on its loop.
     */
    void checkPrerequisites(MessagingManager& messages);
    void detectAccelerators(MessagingManager& messages);
    /** True once the detection ran, or once the prerequisites ruled it out; any thread. */
    bool acceleratorsDetected() const { return m_acceleratorsDetected.load(std::memory_order_acquire); }

    /** Runtime names the families offer for models of this mime type (all for ""), sorted. */
    std::vector<std::string> getCompatibleRuntimes(const std::string& mimeFilter);
    /** True when the record exists and a runtime library can be read. */
    bool isInstalledRuntimePresent() const;
    /** The recorded runtime name; empty, with a warning, when there is none. */
    std::string readInstalledRuntimeName();
    /**
     * Downloads, checks and unpacks the runtime; the outcome is the state (6 or 4). A cancel
     * requested before it began ends it at once. Installs nothing when the user meanwhile asked
     * to reselect or chose another runtime: their decision stays.
     */
    void installRuntime(const std::string& runtimeName, MessagingManager& messages, bool ownFolder);
    void saveInstalledRuntimeName(const std::string& runtimeName);
    /** The runtime's model format; empty, with an error line, for an unknown name. */
    std::string getRuntimeMimeType(const std::string& runtimeName) const;
    /**
     * Marks the runtime installed and posts its documentation link, if it has one; only while
     * the state is still `seenState`, so that a user's choice or reselect made since stays.
     */
    bool reportRuntimeDocumentation(
        MessagingManager& messages, const std::string& runtimeName, uint32_t seenState);
    /**
     * Deletes the runtime libraries (versioned names too) and the record. State 0 when all
     * went, unless the user moved the state meanwhile; false when anything stayed.
     */
    bool removeInstalledRuntime();

    uint32_t getState() const { return m_state.load(); }
    void setState(uint32_t state) { m_state.store(state); }
    /** Moves the state from `from` to `to` only if nobody moved it meanwhile. */
    bool moveState(uint32_t from, uint32_t to) { return m_state.compare_exchange_strong(from, to); }
    std::vector<std::string> getOfferedRuntimes() const;
    void setOfferedRuntimes(std::vector<std::string> names);
    std::string getSelectedRuntime() const;
    /** The user's choice: the name and state 2 together. */
    void selectRuntime(const std::string& runtimeName);
    /**
     * The user's "Cancel Download": ends the install under way, or the one the user's choice
     * is waiting for; ignored otherwise, as from a dialog left open since its install ended.
     * Any thread.
     */
    void requestCancel();
    /** As requestCancel, for good: every later install ends at once too. Engine shut-down. */
    void stop();
    bool isCancelRequested() const { return m_cancelRequested.load(); }
    bool wasCancelledByUser() const { return m_cancelledByUser.load(); }

private:
    friend struct RuntimesManagerTestAccess;

    // Each step logs its failure; false ends the installation with state 4.
    bool fetchPackage(const std::string& runtimeName, const std::string& packagePath, MessagingManager& messages);
    ExtractionOutcome extractPackage(const std::string& packagePath, const std::string& folder,
        const std::string& staging, bool ownFolder, MessagingManager& messages);
    // After a whole package was unpacked: kept when packages are cached, deleted otherwise.
    void releasePackage(const std::string& packagePath);
    // Moves to state 3 unless the user's decision since forbids; consumes an early cancel.
    bool beginInstall(const std::string& runtimeName);
    // Clears the cancel of an install that has ended.
    void spendCancel();
    void runInstall(const std::string& runtimeName, MessagingManager& messages, bool ownFolder);
    // Ends an installation unless the user moved the state meanwhile (a reselect).
    bool finishInstall(uint32_t state);
    void postRuntimeDocumentation(MessagingManager& messages, const std::string& runtimeName);

    std::string m_rootDirectory;
    RuntimeOptions_t m_options;
    SystemInfo m_systemInfo;
    std::atomic<uint32_t> m_state{kRuntimeNothingDecided};
    std::atomic<bool> m_cancelRequested{false};
    std::atomic<bool> m_cancelledByUser{false};
    std::atomic<bool> m_stopped{false};
    std::atomic<bool> m_acceleratorsDetected{false};

    // Guards the three names below, held only to copy them; also orders a cancel against the
    // start and the end of an install.
    mutable std::mutex m_mutex;
    std::string m_installedRuntimeName;
    std::vector<std::string> m_offeredRuntimes;
    std::string m_selectedRuntime;

    // Set by checkPrerequisites before any other thread uses the manager; read-only afterwards.
    std::string m_osName;
    std::string m_osVersion;
    int32_t m_architecture = 0;
    bool m_prerequisitesMet = false;
    // Written once by detectAccelerators, before m_acceleratorsDetected is set; read-only
    // afterwards. One owner per family kind: the records have no virtual destructor.
    std::unique_ptr<CpuFamily> m_cpuFamily;
    std::unique_ptr<NvidiaFamily> m_nvidiaFamily;
    std::unique_ptr<DeepxFamily> m_deepxFamily;
    std::unique_ptr<HailoFamily> m_hailoFamily;
    std::unique_ptr<IntelFamily> m_intelFamily;
    std::map<std::string, const ChipFamily*> m_runtimeFamilies; //< runtime name -> its family
};

} // namespace vyai
