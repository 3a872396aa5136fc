#include <atomic>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <vy/sdk/helpers/ref_countable.h>
#include <vy/sdk/helpers/string_map.h>
#include <vy/sdk/i_active_setting_changed_action.h>
#include <vy/sdk/i_action_response.h>
#include <vy/sdk/i_active_setting_changed_response.h>
#include <vy/sdk/i_settings_response.h>

#include <cloud/cloud_standin.h>

#include "core_host.h"
#include "foundations/json_helpers.h"

namespace {

namespace core = vy::vms_server_plugins::analytics::vyai;
using vy::sdk::Ptr;
using vy::sdk::newRefCounted;
using vyai::test::CapturedHandler;
using vyai::test::CoreHost;
using vyai::test::countOf;
using Values = std::map<std::string, std::string>;

constexpr const char* kDeviceId = "3f2b7c1e-0000-4000-8000-000000000001";

// The device's "vyAI" value in the host: stage "m1" chaining stage "m1m2".
const std::string kVyAI = R"({"PluginEnabled":true,"deviceAdmin":"https://admin.test/device/1",)"
    R"("selectedPipeline":"pipe-1","pipelines":[{"method":"Direct","modelUUID":"m1","modelNMS":0.45,)"
    R"("resizingMethod":"Stretch","Postprocessor":"LineCrossing","chains":[{"method":"FeatureExtraction",)"
    R"("featureExtractionClass":"person","modelUUID":"m2","modelNMS":0.5,"resizingMethod":"Crop"}]}]})";

std::string deviceJson(const std::string& vyAI)
{
    return std::string(R"({"id":")") + kDeviceId + R"(","name":"Cam","serverId":")" + vyai::test::kTestServerId
        + R"(","parameters":{"vyAI":)" + vyAI + "}}";
}

/** An engine and one agent of a device whose parameters the host holds. */
struct AgentFixture
{
    AgentFixture()
    {
        EXPECT_TRUE(host.store->putDevice(deviceJson(kVyAI)));
        engine = host.obtainEngine();
        // The tests hand the agent its parameters themselves; the loop would do it too.
        core::EngineTestAccess::holdLoop(*engine);
        agent = CoreHost::createAgent(*engine, kDeviceId);
        for (const char* uuid: {"m1", "m2"})
        {
            auto model = std::make_shared<vyai::ModelDetails_t>();
            model->uuid = uuid;
            model->classNames = {std::string(uuid) + "-person"};
            models[uuid] = model;
        }
    }

    /** Hands the agent its device entry as the loop does. */
    void process(const std::string& device)
    {
        const vyai::JsonDocument doc = vyai::readJsonDocument(device);
        agent->processDeviceParameters(yyjson_doc_get_root(doc.get()), models, {}, {}, engine->pipelineParseReport());
    }

    vy::sdk::Result<const vy::sdk::ISettingsResponse*> applySettings(const Values& values)
    {
        auto map = newRefCounted<vy::sdk::StringMap>();
        for (const auto& [key, value]: values)
            map->setItem(key, value);
        return agent->applySettings(map.get());
    }

    CoreHost host;
    Ptr<core::Engine> engine;
    Ptr<core::DeviceAgent> agent;
    std::map<std::string, std::shared_ptr<vyai::ModelDetails_t>> models;
};

class Action: public vy::sdk::RefCountable<vy::sdk::IActiveSettingChangedAction>
{
public:
    Action(std::string name, const Values& values): m_name(std::move(name)), m_values(newRefCounted<vy::sdk::StringMap>())
    {
        for (const auto& [key, value]: values)
            m_values->setItem(key, value);
    }
    const char* activeSettingName() const override { return m_name.c_str(); }
    const vy::sdk::IStringMap* settingsValues() const override
    {
        m_values->acquireRef();
        return m_values.get();
    }

private:
    std::string m_name;
    Ptr<vy::sdk::StringMap> m_values;
};

// The getters of the host's response interfaces hand out a reference of the caller's own.
std::string valueOf(const vy::sdk::ISettingsResponse* response, const std::string& key)
{
    const auto values = vy::sdk::toPtr(response ? response->values() : nullptr);
    const char* value = values ? values->value(key.c_str()) : nullptr;
    return value ? value : "<none>";
}

bool hasModel(const vy::sdk::ISettingsResponse* response)
{
    return response && vy::sdk::toPtr(response->model());
}

TEST(DeviceAgentPipeline, TheDeviceEntryBecomesTheRecordAndTheHostGetsTheManifest)
{
    AgentFixture f;
    CapturedHandler handler("camera");
    f.agent->setHandler(handler.handler.get());

    f.process(R"({"id":"x","parameters":{}})");
    EXPECT_FALSE(f.agent->copySettings()->cloudParametersReceived);
    f.process(deviceJson(R"({"pipelines":[]})")); // no admin address
    EXPECT_FALSE(f.agent->copySettings()->cloudParametersReceived);
    EXPECT_EQ(handler.counts.manifests.load(), 0);

    f.process(deviceJson(kVyAI));
    const auto record = f.agent->copySettings();
    EXPECT_TRUE(record->cloudParametersReceived);
    EXPECT_EQ(record->deviceAdminUrl, "https://admin.test/device/1");
    EXPECT_EQ(record->selectedPipeline, "pipe-1");
    ASSERT_EQ(record->pipelines.size(), 1u);
    EXPECT_EQ(record->pipelines[0].children.at(0).id, "m1m2");
    EXPECT_EQ(handler.counts.manifests.load(), 1);
    EXPECT_NE(handler.lines().find("m1-person"), std::string::npos);

    f.process(deviceJson(R"({"deviceAdmin":"a","pipelines":[{"modelUUID":"m1"}]})"));
    EXPECT_EQ(f.agent->copySettings()->selectedPipeline, "Custom");
    EXPECT_TRUE(f.engine->messages().getMessages().contains("PARSE_PIPELINE"));
}

TEST(DeviceAgentSettings, DialogValuesSurviveARestartAndAreLaidOverTheNextAssignment)
{
    AgentFixture f;
    f.process(deviceJson(kVyAI));
    const auto result = f.applySettings({{"deviceActiveSwitch", "true"}, {"cropBox_m1m2",
        R"({"figure":{"points":[[0.9,0.8],[0.1,1.5]]}})"}, {"m1_postprocessor_setting_note", "two\nlines=x"}});
    ASSERT_TRUE(result.isOk());
    EXPECT_EQ(valueOf(result.value(), "deviceActiveSwitch"), "true");
    EXPECT_TRUE(hasModel(result.value()));
    vy::sdk::toPtr(result.value());
    EXPECT_TRUE(f.agent->copySettings()->active);

    // The agent goes and a new one of the same device starts from the cache file.
    f.agent = nullptr;
    f.agent = CoreHost::createAgent(*f.engine, kDeviceId);
    const Values cached = f.agent->cachedSettings();
    EXPECT_FALSE(cached.contains("deviceActiveSwitch"));
    EXPECT_EQ(cached.at("m1_postprocessor_setting_note"), "two\nlines=x");
    EXPECT_FALSE(cached.contains("lines"));

    f.process(deviceJson(kVyAI));
    const auto record = f.agent->copySettings();
    const float* box = record->pipelines.at(0).children.at(0).cropBox;
    EXPECT_FLOAT_EQ(box[0], 0.1F);
    EXPECT_FLOAT_EQ(box[3], 1.0F);
    EXPECT_EQ(record->pipelines.at(0).postprocessorSettings.at("note"), "two\nlines=x");
    EXPECT_FALSE(record->active);
}

TEST(DeviceAgentSettings, ChangedNmsValuesAreWrittenBackIntoTheHostsTree)
{
    AgentFixture f;
    f.process(deviceJson(kVyAI));
    const auto result = f.applySettings({{"model_nms_m1m2", "30"}});
    ASSERT_TRUE(result.isOk());
    vy::sdk::toPtr(result.value());
    const std::string device = *f.host.store->device(kDeviceId);
    EXPECT_NE(device.find(R"("resizingMethod":"Crop","modelNMS":0.699999988079071)"), std::string::npos) << device;
    EXPECT_NE(device.find(R"("modelNMS":0.44999998807907104)"), std::string::npos) << device;
    EXPECT_NE(device.find(R"("selectedPipeline":"pipe-1")"), std::string::npos) << device;

    // Without a tree in the host nothing is written back, least of all an empty one.
    EXPECT_TRUE(f.host.store->putDevice(deviceJson(R"({"PluginEnabled":true})")));
    const auto again = f.applySettings({{"model_nms_m1m2", "60"}});
    ASSERT_TRUE(again.isOk());
    vy::sdk::toPtr(again.value());
    EXPECT_EQ(f.host.store->device(kDeviceId)->find("pipelines"), std::string::npos);
}

struct ButtonCase
{
    const char* name;
    const char* key; //< a value the answer must carry
    const char* value;
};

TEST(DeviceAgentButtons, EachButtonActsAndAnswers)
{
    AgentFixture f;
    f.process(deviceJson(kVyAI));
    const ButtonCase cases[] = {
        {"selectAllButton_m1m2", "visualise_classes_m1m2", R"(["m2-person"])"},
        {"selectAllButton_m9", "visualise_classes_m9", "<none>"},
        {"deSelectAllButton_m1", "visualise_classes_m1", "[]"},
        {"libraryChoice_Generic CPU", "kept", "1"},
        {"cancelRuntimeDownloadButton", "kept", "1"},
        {"resetSingleDeviceButton", "kept", "1"},
        {"unknownButton", "kept", "1"},
    };
    for (const ButtonCase& c: cases)
    {
        SCOPED_TRACE(c.name);
        const auto action = newRefCounted<Action>(c.name, Values{{"kept", "1"}});
        vy::sdk::Result<vy::sdk::IActiveSettingChangedResponse*> result;
        f.agent->handleActiveSettingChange(&result, action.get());
        ASSERT_TRUE(result.isOk());
        const auto answer = vy::sdk::toPtr(result.value());
        ASSERT_TRUE(answer);
        EXPECT_FALSE(vy::sdk::toPtr(answer->actionResponse()));
        const auto settings = vy::sdk::toPtr(answer->settingsResponse());
        ASSERT_TRUE(settings);
        EXPECT_EQ(valueOf(settings.get(), c.key), c.value);
        EXPECT_TRUE(hasModel(settings.get()));
    }
    EXPECT_EQ(f.engine->runtimesManager().getState(), vyai::kRuntimeChosen);

    const auto manage = newRefCounted<Action>("manageDevice", Values{});
    vy::sdk::Result<vy::sdk::IActiveSettingChangedResponse*> managed;
    f.agent->handleActiveSettingChange(&managed, manage.get());
    const auto answer = vy::sdk::toPtr(managed.value());
    ASSERT_TRUE(answer);
    const auto opened = vy::sdk::toPtr(answer->actionResponse());
    ASSERT_TRUE(opened);
    EXPECT_STREQ(opened->actionUrl(), "https://admin.test/device/1");
    EXPECT_FALSE(vy::sdk::toPtr(answer->settingsResponse()));

    const auto run = newRefCounted<Action>("triggerReferenceRunButton_m1", Values{});
    vy::sdk::Result<vy::sdk::IActiveSettingChangedResponse*> untouched;
    f.agent->handleActiveSettingChange(&untouched, run.get());
    EXPECT_TRUE(untouched.isOk());
    EXPECT_EQ(untouched.value(), nullptr);
}

TEST(DeviceAgentDialog, OpeningTheDialogOnManyThreadsWhileAssignmentsArrive)
{
    AgentFixture f;
    std::atomic<bool> failed{false};
    std::vector<std::thread> threads;
    // The host delivers one agent's settings on one thread at a time; dialogs open and buttons
    // are pressed on any thread meanwhile.
    threads.emplace_back(
        [&]
        {
            for (int i = 0; i < 4; ++i)
            {
                const auto applied = f.applySettings({{"model_nms_m1", std::to_string(10 + i)}});
                failed = failed || !applied.isOk();
                vy::sdk::toPtr(applied.value());
            }
        });
    for (const char* button: {"selectAllButton_m1m2", "libraryChoice_Generic CPU"})
    {
        threads.emplace_back(
            [&, button]
            {
                for (int i = 0; i < 2; ++i)
                {
                    vy::sdk::Result<const vy::sdk::ISettingsResponse*> opened;
                    f.agent->getIntegrationSideSettings(&opened);
                    failed = failed || !opened.isOk() || !opened.value();
                    vy::sdk::toPtr(opened.value());
                    const auto action = newRefCounted<Action>(button, Values{});
                    vy::sdk::Result<vy::sdk::IActiveSettingChangedResponse*> pressed;
                    f.agent->handleActiveSettingChange(&pressed, action.get());
                    failed = failed || !pressed.isOk() || !pressed.value();
                    vy::sdk::toPtr(pressed.value());
                }
            });
    }
    for (int i = 0; i < 5; ++i)
        f.process(deviceJson(kVyAI));
    for (std::thread& thread: threads)
        thread.join();
    EXPECT_FALSE(failed.load());
    EXPECT_TRUE(f.agent->copySettings()->cloudParametersReceived);
    EXPECT_EQ(f.agent->cachedSettings().at("model_nms_m1"), "13");
}

} // namespace

namespace {

TEST(DeviceAgentSettings, APipelineChoiceIsRememberedOnlyOnceItsPatchWentThrough)
{
    AgentFixture f;
    f.process(deviceJson(kVyAI));
    auto record = f.agent->copySettings();
    record->availablePipelines = {{R"({"parameters":{"vyAI":{"selectedPipeline":"pipe-2"}}})", "Vehicles", "pipe-2"}};
    f.agent->publishSettings(record);
    const auto patchesOfPipe2 = [&]
    {
        int count = 0;
        for (const auto& request: f.host.provider->requests())
            count += request.method == "PATCH" && request.body.find("pipe-2") != std::string::npos;
        return count;
    };
    const auto choose = [&](const char* pipeline)
    {
        const auto result = f.applySettings({{"selectedPipeline", pipeline}});
        EXPECT_TRUE(result.isOk());
        vy::sdk::toPtr(result.value());
    };

    f.host.provider->setRequestFault({.kind = vyhost::UtilityProvider::RequestFault::Kind::status, .status = 503,
        .pathPrefix = "/rest/v4/devices/", .count = 1});
    choose("pipe-2");
    EXPECT_EQ(patchesOfPipe2(), 1);
    EXPECT_FALSE(f.agent->cachedSettings().contains("selectedPipeline"));

    // Sent again, the choice is tried again; once applied, it is not patched a third time.
    choose("pipe-2");
    EXPECT_EQ(patchesOfPipe2(), 2);
    EXPECT_NE(f.host.store->device(kDeviceId)->find(R"("selectedPipeline":"pipe-2")"), std::string::npos);
    EXPECT_EQ(f.agent->cachedSettings().at("selectedPipeline"), "pipe-2");
    choose("pipe-2");
    EXPECT_EQ(patchesOfPipe2(), 2);

    choose("Custom");
    EXPECT_EQ(f.agent->copySettings()->selectedPipeline, "Custom");
    EXPECT_EQ(patchesOfPipe2(), 2);
}

} // namespace

namespace {

// The cloud's address is an ini option, read once per process: the test runs in a child.
TEST(DeviceAgentDialog, OpeningTheDialogFetchesTheOfferedPipelinesOnce)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const auto fetchesOnce = []
    {
        vy::standins::CloudStandin cloud;
        bool ok = cloud.start()
            && cloud.setPipelines(R"([{"name":"People","uuid":"pipe-1","pipelines":[]},{"name":"Cars","uuid":"pipe-2"}])");
        ScopedTempDirectory iniDirectory;
        std::ofstream(iniDirectory.path() / "vy_veltrin_plugin.ini") << "CloudAPI=" << cloud.baseUrl() << "\n";
        ::setenv("VY_INI_DIR", iniDirectory.path().c_str(), 1);
        {
            AgentFixture f;
            f.process(deviceJson(kVyAI));
            for (int open = 0; open < 2; ++open)
            {
                vy::sdk::Result<const vy::sdk::ISettingsResponse*> opened;
                f.agent->getIntegrationSideSettings(&opened);
                const auto response = vy::sdk::toPtr(opened.value());
                ok = ok && valueOf(response.get(), "selectedPipeline") == "pipe-1";
            }
            ok = ok && f.agent->copySettings()->availablePipelines.size() == 2 && cloud.requests().size() == 1;
        }
        return ok;
    };
    // The child leaves through exit(), which runs no destructors: its locals are gone by then.
    EXPECT_EXIT(std::exit(fetchesOnce() ? 0 : 1), testing::ExitedWithCode(0), "");
}

} // namespace
