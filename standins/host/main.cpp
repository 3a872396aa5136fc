#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "host/command_line.h"
#include "host/exit_status.h"
#include "host/host_session.h"
#include "host/json_line.h"
#include "host/scenario.h"
#include "host/signal_watcher.h"
#include "host/stop_signal.h"

namespace {

/**
 * Standard output carries vyhost's JSON lines only. They get a descriptor of their own, and
 * descriptor 1 is pointed at standard error, so that whatever else writes to standard output
 * (the plug-in's console log, a library in the process) joins the other diagnostics there.
 * Null when the descriptors cannot be arranged.
 */
std::FILE* takeStandardOutput()
{
    std::fflush(stdout);
    const int jsonDescriptor = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    if (jsonDescriptor < 0)
        return nullptr;
    std::FILE* json = fdopen(jsonDescriptor, "w");
    if (!json)
    {
        close(jsonDescriptor);
        return nullptr;
    }
    if (dup2(STDERR_FILENO, STDOUT_FILENO) < 0)
    {
        std::fclose(json);
        return nullptr;
    }
    return json;
}

/** The scenario the command line names, or the built-in one; nullopt after saying why. */
std::optional<vyhost::Scenario> readScenario(const vyhost::Options& options)
{
    std::string text = vyhost::builtInScenarioText();
    if (!options.scenarioFile.empty())
    {
        std::ifstream file(options.scenarioFile);
        std::ostringstream content;
        content << file.rdbuf();
        if (!file)
        {
            std::fprintf(stderr, "vyhost: cannot read the scenario %s\n", options.scenarioFile.c_str());
            return std::nullopt;
        }
        text = content.str();
    }
    vyhost::ParsedScenario parsed = vyhost::parseScenario(text, options.cameras);
    if (!parsed.scenario)
    {
        std::fprintf(stderr, "vyhost: scenario %s: %s\n",
            options.scenarioFile.empty() ? "(built-in)" : options.scenarioFile.c_str(),
            parsed.error.c_str());
    }
    return std::move(parsed.scenario);
}

} // namespace

int main(int argc, char* argv[])
{
    const vyhost::ParsedCommandLine parsed = vyhost::parseCommandLine(argc, argv);
    if (parsed.helpRequested)
    {
        // Standard output is for JSON lines only, even here.
        std::fputs(vyhost::usageText(), stderr);
        return 0;
    }
    if (!parsed.options)
    {
        std::fprintf(stderr, "vyhost: %s\n%s", parsed.error.c_str(), vyhost::usageText());
        return vyhost::kExitUsage;
    }
    std::optional<vyhost::Scenario> scenario = readScenario(*parsed.options);
    if (!scenario)
        return vyhost::kExitUsage;

    vyhost::StopSignal stop;
    const vyhost::SignalWatcher signals(stop);

    std::FILE* json = takeStandardOutput();
    if (!json)
    {
        std::perror("vyhost: cannot set up standard output");
        return vyhost::kExitFailed;
    }
    int status = vyhost::kExitCompleted;
    {
        vyhost::OutputStream out(json, [&stop] { stop.request("standard output cannot be written"); });
        {
            vyhost::HostSession session(*parsed.options, *std::move(scenario), out, stop);
            status = session.run();
        }
        if (out.failed())
        {
            std::fprintf(stderr, "vyhost: cannot write standard output: %s\n", out.error().c_str());
            status = vyhost::kExitFailed;
        }
    }
    if (std::fclose(json) != 0 && status != vyhost::kExitFailed)
    {
        std::perror("vyhost: cannot write standard output");
        status = vyhost::kExitFailed;
    }
    return status;
}
