#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vyhost {

// What a run of the stand-in host does, as the command line asked for it.
struct Options
{
    std::string pluginPath; //< empty: the plug-in built next to vyhost
    std::string scenarioFile; //< empty: the built-in scenario
    std::string hostDirectory; //< empty: a temporary directory removed at exit
    int cameras = 1;
    double fps = 10.0;
    // At most one of the two bounds the run; neither: three seconds.
    std::optional<double> seconds;
    std::optional<int64_t> frames;
    std::string picturesDirectory; //< empty: no pictures
    int64_t pictureEvery = 10; //< frames from one picture to the next

    /** Frames each camera pushes: --frames, or --seconds times --fps. */
    int64_t framesPerCamera() const;
};

struct ParsedCommandLine
{
    std::optional<Options> options; //< null when the run must not start
    std::string error; //< set when the command line is wrong
    bool helpRequested = false;
};

ParsedCommandLine parseCommandLine(int argc, const char* const argv[]);

const char* usageText();

} // namespace vyhost
