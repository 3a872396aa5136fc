#include <vy/kit/ini_config.h>

#include <string>

#include <gtest/gtest.h>

#include "kit_debug_capture.h"
#include "scoped_environment.h"
#include "scoped_temp_directory.h"
#include "test_files.h"

namespace {

using vyai::test::ScopedCurrentDirectory;
using vyai::test::ScopedEnv;
using vyai::test::writeFile;

constexpr const char* kFileName = "test_options.ini";

class TestConfig: public vy::kit::IniConfig
{
public:
    TestConfig(): IniConfig(kFileName)
    {
        flag = regBoolParam(&flag, true, "flag", "a bool");
        count = regIntParam(&count, 7, "count", "an int");
        url = regStringParam(&url, "https://default", "url", "a string");
        reload();
    }

    bool flag;
    int count;
    const char* url;
};

struct ParseCase
{
    const char* name;
    const char* content;
    bool flag;
    int count;
    const char* url;
};

class IniConfigParseTest: public ::testing::TestWithParam<ParseCase>
{
};

TEST_P(IniConfigParseTest, ReadsValuesAndKeepsDefaultsForTheRest)
{
    const ParseCase& c = GetParam();
    ScopedTempDirectory dir;
    ScopedEnv env("VY_INI_DIR", dir.path().string());
    writeFile(dir.file(kFileName), c.content);

    const TestConfig config;

    EXPECT_EQ(config.flag, c.flag);
    EXPECT_EQ(config.count, c.count);
    EXPECT_STREQ(config.url, c.url);
}

INSTANTIATE_TEST_SUITE_P(Cases, IniConfigParseTest,
    ::testing::Values(
        ParseCase{"Empty", "", true, 7, "https://default"},
        ParseCase{"AllSet", "flag=0\ncount=-12\nurl=http://127.0.0.1:8080/dev\n", false, -12,
            "http://127.0.0.1:8080/dev"},
        ParseCase{"CommentsBlanksAndSpaces",
            "# flag=0\n\n   count =  42  \r\n\t# url=x\n", true, 42, "https://default"},
        ParseCase{"BoolWords", "flag=FALSE\n", false, 7, "https://default"},
        ParseCase{"BoolTrueWord", "flag=true\n", true, 7, "https://default"},
        ParseCase{"ValueKeepsEqualsAndHash", "url=https://h/p?a=1#frag\n", true, 7,
            "https://h/p?a=1#frag"},
        ParseCase{"EmptyStringUnsetsIt", "url=\n", true, 7, ""},
        ParseCase{"LastOccurrenceWins", "count=1\ncount=2\n", true, 2, "https://default"},
        ParseCase{"MalformedValuesIgnored", "flag=maybe\ncount=12abc\n", true, 7,
            "https://default"},
        ParseCase{"IntOutOfRangeIgnored", "count=99999999999\n", true, 7, "https://default"},
        ParseCase{"EmptyIntIgnored", "count=\n", true, 7, "https://default"},
        ParseCase{"LinesWithoutEqualsAndUnknownNamesIgnored",
            "just text\nunknown=5\ncount=3\n", true, 3, "https://default"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(IniConfigTest, MissingFileGivesDefaults)
{
    ScopedTempDirectory dir;
    ScopedEnv env("VY_INI_DIR", dir.path().string());

    const TestConfig config;

    EXPECT_TRUE(config.flag);
    EXPECT_EQ(config.count, 7);
    EXPECT_STREQ(config.url, "https://default");
}

TEST(IniConfigTest, MalformedValueIsReportedOnTheDebugStream)
{
    ScopedTempDirectory dir;
    ScopedEnv env("VY_INI_DIR", dir.path().string());
    writeFile(dir.file(kFileName), "count=many\n");

    std::string warning;
    {
        DebugCapture capture;
        const TestConfig config;
        warning = capture.text();
    }

    EXPECT_NE(warning.find("count"), std::string::npos) << warning;
    EXPECT_NE(warning.find("many"), std::string::npos) << warning;
}

TEST(IniConfigTest, WithoutIniDirTheCurrentDirectoryIsRead)
{
    ScopedTempDirectory dir;
    ScopedEnv env("VY_INI_DIR", std::nullopt);
    writeFile(dir.file(kFileName), "count=5\n");
    ScopedCurrentDirectory cwd(dir.path());

    EXPECT_EQ(TestConfig().count, 5);
}

TEST(IniConfigTest, IniDirTakesPrecedenceOverTheCurrentDirectory)
{
    ScopedTempDirectory cwd;
    ScopedTempDirectory iniDir;
    writeFile(cwd.file(kFileName), "count=5\n");
    writeFile(iniDir.file(kFileName), "count=6\n");
    ScopedEnv env("VY_INI_DIR", iniDir.path().string());
    ScopedCurrentDirectory inCwd(cwd.path());

    EXPECT_EQ(TestConfig().count, 6);
}

TEST(IniConfigTest, StringsHandedOutStayValidAcrossReloads)
{
    ScopedTempDirectory dir;
    ScopedEnv env("VY_INI_DIR", dir.path().string());
    writeFile(dir.file(kFileName), "url=first\n");
    TestConfig config;
    const char* first = config.url;

    writeFile(dir.file(kFileName), "url=second\n");
    config.reload();

    EXPECT_STREQ(first, "first");
    EXPECT_STREQ(config.url, "second");
}

} // namespace
