#pragma once

#include <filesystem>
#include <string>

namespace vy::platform {

/**
 * One loaded shared library. Loaded with RTLD_NOW | RTLD_LOCAL: every reference is bound
 * at load, so a broken library fails here rather than at its first call, and its symbols
 * stay out of the process's global scope (several libraries may export the same names).
 * The handle belongs to the object and is closed when it goes.
 */
class DynamicLibrary
{
public:
    /** Loads the library file at `path` (never searched for); when that fails isLoaded() is false and loadError() says why. */
    explicit DynamicLibrary(const std::filesystem::path& path);
    ~DynamicLibrary();

    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;

    bool isLoaded() const { return m_handle != nullptr; }

    /** The loader's text for a failed load; empty after a successful one. */
    const std::string& loadError() const { return m_loadError; }

    /** Address of an exported symbol; null when it is not exported or nothing is loaded. */
    void* symbol(const char* name) const;

    /** Unloads the library; addresses taken from it are invalid afterwards. Safe to repeat. */
    void close();

private:
    void* m_handle = nullptr;
    std::string m_loadError;
};

} // namespace vy::platform
