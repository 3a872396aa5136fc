#include <string>

#include <gtest/gtest.h>
#include <httplib.h>

#include <cloud/cloud_scenario.h>

namespace {

using vy::standins::CloudScenario;
using vy::standins::CloudStandin;

CloudScenario siteScenario()
{
    CloudScenario scenario;
    scenario.systemId = "site";
    scenario.token = "secret";
    scenario.pipelines = R"([{"name":"A","uuid":"a"},{"name":"B","uuid":"b"}])";
    scenario.offers["cam1"] = {"b"};
    scenario.models = R"([{"id":"m1"}])";
    scenario.runtimePackage = R"({"name":"cpu"})";
    scenario.faults[CloudStandin::Route::reset] = CloudStandin::Fault{503};
    return scenario;
}

// A scenario sets the whole cloud at once: who may ask, what each device is offered, which
// route misbehaves, and what the storage keeps for its routes.
TEST(CloudScenario, ConfiguresIdentityOffersFaultsAndStorage)
{
    CloudStandin cloud;
    ASSERT_TRUE(cloud.configure(siteScenario()));
    ASSERT_TRUE(cloud.start());
    httplib::Client client("127.0.0.1", cloud.port());
    const httplib::Headers authorized{{"Authorization", "secret"}};

    struct Case
    {
        const char* path;
        httplib::Headers headers;
        int status;
        const char* body; //< nullptr: not checked
    };
    const Case cases[] = {
        {"/system/site/device/cam1/available-pipelines", authorized, 200, R"([{"name":"B","uuid":"b"}])"},
        {"/system/site/device/cam2/available-pipelines", authorized, 200, nullptr},
        {"/system/other/device/cam1/available-pipelines", authorized, 404, nullptr},
        {"/system/site/device/cam1/available-pipelines", {}, 401, nullptr},
    };
    for (const Case& c: cases)
    {
        SCOPED_TRACE(c.path);
        const auto answer = client.Get(c.path, c.headers);
        ASSERT_TRUE(answer);
        EXPECT_EQ(answer->status, c.status);
        if (c.body)
        {
            EXPECT_EQ(answer->body, c.body);
        }
    }
    const auto reset = client.Post("/reset/site", authorized, R"({"Devices":["cam1"]})", "application/json");
    ASSERT_TRUE(reset);
    EXPECT_EQ(reset->status, 503);

    EXPECT_EQ(cloud.models(), R"([{"id":"m1"}])");
    EXPECT_EQ(cloud.runtimePackage(), R"({"name":"cpu"})");
    EXPECT_FALSE(CloudStandin::routeNamed("nothing"));
    EXPECT_EQ(CloudStandin::routeNamed("availablePipelines"), CloudStandin::Route::availablePipelines);
}

TEST(CloudScenario, ACatalogueThatIsNoArrayIsRefused)
{
    CloudScenario scenario;
    scenario.pipelines = R"({"uuid":"a"})";
    CloudStandin cloud;
    EXPECT_FALSE(cloud.configure(scenario));
}

} // namespace
