#include "host/plugin_log.h"

#include <fstream>

namespace vyhost {

std::optional<std::string> lastPluginWarning(const std::string& dataDirectory)
{
    // In the order the plug-in writes them.
    const char* const files[] = {"vyai_plugin_start.log", "vyai_plugin.log.old", "vyai_plugin.log"};
    const char* const marks[] = {"Warning!", "Error"};
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

} // namespace vyhost
