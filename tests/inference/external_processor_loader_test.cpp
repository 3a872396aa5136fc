#include "inference/external_processor_loader.h"

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "captured_log.h"
#include "inference/external_process.h"
#include "processor_harness.h"
#include "scoped_temp_directory.h"

namespace vyai::test {
namespace {

class DeclarationFiles: public ::testing::Test
{
protected:
    void write(const char* folder, const char* file, const std::string& text)
    {
        std::filesystem::create_directories(m_root.path() / folder);
        std::ofstream(m_root.path() / folder / file) << text;
    }
    void writePre(const std::string& text) { write("preprocessors", "external_preprocessors.json", text); }
    void writePost(const std::string& text) { write("postprocessors", "external_postprocessors.json", text); }
    std::string root() const { return m_root.path().string(); }
    std::string program() const { return "\"" + processorProgram() + "\""; }

    CapturedLog m_log;
    ScopedTempDirectory m_root;
};

TEST_F(DeclarationFiles, FileLevelFaultsLoadNothing)
{
    struct Case
    {
        const char* name;
        const char* text; //< null: no file
        const char* logged;
    };
    const Case cases[] = {
        {"missing", nullptr, "Notice: No external preprocessors configuration found at"},
        {"badJson", "[{\"Name\": \"a\",}]", "Error: Failed to parse external preprocessors JSON file"},
        {"notAnArray", "{\"Name\": \"a\"}", "Error: External preprocessors JSON root must be an array"},
        {"empty", "[]", "Initialized 0 external preprocessors"},
    };
    for (const Case& c: cases)
    {
        std::filesystem::remove_all(m_root.path() / "preprocessors");
        if (c.text)
            writePre(c.text);
        ExternalPreprocessorMap processors;
        loadExternalPreprocessors(root(), processors);
        EXPECT_TRUE(processors.empty()) << c.name;
        EXPECT_TRUE(m_log.contains(c.logged)) << c.name;
    }
}

TEST_F(DeclarationFiles, EntriesAreValidatedOneByOne)
{
    writePre("[1,"
             "{\"Command\": \"x\"},"
             "{\"Name\": \"noTransport\", \"Command\": 5},"
             "{\"Name\": \"farPort\", \"Port\": 70000},"
             "{\"Name\": \"negativePort\", \"Port\": -1},"
             "{\"Name\": \"tcp\", \"Port\": 9, \"Command\": \"ignored\", \"Schedule\": \"TENSOR\","
             " \"TimeoutMs\": 2500, \"NoResponse\": true, \"UserSettings\": [{\"a\": 1}], \"LogFilepath\": 7},"
             "{\"Name\": \"tcp\", \"Port\": 10},"
             "{\"Name\": \"lowerCase\", \"Port\": 11, \"Schedule\": \"tensor\", \"TimeoutMs\": -1, \"NoResponse\": 1},"
             "{\"Name\": \"real\", \"Port\": 12, \"TimeoutMs\": 2500.0, \"UserSettings\": {}},"
             "{\"Name\": \"emptyCommand\", \"Command\": \"\"},"
             "{\"Name\": \"missingProgram\", \"Command\": \"/nonexistent/processor\"}]");
    ExternalPreprocessorMap processors;
    loadExternalPreprocessors(root(), processors);
    EXPECT_TRUE(m_log.contains("Warning: Skipping non-object entry in external preprocessors array"));
    EXPECT_TRUE(m_log.contains("Warning: Skipping preprocessor with missing required fields (Name)"));
    EXPECT_TRUE(m_log.contains("Warning: Skipping preprocessor. Either 'Command' or 'Port' needs to be defined."));
    EXPECT_TRUE(m_log.contains("Skipping preprocessor farPort. 'Port' must be between 1 and 65535."));
    EXPECT_TRUE(m_log.contains("Skipping preprocessor negativePort. 'Port' must be between 1 and 65535."));
    EXPECT_TRUE(m_log.contains("Skipping preprocessor tcp. A processor of that name is already declared."));
    EXPECT_TRUE(m_log.contains("Skipping preprocessor emptyCommand. 'Command' must not be empty."));
    EXPECT_TRUE(m_log.contains("Error: Failed to start external preprocessor missingProgram"));
    EXPECT_TRUE(m_log.contains("Initialized 3 external preprocessors"));
    ASSERT_EQ(processors.size(), 3u);

    const ExternalPreprocessor_t& tcp = processors.at("tcp");
    EXPECT_EQ(tcp.Port, 9u);
    EXPECT_EQ(tcp.Command, "");
    EXPECT_EQ(tcp.schedule, kPreprocessTensor);
    EXPECT_EQ(tcp.TimeoutMs, 2500u);
    EXPECT_TRUE(tcp.NoResponse);
    EXPECT_EQ(tcp.UserSettings, "[{\"a\":1}]");
    EXPECT_EQ(tcp.LogFilepath, "");
    EXPECT_TRUE(tcp.process);

    const ExternalPreprocessor_t& lowerCase = processors.at("lowerCase");
    EXPECT_EQ(lowerCase.schedule, kPreprocessImage);
    EXPECT_EQ(lowerCase.TimeoutMs, 1000u);
    EXPECT_FALSE(lowerCase.NoResponse);
    EXPECT_EQ(processors.at("real").TimeoutMs, 1000u);
    EXPECT_EQ(processors.at("real").UserSettings, "");
    EXPECT_FALSE(processors.contains("emptyCommand"));
}

TEST_F(DeclarationFiles, ReplyTimeOutsOutsideTheRangeAreClampedWithAWarningNamingTheDeclaration)
{
    struct Case
    {
        const char* name;
        const char* declared;
        uint64_t used;
    };
    const Case cases[] = {{"zero", "0", 10}, {"tiny", "9", 10}, {"low", "10", 10}, {"high", "60000", 60000},
        {"huge", "18446744073709551615", 60000}};
    std::string text = "[";
    for (const Case& c: cases)
        text += std::string(text.size() > 1 ? "," : "") + "{\"Name\": \"" + c.name + "\", \"Port\": 9, \"TimeoutMs\": "
            + c.declared + "}";
    writePre(text + "]");
    ExternalPreprocessorMap processors;
    loadExternalPreprocessors(root(), processors);
    for (const Case& c: cases)
    {
        ASSERT_TRUE(processors.contains(c.name)) << c.name;
        EXPECT_EQ(processors.at(c.name).TimeoutMs, c.used) << c.name;
        const bool clamped = std::to_string(c.used) != c.declared;
        EXPECT_EQ(m_log.contains(std::string("preprocessor ") + c.name + " declares 'TimeoutMs' " + c.declared),
            clamped)
            << c.name;
    }
}

TEST_F(DeclarationFiles, PostprocessorArgumentsComeFromConfigAsAList)
{
    writePost("[{\"Name\": \"post; rm -rf x\", \"Command\": " + program()
        + ", \"Config\": {\"mode\": \"echo\", \"count\": 3, \"label\": \"1 2\"},"
          " \"Schedule\": \"TENSOR\", \"ReceiveInputImage\": true, \"ReceiveBinaryData\": false,"
          " \"Objects\": [{\"ID\": \"o.id\", \"Name\": \"O\"}, 3, {\"ID\": 4}],"
          " \"Events\": [{\"ID\": \"e.id\", \"Name\": \"E\"}]}]");
    ExternalPostprocessorMap processors;
    loadExternalPostprocessors(root(), processors);
    ASSERT_EQ(processors.size(), 1u);
    const ExternalPostprocessor_t& post = processors.begin()->second;
    EXPECT_EQ(post.schedule, kPostprocessTensor);
    EXPECT_TRUE(post.ReceiveInputImage);
    EXPECT_FALSE(post.ReceiveBinaryData);
    const std::vector<std::pair<std::string, std::string>> objects{{"o.id", "O"}, {"", ""}};
    EXPECT_EQ(post.Objects, objects);
    EXPECT_EQ(post.Events.size(), 1u);
    EXPECT_TRUE(m_log.contains("Warning! Received non-string config argument for postprocessor: post; rm -rf x"));
    EXPECT_TRUE(m_log.contains("Loaded and started external postprocessor: post; rm -rf x (2 objects, 1 events"));

    // The child got each value as one argument, unsplit and unquoted, after the two descriptors.
    std::ifstream file("/proc/" + std::to_string(post.process->childProcessId()) + "/cmdline", std::ios::binary);
    std::vector<std::string> arguments;
    for (std::string argument; std::getline(file, argument, '\0');)
        arguments.push_back(argument);
    const std::vector<std::string> tail{"--mode", "echo", "--label", "1 2", "--ProcessorName", "post; rm -rf x"};
    ASSERT_EQ(arguments.size(), 3 + tail.size());
    EXPECT_TRUE(std::equal(tail.begin(), tail.end(), arguments.begin() + 3));
}

} // namespace
} // namespace vyai::test
