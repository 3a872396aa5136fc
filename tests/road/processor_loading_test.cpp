// The manager loads the external processor declarations on a thread of its own.
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "captured_log.h"
#include "foundations/messaging_manager.h"
#include "processor_harness.h"
#include "road/inference_manager.h"
#include "scoped_temp_directory.h"

namespace vyai::test {
namespace {

TEST(ProcessorLoading, ManagerLoadsPreprocessorsWithoutHoldingItsCaller)
{
    CapturedLog log;
    ScopedTempDirectory root;
    std::filesystem::create_directories(root.path() / "preprocessors");
    std::ofstream(root.path() / "preprocessors" / "external_preprocessors.json")
        << "[{\"Name\": \"tcp\", \"Port\": 9}, {\"Name\": \"child\", \"Command\": \"" + processorProgram() + "\"}]";
    MessagingManager messages;
    InferenceManager manager(root.path().string(), "", messages);
    manager.initProcessors();
    std::shared_ptr<const ExternalPreprocessorMap> processors = manager.externalPreprocessors();
    for (int i = 0; i < 500 && processors->empty(); ++i)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        processors = manager.externalPreprocessors();
    }
    ASSERT_EQ(processors->size(), 2u);
    EXPECT_TRUE(processors->at("child").process);
}

} // namespace
} // namespace vyai::test
