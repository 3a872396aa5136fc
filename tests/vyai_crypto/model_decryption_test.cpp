#include "vyai_crypto/model_decryption.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <sys/resource.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "scoped_temp_directory.h"

#include "captured_log.h"
#include "model_encryption.h"
#include "test_files.h"

namespace vyai {
namespace {

namespace fs = std::filesystem;

const unsigned char kKey[32] = {0x60, 0x3d, 0xeb, 0x10, 0x15, 0xca, 0x71, 0xbe, 0x2b, 0x73, 0xae,
    0xf0, 0x85, 0x7d, 0x77, 0x81, 0x1f, 0x35, 0x2c, 0x07, 0x3b, 0x61, 0x08, 0xd7, 0x2d, 0x98, 0x10,
    0xa3, 0x09, 0x14, 0xdf, 0xf4};
const unsigned char kIv[12] = {0xca, 0xfe, 0xba, 0xbe, 0xfa, 0xce, 0xdb, 0xad, 0xde, 0xca, 0xf8,
    0x88};

std::string modelBytes(size_t length)
{
    std::string bytes(length, '\0');
    for (size_t i = 0; i < length; ++i)
        bytes[i] = char((i * 131 + 7) & 0xff);
    return bytes;
}

class ModelDecryption : public ::testing::Test {
protected:
    void writeInput(const std::string& bytes) const { test::writeFile(m_input, bytes); }
    std::string readOutput() const { return test::readFile(m_output); }
    bool decrypt(const unsigned char* key = kKey) const
    {
        return decryptModelFile(key, m_input.c_str(), m_output.c_str());
    }

    ScopedTempDirectory m_temporary;
    const fs::path m_directory = m_temporary.path();
    const std::string m_input = (m_directory / "model.enc").string();
    const std::string m_output = (m_directory / "model.onnx").string();
};

TEST_F(ModelDecryption, PlainModelOfEveryLengthAroundTheChunkSize)
{
    for (const size_t length : {0, 1, 15, 16, 17, 1023, 1024, 1025, 2048, 5000}) {
        const std::string plain = modelBytes(length);
        writeInput(test::encryptModel(plain, kKey, kIv));
        ASSERT_TRUE(decrypt()) << length;
        EXPECT_EQ(readOutput(), plain) << length;
    }
}

TEST_F(ModelDecryption, AnyChangedByteOrWrongKeyFailsWithoutOutput)
{
    const std::string encrypted = test::encryptModel(modelBytes(3000), kKey, kIv);
    const struct {
        const char* what;
        size_t offset;
    } tamperings[] = {
        {"IV first byte", 0},
        {"IV last byte", 11},
        {"ciphertext first byte", 12},
        {"ciphertext in the second chunk", 12 + 1500},
        {"ciphertext last byte", encrypted.size() - 17},
        {"tag first byte", encrypted.size() - 16},
        {"tag last byte", encrypted.size() - 1},
    };
    for (const auto& t : tamperings) {
        test::CapturedLog log;
        std::string changed = encrypted;
        changed[t.offset] = char(changed[t.offset] ^ 0x01);
        writeInput(changed);
        EXPECT_FALSE(decrypt()) << t.what;
        EXPECT_FALSE(fs::exists(m_output)) << t.what;
        EXPECT_EQ(log.count("Tag verification failed for '" + m_input
                      + "' - wrong key or corrupt file"),
            1)
            << t.what;
    }

    unsigned char otherKey[32];
    std::copy(std::begin(kKey), std::end(kKey), otherKey);
    otherKey[31] ^= 0x80;
    writeInput(encrypted);
    EXPECT_FALSE(decrypt(otherKey));
    EXPECT_FALSE(fs::exists(m_output));

    // Cut short by one byte: the tag is read from the wrong place.
    writeInput(encrypted.substr(0, encrypted.size() - 1));
    EXPECT_FALSE(decrypt());
    EXPECT_FALSE(fs::exists(m_output));
}

TEST_F(ModelDecryption, FilesShorterThanIvAndTagAreInvalid)
{
    for (const size_t length : {0, 1, 12, 27}) {
        test::CapturedLog log;
        writeInput(modelBytes(length));
        EXPECT_FALSE(decrypt()) << length;
        EXPECT_FALSE(fs::exists(m_output)) << length;
        EXPECT_EQ(log.count("Input file invalid or too small: " + m_input), 1) << length;
    }
    // 28 bytes: an empty model with a valid tag.
    const std::string empty = test::encryptModel("", kKey, kIv);
    ASSERT_EQ(empty.size(), 28u);
    writeInput(empty);
    EXPECT_TRUE(decrypt());
    EXPECT_TRUE(fs::exists(m_output));
    EXPECT_EQ(readOutput(), "");
}

TEST_F(ModelDecryption, ReplacesAnOldOutputAndKeepsThePlainModelPrivate)
{
    test::writeFile(m_output, "an older, longer plain model that must not survive");
    ::chmod(m_output.c_str(), 0644);
    writeInput(test::encryptModel("new", kKey, kIv));
    ASSERT_TRUE(decrypt());
    EXPECT_EQ(readOutput(), "new");
    struct stat status{};
    ASSERT_EQ(::stat(m_output.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
}

TEST_F(ModelDecryption, OutputThatCannotBeReplacedOrCreated)
{
    writeInput(test::encryptModel("model", kKey, kIv));
    {
        // A folder that is not empty stands at the output path.
        test::CapturedLog log;
        test::writeFile(m_output + "/keep", "x");
        EXPECT_FALSE(decrypt());
        EXPECT_EQ(log.count("Error removing existing output file '" + m_output + "'"), 1);
        EXPECT_TRUE(fs::exists(m_output + "/keep"));
    }
    {
        test::CapturedLog log;
        const std::string nowhere = (m_directory / "missing" / "model.onnx").string();
        EXPECT_FALSE(decryptModelFile(kKey, m_input.c_str(), nowhere.c_str()));
        EXPECT_EQ(log.count("Error opening output file: " + nowhere), 1);
    }
    {
        test::CapturedLog log;
        const std::string missing = (m_directory / "absent.enc").string();
        EXPECT_FALSE(decryptModelFile(kKey, missing.c_str(), (m_directory / "x").c_str()));
        EXPECT_EQ(log.count("Error opening input file: " + missing), 1);
        EXPECT_FALSE(fs::exists(m_directory / "x"));
    }
}

// A full disk: writes beyond a file-size limit fail the way they fail when the disk is full.
// The limit applies to the whole process, so the decryption runs in a child.
TEST_F(ModelDecryption, FullDiskGivesFailureAndNoTruncatedModel)
{
    for (const rlim_t limit : {rlim_t(0), rlim_t(1000), rlim_t(4096), rlim_t(9000)}) {
        writeInput(test::encryptModel(modelBytes(10000), kKey, kIv));
        const auto decryptOnAFullDisk = [&] {
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit fileSize{limit, limit};
            ::setrlimit(RLIMIT_FSIZE, &fileSize);
            const bool decrypted = decrypt();
            std::_Exit(!decrypted && !fs::exists(m_output) ? 0 : 1);
        };
        EXPECT_EXIT(decryptOnAFullDisk(), ::testing::ExitedWithCode(0), "") << "limit " << limit;
    }
}

} // namespace
} // namespace vyai
