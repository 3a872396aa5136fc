#include "host/command_line.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <string_view>

namespace vyhost {

namespace {

constexpr double kDefaultSeconds = 3.0;
constexpr int kMaxCameras = 64;
// Bounds that keep every frame time and frame count far inside the clock's range.
constexpr double kMinFps = 0.01;
constexpr double kMaxFps = 1000;
constexpr double kMaxSeconds = 1e6;
constexpr int64_t kMaxFrames = 1'000'000'000;

template<typename T>
bool parseNumber(std::string_view text, T* out)
{
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, *out);
    return ec == std::errc() && ptr == end;
}

} // namespace

int64_t Options::framesPerCamera() const
{
    if (frames)
        return *frames;
    return (int64_t) std::llround(seconds.value_or(kDefaultSeconds) * fps);
}

const char* usageText()
{
    return "usage: vyhost [--plugin PATH] [--scenario FILE] [--host-dir DIR] [--cameras N]"
        " [--fps F] [--seconds S | --frames N] [--pictures DIR [--picture-every N]]\n";
}

ParsedCommandLine parseCommandLine(int argc, const char* const argv[])
{
    ParsedCommandLine parsed;
    Options options;
    bool pictureEverySet = false;
    const auto fail =
        [&parsed](std::string message)
        {
            parsed.error = std::move(message);
            return parsed;
        };

    for (int i = 1; i < argc; ++i)
    {
        const std::string_view name = argv[i];
        if (name == "--help" || name == "-h")
        {
            parsed.helpRequested = true;
            return parsed;
        }
        if (i + 1 >= argc)
            return fail(std::string(name) + " needs a value");
        const std::string_view value = argv[++i];

        if (name == "--plugin")
        {
            options.pluginPath = value;
        }
        else if (name == "--scenario")
        {
            options.scenarioFile = value;
        }
        else if (name == "--host-dir")
        {
            options.hostDirectory = value;
        }
        else if (name == "--cameras")
        {
            if (!parseNumber(value, &options.cameras)
                || options.cameras < 1 || options.cameras > kMaxCameras)
            {
                return fail("--cameras takes a whole number from 1 to "
                    + std::to_string(kMaxCameras));
            }
        }
        else if (name == "--fps")
        {
            if (!parseNumber(value, &options.fps) || !std::isfinite(options.fps)
                || options.fps < kMinFps || options.fps > kMaxFps)
            {
                return fail("--fps takes a number from 0.01 to 1000");
            }
        }
        else if (name == "--seconds")
        {
            double seconds = 0;
            if (!parseNumber(value, &seconds) || !std::isfinite(seconds) || seconds < 0
                || seconds > kMaxSeconds)
            {
                return fail("--seconds takes a number from 0 to 1000000");
            }
            options.seconds = seconds;
        }
        else if (name == "--frames")
        {
            int64_t frames = 0;
            if (!parseNumber(value, &frames) || frames < 0 || frames > kMaxFrames)
                return fail("--frames takes a whole number from 0 to 1000000000");
            options.frames = frames;
        }
        else if (name == "--pictures")
        {
            if (value.empty())
                return fail("--pictures takes a directory");
            options.picturesDirectory = value;
        }
        else if (name == "--picture-every")
        {
            if (!parseNumber(value, &options.pictureEvery) || options.pictureEvery < 1
                || options.pictureEvery > kMaxFrames)
            {
                return fail("--picture-every takes a whole number from 1 to 1000000000");
            }
            pictureEverySet = true;
        }
        else
        {
            return fail("unknown option " + std::string(name));
        }
    }
    if (options.seconds && options.frames)
        return fail("--seconds and --frames exclude each other");
    if (pictureEverySet && options.picturesDirectory.empty())
        return fail("--picture-every needs --pictures");
    parsed.options = std::move(options);
    return parsed;
}

} // namespace vyhost
