#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <vy/kit/utils.h>
#include <vy/sdk/analytics/helpers/engine.h>
#include <vy/sdk/analytics/helpers/integration.h>
#include <vy/sdk/helpers/error.h>
#include <vy/sdk/helpers/lib_context.h>

#include "kit_debug_capture.h"
#include "sdk_host_fakes.h"

namespace {

using namespace vy::sdk;
using namespace vy::sdk::analytics;
using namespace sdk_fakes;

class MinimalEngine: public Engine
{
public:
    MinimalEngine(): Engine(false) {}
    void doCreateDeviceAgent(Result<IDeviceAgent*>*, const IDeviceInfo*) override {}

protected:
    std::string manifestString() const override { return "{}"; }
};

/** Overrides nothing: the base's defaults answer. */
class BareIntegration: public Integration
{
};

/** The deprecated form: a fixed manifest and a factory. */
class FactoryIntegration: public Integration
{
public:
    explicit FactoryIntegration(CreateEngine createEngine):
        Integration(R"({"id":"fixed"})", std::move(createEngine))
    {
    }
};

class ThrowingIntegration: public Integration
{
protected:
    Result<IEngine*> doObtainEngine() override { throw std::runtime_error("no directory"); }
    std::string manifestString() const override { throw std::logic_error("no manifest"); }
};

TEST(IntegrationBase, KeepsOneReferenceToTheUtilityProvider)
{
    DebugCapture debug;
    auto integration = newRefCounted<BareIntegration>();
    const auto provider = newRefCounted<FakeUtilityProvider>();
    const auto other = newRefCounted<FakeUtilityProvider>();

    integration->attachUtilityProvider(provider.get());
    integration->attachUtilityProvider(provider.get());
    EXPECT_EQ(provider->refCount(), 2);
    EXPECT_EQ(integration->utilityProvider().get(), provider.get());

    integration->attachUtilityProvider(other.get());
    EXPECT_EQ(provider->refCount(), 1);
    EXPECT_EQ(other->refCount(), 2);

    integration->attachUtilityProvider(nullptr);
    EXPECT_EQ(other->refCount(), 1);
    EXPECT_FALSE(integration->utilityProvider());

    integration->attachUtilityProvider(other.get());
    integration.reset();
    EXPECT_EQ(other->refCount(), 1);
}

TEST(IntegrationBase, WithoutOverridesReportsWhatIsMissing)
{
    DebugCapture debug;
    const auto integration = newRefCounted<BareIntegration>();

    const auto manifest = integration->manifest();
    const auto text = toPtr(manifest.value());
    EXPECT_TRUE(manifest.isOk());
    ASSERT_TRUE(text);
    EXPECT_STREQ(text->str(), "");
    EXPECT_EQ(debug.countLinesContaining("Either manifestString() should be overridden"), 1);

    const auto engine = integration->provideEngine();
    EXPECT_EQ(engine.error().errorCode(), ErrorCode::internalError);
    EXPECT_EQ(engine.value(), nullptr);
    EXPECT_EQ(takeMessage(engine.error()), "Either doObtainEngine() should be overridden, or "
        "the constructor with createEngine argument (deprecated) should be called.");
    EXPECT_EQ(debug.countLinesContaining("ASSERTION FAILED"), 2);
    EXPECT_EQ(debug.countLinesContaining("[integration] ERROR: " + libContext().name()
        + ": Either doObtainEngine() should be overridden"), 1);
}

TEST(IntegrationBase, TheDeprecatedFactoryServesManifestAndEngine)
{
    DebugCapture debug;
    bool giveEngine = true;
    const auto integration = newRefCounted<FactoryIntegration>(
        [&giveEngine](Integration*) -> IEngine*
        {
            return giveEngine ? newRefCounted<MinimalEngine>().releasePtr() : nullptr;
        });

    const auto text = toPtr(integration->manifest().value());
    EXPECT_STREQ(text->str(), R"({"id":"fixed"})");

    const auto engine = toPtr(integration->provideEngine().value());
    EXPECT_TRUE(engine);

    giveEngine = false;
    const auto failure = integration->provideEngine();
    EXPECT_EQ(failure.error().errorCode(), ErrorCode::otherError);
    EXPECT_EQ(takeMessage(failure.error()), "Unable to create Engine");
    EXPECT_EQ(debug.countLinesContaining(": Unable to create Engine"), 1);
}

TEST(IntegrationBase, ExceptionsOfOverridesBecomeErrors)
{
    DebugCapture debug;
    const auto integration = newRefCounted<ThrowingIntegration>();

    const auto engine = integration->provideEngine();
    EXPECT_EQ(engine.error().errorCode(), ErrorCode::otherError);
    EXPECT_EQ(takeMessage(engine.error()), "provideEngine() threw: no directory");

    const auto manifest = integration->manifest();
    EXPECT_EQ(manifest.error().errorCode(), ErrorCode::otherError);
    EXPECT_EQ(takeMessage(manifest.error()), "manifest() threw: no manifest");
}

TEST(IntegrationBase, CreationAndDestructionAreWrittenWhateverTheOutput)
{
    DebugCapture debug;
    const std::string name = libContext().name();
    const void* address = nullptr;
    {
        const auto integration = newRefCounted<BareIntegration>();
        address = integration.get();
    }
    const std::string tail = " IIntegration @" + vy::kit::utils::toString(address) + " of " + name;
    EXPECT_EQ(debug.lines(), (std::vector<std::string>{
        "[integration] Created" + tail, "[integration] Destroyed" + tail}));
}

TEST(IntegrationBase, AnswersTheIntegrationAndPluginIds)
{
    DebugCapture debug;
    const auto integration = newRefCounted<BareIntegration>();
    for (const char* id: {"vy::sdk::analytics::IIntegration", "vy::sdk::analytics::IPlugin",
        "vy::sdk::IIntegration", "vy::sdk::IPlugin", "vy::sdk::IRefCountable"})
    {
        EXPECT_TRUE(toPtr(integration->findInterface(id))) << id;
    }
    EXPECT_FALSE(toPtr(integration->findInterface("vy::sdk::analytics::IEngine")));
    EXPECT_EQ(integration->refCount(), 1);
}

} // namespace
