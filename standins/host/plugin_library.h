#pragma once

#include <memory>
#include <string>

namespace vy::sdk {
class ILibContext;
class IStringMap;
class IIntegration;
} // namespace vy::sdk

namespace vyhost {

// A loaded plug-in library with its four C entry points. Either all four resolve or
// the library is not kept; the handle is closed when the object goes.
class PluginLibrary
{
public:
    using LibContextFunc = vy::sdk::ILibContext* (*)();
    using SdkVersionFunc = const char* (*)();
    using SetUnitTestOptionsFunc = void (*)(const vy::sdk::IStringMap*);
    using CreatePluginFunc = vy::sdk::IIntegration* (*)();

    /** Null with *error set when the file does not load or lacks an entry point. */
    static std::unique_ptr<PluginLibrary> open(const std::string& path, std::string* error);

    ~PluginLibrary();
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

    LibContextFunc libContext = nullptr;
    SdkVersionFunc sdkVersion = nullptr;
    SetUnitTestOptionsFunc setUnitTestOptions = nullptr;
    /** Returns the integration with one reference for the caller, or null. */
    CreatePluginFunc createPlugin = nullptr;

private:
    explicit PluginLibrary(void* handle): m_handle(handle) {}

    void* m_handle;
};

} // namespace vyhost
