// The known boxes' cache file: restarts, crashes mid-write, damaged files.
#include <csignal>
#include <filesystem>
#include <limits>

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "captured_log.h"
#include "postprocessing/known_boxes_cache.h"
#include "scoped_temp_directory.h"
#include "test_files.h"

namespace {

using namespace vyai;

bool sameBoxes(const KnownBoxes& a, const KnownBoxes& b)
{
    if (a.size() != b.size())
        return false;
    for (const auto& [device, boxes]: a) {
        const auto other = b.find(device);
        if (other == b.end() || other->second.size() != boxes.size())
            return false;
        for (size_t i = 0; i < boxes.size(); ++i) {
            const Box_t& x = boxes[i];
            const Box_t& y = other->second[i];
            if (x.x != y.x || x.y != y.y || x.width != y.width || x.height != y.height)
                return false;
        }
    }
    return true;
}

KnownBoxes load(const std::string& root)
{
    KnownBoxes boxes;
    readKnownBoxesFile(root, boxes);
    return boxes;
}

const KnownBoxes kOld{{"device-1", {{0.25f, 0.25f, 0.5f, 0.5f}}}};
// Many boxes, so that writing takes long enough to be cut short.
KnownBoxes manyBoxes()
{
    KnownBoxes boxes;
    for (int d = 0; d < 20; ++d) {
        auto& list = boxes["device-" + std::to_string(d)];
        for (int i = 0; i < 500; ++i)
            list.push_back({0.125f * static_cast<float>(i % 8), 0.5f, 0.0625f, 0.25f});
    }
    return boxes;
}

TEST(KnownBoxesCache, SurvivesARestart)
{
    ScopedTempDirectory root;
    EXPECT_TRUE(load(root.path().string()).empty());
    const KnownBoxes boxes{{"device-1", {{0.25f, 0.5f, 0.125f, 0.0625f}, {0.0f, 0.0f, 1.0f, 1.0f}}},
        {"device-2", {{0.5f, 0.5f, 0.25f, 0.25f}}}};
    ASSERT_TRUE(writeKnownBoxesFile(root.path().string(), boxes));
    EXPECT_TRUE(sameBoxes(load(root.path().string()), boxes));
    const std::string text = test::readFile(knownBoxesPath(root.path().string()));
    EXPECT_EQ(text.find('\n'), std::string::npos);
    EXPECT_EQ(text.rfind("{\"device-1\":[{\"x\":0.25,\"y\":0.5,\"width\":0.125,\"height\":0.0625}", 0), 0u);
    EXPECT_FALSE(std::filesystem::exists(knownBoxesPath(root.path().string()) + ".tmp"));
}

TEST(KnownBoxesCache, NoBoxesLeaveTheFileAlone)
{
    ScopedTempDirectory root;
    ASSERT_TRUE(writeKnownBoxesFile(root.path().string(), kOld));
    EXPECT_TRUE(writeKnownBoxesFile(root.path().string(), {{"device-1", {}}}));
    EXPECT_TRUE(sameBoxes(load(root.path().string()), kOld));
}

// A writer killed at any moment leaves the old set or the new one, never a mix.
TEST(KnownBoxesCache, KillBetweenWritesLeavesTheOldOrTheNewSet)
{
    ScopedTempDirectory root;
    const std::string folder = root.path().string();
    ASSERT_TRUE(writeKnownBoxesFile(folder, kOld));
    const KnownBoxes fresh = manyBoxes();
    int sawOld = 0, sawNew = 0;
    for (int attempt = 0; attempt < 8; ++attempt) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (;;) {
                writeKnownBoxesFile(folder, fresh);
                writeKnownBoxesFile(folder, kOld);
            }
        }
        usleep(static_cast<useconds_t>(2000 + 3000 * attempt));
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        const KnownBoxes loaded = load(folder);
        const bool isOld = sameBoxes(loaded, kOld);
        const bool isNew = sameBoxes(loaded, fresh);
        EXPECT_TRUE(isOld || isNew) << "attempt " << attempt;
        sawOld += isOld ? 1 : 0;
        sawNew += isNew ? 1 : 0;
    }
    EXPECT_EQ(sawOld + sawNew, 8);
}

TEST(KnownBoxesCache, TruncatedFileIsReportedAndSetAside)
{
    test::CapturedLog log(2);
    ScopedTempDirectory root;
    const std::string folder = root.path().string();
    ASSERT_TRUE(writeKnownBoxesFile(folder, kOld));
    const std::string path = knownBoxesPath(folder);
    const std::string text = test::readFile(path);
    test::writeFile(path, text.substr(0, text.size() / 2));
    EXPECT_TRUE(load(folder).empty());
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(test::readFile(path + ".corrupt"), text.substr(0, text.size() / 2));
    log.stop();
    EXPECT_TRUE(log.contains("Warning: Failed to parse dumping known bboxes cache: " + path));
}

TEST(KnownBoxesCache, UnexpectedShapesLoadWhatFits)
{
    test::CapturedLog log(2);
    ScopedTempDirectory root;
    const std::string folder = root.path().string();
    std::filesystem::create_directories(root.path() / "cache");
    test::writeFile(knownBoxesPath(folder), "[1, 2]");
    EXPECT_TRUE(load(folder).empty());
    test::writeFile(knownBoxesPath(folder),
        R"({"a": [{"x": 1, "y": 0.5, "width": 0.25, "height": 0.25}, {"x": 1}, 7], "b": 3})");
    const KnownBoxes loaded = load(folder);
    EXPECT_TRUE(sameBoxes(loaded, {{"a", {{1.0f, 0.5f, 0.25f, 0.25f}}}}));
    log.stop();
    EXPECT_TRUE(log.contains("Warning: Dumping known bboxes cache has unexpected format"));
    EXPECT_TRUE(log.contains("Loaded dumping known bboxes cache from"));
}

// A value beyond the float range refuses its box alone, with a warning; the rest load and
// the set can still be written back.
TEST(KnownBoxesCache, OutOfRangeBoxIsRefusedAndLaterSavesWork)
{
    test::CapturedLog log(2);
    ScopedTempDirectory root;
    const std::string folder = root.path().string();
    std::filesystem::create_directories(root.path() / "cache");
    test::writeFile(knownBoxesPath(folder), R"({"a": [{"x": 1e39, "y": 0.5, "width": 0.25, "height": 0.25},)"
                                            R"( {"x": 0.5, "y": 0.5, "width": 0.25, "height": -1e300},)"
                                            R"( {"x": 0.25, "y": 0.5, "width": 0.25, "height": 0.25}]})");
    KnownBoxes loaded = load(folder);
    EXPECT_TRUE(sameBoxes(loaded, {{"a", {{0.25f, 0.5f, 0.25f, 0.25f}}}}));
    loaded["b"].push_back({0.5f, 0.5f, 0.125f, 0.125f});
    EXPECT_TRUE(writeKnownBoxesFile(folder, loaded));
    EXPECT_TRUE(sameBoxes(load(folder), loaded));
    log.stop();
    EXPECT_TRUE(log.contains("Warning: Box 0 of device a in dumping known bboxes cache"));
    EXPECT_TRUE(log.contains("Warning: Box 1 of device a in dumping known bboxes cache"));
}

// JSON has no infinities: a box that became infinite in memory is left out of a save, which
// still writes every other box.
TEST(KnownBoxesCache, AnInfiniteBoxIsLeftOutOfASave)
{
    ScopedTempDirectory root;
    const std::string folder = root.path().string();
    KnownBoxes boxes{{"b", {{0.5f, 0.5f, 0.25f, 0.25f}}},
        {"c", {{0.125f, 0.125f, std::numeric_limits<float>::infinity(), 0.25f}}}};
    ASSERT_TRUE(writeKnownBoxesFile(folder, boxes));
    EXPECT_TRUE(sameBoxes(load(folder), {{"b", {{0.5f, 0.5f, 0.25f, 0.25f}}}, {"c", {}}}));
}

} // namespace
