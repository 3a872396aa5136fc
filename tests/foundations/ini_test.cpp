#include "foundations/ini.h"

#include <memory>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "scoped_environment.h"
#include "scoped_temp_directory.h"
#include "test_files.h"

namespace vyai {
namespace {

using test::ScopedEnv;
using test::writeFile;

// No test of this program may read an ini file that happens to lie in the current
// directory: ini() and every Ini made without a test's own VY_INI_DIR see an empty one.
class EmptyIniDirEnvironment: public ::testing::Environment
{
public:
    void SetUp() override
    {
        m_dir = std::make_unique<ScopedTempDirectory>();
        setenv("VY_INI_DIR", m_dir->path().c_str(), 1);
    }
    void TearDown() override { m_dir.reset(); }

private:
    std::unique_ptr<ScopedTempDirectory> m_dir;
};

[[maybe_unused]] const auto* const kEmptyIniDir =
    ::testing::AddGlobalTestEnvironment(new EmptyIniDirEnvironment);

struct Values
{
    bool bools[10];
    const char* strings[5];
    int ints[9];
};

Values valuesOf(const Ini& i)
{
    return {
        {i.enableOutput, i.logToConsole, i.logToFile, i.sendFramesOverride,
            i.restartVeltrinOnCrash, i.cacheRuntimeArchives, i.enableAmbarellaIntegration,
            i.enableNvidiaTRTIntegration, i.enableProfiling, i.alwaysShowRecoveryButtons},
        {i.CloudAPI, i.DeviceAdminOverride, i.RuntimesStorageURL, i.VeltrinStorageURL,
            i.WorkingDirectory},
        {i.logVerbosityLevel, i.modelDownloadSeconds, i.HTTPRequestTimeout,
            i.DeviceParametersRefreshTimeout, i.SettingsAwaitParametersTimeout,
            i.MaxNumberConcurrentInputOutputThreads, i.MaxNumberConcurrentInferences,
            i.EngineThroughputWindowSize, i.ExternalProcessorReadyCheckMaxRetries},
    };
}

void expectValues(const Ini& ini, const Values& expected)
{
    const Values actual = valuesOf(ini);
    for (int k = 0; k < 10; ++k)
        EXPECT_EQ(actual.bools[k], expected.bools[k]) << "bool option #" << k;
    for (int k = 0; k < 5; ++k)
        EXPECT_STREQ(actual.strings[k], expected.strings[k]) << "string option #" << k;
    for (int k = 0; k < 9; ++k)
        EXPECT_EQ(actual.ints[k], expected.ints[k]) << "int option #" << k;
}

const Values kDefaults = {
    {false, false, true, false, true, false, false, false, false, false},
    {"https://api.vyai.example.com/dev", "", "", "", ""},
    {1, 5, 3, 5, 1, 8, 8, 100, 5},
};

TEST(IniTest, WithoutAFileEveryOptionHoldsItsDefault)
{
    ScopedTempDirectory dir;
    ScopedEnv env("VY_INI_DIR", dir.path().string());

    expectValues(Ini(), kDefaults);
}

TEST(IniTest, EveryOptionIsReadFromTheFile)
{
    ScopedTempDirectory dir;
    ScopedEnv env("VY_INI_DIR", dir.path().string());
    writeFile(dir.file("vy_veltrin_plugin.ini"),
        "# every option away from its default\n"
        "enableOutput=1\nlogToConsole=true\nlogToFile=0\nsendFramesOverride=1\n"
        "restartVeltrinOnCrash=false\ncacheRuntimeArchives=1\nenableAmbarellaIntegration=1\n"
        "enableNvidiaTRTIntegration=1\nenableProfiling=1\nalwaysShowRecoveryButtons=1\n"
        "CloudAPI=http://127.0.0.1:9/dev\nDeviceAdminOverride=https://admin\n"
        "RuntimesStorageURL=http://127.0.0.1:9/rt\nVeltrinStorageURL=https://v\n"
        "WorkingDirectory=/var/tmp/vyai\n"
        "logVerbosityLevel=2\nmodelDownloadSeconds=60\nHTTPRequestTimeout=10\n"
        "DeviceParametersRefreshTimeout=7\nSettingsAwaitParametersTimeout=2\n"
        "MaxNumberConcurrentInputOutputThreads=4096\nMaxNumberConcurrentInferences=-1\n"
        "EngineThroughputWindowSize=10\nExternalProcessorReadyCheckMaxRetries=0\n");

    expectValues(Ini(),
        {
            {true, true, false, true, false, true, true, true, true, true},
            {"http://127.0.0.1:9/dev", "https://admin", "http://127.0.0.1:9/rt", "https://v",
                "/var/tmp/vyai"},
            {2, 60, 10, 7, 2, 4096, -1, 10, 0},
        });
}

TEST(IniTest, ConcurrentFirstCallsShareOneInstanceWithTheDefaults)
{
    constexpr int kThreads = 8;
    std::vector<const Ini*> seen(kThreads, nullptr);
    std::vector<std::thread> threads;
    for (int k = 0; k < kThreads; ++k)
        threads.emplace_back([&seen, k] { seen[k] = &ini(); });
    for (auto& thread: threads)
        thread.join();

    for (const Ini* instance: seen)
        EXPECT_EQ(instance, seen[0]);
    expectValues(*seen[0], kDefaults);
}

} // namespace
} // namespace vyai
