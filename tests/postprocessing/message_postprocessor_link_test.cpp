#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "captured_log.h"
#include "postprocessing/message_postprocessor_link.h"
#include "processor_harness.h"
#include "runtime_fixtures.h"
#include "scoped_temp_directory.h"
#include "time_factor.h"

namespace vyai::test {
namespace {

// The post-processing pipeline's link reaches a declared tensor post-processor through its
// process: the reply's tensors come back as a new set.
TEST(MessagePostprocessorLinkTest, TensorExchangeGoesThroughTheDeclaredProcess)
{
    CapturedLog log;
    ScopedTempDirectory root;
    std::filesystem::create_directories(root.path() / "postprocessors");
    std::ofstream(root.path() / "postprocessors" / "external_postprocessors.json")
        << R"([{"Name": "scale", "Command": ")" << processorProgram()
        << R"(", "Config": {"mode": "tensor-scale"}, "Schedule": "TENSOR", "TimeoutMs": )"
        << scaled(std::chrono::milliseconds(5000)).count() << "},"
        << R"({"Name": "slow", "Command": ")" << processorProgram()
        << R"(", "Config": {"mode": "delay", "delay-ms": "1000"}, "Schedule": "TENSOR", "TimeoutMs": 100}])";
    MessagePostprocessorLink link;
    auto declarations = link.loadDeclarations((root.path() / "postprocessors").string());
    ASSERT_EQ(declarations.count("scale"), 1u) << log.text();

    pipeline_stage_parameters_t stage;
    InferenceInput_t input;
    input.stage = &stage;
    input.timestamp = 5;
    input.device = std::make_shared<DeviceAgentDetails_t>(DeviceAgentDetails_t{"cam", "cam"});
    const TensorSetPtr tensors = runtime_fixtures::makeTensorSet(
        {{"scores", TensorDataType_Float, {1, 2}, runtime_fixtures::toBytes(std::vector<float>{1.5f, -2.0f})}});
    Timer timer("test");
    const TensorSetPtr reply = link.exchangeTensors(declarations.at("scale"), input, tensors.get(), timer);
    ASSERT_TRUE(reply) << log.text();
    ASSERT_EQ(reply->count, 1);
    EXPECT_STREQ(reply->tensors[0].name, "scores");
    EXPECT_EQ(runtime_fixtures::floatsOf(reply->tensors[0]), (std::vector<float>{3.0f, -4.0f}));
    EXPECT_TRUE(log.contains("Waiting for response from postprocessor scale\n"));
    EXPECT_TRUE(log.contains("Received response from postprocessor scale\n"));

    EXPECT_FALSE(link.exchangeTensors(declarations.at("slow"), input, tensors.get(), timer));
    EXPECT_TRUE(log.contains("Warning! No response in time from external processor. (processor slow, 1 times)"));
    declarations.clear(); // stops the process before the folder goes
}

} // namespace
} // namespace vyai::test
