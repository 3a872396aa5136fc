#include "foundations/child_process.h"

#include <vy/platform/child_process.h>

#include "foundations/log.h"

namespace vyai {

ProcessResult runProgram(const std::vector<std::string>& arguments, std::chrono::milliseconds timeLimit,
    const std::atomic<bool>* stop)
{
    using vy::platform::ChildProcessStatus;
    auto child = vy::platform::runChildProcess(arguments, timeLimit, stop);
    switch (child.status) {
        case ChildProcessStatus::exited:
            return {child.exitCode, std::move(child.output)};
        case ChildProcessStatus::pipeFailed:
            logError("Error creating pipe: %d", child.errorNumber);
            return {-1, ""};
        case ChildProcessStatus::spawnFailed:
            logError("Error creating process: %d", child.errorNumber);
            return {-1, ""};
        case ChildProcessStatus::statusLost:
            // An unknown outcome must not pass for success (a failing "nvidia-smi" would).
            logError("Error! Could not read the exit status of %s: %d\n",
                arguments.front().c_str(), child.errorNumber);
            return {-1, std::move(child.output)};
        case ChildProcessStatus::stopped:
            logError("Notice: Process %s was stopped: the plug-in is shutting down.\n", arguments.front().c_str());
            return {-1, std::move(child.output)};
        case ChildProcessStatus::timedOut:
            logError("Error! Process %s did not finish within %lld ms and was killed.\n",
                arguments.front().c_str(), static_cast<long long>(timeLimit.count()));
            return {-1, std::move(child.output)};
    }
    return {-1, ""};
}

std::vector<std::string> splitCommandLine(const std::string& commandLine)
{
    std::vector<std::string> arguments;
    std::string current;
    bool inArgument = false;
    bool quoted = false;
    for (size_t i = 0; i < commandLine.size(); ++i) {
        const char c = commandLine[i];
        if (c == '"') {
            if (quoted && i + 1 < commandLine.size() && commandLine[i + 1] == '"') {
                current += '"';
                ++i;
            } else {
                quoted = !quoted;
            }
            inArgument = true;
        } else if (!quoted && (c == ' ' || c == '\t')) {
            if (inArgument)
                arguments.push_back(std::move(current));
            current.clear();
            inArgument = false;
        } else {
            current += c;
            inArgument = true;
        }
    }
    if (inArgument)
        arguments.push_back(std::move(current));
    return arguments;
}

ProcessResult runProcess(
    const std::string& commandLine, std::chrono::milliseconds timeLimit, const std::atomic<bool>* stop)
{
    return runProgram(splitCommandLine(commandLine), timeLimit, stop);
}

} // namespace vyai
