#include "host/plugin_log.h"

#include <cstdio>
#include <fstream>
#include <vector>

namespace vyhost {

namespace {

/** Each line of the plug-in's logs holding one of `marks`, from the mark on, in log order. */
std::vector<std::string> linesMarked(
    const std::string& dataDirectory, std::initializer_list<const char*> marks)
{
    // In the order the plug-in writes them.
    const char* const files[] = {"vyai_plugin_start.log", "vyai_plugin.log.old", "vyai_plugin.log"};
    std::vector<std::string> found;
    for (const char* name: files)
    {
        std::ifstream file(dataDirectory + "/" + name);
        std::string line;
        while (std::getline(file, line))
        {
            for (const char* mark: marks)
            {
                if (const size_t at = line.find(mark); at != std::string::npos)
                {
                    found.push_back(line.substr(at));
                    break;
                }
            }
        }
    }
    return found;
}

std::optional<std::string> lastLineMarked(
    const std::string& dataDirectory, std::initializer_list<const char*> marks)
{
    std::vector<std::string> lines = linesMarked(dataDirectory, marks);
    if (lines.empty())
        return std::nullopt;
    return std::move(lines.back());
}

} // namespace

std::optional<std::string> lastPluginWarning(const std::string& dataDirectory)
{
    return lastLineMarked(dataDirectory, {"Warning!", "Error"});
}

std::optional<PluginFrameCounts> lastPluginFrameCounts(const std::string& dataDirectory)
{
    const auto line = lastLineMarked(dataDirectory, {"Inference frames:"});
    if (!line)
        return std::nullopt;
    PluginFrameCounts counts;
    long long admitted = 0, dropped = 0, outputsDropped = 0, inferred = 0, answered = 0, lostInEngine = 0;
    if (std::sscanf(line->c_str(),
            "Inference frames: admitted %lld, dropped %lld, outputs dropped %lld, inferred %lld, answered %lld, "
            "lost in the engine %lld",
            &admitted, &dropped, &outputsDropped, &inferred, &answered, &lostInEngine) != 6)
    {
        return std::nullopt;
    }
    counts.admitted = admitted;
    counts.dropped = dropped;
    counts.outputsDropped = outputsDropped;
    counts.inferred = inferred;
    counts.answered = answered;
    counts.lostInEngine = lostInEngine;
    return counts;
}

std::map<std::string, PluginRefusals> pluginRefusals(const std::string& dataDirectory)
{
    std::map<std::string, PluginRefusals> refusals;
    for (const std::string& line: linesMarked(dataDirectory, {"Device "}))
    {
        char deviceId[128] = {};
        long long notConnected = 0, switchedOff = 0, withoutSettings = 0;
        if (std::sscanf(line.c_str(),
                "Device %127s refused frames: not connected %lld, switched off %lld, without settings %lld",
                deviceId, &notConnected, &switchedOff, &withoutSettings) != 4)
        {
            continue;
        }
        PluginRefusals& device = refusals[deviceId];
        device.notConnected += notConnected;
        device.switchedOff += switchedOff;
        device.withoutSettings += withoutSettings;
    }
    return refusals;
}

} // namespace vyhost
