#pragma once

#include <cstdint>

#include <map>
#include <optional>
#include <string>

namespace vyhost {

/**
 * The last line the plug-in logged as a warning or an error in its data directory (its start
 * log, then its main log), from "Warning!" or "Error" on and without the line end; nullopt
 * when it logged none or kept no log files.
 */
std::optional<std::string> lastPluginWarning(const std::string& dataDirectory);

/** What the plug-in's inference did with the frames, as it logged it last (when it stops). */
struct PluginFrameCounts
{
    int64_t admitted = 0;
    int64_t dropped = 0; //< before admission
    int64_t outputsDropped = 0; //< of admitted inputs
    int64_t inferred = 0;
    int64_t answered = 0;
    int64_t lostInEngine = 0; //< admitted inputs the engine gave no output for
};

/** The plug-in's last "Inference frames:" line; nullopt when it logged none. */
std::optional<PluginFrameCounts> lastPluginFrameCounts(const std::string& dataDirectory);

/** Frames a device agent turned away before its inference admitted them. */
struct PluginRefusals
{
    int64_t notConnected = 0;
    int64_t switchedOff = 0;
    int64_t withoutSettings = 0;
};

/** Per device id as the plug-in logs it, the sum of its agents' "refused frames:" lines. */
std::map<std::string, PluginRefusals> pluginRefusals(const std::string& dataDirectory);

} // namespace vyhost
