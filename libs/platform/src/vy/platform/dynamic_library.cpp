#include "vy/platform/dynamic_library.h"

#include <dlfcn.h>

namespace vy::platform {

DynamicLibrary::DynamicLibrary(const std::filesystem::path& path)
{
    // A bare file name would make dlopen search the library path instead of opening the file.
    const std::filesystem::path file = path.has_parent_path() ? path : std::filesystem::path(".") / path;
    m_handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!m_handle) {
        const char* text = dlerror();
        m_loadError = text ? text : "unknown loader error";
    }
}

DynamicLibrary::~DynamicLibrary()
{
    close();
}

void* DynamicLibrary::symbol(const char* name) const
{
    if (!m_handle || !name)
        return nullptr;
    // dlsym's own result cannot tell a missing symbol from one whose value is null;
    // both mean "not usable" to every caller here, so the error state is only cleared.
    void* address = dlsym(m_handle, name);
    dlerror();
    return address;
}

void DynamicLibrary::close()
{
    if (!m_handle)
        return;
    dlclose(m_handle);
    m_handle = nullptr;
}

} // namespace vy::platform
