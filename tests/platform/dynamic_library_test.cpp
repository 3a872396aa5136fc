#include <fstream>

#include <gtest/gtest.h>
#include <vy/platform/dynamic_library.h>
#include <vy/platform/hard_link.h>

#include "scoped_temp_directory.h"

namespace {

using vy::platform::DynamicLibrary;

TEST(DynamicLibrary, ResolvesExportedSymbolsOnly)
{
    DynamicLibrary library(VY_TEST_TINY_LIBRARY);
    ASSERT_TRUE(library.isLoaded()) << library.loadError();
    EXPECT_TRUE(library.loadError().empty());

    auto answer = reinterpret_cast<int (*)()>(library.symbol("tiny_answer"));
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), 42);
    EXPECT_EQ(library.symbol("tiny_hidden"), nullptr);
    EXPECT_EQ(library.symbol("no_such_symbol"), nullptr);
    EXPECT_EQ(library.symbol(nullptr), nullptr);
}

TEST(DynamicLibrary, CloseIsFinalAndRepeatable)
{
    DynamicLibrary library(VY_TEST_TINY_LIBRARY);
    ASSERT_TRUE(library.isLoaded());
    library.close();
    library.close();
    EXPECT_FALSE(library.isLoaded());
    EXPECT_EQ(library.symbol("tiny_answer"), nullptr);
}

TEST(DynamicLibrary, FailuresCarryTheLoaderText)
{
    ScopedTempDirectory directory;
    const auto notElf = directory.path() / "garbage.so";
    std::ofstream(notElf) << "not a library";

    for (const auto& path: {directory.path() / "missing.so", notElf}) {
        DynamicLibrary library(path);
        EXPECT_FALSE(library.isLoaded()) << path;
        EXPECT_NE(library.loadError().find(path.filename().string()), std::string::npos) << library.loadError();
        EXPECT_EQ(library.symbol("tiny_answer"), nullptr);
    }
}

TEST(DynamicLibrary, BareFileNameIsNotSearchedFor)
{
    // "libc.so.6" would be found on the library path; as a file it is not in the current folder.
    DynamicLibrary library("libc.so.6");
    EXPECT_FALSE(library.isLoaded());
}

TEST(HardLink, LinkLoadsAndRemoves)
{
    ScopedTempDirectory directory;
    const auto original = directory.path() / "tiny.so";
    const auto link = directory.path() / "tiny.0.so";
    std::filesystem::copy_file(VY_TEST_TINY_LIBRARY, original);

    ASSERT_FALSE(vy::platform::createHardLink(original, link));
    EXPECT_TRUE(std::filesystem::equivalent(original, link));
    EXPECT_EQ(std::filesystem::hard_link_count(original), 2u);
    {
        DynamicLibrary library(link);
        EXPECT_TRUE(library.isLoaded()) << library.loadError();
    }
    EXPECT_FALSE(vy::platform::removeFileName(link));
    EXPECT_FALSE(std::filesystem::exists(link));
    EXPECT_TRUE(std::filesystem::exists(original));
}

TEST(HardLink, FailuresNameTheReason)
{
    ScopedTempDirectory directory;
    const auto original = directory.path() / "file";
    std::ofstream(original) << "x";

    EXPECT_EQ(vy::platform::createHardLink(original, original), std::errc::file_exists);
    EXPECT_EQ(vy::platform::createHardLink(directory.path() / "missing", directory.path() / "link"),
        std::errc::no_such_file_or_directory);
    EXPECT_EQ(vy::platform::removeFileName(directory.path() / "missing"), std::errc::no_such_file_or_directory);
}

} // namespace
