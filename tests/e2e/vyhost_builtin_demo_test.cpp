// The product's main job, as vyhost's built-in scenario shows it on a fresh host directory:
// the user picks the runtime among those the camera's dialog offers, the runtime is installed
// from the cloud, the encrypted model downloaded, the engine started, and the synthetic
// scene's boxes come back as objects where the scene drew them.

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "host/dialog_buttons.h"
#include "scoped_temp_directory.h"
#include "time_factor.h"
#include "vyhost_process.h"

namespace {

struct Box
{
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
};

double iou(const Box& a, const Box& b)
{
    const double w = std::min(a.x + a.width, b.x + b.width) - std::max(a.x, b.x);
    const double h = std::min(a.y + a.height, b.y + b.height) - std::max(a.y, b.y);
    if (w <= 0 || h <= 0)
        return 0;
    const double overlap = w * h;
    return overlap / (a.width * a.height + b.width * b.height - overlap);
}

double number(yyjson_val* object, const char* key)
{
    return yyjson_get_num(yyjson_obj_get(object, key));
}

std::string text(yyjson_val* object, const char* key)
{
    const char* value = yyjson_get_str(yyjson_obj_get(object, key));
    return value ? value : "";
}

using FrameKey = std::pair<std::string, int64_t>; //< camera, timestamp

// The truth boxes per frame, by colour, in pixels; and the frame's size.
struct Truth
{
    double width = 0;
    double height = 0;
    std::map<std::string, Box> boxes;
};

std::map<FrameKey, Truth> truthsOf(const VyhostRun& run)
{
    std::map<FrameKey, Truth> truths;
    for (const VyhostLine* line: run.linesOfType("truth"))
    {
        Truth& truth = truths[{line->string("camera"), integerAt(*line, {"timestampUs"})}];
        truth.width = (double) integerAt(*line, {"width"});
        truth.height = (double) integerAt(*line, {"height"});
        size_t index = 0;
        size_t count = 0;
        yyjson_val* box = nullptr;
        yyjson_arr_foreach(line->at({"boxes"}), index, count, box)
        {
            truth.boxes[text(box, "colour")] =
                {number(box, "x"), number(box, "y"), number(box, "width"), number(box, "height")};
        }
    }
    return truths;
}

/** The buttons of the first dialog opened on the camera, name to caption. */
std::map<std::string, std::string> firstOpenedDialogButtons(const VyhostRun& run, const std::string& camera)
{
    for (const VyhostLine* line: run.linesOfType("settingsModel"))
    {
        if (line->string("camera") != camera || line->string("request") != "openSettings")
            continue;
        char* model = yyjson_val_write(line->at({"model"}), YYJSON_WRITE_NOFLAG, nullptr);
        const std::map<std::string, std::string> buttons = vyhost::shownButtons(model ? model : "");
        std::free(model);
        return buttons;
    }
    return {};
}

TEST(VyhostBuiltInDemo, TheUserPicksTheRuntimeTheDialogShowsAndTheSceneComesBackOnItsTruthBoxes)
{
    ScopedTempDirectory hostDirectory;
    ScopedTempDirectory iniDirectory;
    ScopedTempDirectory pictures;
    const VyhostRun run = runVyhost(VYHOST_PATH,
        {"--plugin", VY_PLUGIN_PATH, "--host-dir", hostDirectory.path().string(), "--fps", "10",
            "--seconds", "8", "--pictures", pictures.path().string(), "--picture-every", "20"},
        {"VY_INI_DIR=" + iniDirectory.path().string()});
    ASSERT_EQ(run.exitCode, 0) << run.describe();

    // An x86-64 machine offers the generic CPU and the Intel runtime; the user presses the
    // button the dialog captions "Generic CPU", which vyhost lets through only when shown.
    std::map<std::string, std::string> choices;
    for (const auto& [name, caption]: firstOpenedDialogButtons(run, "camera1"))
    {
        if (name.starts_with("libraryChoice_"))
            choices.emplace(caption, name);
    }
    ASSERT_EQ(choices.size(), 2U) << run.describe();
    ASSERT_TRUE(choices.contains("Generic CPU") && choices.contains("Intel")) << run.describe();
    int pressed = 0;
    for (const VyhostLine* result: run.linesOfType("actionResult"))
    {
        if (result->string("action") != "pressButton")
            continue;
        ++pressed;
        EXPECT_EQ(result->string("id"), choices.at("Generic CPU")) << result->text();
        EXPECT_EQ(result->string("error"), "") << result->text();
    }
    EXPECT_EQ(pressed, 1) << run.describe();

    const std::map<FrameKey, Truth> truths = truthsOf(run);
    std::map<std::string, int> matched; //< colour -> tracked objects on their truth box
    for (const VyhostLine* line: run.linesOfType("objects"))
    {
        const auto truth = truths.find({line->string("camera"), integerAt(*line, {"timestampUs"})});
        ASSERT_NE(truth, truths.end()) << "objects of no frame pushed: " << line->text();
        size_t index = 0;
        size_t count = 0;
        yyjson_val* item = nullptr;
        yyjson_arr_foreach(line->at({"items"}), index, count, item)
        {
            const std::string type = text(item, "typeId");
            ASSERT_TRUE(type.starts_with("vy.vyai.")) << line->text();
            const std::string colour = type.substr(std::string("vy.vyai.").size());
            const auto drawn = truth->second.boxes.find(colour);
            ASSERT_NE(drawn, truth->second.boxes.end()) << "no " << colour << " box drawn: " << line->text();
            if (text(item, "trackId") == "00000000-0000-0000-0000-000000000000")
                continue;
            yyjson_val* box = yyjson_obj_get(item, "box");
            const Box found{number(box, "x") * truth->second.width, number(box, "y") * truth->second.height,
                number(box, "width") * truth->second.width, number(box, "height") * truth->second.height};
            EXPECT_GT(iou(found, drawn->second), 0.9) << colour << ": " << line->text();
            ++matched[colour];
        }
    }
    // The first camera's scene draws red, green and blue boxes.
    for (const char* colour: {"red", "green", "blue"})
        EXPECT_GE(matched[colour], 5) << colour << "\n" << run.describe();

    const VyhostLine& summary = run.lines.back();
    ASSERT_EQ(summary.type(), "summary") << run.describe();
    EXPECT_TRUE(yyjson_get_bool(summary.at({"completed"})));
    EXPECT_GT(integerAt(summary, {"inference", "inferred"}), 0) << summary.text();
    EXPECT_GT(integerAt(summary, {"inference", "answered"}), 0) << summary.text();
    EXPECT_GT(integerAt(summary, {"packets", "objects"}), 0) << summary.text();

    // vyhost's own match says the same as the one above, in the summary and in plain words. A
    // starved build answers few frames; a box that moved too far between two of them starts a
    // new track, which is reported only once it is old enough, so it may miss a frame or two.
    const int64_t boxes = integerAt(summary, {"truthMatch", "camera1", "boxes"});
    const int64_t found = integerAt(summary, {"truthMatch", "camera1", "found"});
    EXPECT_GE(boxes, 15) << summary.text();
    EXPECT_GE(found * 10, boxes * 9) << summary.text();
    EXPECT_EQ(integerAt(summary, {"truthMatch", "camera1", "extra"}), 0) << summary.text();
    EXPECT_GT(yyjson_get_num(summary.at({"truthMatch", "camera1", "lowestIou"})), 0.9) << summary.text();
    const std::string said = "camera1: " + std::to_string(found) + " of " + std::to_string(boxes) + " boxes found";
    EXPECT_NE(run.errorOutput.find(said), std::string::npos) << run.errorOutput;

    // Frames 0, 20, 40 and 60, as PNG files.
    int written = 0;
    for (const auto& entry: std::filesystem::directory_iterator(pictures.path()))
    {
        std::ifstream file(entry.path(), std::ios::binary);
        char signature[8] = {};
        file.read(signature, sizeof(signature));
        EXPECT_EQ(std::string(signature, 8), std::string("\x89PNG\r\n\x1a\n", 8)) << entry.path();
        EXPECT_EQ(entry.path().filename().string().rfind("camera1_frame0000", 0), 0u) << entry.path();
        ++written;
    }
    EXPECT_EQ(written, 4);
    EXPECT_EQ(integerAt(summary, {"pictures", "written"}), 4) << summary.text();
}

// The README's recipe: a second run on a kept host directory, where the runtime is installed
// and the dialog never offers the choice again. Its scenario waits for what the user then sees
// instead, switches the camera on and takes about its stated time.
TEST(VyhostBuiltInDemo, ARerunOnAKeptHostDirectoryTakesItsStatedTime)
{
    ScopedTempDirectory hostDirectory;
    constexpr int kSeconds = 3;
    const auto runDemo = [&hostDirectory]
        {
            ScopedTempDirectory iniDirectory;
            return runVyhost(VYHOST_PATH,
                {"--plugin", VY_PLUGIN_PATH, "--host-dir", hostDirectory.path().string(), "--seconds",
                    std::to_string(kSeconds)},
                {"VY_INI_DIR=" + iniDirectory.path().string()});
        };
    const VyhostRun installing = runDemo();
    ASSERT_EQ(installing.exitCode, 0) << installing.describe();

    const auto start = std::chrono::steady_clock::now();
    const VyhostRun rerun = runDemo();
    ASSERT_EQ(rerun.exitCode, 0) << rerun.describe();
    // Start-up, the wait for quiet after the last frame and the unload take a few seconds more.
    const auto took = rerun.exitedAt - start;
    EXPECT_LE(took, vyai::test::scaled(std::chrono::seconds(kSeconds + 5)))
        << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms\n" << rerun.describe();
    EXPECT_FALSE(rerun.linesOfType("objects").empty()) << rerun.describe();
}

} // namespace
