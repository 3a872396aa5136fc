#include <chrono>
#include <string>

#include <gtest/gtest.h>

#include "processor_harness.h"
#include "scoped_temp_directory.h"
#include "test_files.h"
#include "vyhost_process.h"

namespace {

/**
 * processor.json with its pre-processor replaced by a TCP declaration of `port`, a larger
 * scene, and the plug-in's log on the console (vyhost's standard error).
 */
std::string scenarioWithTcpPreprocessor(uint16_t port)
{
    const std::string example = vyai::test::readFile(std::string(VYHOST_SCENARIOS_DIR) + "/processor.json");
    auto document = vy::standins::parseJson(example);
    yyjson_mut_doc* copy = yyjson_doc_mut_copy(document.get(), nullptr);
    yyjson_mut_val* root = yyjson_mut_doc_get_root(copy);
    yyjson_mut_val* declaration = yyjson_mut_obj(copy);
    yyjson_mut_obj_add_str(copy, declaration, "Name", "top half");
    yyjson_mut_obj_add_uint(copy, declaration, "Port", port);
    yyjson_mut_val* declarations = yyjson_mut_arr(copy);
    yyjson_mut_arr_append(declarations, declaration);
    yyjson_mut_obj_remove_key(root, "preprocessors");
    yyjson_mut_obj_add_val(copy, root, "preprocessors", declarations);
    yyjson_mut_obj_add_bool(copy, yyjson_mut_obj_get(root, "ini"), "logToConsole", true);
    // Frames of 25 MB as image messages: more than the loopback buffers take, so the send waits.
    yyjson_mut_val* scene = yyjson_mut_obj_get(yyjson_mut_arr_get_first(yyjson_mut_obj_get(root, "cameras")), "scene");
    yyjson_mut_obj_put(scene, yyjson_mut_str(copy, "width"), yyjson_mut_uint(copy, 1920));
    yyjson_mut_obj_put(scene, yyjson_mut_str(copy, "height"), yyjson_mut_uint(copy, 1080));
    char* text = yyjson_mut_write(copy, 0, nullptr);
    std::string result = text ? text : "";
    free(text);
    yyjson_mut_doc_free(copy);
    return result;
}

// A TCP pre-processor that takes its connection and never reads from it: each frame's request
// fills the socket until the send deadline passes. The run still ends on time and the plug-in
// is released and unloaded within five seconds of the last frame.
TEST(VyhostStuckProcessor, APeerThatStopsReadingDoesNotHoldTheUnload)
{
    vyai::test::ProcessorChild processor({"--listen", "0", "--mode", "stop-reading"}, {});
    const uint16_t port = processor.announcedPort();
    ASSERT_NE(port, 0);
    ScopedTempDirectory hostDirectory;
    ScopedTempDirectory iniDirectory;
    const std::string scenario = hostDirectory.file("stuck.json");
    vyai::test::writeFile(scenario, scenarioWithTcpPreprocessor(port));

    const VyhostRun run = runVyhost(VYHOST_PATH,
        {"--plugin", VY_PLUGIN_PATH, "--host-dir", hostDirectory.path().string(), "--scenario", scenario, "--fps",
            "10", "--seconds", "8"},
        {"VY_INI_DIR=" + iniDirectory.path().string()}, std::chrono::seconds(90));

    ASSERT_EQ(run.exitCode, 0) << run.describe();
    EXPECT_NE(run.errorOutput.find("Could not send input message to external process at port"), std::string::npos)
        << "the processor was never stuck: " << run.describe();
    ASSERT_EQ(run.lines.size(), run.lineTimes.size());
    size_t lastFrame = 0;
    for (size_t i = 0; i < run.lines.size(); ++i)
    {
        if (run.lines[i].type() == "truth")
            lastFrame = i;
    }
    ASSERT_GT(lastFrame, 0u) << run.describe();
    EXPECT_LT(run.exitedAt - run.lineTimes[lastFrame], std::chrono::seconds(5)) << run.describe();
}

} // namespace
