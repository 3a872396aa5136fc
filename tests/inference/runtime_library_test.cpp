#include <algorithm>

#include <gtest/gtest.h>
#include <vy/platform/child_process.h>

#include "captured_log.h"
#include "inference/runtime_args.h"
#include "inference/runtime_library.h"
#include "runtime_fixtures.h"
#include "scoped_temp_directory.h"
#include "test_files.h"

namespace {

using runtime_fixtures::installRuntime;
using vyai::RuntimeLibrary;
using vyai::test::CapturedLog;
using vyai::test::writeFile;

// The number N of a load link "RuntimeLibrary.N.so".
uint64_t linkNumber(const std::filesystem::path& link)
{
    const std::string name = link.filename().string();
    const std::string prefix = "RuntimeLibrary.";
    const std::string suffix = ".so";
    const bool shaped = name.size() > prefix.size() + suffix.size() && name.starts_with(prefix)
        && name.ends_with(suffix);
    const std::string digits = shaped ? name.substr(prefix.size(), name.size() - prefix.size() - suffix.size()) : "";
    const bool numeric =
        !digits.empty() && std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
    EXPECT_TRUE(numeric) << name;
    return numeric ? std::stoull(digits) : 0;
}

TEST(RuntimeLibrary, LoadsThroughAPrivateLinkAndRemovesIt)
{
    ScopedTempDirectory root;
    CapturedLog log;
    const auto path = installRuntime(root.path(), VY_STANDIN_RUNTIME);
    std::filesystem::path link;
    {
        RuntimeLibrary library(path);
        link = library.loadLinkPath();
        EXPECT_EQ(library.libraryPath(), path);
        EXPECT_EQ(link.parent_path(), path.parent_path());
        linkNumber(link);
        EXPECT_TRUE(std::filesystem::equivalent(link, path));
        EXPECT_TRUE(library.isComplete());
        EXPECT_STREQ(library.name(), "Generic CPU");
        EXPECT_STREQ(library.version(), "1.0.0");

        const RuntimeArgs_t noArgs{};
        EXPECT_EQ(library.init(noArgs), 0) << library.lastError();
        EXPECT_EQ(library.loadModels(0, nullptr), 0) << library.lastError();
        EXPECT_EQ(library.cleanup(), 0);
    }
    EXPECT_FALSE(std::filesystem::exists(link));
    EXPECT_TRUE(std::filesystem::exists(path));
    EXPECT_TRUE(log.contains("Releasing runtime library.\n"));
    EXPECT_FALSE(log.contains("Warning!")) << log.text();
}

TEST(RuntimeLibrary, TwoInstancesGetTwoLinkNames)
{
    ScopedTempDirectory root;
    const auto path = installRuntime(root.path(), VY_STANDIN_RUNTIME);
    auto first = std::make_unique<RuntimeLibrary>(path);
    auto second = std::make_unique<RuntimeLibrary>(path);
    const auto firstLink = first->loadLinkPath();
    const auto secondLink = second->loadLinkPath();
    EXPECT_EQ(linkNumber(secondLink), linkNumber(firstLink) + 1);
    EXPECT_TRUE(std::filesystem::exists(firstLink));
    EXPECT_TRUE(std::filesystem::exists(secondLink));
    EXPECT_TRUE(first->isComplete());
    EXPECT_TRUE(second->isComplete());

    first.reset();
    EXPECT_FALSE(std::filesystem::exists(firstLink));
    EXPECT_TRUE(std::filesystem::exists(secondLink));
    EXPECT_STREQ(second->name(), "Generic CPU");
    second.reset();
    EXPECT_FALSE(std::filesystem::exists(secondLink));
}

// The link name that the next load of `path` in this process will take.
std::filesystem::path nextLinkPath(const std::filesystem::path& path)
{
    uint64_t next = 0;
    {
        RuntimeLibrary probe(path);
        next = linkNumber(probe.loadLinkPath()) + 1;
    }
    return path.parent_path() / ("RuntimeLibrary." + std::to_string(next) + ".so");
}

TEST(RuntimeLibrary, StaleLinkOfAnEarlierProcessIsReplaced)
{
    ScopedTempDirectory root;
    const auto path = installRuntime(root.path(), VY_STANDIN_RUNTIME);
    const auto stale = nextLinkPath(path);
    writeFile(stale, "left behind by a crashed process");

    RuntimeLibrary library(path);
    EXPECT_EQ(library.loadLinkPath(), stale);
    EXPECT_TRUE(std::filesystem::equivalent(stale, path));
    EXPECT_TRUE(library.isComplete());
}

TEST(RuntimeLibrary, LinkThatCannotBeMadeLoadsTheLibraryItselfAndRemovesNothing)
{
    ScopedTempDirectory root;
    const auto path = installRuntime(root.path(), VY_STANDIN_RUNTIME);
    // A folder under the link's name can be neither removed nor replaced by a link.
    const auto blocked = nextLinkPath(path);
    std::filesystem::create_directory(blocked);
    {
        CapturedLog log;
        RuntimeLibrary library(path);
        EXPECT_TRUE(log.contains("Warning! Failed to hard link " + blocked.string() + " to " + path.string() + ": "))
            << log.text();
        EXPECT_TRUE(log.contains(". Loading runtime directly from " + path.string() + " instead.\n"));
        EXPECT_TRUE(library.loadLinkPath().empty());
        EXPECT_TRUE(library.isComplete());
        EXPECT_STREQ(library.name(), "Generic CPU");
    }
    EXPECT_TRUE(std::filesystem::exists(path));
    EXPECT_TRUE(std::filesystem::is_directory(blocked));
}

TEST(RuntimeLibrary, MissingLibraryAnswersEveryCallAsMissing)
{
    ScopedTempDirectory root;
    CapturedLog log;
    const auto path = root.path() / "inference_engine" / "RuntimeLibrary.so";
    RuntimeLibrary library(path);

    // No file to link to: loaded (or rather tried) under its own name, nothing to remove.
    EXPECT_TRUE(library.loadLinkPath().empty());
    EXPECT_TRUE(log.contains("Warning! Failed to hard link"));
    EXPECT_TRUE(log.contains("Error! Failed to load runtime library " + path.string()));
    EXPECT_FALSE(library.isComplete());

    const RuntimeArgs_t noArgs{};
    TensorSet_t* output = nullptr;
    EXPECT_EQ(library.init(noArgs), RUNTIME_RESULT_ENTRY_POINT_MISSING);
    EXPECT_EQ(library.loadModels(0, nullptr), RUNTIME_RESULT_ENTRY_POINT_MISSING);
    EXPECT_EQ(library.enqueueInput(0, nullptr), RUNTIME_RESULT_ENTRY_POINT_MISSING);
    EXPECT_EQ(library.retrieveOutput(nullptr, &output, 1), RUNTIME_RESULT_ENTRY_POINT_MISSING);
    EXPECT_EQ(library.cleanup(), RUNTIME_RESULT_ENTRY_POINT_MISSING);
    EXPECT_EQ(library.lastError(), "Runtime not initialized.");
    EXPECT_EQ(library.name(), nullptr);
    EXPECT_EQ(library.version(), nullptr);
}

TEST(RuntimeLibrary, UnloadableFileLeavesNoLinkBehind)
{
    ScopedTempDirectory root;
    const auto path = root.path() / "inference_engine" / "RuntimeLibrary.so";
    writeFile(path, "not a shared library");
    std::filesystem::path link;
    {
        RuntimeLibrary library(path);
        link = library.loadLinkPath();
        EXPECT_FALSE(link.empty());
        EXPECT_FALSE(library.isComplete());
        EXPECT_EQ(library.lastError(), "Runtime not initialized.");
    }
    EXPECT_FALSE(std::filesystem::exists(link));
    EXPECT_TRUE(std::filesystem::exists(path));
}

TEST(RuntimeLibrary, LoadFolderThatCannotBeMadeFallsBackToThePath)
{
    ScopedTempDirectory root;
    CapturedLog log;
    // The load folder would have to be made below a regular file.
    writeFile(root.path() / "file", "x");
    const auto path = root.path() / "file" / "RuntimeLibrary.so";
    RuntimeLibrary library(path);
    EXPECT_TRUE(library.loadLinkPath().empty());
    EXPECT_TRUE(log.contains("Warning! Failed to create runtime load directory " + path.parent_path().string()));
    EXPECT_FALSE(library.isComplete());
}

TEST(RuntimeLibrary, MissingEntryPointsAnswerOnTheirOwn)
{
    ScopedTempDirectory root;
    const auto path = installRuntime(root.path(), VY_TEST_PARTIAL_RUNTIME);
    RuntimeLibrary library(path);
    EXPECT_FALSE(library.isComplete());

    const RuntimeArgs_t noArgs{};
    TensorSet_t* output = nullptr;
    EXPECT_EQ(library.init(noArgs), 0);
    EXPECT_EQ(library.loadModels(5, nullptr), 5);
    EXPECT_EQ(library.retrieveOutput(nullptr, &output, 1), RUNTIME_RESULT_TIMEOUT);
    EXPECT_EQ(library.cleanup(), 0);
    EXPECT_STREQ(library.name(), "Partial");

    EXPECT_EQ(library.enqueueInput(0, nullptr), RUNTIME_RESULT_ENTRY_POINT_MISSING);
    EXPECT_EQ(library.lastError(), "Runtime not initialized.");
    EXPECT_EQ(library.version(), nullptr);
}

TEST(RuntimeLibrary, FailedInitGivesTheRuntimesErrorText)
{
    ScopedTempDirectory root;
    RuntimeLibrary library(installRuntime(root.path(), VY_STANDIN_RUNTIME));

    const struct {
        std::vector<std::string> keys;
        std::vector<std::string> values;
        std::string error;
    } cases[] = {
        {{"fault"}, {"init"}, "Injected fault in runtime_init."},
        {{"other_runtime_option", "latency_ms"}, {"1", "soon"}, "Invalid value for runtime argument latency_ms: \"soon\"."},
        {{"fault"}, {"sometimes"}, "Invalid value for runtime argument fault: \"sometimes\"."},
    };
    for (const auto& testCase: cases) {
        const vyai::RuntimeArgsView view(testCase.keys, testCase.values);
        EXPECT_NE(library.init(view.args()), 0);
        EXPECT_EQ(library.lastError(), testCase.error);
        EXPECT_EQ(library.cleanup(), 0);
    }
    // A failed init leaves the runtime ready for a good one.
    const std::vector<std::string> keys{"latency_ms"};
    const std::vector<std::string> values{"0"};
    const vyai::RuntimeArgsView good(keys, values);
    EXPECT_EQ(library.init(good.args()), 0) << library.lastError();
    EXPECT_EQ(library.cleanup(), 0);
}

TEST(RuntimeLibrary, RuntimeArchiveUnpacksToALoadableRuntime)
{
    ScopedTempDirectory root;
    const auto folder = root.path() / "inference_engine";
    std::filesystem::create_directories(folder);
    const auto tar = vy::platform::runChildProcess(
        {"tar", "-xf", VY_STANDIN_RUNTIME_PACKAGE, "-C", folder.string()}, std::chrono::seconds(30));
    ASSERT_EQ(tar.exitCode, 0) << tar.output;

    std::vector<std::string> files;
    for (const auto& entry: std::filesystem::directory_iterator(folder))
        files.push_back(entry.path().filename().string());
    EXPECT_EQ(files, std::vector<std::string>{"RuntimeLibrary.so"});
    RuntimeLibrary library(folder / "RuntimeLibrary.so");
    EXPECT_TRUE(library.isComplete());
    EXPECT_STREQ(library.name(), "Generic CPU");
}

} // namespace
