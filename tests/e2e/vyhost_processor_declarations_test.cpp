#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "host/processor_declarations.h"
#include "host/scenario.h"
#include "inference/external_process.h"
#include "inference/external_processor_loader.h"
#include "scoped_temp_directory.h"

namespace {

using namespace vyhost;

std::string fileText(const std::filesystem::path& path)
{
    std::ifstream file(path);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

TEST(VyhostProcessorDeclarations, DeclarationsAreReadWithTheirArgumentsApart)
{
    const ParsedScenario parsed = parseScenario(R"({"preprocessors": [
        {"Name": "cropper", "Command": "{vyprocessor}", "arguments": ["--mode", "image-crop"],
         "LogFilepath": "{host}/cropper.log", "UserSettings": [{"type": "SpinBox", "name": "n"}]},
        {"Name": "remote", "Port": 9000, "Schedule": "TENSOR"}]})", 1);
    ASSERT_TRUE(parsed.scenario) << parsed.error;
    const auto& declarations = parsed.scenario->preprocessors;
    ASSERT_EQ(declarations.size(), 2U);
    EXPECT_EQ(declarations[0].name, "cropper");
    EXPECT_EQ(declarations[0].command, "{vyprocessor}");
    EXPECT_EQ(declarations[0].arguments, (std::vector<std::string>{"--mode", "image-crop"}));
    // The plug-in sees the declaration as written, less vyhost's own member.
    EXPECT_EQ(declarations[0].declaration,
        R"({"Name":"cropper","Command":"{vyprocessor}","LogFilepath":"{host}/cropper.log",)"
        R"("UserSettings":[{"type":"SpinBox","name":"n"}]})");
    EXPECT_EQ(declarations[1].command, "");
    EXPECT_TRUE(declarations[1].arguments.empty());
    EXPECT_TRUE(parseScenario("{}", 1).scenario->preprocessors.empty());
}

TEST(VyhostProcessorDeclarations, EachMalformedDeclarationIsNamed)
{
    struct Case
    {
        const char* text;
        const char* error; //< the start of the message
    };
    const Case cases[] = {
        {R"({"preprocessors": {}})", "preprocessors: must be an array"},
        {R"({"preprocessors": [1]})", "preprocessors[0]: must be an object"},
        {R"({"preprocessors": [{"Command": "x"}]})", "preprocessors[0].Name: must be a text"},
        {R"({"preprocessors": [{"Name": "", "Command": "x"}]})", "preprocessors[0].Name: must not be empty"},
        {R"({"preprocessors": [{"Name": "a"}]})", "preprocessors[0].Command: must be a text"},
        {R"({"preprocessors": [{"Name": "a", "Command": "x"}, {"Name": "a", "Port": 9}]})",
            "preprocessors[1].Name: another processor has this name"},
        {R"({"preprocessors": [{"Name": "a", "Port": 0}]})", "preprocessors[0].Port: must be from 1 to 65535"},
        {R"({"preprocessors": [{"Name": "a", "Port": 9, "arguments": []}]})",
            "preprocessors[0].arguments: needs a \"Command\""},
        {R"({"preprocessors": [{"Name": "a", "Command": "x", "arguments": "--mode"}]})",
            "preprocessors[0].arguments: must be an array"},
        {R"({"preprocessors": [{"Name": "a", "Command": "x", "arguments": [1]}]})",
            "preprocessors[0].arguments[0]: must be a text"},
    };
    for (const Case& c: cases)
    {
        SCOPED_TRACE(c.text);
        const ParsedScenario parsed = parseScenario(c.text, 1);
        EXPECT_FALSE(parsed.scenario);
        EXPECT_EQ(parsed.error.rfind(c.error, 0), 0U) << parsed.error;
    }
}

TEST(VyhostProcessorDeclarations, PlaceholdersBecomePathsAsJsonOrAsTheyAre)
{
    const std::string host = R"(/tmp/a "b"\c)";
    EXPECT_EQ(withProcessorPlaceholders("{host}/x {host}", host, false), host + "/x " + host);
    EXPECT_EQ(withProcessorPlaceholders("\"{host}\"", host, true), R"("/tmp/a \"b\"\\c")");
    EXPECT_EQ(withProcessorPlaceholders("{vyprocessor}", host, false), VY_PROCESSOR);
}

// The file vyhost writes is what the plug-in's loader reads: the processor starts, through
// the launcher, with the scenario's arguments, and its output goes to the declared log file.
TEST(VyhostProcessorDeclarations, ThePluginStartsTheDeclaredProcessorWithItsArguments)
{
    const ScopedTempDirectory host;
    const ParsedScenario parsed = parseScenario(R"({"preprocessors": [
        {"Name": "cropper's", "Command": "{vyprocessor}",
         "arguments": ["--mode", "image-crop", "--note", "it's $HOME"], "LogFilepath": "{host}/cropper.log"}]})", 1);
    ASSERT_TRUE(parsed.scenario) << parsed.error;
    ASSERT_EQ(writePreprocessorDeclarations(parsed.scenario->preprocessors, host.path().string()), "");
    const std::filesystem::path folder = host.path() / "vy_veltrin" / "preprocessors";
    EXPECT_NE(fileText(folder / "external_preprocessors.json").find((folder / "launch-1.sh").string()),
        std::string::npos);

    vyai::ExternalPreprocessorMap processors;
    vyai::loadExternalPreprocessors((host.path() / "vy_veltrin").string(), processors);
    ASSERT_EQ(processors.count("cropper's"), 1U);
    const auto& process = processors.at("cropper's").process;
    ASSERT_TRUE(process);
    EXPECT_EQ(processors.at("cropper's").LogFilepath, (host.path() / "cropper.log").string());
    // The launcher replaces itself with the processor; until then the child is the shell.
    std::string commandLine;
    for (int attempt = 0; attempt < 500 && commandLine.find(VY_PROCESSOR) == std::string::npos; ++attempt)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        commandLine = fileText("/proc/" + std::to_string(process->childProcessId()) + "/cmdline");
        std::replace(commandLine.begin(), commandLine.end(), '\0', ' ');
    }
    EXPECT_NE(commandLine.find(VY_PROCESSOR), std::string::npos) << commandLine;
    // The shell passes each argument as it is: no splitting, no expansion.
    EXPECT_NE(commandLine.find("--ProcessorName cropper's --mode image-crop --note it's $HOME "), std::string::npos)
        << commandLine;
    processors.clear();
    EXPECT_TRUE(std::filesystem::exists(host.path() / "cropper.log"));
}

} // namespace
