#include "host/plugin_library.h"

#include <dlfcn.h>

namespace vyhost {

namespace {

template<typename Func>
bool resolve(void* handle, const char* name, Func* out, std::string* error)
{
    dlerror();
    void* symbol = dlsym(handle, name);
    if (!symbol)
    {
        *error = std::string("entry point ") + name + " is missing";
        return false;
    }
    *out = reinterpret_cast<Func>(symbol);
    return true;
}

} // namespace

std::unique_ptr<PluginLibrary> PluginLibrary::open(const std::string& path, std::string* error)
{
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle)
    {
        const char* reason = dlerror();
        *error = "cannot load " + path + ": " + (reason ? reason : "unknown reason");
        return nullptr;
    }
    // Owns the handle from here on: an early return closes it.
    std::unique_ptr<PluginLibrary> library(new PluginLibrary(handle));
    if (!resolve(handle, "vyLibContext", &library->libContext, error)
        || !resolve(handle, "vySdkVersion", &library->sdkVersion, error)
        || !resolve(handle, "vySetUnitTestOptions", &library->setUnitTestOptions, error)
        || !resolve(handle, "createVyPlugin", &library->createPlugin, error))
    {
        *error = path + ": " + *error;
        return nullptr;
    }
    return library;
}

PluginLibrary::~PluginLibrary()
{
    dlclose(m_handle);
}

} // namespace vyhost
