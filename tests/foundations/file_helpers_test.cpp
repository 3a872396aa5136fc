#include "foundations/file_helpers.h"

#include <filesystem>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "scoped_temp_directory.h"

#include "captured_log.h"
#include "test_files.h"

namespace vyai {
namespace {

namespace fs = std::filesystem;

class FileHelpers : public ::testing::Test {
protected:
    std::string write(const std::string& name, const std::string& content)
    {
        const std::string path = (m_directory / name).string();
        test::writeFile(path, content);
        return path;
    }
    std::string path(const std::string& name) const { return (m_directory / name).string(); }

    ScopedTempDirectory m_temporary;
    const fs::path m_directory = m_temporary.path();
};

TEST_F(FileHelpers, FileExistsForFilesAndFolders)
{
    EXPECT_TRUE(fileExists(write("a.txt", "x")));
    EXPECT_TRUE(fileExists(m_directory.string()));
    EXPECT_FALSE(fileExists(path("missing")));
    EXPECT_FALSE(fileExists(""));
}

TEST_F(FileHelpers, ReadTextFile)
{
    EXPECT_EQ(readTextFile(write("a.json", "{\"a\": \"1\"}\n")), "{\"a\": \"1\"}\n");
    EXPECT_EQ(readTextFile(write("empty", "")), "");
    EXPECT_EQ(readTextFile(path("missing")), std::nullopt);
}

TEST_F(FileHelpers, ReadBinaryFileKeepsEveryByte)
{
    const std::string bytes("\x00\x01\xff\r\n\x1a tail", 10);
    const auto content = readBinaryFile(write("key.vyc", bytes));
    EXPECT_EQ(std::string(content.begin(), content.end()), bytes);
    EXPECT_TRUE(readBinaryFile(write("empty", "")).empty());
    EXPECT_TRUE(readBinaryFile(path("missing")).empty());
    EXPECT_TRUE(readBinaryFile(m_directory.string()).empty());
}

TEST_F(FileHelpers, TryRemoveFileTellsRemovedFromAbsentAndLogsErrorsOnly)
{
    test::CapturedLog log;
    const std::string file = write("package.tar.gz", "data");
    EXPECT_TRUE(tryRemoveFile(file));
    EXPECT_FALSE(fileExists(file));
    EXPECT_FALSE(tryRemoveFile(file));
    EXPECT_EQ(log.count("Could not delete file"), 0);

    // A folder that is not empty cannot be removed as a file.
    fs::create_directory(path("full"));
    write("full/inner", "x");
    EXPECT_FALSE(tryRemoveFile(path("full")));
    EXPECT_EQ(log.count("Warning! Could not delete file: " + path("full") + " (Error: "), 1);
    EXPECT_TRUE(fileExists(path("full/inner")));
}

TEST_F(FileHelpers, ChmodFileSetsTheMode)
{
    const std::string file = write("key.vyc", "k");
    chmodFile(file.c_str(), 0600);
    struct stat status{};
    ASSERT_EQ(::stat(file.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    chmodFile(path("missing").c_str(), 0600); // ignored
}

} // namespace
} // namespace vyai
