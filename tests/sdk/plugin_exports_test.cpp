#include <dlfcn.h>

#include <atomic>

#include <gtest/gtest.h>

#include <vy/sdk/helpers/lib_context.h>
#include <vy/sdk/i_lib_context.h>
#include <vy/sdk/i_string_map.h>
#include <vy/sdk/ptr.h>

#include "sdk_host_string_map.h"

namespace {

using LibContextFunc = vy::sdk::ILibContext* (*)();
using SdkVersionFunc = const char* (*)();
using SetUnitTestOptionsFunc = void (*)(const vy::sdk::IStringMap*);

std::atomic<int> g_registriesDestroyed = 0;

/** The host's registry: the library takes it over and destroys it when it is unloaded. */
class HostRegistry: public vy::sdk::IRefCountableRegistry
{
public:
    ~HostRegistry() override { ++g_registriesDestroyed; }
    void recordCreation(const vy::sdk::IRefCountable*, int32_t) override {}
    void recordDestruction(const vy::sdk::IRefCountable*, int32_t) override {}
};

/** The plug-in library loaded the way the host loads it. */
class LoadedPlugin: public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        // Qt's core library loses a small allocation each time it is unloaded with the
        // plug-in; a host keeps it loaded for the whole process, and so do we. (Harmless
        // when the plug-in does not use it.)
        dlopen("libQt6Core.so.6", RTLD_NOW | RTLD_GLOBAL | RTLD_NODELETE);
    }

    void SetUp() override
    {
        m_handle = dlopen(VY_PLUGIN_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(m_handle, nullptr) << dlerror();
    }

    void TearDown() override
    {
        if (m_handle)
            dlclose(m_handle);
    }

    template<typename Func>
    Func symbol(const char* name)
    {
        void* address = dlsym(m_handle, name);
        EXPECT_NE(address, nullptr) << name << ": " << dlerror();
        return reinterpret_cast<Func>(address);
    }

    void* m_handle = nullptr;
};

TEST_F(LoadedPlugin, ReportsTheSdkVersion)
{
    const auto sdkVersion = symbol<SdkVersionFunc>("vySdkVersion");
    ASSERT_NE(sdkVersion, nullptr);
    EXPECT_STREQ(sdkVersion(), "6.1.4 R1");
}

TEST_F(LoadedPlugin, HasItsOwnContextThatTakesTheHostsNameAndRegistry)
{
    const auto libContext = symbol<LibContextFunc>("vyLibContext");
    ASSERT_NE(libContext, nullptr);
    vy::sdk::ILibContext* context = libContext();
    ASSERT_NE(context, nullptr);
    EXPECT_EQ(libContext(), context);
    // Hidden visibility: the library's context is not this program's (no interposition).
    EXPECT_NE(context, static_cast<vy::sdk::ILibContext*>(&vy::sdk::libContext()));

    context->setName("test_host_plugin");
    const int destroyedBefore = g_registriesDestroyed;
    context->setRefCountableRegistry(new HostRegistry());

    dlclose(m_handle);
    m_handle = nullptr;
    EXPECT_EQ(g_registriesDestroyed, destroyedBefore + 1)
        << "the library must destroy the host's registry when it is unloaded";
}

TEST_F(LoadedPlugin, ReadsUnitTestOptionsThroughTheHostsMap)
{
    const auto setOptions = symbol<SetUnitTestOptionsFunc>("vySetUnitTestOptions");
    ASSERT_NE(setOptions, nullptr);
    setOptions(nullptr);

    const auto options = vy::sdk::newRefCounted<HostStringMap>(std::vector<HostStringMap::Item>{
        {"a", "1"}, {nullptr, "2"}, {"c", nullptr}});
    setOptions(options.get());
    EXPECT_EQ(options->refCount(), 1) << "the library must not keep the host's map";
}

} // namespace
