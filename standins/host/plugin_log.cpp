#include "host/plugin_log.h"

#include <cstdio>
#include <fstream>

namespace vyhost {

namespace {

/** The last line of the plug-in's logs holding one of `marks`, from the mark on. */
std::optional<std::string> lastLineMarked(const std::string& dataDirectory, std::initializer_list<const char*> marks)
{
    // In the order the plug-in writes them.
    const char* const files[] = {"vyai_plugin_start.log", "vyai_plugin.log.old", "vyai_plugin.log"};
    std::optional<std::string> last;
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
                    last = line.substr(at);
                    break;
                }
            }
        }
    }
    return last;
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
    long long admitted = 0, dropped = 0, inferred = 0, answered = 0;
    if (std::sscanf(line->c_str(), "Inference frames: admitted %lld, dropped %lld, inferred %lld, answered %lld",
            &admitted, &dropped, &inferred, &answered) != 4)
    {
        return std::nullopt;
    }
    counts.admitted = admitted;
    counts.dropped = dropped;
    counts.inferred = inferred;
    counts.answered = answered;
    return counts;
}

} // namespace vyhost
