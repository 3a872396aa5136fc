#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/pipeline_parse_report.h"
#include "core/pipelines_fetch.h"
#include "time_factor.h"

namespace {

using namespace std::chrono_literals;

TEST(PipelinesFetch, OneTaskRunsAtATimeAndTheOwnerWaitsForIt)
{
    std::atomic<int> started{0};
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    {
        vyai::PipelinesFetch fetch;
        EXPECT_TRUE(fetch.startUnlessRunning([&] { ++started; released.wait(); }));
        EXPECT_FALSE(fetch.startUnlessRunning([&] { ++started; }));
        EXPECT_FALSE(fetch.waitFor(10ms));
        release.set_value();
        EXPECT_TRUE(fetch.waitFor(vyai::test::scaled(10s)));
        EXPECT_TRUE(fetch.startUnlessRunning([&] { ++started; }));
        // Destroyed with the last task possibly running: it is joined, not left behind.
    }
    EXPECT_EQ(started.load(), 2);
}

TEST(PipelineParseReport, ADeviceThatReadsCleanlyDoesNotHideAnothersError)
{
    vyai::MessagingManager messages;
    vyai::PipelineParseReport report(messages);
    const auto hasMessage = [&] { return messages.getMessages().contains("PARSE_PIPELINE"); };

    report.report("a", {"missing required string: resizingMethod"});
    report.report("b", {});
    ASSERT_TRUE(hasMessage());
    EXPECT_EQ(messages.getMessages().at("PARSE_PIPELINE").text,
        "Could not parse pipeline details. Probably an error with metadata: missing required string: resizingMethod");

    report.report("b", {"missing required key: modelNMS"});
    report.report("a", {});
    EXPECT_TRUE(hasMessage());
    report.forget("b");
    EXPECT_FALSE(hasMessage());

    // A message left by an earlier walk goes with the next clean reading.
    messages.addMessage("PARSE_PIPELINE", "old", vyai::kMessageTypeWarning);
    report.report("a", {});
    EXPECT_FALSE(hasMessage());
}

} // namespace
