// The manager loads the external processor declarations on a thread of its own.
#include <chrono>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "captured_log.h"
#include "eventually.h"
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
    std::shared_ptr<const ExternalPreprocessorMap> processors;
    EXPECT_TRUE(eventually([&] {
        processors = manager.externalPreprocessors();
        return !processors->empty();
    }));
    ASSERT_EQ(processors->size(), 2u);
    EXPECT_TRUE(processors->at("child").process);
}

} // namespace
} // namespace vyai::test
