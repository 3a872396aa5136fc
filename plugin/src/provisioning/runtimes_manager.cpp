#include "provisioning/runtimes_manager.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <string_view>
#include <system_error>
#include <utility>

#include <sys/stat.h>

#include "foundations/constants.h"
#include "foundations/file_helpers.h"
#include "foundations/ini.h"
#include "foundations/log.h"
#include "foundations/message_codes.h"
#include "foundations/text_helpers.h"
#include "provisioning/archive_extraction.h"
#include "provisioning/bounded_text.h"
#include "provisioning/file_download.h"
#include "provisioning/progress_entry.h"
#include "vyai_crypto/file_md5.h"

namespace vyai {

namespace {

namespace fs = std::filesystem;

// Posted by runtimes of other builds; only ever removed here.
constexpr char kMessageMissingOpenclError[] = "MISSING_OPENCL_ERROR";
constexpr char kRuntimePackageText[] = "Downloading runtime package";
// The extension of the runtime's own libraries in its folder, before any version.
constexpr char kLibraryExtension[] = ".so";

std::string lowerCase(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
        [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// "libx.so" and its versioned names "libx.so.1", "libx.so.1.2": the runtime's libraries.
bool isSharedLibraryName(const std::string& name)
{
    for (size_t at = name.find(kLibraryExtension); at != std::string::npos;
         at = name.find(kLibraryExtension, at + 1))
    {
        const std::string_view version = std::string_view(name).substr(at + std::strlen(kLibraryExtension));
        if (at > 0 && version.empty())
            return true;
        if (at > 0 && version.size() > 1 && version.front() == '.'
            && std::all_of(version.begin(), version.end(),
                [](char c) { return c == '.' || std::isdigit(static_cast<unsigned char>(c)); }))
        {
            return true;
        }
    }
    return false;
}

bool isReadable(const fs::path& path)
{
    return std::ifstream(path, std::ios::binary).is_open();
}

// Runtimes place their library at the top of the folder, or the generic CPU runtime in a
// folder named after it.
std::array<fs::path, 2> runtimeLibraryPaths(const fs::path& folder)
{
    return {folder / kRuntimeLibraryFileName, folder / kAcceleratorGenericCpu / kRuntimeLibraryFileName};
}

bool holdsRuntimeLibrary(const fs::path& folder)
{
    const auto paths = runtimeLibraryPaths(folder);
    return std::any_of(paths.begin(), paths.end(), isReadable);
}

// Which files sit at the library's places (none: no file), so that a library a package placed
// is told from one an earlier install left: placed members are new files.
using FileIdentity = std::optional<std::pair<dev_t, ino_t>>;
using RuntimeLibraries = std::array<FileIdentity, 2>;

RuntimeLibraries runtimeLibrariesIn(const fs::path& folder)
{
    RuntimeLibraries libraries;
    const auto paths = runtimeLibraryPaths(folder);
    for (size_t i = 0; i < paths.size(); ++i)
    {
        struct stat status{};
        if (::stat(paths[i].c_str(), &status) == 0 && S_ISREG(status.st_mode))
            libraries[i] = std::make_pair(status.st_dev, status.st_ino);
    }
    return libraries;
}

bool placedRuntimeLibrary(const fs::path& folder, const RuntimeLibraries& before)
{
    const RuntimeLibraries after = runtimeLibrariesIn(folder);
    const auto paths = runtimeLibraryPaths(folder);
    for (size_t i = 0; i < paths.size(); ++i)
    {
        if (after[i] && after[i] != before[i] && isReadable(paths[i]))
            return true;
    }
    return false;
}

} // namespace

RuntimeOptions_t RuntimeOptions_t::fromIni()
{
    return {RuntimeStorage_t::fromIni(), ini().cacheRuntimeArchives, NvidiaProbe_t::system()};
}

RuntimesManager::RuntimesManager(std::string rootDirectory):
    RuntimesManager(std::move(rootDirectory), RuntimeOptions_t::fromIni())
{
}

RuntimesManager::RuntimesManager(std::string rootDirectory, RuntimeOptions_t options):
    m_rootDirectory(std::move(rootDirectory)), m_options(std::move(options))
{
}

RuntimesManager::~RuntimesManager() = default;

void RuntimesManager::init(MessagingManager& messages)
{
    checkPrerequisites(messages);
    detectAccelerators(messages);
}

void RuntimesManager::checkPrerequisites(MessagingManager& messages)
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
    m_prerequisitesMet = true;
}

void RuntimesManager::detectAccelerators(MessagingManager& messages)
{
    if (acceleratorsDetected())
        return;
    if (!m_prerequisitesMet)
    {
        // Nothing to detect: no runtime can run here, and the loop learns so at once.
        m_acceleratorsDetected.store(true, std::memory_order_release);
        return;
    }

    const auto architecture = static_cast<uint32_t>(m_architecture);
    const RuntimeStorage_t& storage = m_options.storage;
    m_cpuFamily = std::make_unique<CpuFamily>(architecture, m_osName, m_osVersion, storage);
    // The engine's shut-down (stop) ends a driver tool that hangs.
    m_nvidiaFamily = std::make_unique<NvidiaFamily>(
        architecture, m_osName, m_osVersion, messages, storage, m_options.nvidiaProbe, &m_stopped);
    m_deepxFamily = std::make_unique<DeepxFamily>(architecture, m_osName, m_osVersion, storage, &m_stopped);
    m_hailoFamily = std::make_unique<HailoFamily>(architecture, m_osName, m_osVersion, storage);
    m_intelFamily = std::make_unique<IntelFamily>(architecture, m_osName, m_osVersion, messages, storage);
    const ChipFamily* const families[] = {
        m_cpuFamily.get(), m_nvidiaFamily.get(), m_deepxFamily.get(), m_hailoFamily.get(), m_intelFamily.get()};
    for (const ChipFamily* family: families)
    {
        for (const std::string& name: family->getRuntimeNames(""))
            m_runtimeFamilies[name] = family;
    }

    logError("Runtimes Manager initialized.\n");
    logError("Machine Info:\n");
    logError("OS Name: %s, OS Version: %s, CPU Architecture: %s\n", m_osName.c_str(),
        m_osVersion.c_str(), cpuArchitectureName(m_architecture).c_str());
    m_intelFamily->log();
    m_acceleratorsDetected.store(true, std::memory_order_release);
}

std::vector<std::string> RuntimesManager::getCompatibleRuntimes(const std::string& mimeFilter)
{
    std::set<std::string> names;
    for (const auto& [name, family]: m_runtimeFamilies)
    {
        if (mimeFilter.empty())
        {
            names.insert(name);
            continue;
        }
        for (const std::string& offered: family->getRuntimeNames(mimeFilter))
            names.insert(offered);
    }
    if (names.empty())
    {
        logError("ERROR: Couldn't find any compatible runtime.\n");
        setState(kRuntimeNoneCompatible);
    }
    return {names.begin(), names.end()};
}

bool RuntimesManager::isInstalledRuntimePresent() const
{
    const fs::path root(m_rootDirectory);
    std::error_code error;
    return fs::exists(root / kInstalledRuntimeFileName, error) && holdsRuntimeLibrary(root);
}

std::string RuntimesManager::readInstalledRuntimeName()
{
    std::lock_guard lock(m_mutex);
    if (m_installedRuntimeName.empty())
    {
        std::ifstream record(fs::path(m_rootDirectory) / kInstalledRuntimeFileName);
        if (record)
            std::getline(record, m_installedRuntimeName);
        else
            logError("Warning: There is no installed runtime on this machine.\n");
    }
    return m_installedRuntimeName;
}

void RuntimesManager::saveInstalledRuntimeName(const std::string& runtimeName)
{
    {
        std::lock_guard lock(m_mutex);
        m_installedRuntimeName = runtimeName;
    }
    // Written aside and moved over, so that a crash never leaves half a name.
    const fs::path record = fs::path(m_rootDirectory) / kInstalledRuntimeFileName;
    const fs::path temporary = record.string() + ".tmp";
    std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
    file << runtimeName;
    file.close();
    std::error_code error;
    if (!file || (fs::rename(temporary, record, error), error))
    {
        fs::remove(temporary, error);
        logError("ERROR: Failed to save the installed runtime's name.\n");
    }
}

std::string RuntimesManager::getRuntimeMimeType(const std::string& runtimeName) const
{
    if (runtimeName.empty())
    {
        logError("Warning: There is no installed runtime on this machine.");
        return {};
    }
    const auto found = m_runtimeFamilies.find(runtimeName);
    if (found == m_runtimeFamilies.end())
    {
        logError("ERROR: Invalid runtime name.\n");
        return {};
    }
    return found->second->getMimeType(runtimeName);
}

bool RuntimesManager::reportRuntimeDocumentation(
    MessagingManager& messages, const std::string& runtimeName, uint32_t seenState)
{
    if (!moveState(seenState, kRuntimeInstalled))
        return false;
    postRuntimeDocumentation(messages, runtimeName);
    return true;
}

void RuntimesManager::postRuntimeDocumentation(MessagingManager& messages, const std::string& runtimeName)
{
    messages.removeMessage(kMessageMissingOpenclError);
    messages.removeMessage(kMessageNvidiaGpuSdk);
    messages.removeMessage(kMessageRuntimeDocumentation);
    const auto link = kAcceleratorDocumentation.find(runtimeName);
    if (link != kAcceleratorDocumentation.end() && !link->second.empty())
    {
        messages.addMessage(kMessageRuntimeDocumentation,
            runtimeDocumentationText(runtimeName, link->second), kMessageTypeMessage);
    }
}

void RuntimesManager::requestCancel()
{
    // Under the lock that the install's start and end take, so that a cancel is never kept
    // past the install it was meant for.
    std::lock_guard lock(m_mutex);
    const uint32_t state = getState();
    if (state != kRuntimeChosen && state != kRuntimeInstalling)
    {
        logError("Info: No runtime download to cancel.\n");
        return;
    }
    m_cancelRequested.store(true);
}

void RuntimesManager::stop()
{
    m_stopped.store(true);
    m_cancelRequested.store(true);
}

void RuntimesManager::installRuntime(const std::string& runtimeName, MessagingManager& messages, bool ownFolder)
{
    messages.removeMessage(kMessageRuntimeExtractionFailed);
    messages.removeMessage(kMessageRuntimeDownloadCorrupted);
    if (getState() == kRuntimeInstalled)
    {
        logError("Info: runtime is already installed.");
        return;
    }
    messages.removeMessage(kMessageMissingOpenclError);
    messages.removeMessage(kMessageNvidiaGpuSdk);
    if (!beginInstall(runtimeName))
        return;
    runInstall(runtimeName, messages, ownFolder);
    spendCancel();
}

void RuntimesManager::spendCancel()
{
    // Under the lock requestCancel takes: a press before this belonged to the install that
    // ended, one after it finds the install over. The next install starts afresh, unless the
    // engine stopped.
    std::lock_guard lock(m_mutex);
    m_cancelRequested.store(m_stopped.load());
}

bool RuntimesManager::beginInstall(const std::string& runtimeName)
{
    {
        // Under the lock that pairs the selected name with state 2.
        std::lock_guard lock(m_mutex);
        uint32_t state = getState();
        do
        {
            if (state == kRuntimeReselect || (state == kRuntimeChosen && m_selectedRuntime != runtimeName))
            {
                logError("Info: The runtime choice changed; %s is not installed.\n", runtimeName.c_str());
                return false;
            }
        } while (!m_state.compare_exchange_weak(state, kRuntimeInstalling));
    }
    m_cancelledByUser.store(false);
    // A cancel pressed while the choice waited for the loop belongs to this install.
    if (m_cancelRequested.load() || m_stopped.load())
    {
        logError("Info: Runtime download for %s was cancelled by the user.\n", runtimeName.c_str());
        m_cancelledByUser.store(true);
        finishInstall(kRuntimeInstallFailed);
        spendCancel();
        return false;
    }
    return true;
}

void RuntimesManager::runInstall(const std::string& runtimeName, MessagingManager& messages, bool ownFolder)
{
    // The name comes from the dialogs and names files below the runtime folder: only the
    // families' own names may do that.
    if (!m_runtimeFamilies.contains(runtimeName))
    {
        logError("ERROR: couldn't find a download link for the desired runtime.");
        finishInstall(kRuntimeInstallFailed);
        return;
    }

    const fs::path root(m_rootDirectory);
    const std::string folder = ownFolder ? (root / runtimeName).string() : root.string();
    const std::string packagePath = (root / (runtimeName + ".tar.gz")).string();

    std::error_code error;
    if (fs::exists(packagePath, error) && m_options.cacheRuntimeArchives)
    {
        logError("Info: Runtime package file already exists. Skipping download step.\n");
    }
    else if (!fetchPackage(runtimeName, packagePath, messages))
    {
        finishInstall(kRuntimeInstallFailed);
        return;
    }

    // Unpacked beside the runtime's files, on the same file system, so that moving them into
    // place is a rename.
    const std::string staging = (root / ("." + runtimeName + ".extracting")).string();
    const RuntimeLibraries librariesBefore = runtimeLibrariesIn(folder);
    const ExtractionOutcome extracted = extractPackage(packagePath, folder, staging, ownFolder, messages);
    if (extracted == ExtractionOutcome::cancelled)
    {
        logError("Info: Runtime extraction for %s was cancelled by the user.\n", runtimeName.c_str());
        m_cancelledByUser.store(true);
        releasePackage(packagePath);
        finishInstall(kRuntimeInstallFailed);
        return;
    }
    const bool libraryPlaced = extracted == ExtractionOutcome::extracted && placedRuntimeLibrary(folder, librariesBefore);
    if (extracted == ExtractionOutcome::extracted && !libraryPlaced)
    {
        // Counted as installed, it would only fail later, when the engine loads it.
        logError("ERROR: The runtime package %s holds no %s.\n", packagePath.c_str(), kRuntimeLibraryFileName);
    }
    if (!libraryPlaced)
    {
        // The next attempt must not reuse a package that does not unpack or holds no library. A
        // library an earlier install left, where one is still there (a package unpacked into a
        // folder of its own replaced that folder), proves nothing about this one.
        tryRemoveFile(packagePath);
        messages.addMessage(kMessageRuntimeExtractionFailed, kRuntimeExtractionFailedText, kMessageTypeWarning);
        finishInstall(kRuntimeInstallFailed);
        return;
    }

    logError("Info: Runtime %s downloaded successfully.\n", runtimeName.c_str());
    releasePackage(packagePath);

    if (finishInstall(kRuntimeInstalled))
        postRuntimeDocumentation(messages, runtimeName);
}

bool RuntimesManager::fetchPackage(const std::string& runtimeName, const std::string& packagePath, MessagingManager& messages)
{
    logError("Info: Downloading runtime package for %s...\n", runtimeName.c_str());
    std::error_code error;
    fs::create_directories(m_rootDirectory, error);
    if (error)
    {
        logError("ERROR: Could not create the runtime folder %s: %s\n", m_rootDirectory.c_str(), error.message().c_str());
        return false;
    }
    const auto family = m_runtimeFamilies.find(runtimeName);
    const std::string url = family == m_runtimeFamilies.end() ? std::string() : family->second->getDownloadLink(runtimeName);
    if (url.empty())
    {
        logError("ERROR: couldn't find a download link for the desired runtime.");
        return false;
    }

    std::string expectedMd5;
    if (!downloadFile(url, packagePath, messages, kMessageRuntimePackage, kRuntimePackageText, &m_cancelRequested, &expectedMd5))
    {
        if (m_cancelRequested.load())
        {
            logError("Info: Runtime download for %s was cancelled by the user.\n", runtimeName.c_str());
            m_cancelledByUser.store(true);
        }
        else
        {
            logError("ERROR: Failed to download the runtime package.\n");
        }
        return false;
    }

    // Whichever storage serves the package: a configured one is no more trustworthy in transit.
    if (expectedMd5.empty())
        return true;
    const std::string expected = lowerCase(expectedMd5);
    const std::string actual = fileMd5Hex(packagePath).value_or("<unreadable>");
    if (actual == expected)
        return true;
    logError("ERROR: Runtime package checksum mismatch for %s. Expected MD5: %s, got: %s\n",
        packagePath.c_str(), boundedText(expected).c_str(), actual.c_str());
    tryRemoveFile(packagePath);
    messages.addMessage(kMessageRuntimeDownloadCorrupted, kRuntimeDownloadCorruptedText, kMessageTypeWarning);
    return false;
}

ExtractionOutcome RuntimesManager::extractPackage(const std::string& packagePath, const std::string& folder,
    const std::string& staging, bool ownFolder, MessagingManager& messages)
{
    ExtractionResult_t result;
    {
        ProgressEntry progress(messages, kMessageRuntimeExtraction, kRuntimeExtractionText);
        progress.showStarted();
        result = extractArchive(packagePath, folder, staging, ownFolder, m_cancelRequested,
            [&progress](unsigned percent) { progress.showPercent(percent); });
    }
    switch (result.outcome)
    {
        case ExtractionOutcome::extracted:
        case ExtractionOutcome::cancelled:
            break;
        case ExtractionOutcome::refused:
            logError("ERROR: Refusing to extract the runtime package %s: %s\n", packagePath.c_str(),
                boundedText(result.problem).c_str());
            break;
        case ExtractionOutcome::failed:
            logError("ERROR: Failed to extract the runtime package %s: %s\n", packagePath.c_str(),
                boundedText(result.problem).c_str());
            break;
    }
    return result.outcome;
}

void RuntimesManager::releasePackage(const std::string& packagePath)
{
    if (m_options.cacheRuntimeArchives)
        logError("Info: Caching the runtime package file as per configuration.\n");
    else if (tryRemoveFile(packagePath))
        logError("Info: Deleted the tar file successfully.\n");
    else
        logError("ERROR: Failed to delete the tar file: %s\n", packagePath.c_str());
}

bool RuntimesManager::finishInstall(uint32_t state)
{
    return moveState(kRuntimeInstalling, state);
}

bool RuntimesManager::removeInstalledRuntime()
{
    const uint32_t stateBefore = getState();
    bool removedAll = true;
    const fs::path root(m_rootDirectory);
    std::error_code error;
    const bool rootExists = fs::exists(root, error);
    if (!rootExists && error)
    {
        logError("Warning! Failed to list %s: %s\n", root.c_str(), error.message().c_str());
        removedAll = false;
    }
    if (rootExists)
    {
        fs::directory_iterator entries(root, error);
        for (; !error && entries != fs::directory_iterator(); entries.increment(error))
        {
            const fs::path path = entries->path();
            std::error_code typeError;
            if (!entries->is_regular_file(typeError) || !isSharedLibraryName(path.filename().string()))
                continue;
            std::error_code removeError;
            if (!fs::remove(path, removeError))
            {
                logError("Warning! Failed to remove %s: %s\n", path.c_str(), removeError.message().c_str());
                removedAll = false;
            }
        }
        // Whether opening or stepping failed: libraries may be left, so this is no removal.
        if (error)
        {
            logError("Warning! Failed to list %s: %s\n", root.c_str(), error.message().c_str());
            removedAll = false;
        }
        const fs::path record = root / kInstalledRuntimeFileName;
        std::error_code removeError;
        if (!fs::remove(record, removeError) && removeError)
        {
            logError("Warning! Failed to remove %s: %s\n", record.c_str(), removeError.message().c_str());
            removedAll = false;
        }
    }
    if (!removedAll)
        return false;
    {
        // The record is gone: the dialogs must not show the removed runtime as active.
        std::lock_guard lock(m_mutex);
        m_installedRuntimeName.clear();
    }
    logError("Succesfully removed runtime library.\n");
    // A choice or reselect the user made during the removal stays.
    moveState(stateBefore, kRuntimeNothingDecided);
    return true;
}

std::vector<std::string> RuntimesManager::getOfferedRuntimes() const
{
    std::lock_guard lock(m_mutex);
    return m_offeredRuntimes;
}

void RuntimesManager::setOfferedRuntimes(std::vector<std::string> names)
{
    std::lock_guard lock(m_mutex);
    m_offeredRuntimes = std::move(names);
}

std::string RuntimesManager::getSelectedRuntime() const
{
    std::lock_guard lock(m_mutex);
    return m_selectedRuntime;
}

void RuntimesManager::selectRuntime(const std::string& runtimeName)
{
    std::lock_guard lock(m_mutex);
    m_selectedRuntime = runtimeName;
    // Under the lock, so that a reader of the name and the state sees the pair together.
    setState(kRuntimeChosen);
}

} // namespace vyai
