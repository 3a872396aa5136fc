#pragma once

#include <optional>
#include <string>

namespace vyhost {

/**
 * The last line the plug-in logged as a warning or an error in its data directory (its start
 * log, then its main log), from "Warning!" or "Error" on and without the line end; nullopt
 * when it logged none or kept no log files.
 */
std::optional<std::string> lastPluginWarning(const std::string& dataDirectory);

} // namespace vyhost
