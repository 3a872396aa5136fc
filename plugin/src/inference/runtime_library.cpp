#include "inference/runtime_library.h"

#include <atomic>
#include <system_error>
#include <utility>

#include <vy/platform/hard_link.h>

#include "foundations/log.h"

namespace vyai {

namespace {

// Shared by every RuntimeLibrary of the process, so that no two loads share a link name.
std::atomic<uint64_t> g_nextLoadLinkNumber{0};

template<typename Function>
Function resolve(const vy::platform::DynamicLibrary& module, const char* name)
{
    void* address = module.symbol(name);
    if (!address)
        logError("Warning! Runtime library does not export %s.\n", name);
    return reinterpret_cast<Function>(address);
}

} // namespace

std::filesystem::path makeRuntimeLoadLink(const std::filesystem::path& libraryPath)
{
    const std::filesystem::path loadDirectory = libraryPath.parent_path();
    std::error_code error;
    if (!loadDirectory.empty())
        std::filesystem::create_directories(loadDirectory, error);
    if (error) {
        logError("Warning! Failed to create runtime load directory %s: %s. Loading runtime directly from %s instead.\n",
            loadDirectory.c_str(), error.message().c_str(), libraryPath.c_str());
        return libraryPath;
    }

    const uint64_t number = g_nextLoadLinkNumber.fetch_add(1);
    std::string linkName = libraryPath.stem().string() + "." + std::to_string(number);
    if (libraryPath.has_extension())
        linkName += libraryPath.extension().string();
    const std::filesystem::path linkPath = loadDirectory / linkName;

    // A link of the same name can only be left over from an earlier process.
    vy::platform::removeFileName(linkPath);
    error = vy::platform::createHardLink(libraryPath, linkPath);
    if (error) {
        logError("Warning! Failed to hard link %s to %s: %s. Loading runtime directly from %s instead.\n",
            linkPath.c_str(), libraryPath.c_str(), error.message().c_str(), libraryPath.c_str());
        return libraryPath;
    }
    return linkPath;
}

RuntimeLibrary::RuntimeLibrary(std::filesystem::path libraryPath):
    m_libraryPath(std::move(libraryPath))
{
    const std::filesystem::path loadPath = makeRuntimeLoadLink(m_libraryPath);
    if (loadPath != m_libraryPath)
        m_loadLinkPath = loadPath;

    m_module.emplace(loadPath);
    if (!m_module->isLoaded()) {
        logError("Error! Failed to load runtime library %s: %s\n", loadPath.c_str(), m_module->loadError().c_str());
        m_module.reset();
        return;
    }
    resolveEntryPoints();
}

RuntimeLibrary::~RuntimeLibrary()
{
    logError("Releasing runtime library.\n");
    // The load link lives exactly as long as the library is loaded.
    m_module.reset();

    if (!m_loadLinkPath.empty()) {
        if (const std::error_code error = vy::platform::removeFileName(m_loadLinkPath))
            logError("Warning! Failed to remove runtime load link %s: %s\n", m_loadLinkPath.c_str(),
                error.message().c_str());
    }
}

void RuntimeLibrary::resolveEntryPoints()
{
    const vy::platform::DynamicLibrary& module = *m_module;
    m_init = resolve<RuntimeInitFn>(module, "runtime_init");
    m_loadModels = resolve<RuntimeLoadModelsFn>(module, "runtime_load_models");
    m_enqueueInput = resolve<RuntimeEnqueueInputFn>(module, "runtime_enqueue_input");
    m_retrieveOutput = resolve<RuntimeRetrieveOutputFn>(module, "runtime_retrieve_output");
    m_cleanup = resolve<RuntimeCleanupFn>(module, "runtime_cleanup");
    m_getError = resolve<RuntimeTextFn>(module, "runtime_get_error");
    m_getVersion = resolve<RuntimeTextFn>(module, "runtime_get_version");
    m_getName = resolve<RuntimeTextFn>(module, "runtime_get_name");
    m_getInfo = resolve<RuntimeInfoFn>(module, "runtime_get_info");
}

int32_t RuntimeLibrary::init(const RuntimeArgs_t& args)
{
    return m_init ? m_init(args) : RUNTIME_RESULT_ENTRY_POINT_MISSING;
}

int32_t RuntimeLibrary::loadModels(int32_t count, const RuntimeModel_t* models)
{
    return m_loadModels ? m_loadModels(count, models) : RUNTIME_RESULT_ENTRY_POINT_MISSING;
}

int32_t RuntimeLibrary::enqueueInput(uint32_t modelIndex, TensorSet_t* input)
{
    return m_enqueueInput ? m_enqueueInput(modelIndex, input) : RUNTIME_RESULT_ENTRY_POINT_MISSING;
}

int32_t RuntimeLibrary::retrieveOutput(void** aux, TensorSet_t** output, uint32_t timeoutMs)
{
    return m_retrieveOutput ? m_retrieveOutput(aux, output, timeoutMs) : RUNTIME_RESULT_ENTRY_POINT_MISSING;
}

int32_t RuntimeLibrary::cleanup()
{
    return m_cleanup ? m_cleanup() : RUNTIME_RESULT_ENTRY_POINT_MISSING;
}

std::string RuntimeLibrary::lastError() const
{
    if (!m_getError)
        return "Runtime not initialized.";
    const char* text = m_getError();
    return text ? text : "";
}

const char* RuntimeLibrary::name() const
{
    return m_getName ? m_getName() : nullptr;
}

const char* RuntimeLibrary::version() const
{
    return m_getVersion ? m_getVersion() : nullptr;
}

bool RuntimeLibrary::isComplete() const
{
    return m_module && m_init && m_loadModels && m_enqueueInput && m_retrieveOutput && m_cleanup && m_getError
        && m_getVersion && m_getName && m_getInfo;
}

} // namespace vyai
