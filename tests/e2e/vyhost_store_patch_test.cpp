// The host's store tells vyhost of each record the plug-in patched, and only of those.

#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "host/rest_store.h"

namespace {

using vyhost::RestStore;

struct Patched
{
    std::string deviceId;
    std::string record;
};

struct ObservedStore
{
    ObservedStore()
    {
        EXPECT_TRUE(store.putDevice(R"({"id":"{AB12CD34-0000-4000-8000-000000000001}","name":"entrance"})"));
        store.setPatchObserver([this](const std::string& deviceId, const std::string& record)
            { patched.push_back({deviceId, record}); });
    }

    RestStore store{"{0f4a6c2e-1b3d-4e5f-8a9b-0c1d2e3f4a5b}"};
    std::vector<Patched> patched;
};

TEST(VyhostStorePatch, EachPatchOfTheRequestsNamesItsRecordAsMerged)
{
    ObservedStore f;
    f.store.handle("PATCH", "/rest/v4/devices/ab12cd34-0000-4000-8000-000000000001",
        R"({"parameters":{"vyAI":{"selectedPipeline":"p-1"}}})");
    f.store.handle("PATCH", "/rest/v4/servers/this", R"({"parameters":{"vyAI":{"siteID":"s-1"}}})");
    ASSERT_EQ(f.patched.size(), 2U);
    EXPECT_EQ(f.patched[0].deviceId, "{AB12CD34-0000-4000-8000-000000000001}");
    EXPECT_EQ(f.patched[0].record, *f.store.device("{AB12CD34-0000-4000-8000-000000000001}"));
    EXPECT_NE(f.patched[0].record.find(R"("name":"entrance")"), std::string::npos);
    EXPECT_EQ(f.patched[1].deviceId, "");
    EXPECT_EQ(f.patched[1].record, f.store.server());
}

TEST(VyhostStorePatch, ReadingsFailedPatchesAndTheHostsOwnChangesAreNotTold)
{
    ObservedStore f;
    f.store.handle("GET", "/rest/v4/servers/this", "");
    f.store.handle("PATCH", "/rest/v4/devices/unknown", R"({"parameters":{}})");
    f.store.handle("PATCH", "/rest/v4/servers/this", "not json");
    const RestStore::Answer own = f.store.patchServer(vyhost::siteIdPatchBody("s-2"));
    EXPECT_EQ(own.status, 200);
    EXPECT_TRUE(f.patched.empty());
    EXPECT_NE(f.store.server().find(R"("vyAI":{"siteID":"s-2"})"), std::string::npos) << f.store.server();
    f.store.patchServer(vyhost::siteIdPatchBody(std::nullopt));
    EXPECT_EQ(f.store.server().find("siteID"), std::string::npos) << f.store.server();
}

} // namespace
