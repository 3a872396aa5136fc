#include <string>

#include <gtest/gtest.h>
#include <httplib.h>

#include <cloud/cloud_scenario.h>

#include "scoped_temp_directory.h"
#include "test_files.h"

namespace {

using vy::standins::CloudScenario;
using vy::standins::CloudStandin;

constexpr const char* kModels = R"([{"file":"m1.json","content":{"classes":[]},"lastModified":5}])";

CloudScenario siteScenario(const std::string& packagePath)
{
    CloudScenario scenario;
    scenario.systemId = "site";
    scenario.token = "secret";
    scenario.pipelines = R"([{"name":"A","uuid":"a"},{"name":"B","uuid":"b"}])";
    scenario.offers["cam1"] = {"b"};
    scenario.models = kModels;
    scenario.runtimePackage = R"({"path":")" + packagePath + R"("})";
    scenario.faults[CloudStandin::Route::reset] = CloudStandin::Fault{503};
    return scenario;
}

// A scenario sets the whole cloud at once: who may ask, what each device is offered, which
// route misbehaves, and what the storage keeps for its routes.
TEST(CloudScenario, ConfiguresIdentityOffersFaultsAndStorage)
{
    const ScopedTempDirectory directory;
    const std::string packagePath = (directory.path() / "runtime.tar.gz").string();
    vyai::test::writeFile(packagePath, "archive bytes");
    CloudStandin cloud;
    ASSERT_TRUE(cloud.configure(siteScenario(packagePath)));
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
        // The storage serves what the scenario stored, to the scenario's token only.
        {"/runtimes/2.0.0/CPU/library.tar.gz", {}, 200, "archive bytes"},
        {"/models/m1.json", authorized, 307, nullptr},
        {"/models/m1.json", {}, 401, nullptr},
        {"/models/m2.json", authorized, 404, nullptr},
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

    EXPECT_EQ(cloud.models(), kModels);
    EXPECT_EQ(cloud.storage().modelKey("m1.json").size(), 32u);
    EXPECT_FALSE(CloudStandin::routeNamed("nothing"));
    EXPECT_EQ(CloudStandin::routeNamed("availablePipelines"), CloudStandin::Route::availablePipelines);
}

// The downloads' faults: the model's body (after the redirect) and the runtime package.
TEST(CloudScenario, DownloadFaultsReachTheStorage)
{
    const ScopedTempDirectory directory;
    const std::string packagePath = (directory.path() / "runtime.tar.gz").string();
    vyai::test::writeFile(packagePath, "archive bytes");
    CloudScenario scenario = siteScenario(packagePath);
    scenario.modelFault.emplace().status = 503;
    scenario.packageFault.emplace().truncateAfter = 4;
    CloudStandin cloud;
    ASSERT_TRUE(cloud.configure(scenario));
    ASSERT_TRUE(cloud.start());
    httplib::Client client("127.0.0.1", cloud.port());

    const auto model = client.Get("/storage/m1.json", {{"Authorization", "secret"}});
    ASSERT_TRUE(model);
    EXPECT_EQ(model->status, 503);
    // The line drops after four bytes: the reader never gets the whole package.
    const auto package = client.Get("/runtimes/2.0.0/CPU/library.tar.gz");
    EXPECT_TRUE(!package || package->body != "archive bytes");

    // A stall sends nothing after its bytes until the stand-in stops.
    vy::standins::ProvisioningStorage::ModelFault stall;
    stall.stallAfter = 0;
    cloud.storage().setModelFault(stall);
    client.set_read_timeout(std::chrono::milliseconds(300));
    const auto stalled = client.Get("/storage/m1.json", {{"Authorization", "secret"}});
    EXPECT_TRUE(!stalled || stalled->body.empty());
    cloud.stop();
}

TEST(CloudScenario, WhatCannotBeServedIsRefused)
{
    struct Case
    {
        const char* pipelines;
        const char* models;
        const char* runtimePackage;
    };
    const Case cases[] = {
        {R"({"uuid":"a"})", "[]", ""},
        {"[]", R"([{"content":{}}])", ""},
        {"[]", R"([{"file":"m.json"}])", ""},
        {"[]", "[]", R"({"path":"/nonexistent/runtime.tar.gz"})"},
        {"[]", "[]", R"({"name":"cpu"})"},
    };
    for (const Case& c: cases)
    {
        SCOPED_TRACE(std::string(c.pipelines) + " " + c.models + " " + c.runtimePackage);
        CloudScenario scenario;
        scenario.pipelines = c.pipelines;
        scenario.models = c.models;
        scenario.runtimePackage = c.runtimePackage;
        CloudStandin cloud;
        EXPECT_FALSE(cloud.configure(scenario));
    }
}

} // namespace
