#include "inference/decrypted_model_folder.h"

#include <atomic>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "scoped_temp_directory.h"

namespace {

namespace fs = std::filesystem;

// Another engine sweeps the shared folder while this one makes its folders: a folder being
// made is never taken for one whose owner died, however the two interleave.
TEST(DecryptedModelFolder, ASweepRunningMeanwhileNeverRemovesAFolderBeingMade)
{
    ScopedTempDirectory parent;
    std::atomic<bool> done{false};
    std::thread sweeper([&] {
        while (!done.load())
            vyai::DecryptedModelFolder::removeAbandoned(parent.path());
    });
    int lost = 0;
    for (int i = 0; i < 3000; ++i) {
        vyai::DecryptedModelFolder folder(parent.path());
        std::error_code error;
        if (folder.path().empty() || !fs::exists(folder.path() / ".owner", error))
            ++lost;
    }
    done = true;
    sweeper.join();
    EXPECT_EQ(lost, 0);
}

} // namespace
