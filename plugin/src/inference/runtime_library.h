#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include <vy/platform/dynamic_library.h>

#include "inference/runtime_interface.h"

namespace vyai {

/**
 * One loaded copy of an accelerator runtime library and its nine entry points. The
 * library is loaded through a hard link with a name of its own ("RuntimeLibrary.N.so",
 * N unique in the process) next to the file, and the link is removed again when the
 * object goes. Loading never fails towards the caller: an entry point that could not be
 * resolved stays null and its wrapper answers RUNTIME_RESULT_ENTRY_POINT_MISSING,
 * "Runtime not initialized." or null.
 *
 * Threads: construct, init, loadModels, cleanup and destroy on one owner thread while no
 * input is being submitted; enqueueInput, retrieveOutput and lastError from any thread.
 */
class RuntimeLibrary
{
public:
    explicit RuntimeLibrary(std::filesystem::path libraryPath);
    ~RuntimeLibrary();

    RuntimeLibrary(const RuntimeLibrary&) = delete;
    RuntimeLibrary& operator=(const RuntimeLibrary&) = delete;

    int32_t init(const RuntimeArgs_t& args);
    /** models: count records, read only during the call. */
    int32_t loadModels(int32_t count, const RuntimeModel_t* models);
    /** On 0 the set belongs to the runtime; otherwise the caller still owns it. */
    int32_t enqueueInput(uint32_t modelIndex, TensorSet_t* input);
    /** On 0 *output belongs to the caller (release with TensorSetDeleter). */
    int32_t retrieveOutput(void** aux, TensorSet_t** output, uint32_t timeoutMs);
    int32_t cleanup();

    /** A copy of the runtime's last error text, or "Runtime not initialized.". */
    std::string lastError() const;
    /** The runtime's texts, owned by the runtime; null when the entry point is missing. */
    const char* name() const;
    const char* version() const;

    /** True when the library and all nine entry points are present. */
    bool isComplete() const;

    const std::filesystem::path& libraryPath() const { return m_libraryPath; }
    /** The hard link that was loaded; empty when the library was loaded under its own name. */
    const std::filesystem::path& loadLinkPath() const { return m_loadLinkPath; }

private:
    void resolveEntryPoints();

    std::optional<vy::platform::DynamicLibrary> m_module;
    std::filesystem::path m_libraryPath;
    std::filesystem::path m_loadLinkPath;

    RuntimeInitFn m_init = nullptr;
    RuntimeLoadModelsFn m_loadModels = nullptr;
    RuntimeEnqueueInputFn m_enqueueInput = nullptr;
    RuntimeRetrieveOutputFn m_retrieveOutput = nullptr;
    RuntimeCleanupFn m_cleanup = nullptr;
    RuntimeTextFn m_getError = nullptr;
    RuntimeTextFn m_getVersion = nullptr;
    RuntimeTextFn m_getName = nullptr;
    RuntimeInfoFn m_getInfo = nullptr;
};

/**
 * The path to load `libraryPath` from: a fresh hard link "stem.N.ext" in the library's
 * folder, N from a process-wide counter. Falls back to `libraryPath` itself (with a
 * warning) when the folder or the link cannot be made.
 */
std::filesystem::path makeRuntimeLoadLink(const std::filesystem::path& libraryPath);

} // namespace vyai
