#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <vy/sdk/analytics/helpers/engine.h>
#include <vy/sdk/helpers/error.h>
#include <vy/sdk/helpers/lib_context.h>
#include <vy/sdk/helpers/string_map.h>
#include <vy/sdk/helpers/uuid.h>

#include "host/engine_description.h"
#include "kit_debug_capture.h"
#include "sdk_host_fakes.h"
#include "sdk_host_string_map.h"

namespace {

using namespace vy::sdk;
using namespace vy::sdk::analytics;
using namespace sdk_fakes;

/** What runAction() was given. */
struct ActionCall
{
    std::string actionId;
    Uuid objectTrackId;
    Uuid deviceId;
    int64_t timestampUs = 0;
    IRefCountable* furtherObject = nullptr;
    std::map<std::string, std::string> params;
};

class TestEngine: public Engine
{
public:
    explicit TestEngine(bool enableOutput): Engine(enableOutput) {}

    using Engine::settings;

    void doCreateDeviceAgent(Result<IDeviceAgent*>*, const IDeviceInfo*) override {}

    std::optional<ActionCall> call;
    bool throwInAction = false;
    bool failAction = false;

protected:
    std::string manifestString() const override { return R"({"capabilities":""})"; }

    Result<ActionResult> runAction(const std::string& actionId, Uuid objectTrackId,
        Uuid deviceId, int64_t timestampUs, Ptr<IRefCountable> furtherObject,
        const std::map<std::string, std::string>& params) override
    {
        call = ActionCall{actionId, objectTrackId, deviceId, timestampUs, furtherObject.get(),
            params};
        if (throwInAction)
            throw std::runtime_error("action broke");
        if (failAction)
            return error(ErrorCode::otherError, "refused");
        return ActionResult{};
    }
};

Ptr<StringMap> stringMap(const std::map<std::string, std::string>& items)
{
    auto map = newRefCounted<StringMap>();
    for (const auto& [key, value]: items)
        map->setItem(key, value);
    return map;
}

class EngineTest: public ::testing::Test
{
protected:
    Ptr<TestEngine> makeEngine(bool enableOutput)
    {
        auto engine = newRefCounted<TestEngine>(enableOutput);
        debug.clear();
        return engine;
    }

    /** Runs an action; the result's references are given back. */
    Error execute(TestEngine& engine, const IActionRequest* request)
    {
        Result<ActionResult> result;
        engine.doExecuteAction(&result, request);
        return result.error();
    }

    DebugCapture debug;
};

TEST_F(EngineTest, SettingsAreMergedAndAFailedCallChangesNothing)
{
    const auto engine = makeEngine(/*enableOutput*/ false);
    const auto apply = [&engine](const IStringMap* map) { return applySettingsTo(*engine, map); };

    EXPECT_TRUE(apply(stringMap({{"a", "1"}, {"b", "2"}}).get()).isOk());
    EXPECT_TRUE(apply(stringMap({}).get()).isOk());
    EXPECT_TRUE(apply(stringMap({{"b", "3"}}).get()).isOk());
    const std::map<std::string, std::string> merged{{"a", "1"}, {"b", "3"}};
    EXPECT_EQ(engine->settings(), merged);

    for (const IStringMap* bad: {static_cast<const IStringMap*>(nullptr),
        static_cast<const IStringMap*>(newRefCounted<HostStringMap>(
            std::vector<HostStringMap::Item>{{"a", "0"}}, -2).releasePtr())})
    {
        const Error failure = apply(bad);
        EXPECT_EQ(failure.errorCode(), ErrorCode::invalidParams);
        EXPECT_EQ(takeMessage(failure), "Unable to convert the input string map");
        if (bad)
            bad->dropRef();
    }
    EXPECT_EQ(engine->settings(), merged);
}

TEST_F(EngineTest, AnActionReachesRunActionWithEveryField)
{
    const auto engine = makeEngine(/*enableOutput*/ false);
    const auto request = newRefCounted<FakeActionRequest>();
    request->action = "vy.vyai.reset";
    request->trackId = uuidFromString("11111111-2222-3333-4444-555555555555");
    request->device = uuidFromString("aaaaaaaa-bbbb-cccc-dddd-eeeeeeeeeeee");
    request->timestamp = 1234;
    request->parameters = stringMap({{"k", "v"}});
    request->further = newRefCounted<String>("further");

    EXPECT_TRUE(execute(*engine, request.get()).isOk());

    ASSERT_TRUE(engine->call);
    EXPECT_EQ(engine->call->actionId, "vy.vyai.reset");
    EXPECT_EQ(engine->call->objectTrackId, request->trackId);
    EXPECT_EQ(engine->call->deviceId, request->device);
    EXPECT_EQ(engine->call->timestampUs, 1234);
    EXPECT_EQ(engine->call->furtherObject, request->further.get());
    EXPECT_EQ(engine->call->params, (std::map<std::string, std::string>{{"k", "v"}}));
    // The references taken from the request were given back.
    const auto* further = static_cast<const String*>(request->further.get());
    EXPECT_EQ(further->refCount(), 1);
    EXPECT_EQ(static_cast<const StringMap*>(request->parameters.get())->refCount(), 1);
    EXPECT_TRUE(debug.lines().empty()) << "with the output switch off a valid action is silent";
}

TEST_F(EngineTest, ActionFailures)
{
    struct Case
    {
        const char* name;
        bool enableOutput;
        bool nullRequest;
        bool nullParams;
        ErrorCode code;
        std::string message;
        std::vector<std::string> lines; //< fragments of the debug lines, in order
    };
    const Case cases[] = {
        {"null request", false, true, false, ErrorCode::invalidParams, "Action is null",
            {"doExecuteAction(): INTERNAL ERROR: action is null"}},
        {"null parameters, output off", false, false, true, ErrorCode::invalidParams,
            "Invalid action parameters", {"ERROR: stringMap is null"}},
        {"null parameters, output on", true, false, true, ErrorCode::invalidParams,
            "Invalid action parameters",
            {"doExecuteAction():", "{", "    actionId: \"vy.vyai.action\"",
                "    objectTrackId: {00000000-0000-0000-0000-000000000000}",
                "    deviceId: {00000000-0000-0000-0000-000000000000}", "    timestampUs: 0",
                "ERROR: stringMap is null"}},
    };
    for (const Case& c: cases)
    {
        SCOPED_TRACE(c.name);
        const auto engine = makeEngine(c.enableOutput);
        const auto request = newRefCounted<FakeActionRequest>();
        if (!c.nullParams)
            request->parameters = stringMap({});

        const Error failure = execute(*engine, c.nullRequest ? nullptr : request.get());

        EXPECT_EQ(failure.errorCode(), c.code);
        EXPECT_EQ(takeMessage(failure), c.message);
        EXPECT_FALSE(engine->call);
        const auto lines = debug.lines();
        ASSERT_EQ(lines.size(), c.lines.size()) << debug.text();
        for (size_t i = 0; i < lines.size(); ++i)
            EXPECT_NE(lines[i].find(c.lines[i]), std::string::npos) << lines[i];
    }
}

TEST_F(EngineTest, AFailedOrThrowingActionLeavesAnEmptyResult)
{
    const auto engine = makeEngine(/*enableOutput*/ false);
    const auto request = newRefCounted<FakeActionRequest>();
    request->parameters = stringMap({});

    engine->failAction = true;
    Result<ActionResult> result{ActionResult{newRefCounted<String>("a"), nullptr, true, true}};
    engine->doExecuteAction(&result, request.get());
    EXPECT_EQ(result.error().errorCode(), ErrorCode::otherError);
    EXPECT_EQ(takeMessage(result.error()), "refused");
    EXPECT_FALSE(result.value().firstObject);
    EXPECT_FALSE(result.value().firstFlag);

    engine->failAction = false;
    engine->throwInAction = true;
    const Error thrown = execute(*engine, request.get());
    EXPECT_EQ(thrown.errorCode(), ErrorCode::otherError);
    EXPECT_EQ(takeMessage(thrown), "doExecuteAction() threw: action broke");
}

TEST_F(EngineTest, EngineInfoNamesTheEngineInThePrefix)
{
    const std::string name = libContext().name();
    debug.clear();
    auto engine = newRefCounted<TestEngine>(/*enableOutput*/ false);
    engine->attachEngineInfo(newRefCounted<vyhost::EngineDescription>("vy.vyai").get());
    takeMessage(execute(*engine, nullptr));
    engine->attachEngineInfo(nullptr);
    takeMessage(execute(*engine, nullptr));
    engine.reset();

    const auto lines = debug.lines();
    ASSERT_EQ(lines.size(), 4U) << debug.text();
    EXPECT_EQ(lines[0].rfind("[" + name + "_engine] Created IEngine @0x", 0), 0U) << lines[0];
    EXPECT_EQ(lines[0].substr(lines[0].size() - name.size() - 4), " of " + name);
    EXPECT_EQ(lines[1].rfind("[" + name + "_engine_vy.vyai] doExecuteAction()", 0), 0U);
    EXPECT_EQ(lines[2].rfind("[" + name + "_engine] doExecuteAction()", 0), 0U);
    EXPECT_EQ(lines[3].rfind("[" + name + "_engine] Destroyed 0x", 0), 0U) << lines[3];
}

TEST_F(EngineTest, AnswersItsInterfaceIdsAndHoldsOneHandlerReference)
{
    const auto engine = makeEngine(/*enableOutput*/ false);
    for (const char* id: {"vy::sdk::analytics::IEngine1", "vy::sdk::analytics::IEngine",
        "vy::sdk::IRefCountable"})
    {
        EXPECT_TRUE(toPtr(engine->findInterface(id))) << id;
    }
    EXPECT_FALSE(toPtr(engine->findInterface("vy::sdk::analytics::IEngine2")));
    EXPECT_EQ(engine->refCount(), 1);

    const auto handler = newRefCounted<FakeEngineHandler>();
    engine->setHandler(handler.get());
    engine->setHandler(handler.get());
    EXPECT_EQ(handler->refCount(), 2);
    engine->setHandler(nullptr);
    EXPECT_EQ(handler->refCount(), 1);

    const auto manifest = engine->manifest();
    const auto text = toPtr(manifest.value());
    ASSERT_TRUE(text);
    EXPECT_STREQ(text->str(), R"({"capabilities":""})");
}

} // namespace
