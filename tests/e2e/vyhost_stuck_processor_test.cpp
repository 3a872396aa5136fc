#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <future>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "example_scenarios.h"
#include "processor_harness.h"
#include "scoped_temp_directory.h"
#include "test_files.h"
#include "time_factor.h"
#include "vyhost_process.h"

namespace {

using namespace std::chrono_literals;
using example_scenarios::MutableScenario;
using vyai::test::scaled;

// What the plug-in promises from the last frame to its unload.
constexpr auto kUnloadBound = 5s;

VyhostRun runScenario(const std::string& scenarioText, const std::vector<std::string>& more = {})
{
    ScopedTempDirectory hostDirectory;
    ScopedTempDirectory iniDirectory;
    const std::string scenario = hostDirectory.file("scenario.json");
    vyai::test::writeFile(scenario, scenarioText);
    std::vector<std::string> arguments{"--plugin", VY_PLUGIN_PATH, "--host-dir", hostDirectory.path().string(),
        "--scenario", scenario};
    arguments.insert(arguments.end(), more.begin(), more.end());
    return runVyhost(VYHOST_PATH, arguments, {"VY_INI_DIR=" + iniDirectory.path().string()},
        std::chrono::duration_cast<std::chrono::seconds>(scaled(90s)));
}

/** From the last frame pushed to the end of vyhost, which unloads the plug-in before it exits. */
std::chrono::steady_clock::duration unloadTime(const VyhostRun& run)
{
    size_t lastFrame = 0;
    for (size_t i = 0; i < run.lines.size(); ++i)
    {
        if (run.lines[i].type() == "truth")
            lastFrame = i;
    }
    EXPECT_GT(lastFrame, 0u) << run.describe();
    EXPECT_EQ(run.lines.size(), run.lineTimes.size());
    return lastFrame < run.lineTimes.size() ? run.exitedAt - run.lineTimes[lastFrame]
                                            : std::chrono::steady_clock::duration::max();
}

/**
 * processor.json with its pre-processor replaced by a TCP declaration of `port` and a larger
 * scene.
 */
std::string scenarioWithTcpPreprocessor(uint16_t port)
{
    MutableScenario scenario("processor.json");
    yyjson_mut_val* declaration = scenario.firstOf("preprocessors");
    yyjson_mut_obj_remove_key(declaration, "Command");
    yyjson_mut_obj_remove_key(declaration, "arguments");
    yyjson_mut_obj_remove_key(declaration, "LogFilepath");
    scenario.put(declaration, "Port", yyjson_mut_uint(scenario.doc, port));
    // Frames of 25 MB as image messages: more than the loopback buffers take, so the send waits.
    yyjson_mut_val* scene = scenario.at(scenario.firstOf("cameras"), "scene");
    scenario.put(scene, "width", yyjson_mut_uint(scenario.doc, 1920));
    scenario.put(scene, "height", yyjson_mut_uint(scenario.doc, 1080));
    return scenario.text();
}

// A TCP pre-processor that takes its connection and never reads from it: each frame's request
// fills the socket until the send deadline passes. The run still ends on time and the plug-in
// is released and unloaded within five seconds of the last frame.
TEST(VyhostStuckProcessor, APeerThatStopsReadingDoesNotHoldTheUnload)
{
    vyai::test::ProcessorChild processor({"--listen", "0", "--mode", "stop-reading"}, {});
    const uint16_t port = processor.announcedPort();
    ASSERT_NE(port, 0);
    const VyhostRun run = runScenario(scenarioWithTcpPreprocessor(port), {"--fps", "10", "--seconds", "8"});

    ASSERT_EQ(run.exitCode, 0) << run.describe();
    EXPECT_NE(run.errorOutput.find("Could not send input message to external process at port"), std::string::npos)
        << "the processor was never stuck: " << run.describe();
    // The bound is the product's; only the slack for a slow build stretches.
    EXPECT_LT(unloadTime(run), kUnloadBound + scaled(2s)) << run.describe();
}

/** A processor that takes camera A's requests and never answers, of one kind. */
struct StuckPeer_t
{
    const char* name;
    const char* example; //< the example scenario whose stage uses the processor
    const char* declarations; //< its declarations' member in the scenario
    const char* stageMember; //< the pipeline node's member naming it
    bool tcp; //< else a child over shared memory
};

const StuckPeer_t kStuckPeers[] = {
    {"tcpPreprocessor", "processor.json", "preprocessors", "Preprocessor", true},
    {"sharedMemoryPreprocessor", "processor.json", "preprocessors", "Preprocessor", false},
    {"objectsPostprocessor", "objects_processor.json", "postprocessors", "Postprocessor", true},
};

constexpr const char* kPlainPipeline = "{6c1d9f3b-8e52-4a4f-8d7b-2f3a4b5c6d7e}";

/**
 * The example with two cameras: B runs the example's pipeline without its processor, A the
 * example's own with the processor hanging (or, `withProcessor` false, the same as B). The
 * processor's reply deadline is `deadline`.
 */
std::string twoCameraScenario(const StuckPeer_t& peer, bool withProcessor, uint16_t port,
    std::chrono::milliseconds deadline)
{
    MutableScenario scenario(peer.example);
    yyjson_mut_doc* doc = scenario.doc;
    yyjson_mut_val* cloud = scenario.at(scenario.root, "cloud");
    yyjson_mut_val* pipelines = scenario.at(cloud, "pipelines");
    yyjson_mut_val* withStage = yyjson_mut_arr_get_first(pipelines);
    yyjson_mut_val* plain = yyjson_mut_val_mut_copy(doc, withStage);
    scenario.put(plain, "name", yyjson_mut_str(doc, "Plain colour boxes"));
    scenario.put(plain, "uuid", yyjson_mut_str(doc, kPlainPipeline));
    yyjson_mut_obj_remove_key(yyjson_mut_arr_get_first(scenario.at(plain, "pipelines")), peer.stageMember);
    yyjson_mut_arr_append(pipelines, plain);
    yyjson_mut_val* offers = yyjson_mut_obj(doc);
    yyjson_mut_val* offerA = yyjson_mut_arr(doc);
    yyjson_mut_arr_add_strcpy(doc, offerA,
        withProcessor ? yyjson_mut_get_str(scenario.at(withStage, "uuid")) : kPlainPipeline);
    yyjson_mut_val* offerB = yyjson_mut_arr(doc);
    yyjson_mut_arr_add_str(doc, offerB, kPlainPipeline);
    scenario.put(offers, "A", offerA);
    scenario.put(offers, "B", offerB);
    scenario.put(cloud, "offers", offers);

    yyjson_mut_val* declaration = scenario.firstOf(peer.declarations);
    scenario.put(declaration, "TimeoutMs", yyjson_mut_uint(doc, static_cast<uint64_t>(deadline.count())));
    if (peer.tcp)
    {
        yyjson_mut_obj_remove_key(declaration, "Command");
        yyjson_mut_obj_remove_key(declaration, "arguments");
        yyjson_mut_obj_remove_key(declaration, "LogFilepath");
        scenario.put(declaration, "Port", yyjson_mut_uint(doc, port));
    }
    else
    {
        yyjson_mut_val* arguments = yyjson_mut_arr(doc);
        yyjson_mut_arr_add_str(doc, arguments, "--mode");
        yyjson_mut_arr_add_str(doc, arguments, "hang");
        scenario.put(declaration, "arguments", arguments);
    }

    yyjson_mut_val* cameras = scenario.at(scenario.root, "cameras");
    yyjson_mut_val* cameraA = yyjson_mut_arr_get_first(cameras);
    scenario.put(cameraA, "name", yyjson_mut_str(doc, "A"));
    yyjson_mut_val* cameraB = yyjson_mut_val_mut_copy(doc, cameraA);
    scenario.put(cameraB, "name", yyjson_mut_str(doc, "B"));
    yyjson_mut_arr_append(cameras, cameraB);

    // The example's actions are camera A's; B is switched on as a user would, from its dialog.
    yyjson_mut_val* actions = yyjson_mut_arr(doc);
    yyjson_mut_val* action = nullptr;
    yyjson_mut_val* exampleActions = scenario.at(scenario.root, "actions");
    while ((action = yyjson_mut_arr_remove_first(exampleActions)))
    {
        scenario.put(action, "camera", yyjson_mut_str(doc, "A"));
        yyjson_mut_arr_append(actions, action);
        if (std::string(yyjson_mut_get_str(scenario.at(action, "do"))) != "applySettings")
            continue;
        yyjson_mut_val* open = yyjson_mut_obj(doc);
        scenario.put(open, "at", yyjson_mut_real(doc, yyjson_mut_get_num(scenario.at(action, "at"))));
        scenario.put(open, "do", yyjson_mut_str(doc, "openSettings"));
        scenario.put(open, "camera", yyjson_mut_str(doc, "B"));
        yyjson_mut_arr_append(actions, open);
        yyjson_mut_val* apply = yyjson_mut_val_mut_copy(doc, action);
        scenario.put(apply, "camera", yyjson_mut_str(doc, "B"));
        yyjson_mut_arr_append(actions, apply);
    }
    scenario.put(scenario.root, "actions", actions);
    return scenario.text();
}

/**
 * The camera's frames answered, by timestamp: with objects, or with events alone (a slow build
 * infers too few frames for the tracker to report its objects on each).
 */
std::set<int64_t> answeredFrames(const VyhostRun& run, const std::string& camera)
{
    std::set<int64_t> frames;
    for (const char* type: {"objects", "events"})
    {
        for (const VyhostLine* line: run.linesOfType(type))
        {
            if (line->string("camera") == camera)
                frames.insert(integerAt(*line, {"timestampUs"}));
        }
    }
    return frames;
}

/**
 * The camera's frames answered, and those pushed from the run's first answer on (of any camera):
 * how long the plug-in takes to start its runtime differs from run to run, most on a slow build,
 * while a camera held by another's processor gets its first answer late.
 */
struct AnsweredShare
{
    AnsweredShare(const VyhostRun& run, const std::string& camera)
    {
        answered = answeredFrames(run, camera).size();
        std::optional<int64_t> firstAnswer;
        for (const char* type: {"objects", "events"})
        {
            for (const VyhostLine* line: run.linesOfType(type))
                firstAnswer = std::min(firstAnswer.value_or(INT64_MAX), integerAt(*line, {"timestampUs"}));
        }
        for (const VyhostLine* line: run.linesOfType("truth"))
        {
            if (firstAnswer && line->string("camera") == camera && integerAt(*line, {"timestampUs"}) >= *firstAnswer)
                ++pushed;
        }
    }

    double share() const { return pushed == 0 ? 0.0 : static_cast<double>(answered) / static_cast<double>(pushed); }

    size_t answered = 0;
    size_t pushed = 0;
};

class StuckPeerOfCameraA: public ::testing::TestWithParam<StuckPeer_t>
{
};

// A processor of camera A takes requests and never answers. Camera B, whose pipeline has no
// processor, keeps its answers: the stuck one holds at most two workers, each for one deadline,
// and the others go on. The plug-in still unloads within two seconds and one deadline.
TEST_P(StuckPeerOfCameraA, CameraBKeepsItsAnswersAndThePluginUnloadsInTime)
{
    const StuckPeer_t& peer = GetParam();
    std::optional<vyai::test::ProcessorChild> listener;
    uint16_t port = 0;
    if (peer.tcp)
    {
        listener.emplace(std::vector<std::string>{"--listen", "0", "--mode", "hang"}, std::vector<int>{});
        port = listener->announcedPort();
        ASSERT_NE(port, 0);
    }
    const auto deadline = scaled(std::chrono::milliseconds(1000));
    // 6 s at 10 frames a second; a slower build gets fewer a second (at least 2, for the tracker)
    // over a longer time, so that it answers a fair number of them.
    const double fps = std::max(2.0, 10 / vyai::test::timeFactor());
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(scaled(6s)).count();
    const std::vector<std::string> frames{"--fps", std::to_string(fps), "--seconds", std::to_string(seconds)};
    // Both runs at once: on a loaded machine they then share the same load, which a run after
    // the other would not, and B's answers differ by the stuck processor alone.
    auto runWithout = std::async(std::launch::async,
        [&] { return runScenario(twoCameraScenario(peer, false, port, deadline), frames); });
    const VyhostRun stuck = runScenario(twoCameraScenario(peer, true, port, deadline), frames);
    const VyhostRun without = runWithout.get();
    ASSERT_EQ(without.exitCode, 0) << without.describe();
    ASSERT_EQ(stuck.exitCode, 0) << stuck.describe();

    // On a loaded machine the child's acknowledgement may come after the send's deadline: its
    // requests then fail to be sent rather than go unanswered, stuck all the same.
    const bool stuckSeen = stuck.errorOutput.find("No response in time from external processor") != std::string::npos
        || stuck.errorOutput.find("Failed to send a request to external processor") != std::string::npos;
    EXPECT_TRUE(stuckSeen) << "the processor was never stuck: " << stuck.errorOutput;
    const AnsweredShare baseline(without, "B");
    const AnsweredShare kept(stuck, "B");
    ASSERT_GE(baseline.answered, 5u) << without.describe();
    ASSERT_GT(kept.answered, 0u) << stuck.describe();
    // The runs' own difference: a starved build answers few frames, and which of them it gets to
    // varies by about the square root of their number. A camera B held by A's processor (none or
    // a tenth of its frames answered) stays far below.
    const double expected = 0.9 * baseline.share() * static_cast<double>(kept.pushed);
    EXPECT_GE(static_cast<double>(kept.answered) + std::max(1.0, std::sqrt(expected)), expected)
        << "B: " << kept.answered << " of " << kept.pushed << " frames answered from the run's first answer on, against "
        << baseline.answered << " of " << baseline.pushed << " without A's processor";
    EXPECT_LT(unloadTime(stuck), 2s + deadline + scaled(2s)) << stuck.describe();
}

INSTANTIATE_TEST_SUITE_P(Peers, StuckPeerOfCameraA, ::testing::ValuesIn(kStuckPeers),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
