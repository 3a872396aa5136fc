#include "vyai_crypto/file_md5.h"

#include <cstdlib>
#include <filesystem>

#include <gtest/gtest.h>

#include "scoped_temp_directory.h"

#include "captured_log.h"
#include "test_files.h"

namespace vyai {
namespace {

namespace fs = std::filesystem;

class FileMd5 : public ::testing::Test {
protected:
    std::string write(const std::string& content) const
    {
        const std::string path = (m_directory / "file").string();
        test::writeFile(path, content);
        return path;
    }

    ScopedTempDirectory m_temporary;
    const fs::path m_directory = m_temporary.path();
};

TEST_F(FileMd5, KnownDigests)
{
    std::string tenThousandAs(10000, 'a'); // spans several 4096-byte blocks
    const struct {
        std::string content;
        const char* md5;
    } cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"The quick brown fox jumps over the lazy dog", "9e107d9d372bb6826bd81d3542a419d6"},
        {std::string(1, '\0'), "93b885adfe0da089cdf634904fd59f71"},
        {tenThousandAs, "0d0c9c4db6953fee9e03f528cafd7d3e"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(fileMd5Hex(write(c.content)), c.md5) << c.content.size() << " bytes";
}

TEST_F(FileMd5, RawDigestIsSixteenBytes)
{
    unsigned int length = 0;
    unsigned char* digest = fileMd5(write("abc").c_str(), &length);
    ASSERT_NE(digest, nullptr);
    EXPECT_EQ(length, 16u);
    EXPECT_EQ(digest[0], 0x90);
    EXPECT_EQ(digest[15], 0x72);
    free(digest);
}

TEST_F(FileMd5, UnreadableFilesGiveNoDigest)
{
    test::CapturedLog log;
    const std::string missing = (m_directory / "missing").string();
    EXPECT_EQ(fileMd5Hex(missing), std::nullopt);
    EXPECT_EQ(log.count("Error opening file: " + missing), 1);
    // A folder opens but cannot be read: not the digest of no data.
    EXPECT_EQ(fileMd5Hex(m_directory.string()), std::nullopt);
}

} // namespace
} // namespace vyai
