#include <map>
#include <string>

#include <gtest/gtest.h>

#include <vy/sdk/exports.h>
#include <vy/sdk/helpers/lib_context.h>
#include <vy/sdk/ptr.h>

#include "kit_debug_capture.h"
#include "sdk_host_string_map.h"

namespace {

using vy::sdk::LibContext;

/** A registry that only tells when it is destroyed. */
class FlagRegistry: public vy::sdk::IRefCountableRegistry
{
public:
    explicit FlagRegistry(bool* destroyed): m_destroyed(destroyed) {}
    ~FlagRegistry() override { *m_destroyed = true; }
    void recordCreation(const vy::sdk::IRefCountable*, int32_t) override {}
    void recordDestruction(const vy::sdk::IRefCountable*, int32_t) override {}

private:
    bool* m_destroyed;
};

TEST(LibContext, FirstNameOfAFreshContext)
{
    const struct
    {
        const char* name;
        const char* expectedName;
        const char* reportedCondition; //< Null: no report.
    } cases[] = {
        {"host_lib", "host_lib", nullptr},
        {"", "incorrectly_named_lib_context", "(name[0] != '\\0')"},
        {nullptr, "incorrectly_named_lib_context", "(name)"},
    };
    for (const auto& c: cases)
    {
        SCOPED_TRACE(c.name ? c.name : "null");
        LibContext context;
        EXPECT_EQ(context.name(), "unnamed_lib_context");
        DebugCapture capture;
        context.setName(c.name);
        EXPECT_EQ(context.name(), c.expectedName);
        if (c.reportedCondition)
        {
            ASSERT_EQ(capture.lines().size(), 1U);
            EXPECT_EQ(capture.countLinesContaining("[vy::sdk::LibContext] "), 1);
            EXPECT_EQ(capture.countLinesContaining(c.reportedCondition), 1);
        }
        else
        {
            EXPECT_EQ(capture.text(), "");
        }
    }
}

TEST(LibContext, NameIsSetOnceAndTheSameNameAgainIsAccepted)
{
    LibContext context;
    DebugCapture capture;
    context.setName("A");
    context.setName("A");
    EXPECT_EQ(capture.text(), "");

    context.setName("B");
    EXPECT_EQ(context.name(), "A");
    ASSERT_EQ(capture.lines().size(), 1U);
    EXPECT_EQ(capture.countLinesContaining(
        "(m_name == kDefaultName || m_name == std::string(name)) "
        "Attempt to change LibContext name from \"A\" to \"B\"."), 1);
}

TEST(LibContext, NullNameAfterTheNameIsSetIsReportedAndKeepsTheName)
{
    LibContext context;
    context.setName("A");
    DebugCapture capture;
    context.setName(nullptr);
    EXPECT_EQ(context.name(), "A");
    EXPECT_EQ(capture.countLinesContaining("Attempt to change LibContext name from \"A\" to null."), 1);
}

TEST(LibContext, IncorrectNameIsFinal)
{
    DebugCapture capture;
    LibContext context;
    context.setName("");
    context.setName("late");
    EXPECT_EQ(context.name(), "incorrectly_named_lib_context");
    EXPECT_EQ(capture.countLinesContaining("Attempt to change LibContext name"), 1);
}

TEST(LibContext, KeepsTheFirstRegistryAndDestroysItWithTheContext)
{
    bool firstDestroyed = false;
    bool secondDestroyed = false;
    auto* second = new FlagRegistry(&secondDestroyed);
    {
        LibContext context;
        context.setRefCountableRegistry(nullptr); //< Accepted: still none.
        EXPECT_EQ(context.refCountableRegistry(), nullptr);

        auto* first = new FlagRegistry(&firstDestroyed);
        context.setRefCountableRegistry(first);
        DebugCapture capture;
        context.setRefCountableRegistry(second);
        EXPECT_EQ(context.refCountableRegistry(), first);
        EXPECT_EQ(capture.countLinesContaining(
            "(!m_refCountableRegistry) LibContext refCountableRegistry has already been set."), 1);
        EXPECT_FALSE(secondDestroyed) << "a refused registry is not the context's to destroy";
    }
    EXPECT_TRUE(firstDestroyed);
    EXPECT_FALSE(secondDestroyed);
    delete second;
}

TEST(LibExports, ContextAndVersion)
{
    EXPECT_EQ(vyLibContext(), &vy::sdk::libContext());
    EXPECT_EQ(vyLibContext(), vyLibContext());
    EXPECT_STREQ(vySdkVersion(), "6.1.4 R1");
}

TEST(LibExports, UnitTestOptionsAreReplacedByTheHostsItems)
{
    auto& options = vy::sdk::unitTestOptions();
    options = {{"stale", "1"}};

    const auto twoItems = vy::sdk::newRefCounted<HostStringMap>(
        std::vector<HostStringMap::Item>{{"b", "2"}, {"a", "1"}});
    vySetUnitTestOptions(twoItems.get());
    EXPECT_EQ(options, (std::map<std::string, std::string>{{"a", "1"}, {"b", "2"}}));
    EXPECT_EQ(twoItems->refCount(), 1);

    vySetUnitTestOptions(nullptr);
    EXPECT_EQ(options.size(), 2U) << "null must leave the options alone";

    const auto awkward = vy::sdk::newRefCounted<HostStringMap>(std::vector<HostStringMap::Item>{
        {"k", "first"}, {"k", "second"}, {nullptr, "orphan"}, {"empty", nullptr}});
    vySetUnitTestOptions(awkward.get());
    EXPECT_EQ(options, (std::map<std::string, std::string>{{"empty", ""}, {"k", "first"}}));

    const auto negative = vy::sdk::newRefCounted<HostStringMap>(
        std::vector<HostStringMap::Item>{{"x", "y"}}, -3);
    vySetUnitTestOptions(negative.get());
    EXPECT_TRUE(options.empty());
}

} // namespace
