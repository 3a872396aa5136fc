#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include <gtest/gtest.h>

#include "core/settings_cache.h"
#include "scoped_temp_directory.h"
#include "test_files.h"

namespace {

using Values = std::map<std::string, std::string>;
using vyai::SettingsCache;

std::string cachePath(const ScopedTempDirectory& directory)
{
    return (directory.path() / "cache" / "dev_settings_cache.txt").string();
}

TEST(SettingsCache, ValuesSurviveARestartAndTheFileKeepsItsPlainFormat)
{
    ScopedTempDirectory directory;
    {
        SettingsCache cache(cachePath(directory));
        cache.load();
        EXPECT_TRUE(cache.values().empty());
        EXPECT_TRUE(cache.merge({{"model_nms_A", "30"}, {"cropBox_A", R"({"figure":{"points":[[0,0],[1,1]]}})"},
            {"selectedPipeline", "pipe-1"}, {"deviceActiveSwitch", "true"}, {"A_postprocessor_setting_x", "a=b"}}));
        EXPECT_TRUE(cache.merge({{"model_nms_A", "40"}}));
    }
    EXPECT_EQ(vyai::test::readFile(cachePath(directory)),
        "A_postprocessor_setting_x=a=b\n"
        R"(cropBox_A={"figure":{"points":[[0,0],[1,1]]}})" "\n"
        "model_nms_A=40\n");
    EXPECT_FALSE(std::filesystem::exists(cachePath(directory) + ".tmp"));

    SettingsCache restarted(cachePath(directory));
    restarted.load();
    EXPECT_EQ(restarted.values(), (Values{{"A_postprocessor_setting_x", "a=b"},
        {"cropBox_A", R"({"figure":{"points":[[0,0],[1,1]]}})"}, {"model_nms_A", "40"}}));
}

TEST(SettingsCache, ALineBreakInAValueInjectsNoKeyAfterARestart)
{
    ScopedTempDirectory directory;
    const Values written = {
        {"A_preprocessor_setting_text", "first\nmodel_nms_B=1\r\nback\\slash"},
        {"marked", "\x1b" "n"},
        {"plain", "C:\\path\\n"},
        {"line\nkey=injected", "x"},
        {"plain=C", "overwritten"},
    };
    {
        SettingsCache cache(cachePath(directory));
        EXPECT_TRUE(cache.merge(written));
    }
    SettingsCache restarted(cachePath(directory));
    restarted.load();
    Values expected = written;
    // A key with a line break or an "=" cannot be written without breaking the format or
    // reading back as another key ("plain" with "C=overwritten"): it is left out.
    expected.erase("line\nkey=injected");
    expected.erase("plain=C");
    EXPECT_EQ(restarted.values(), expected);
    // Values without line breaks are written as they are.
    EXPECT_NE(vyai::test::readFile(cachePath(directory)).find("plain=C:\\path\\n\n"), std::string::npos);
}

TEST(SettingsCache, ReadsFilesOfTheFormerFormat)
{
    ScopedTempDirectory directory;
    std::filesystem::create_directories(directory.path() / "cache");
    std::ofstream(cachePath(directory)) << "no separator\nk=1\nk=2\n=empty key\nv= spaced \n";
    SettingsCache cache(cachePath(directory));
    cache.load();
    EXPECT_EQ(cache.values(), (Values{{"k", "2"}, {"", "empty key"}, {"v", " spaced "}}));
}

TEST(SettingsCache, AnUnwritableFolderIsReportedAndTheValuesAreKept)
{
    ScopedTempDirectory directory;
    // The cache folder's place is taken by a file.
    std::ofstream((directory.path() / "cache").string()) << "x";
    SettingsCache cache(cachePath(directory));
    EXPECT_FALSE(cache.merge({{"k", "v"}}));
    EXPECT_EQ(cache.values(), (Values{{"k", "v"}}));
}

} // namespace
