#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace vyai {

class ExternalProcess;

/** Which exchange a pre-processor takes. */
enum PreprocessorSchedule : uint32_t {
    kPreprocessImage = 0,
    kPreprocessTensor = 1, //< "Schedule": "TENSOR"
};

/** Which stage a post-processor runs at; numbered the other way round from pre-processors. */
enum PostprocessorSchedule : uint32_t {
    kPostprocessTensor = 0, //< "Schedule": "TENSOR"
    kPostprocessObjects = 1,
};

/** A declared external pre-processor, keyed by `Name`; never copied. */
struct ExternalPreprocessor_t
{
    std::string Name;
    std::string Command; //< empty for a TCP processor
    uint32_t Port = 0; //< 0: none
    bool NoResponse = false;
    std::string UserSettings; //< the declaration's "UserSettings" array as compact JSON; empty when absent
    std::shared_ptr<ExternalProcess> process; //< the running link; only the declaration holds it
    uint32_t schedule = kPreprocessImage; //< PreprocessorSchedule
    std::string LogFilepath;
    uint64_t TimeoutMs = 1000;
};

/** A declared external post-processor, keyed by `Name`; movable, never copied. */
struct ExternalPostprocessor_t
{
    std::string Name;
    std::string Command;
    uint32_t Port = 0;
    bool ReceiveInputImage = false;
    bool NoResponse = false;
    bool ReceiveBinaryData = false;
    std::vector<std::pair<std::string, std::string>> Objects; //< (identifier, name) it may report
    std::vector<std::pair<std::string, std::string>> Events; //< (identifier, name) it may report
    std::string UserSettings;
    std::shared_ptr<ExternalProcess> process;
    uint32_t schedule = kPostprocessObjects; //< PostprocessorSchedule
    std::string LogFilepath;
    uint64_t TimeoutMs = 1000;
};

} // namespace vyai
