// The scenario's site change action and the example scenarios that use the dialogs.

#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "host/scenario.h"

namespace {

using vyhost::ParsedScenario;
using vyhost::UserAction;
using vyhost::parseScenario;

TEST(VyhostSiteAction, TheDialogExamplesAreRead)
{
    for (const char* name: {"dialogs.json", "site_change.json"})
    {
        std::ifstream file(std::string(VYHOST_SCENARIOS_DIR) + "/" + name);
        std::ostringstream text;
        text << file.rdbuf();
        ASSERT_FALSE(text.str().empty()) << name;
        const ParsedScenario parsed = parseScenario(text.str(), 1);
        EXPECT_TRUE(parsed.scenario) << name << ": " << parsed.error;
    }
}

TEST(VyhostSiteAction, ASiteIdIsSetOrRemovedAndConcernsNoCamera)
{
    const ParsedScenario parsed = parseScenario(R"({"actions": [
        {"at": 1, "do": "setSiteId", "siteId": "{22222222-3333-4444-8555-666666666666}"},
        {"at": 2, "do": "setSiteId", "siteId": null}]})", 1);
    ASSERT_TRUE(parsed.scenario) << parsed.error;
    ASSERT_EQ(parsed.scenario->actions.size(), 2U);
    const UserAction& set = parsed.scenario->actions[0];
    EXPECT_EQ(set.kind, UserAction::Kind::setSiteId);
    EXPECT_EQ(set.siteId, "{22222222-3333-4444-8555-666666666666}");
    EXPECT_EQ(set.camera, "");
    EXPECT_FALSE(parsed.scenario->actions[1].siteId);
}

/** The error of a scenario with this one action; it must be refused. */
std::string errorOfAction(const std::string& action)
{
    const ParsedScenario parsed = parseScenario(R"({"actions": [)" + action + "]}", 1);
    EXPECT_FALSE(parsed.scenario) << action;
    return parsed.error;
}

TEST(VyhostSiteAction, AMalformedSiteChangeIsNamed)
{
    EXPECT_EQ(errorOfAction(R"({"do": "setSiteId"})").rfind("actions[0].siteId: ", 0), 0U);
    EXPECT_EQ(errorOfAction(R"({"do": "setSiteId", "siteId": 5})"), "actions[0].siteId: must be a text");
    EXPECT_EQ(errorOfAction(R"({"do": "setSiteId", "siteId": "s", "camera": "camera1"})")
                  .rfind("actions[0].camera: unknown field", 0),
        0U);
    EXPECT_NE(errorOfAction(R"({"do": "changeSite"})").find("engineAction or setSiteId"), std::string::npos);
}

} // namespace
