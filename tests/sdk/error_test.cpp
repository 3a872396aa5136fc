#include <string>

#include <gtest/gtest.h>

#include <vy/sdk/helpers/error.h>
#include <vy/sdk/helpers/string.h>

#include "kit_debug_capture.h"
#include "sdk_counting_registry.h"

namespace {

using vy::sdk::ErrorCode;

TEST(ErrorCodeText, NamesEveryCodeAndNothingElse)
{
    const struct
    {
        int32_t code;
        const char* text;
    } cases[] = {
        {0, "noError"}, {-1, "unauthorized"}, {-21, "notImplemented"}, {-22, "networkError"},
        {-100, "otherError"}, {-102, "needMoreData"}, {-103, "inProgress"},
        {-1000, "internalError"}, {-1001, "invalidParams"},
        {-2, "<unsupported Error>"}, {1, "<unsupported Error>"}, {-101, "<unsupported Error>"},
    };
    for (const auto& c: cases)
        EXPECT_EQ(vy::sdk::toString(static_cast<ErrorCode>(c.code)), c.text) << c.code;
}

TEST(Error, CarriesTheCodeAndAMessageOwnedByTheReceiver)
{
    CountingRegistry& registry = installedCountingRegistry();
    DebugCapture capture;
    const vy::sdk::Error error = vy::sdk::error(ErrorCode::invalidParams, "Settings are invalid");

    EXPECT_EQ(static_cast<int32_t>(error.errorCode()), -1001);
    ASSERT_NE(error.errorMessage(), nullptr);
    EXPECT_STREQ(error.errorMessage()->str(), "Settings are invalid");
    EXPECT_EQ(static_cast<const vy::sdk::String*>(error.errorMessage())->refCount(), 1);
    EXPECT_EQ(capture.text(), "");

    const vy::sdk::IRefCountable* message = error.errorMessage();
    EXPECT_TRUE(registry.isLive(message));
    EXPECT_EQ(error.errorMessage()->dropRef(), 0);
    EXPECT_FALSE(registry.isLive(message));
}

TEST(Error, MisuseIsReportedAndTheErrorIsMadeAsAsked)
{
    const struct
    {
        ErrorCode code;
        const char* message;
        const char* condition;
    } cases[] = {
        {ErrorCode::noError, "m", "(errorCode != ErrorCode::noError)"},
        {ErrorCode::internalError, "", "(!errorMessage.empty())"},
    };
    for (const auto& c: cases)
    {
        DebugCapture capture;
        const vy::sdk::Error error = vy::sdk::error(c.code, c.message);
        const auto lines = capture.lines();
        ASSERT_EQ(lines.size(), 1U) << c.condition;
        EXPECT_EQ(lines[0].rfind("vy::sdk::error(): ASSERTION FAILED: ", 0), 0U) << lines[0];
        EXPECT_NE(lines[0].find(c.condition), std::string::npos) << lines[0];

        EXPECT_EQ(error.errorCode(), c.code);
        ASSERT_NE(error.errorMessage(), nullptr);
        EXPECT_STREQ(error.errorMessage()->str(), c.message);
        error.errorMessage()->dropRef();
    }
}

TEST(Result, SuccessHoldsTheValueAndFailureTheError)
{
    const vy::sdk::Result<const vy::sdk::IString*> success(nullptr);
    EXPECT_TRUE(success.isOk());
    EXPECT_EQ(success.error().errorMessage(), nullptr);

    const vy::sdk::Result<const vy::sdk::IString*> failure =
        vy::sdk::error(ErrorCode::otherError, "failed");
    EXPECT_FALSE(failure.isOk());
    EXPECT_EQ(failure.value(), nullptr);
    failure.error().errorMessage()->dropRef();

    const vy::sdk::Result<void> none;
    EXPECT_TRUE(none.isOk());
}

} // namespace
