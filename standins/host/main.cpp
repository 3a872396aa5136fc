#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "host/command_line.h"
#include "host/host_session.h"
#include "host/json_line.h"

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

} // namespace

int main(int argc, char* argv[])
{
    const vyhost::ParsedCommandLine parsed = vyhost::parseCommandLine(argc, argv);
    if (parsed.helpRequested)
    {
        std::fputs(vyhost::usageText(), stdout);
        return 0;
    }
    if (!parsed.options)
    {
        std::fprintf(stderr, "vyhost: %s\n%s", parsed.error.c_str(), vyhost::usageText());
        return 2;
    }

    std::FILE* json = takeStandardOutput();
    if (!json)
    {
        std::perror("vyhost: cannot set up standard output");
        return 1;
    }
    int status = 0;
    {
        vyhost::OutputStream out(json);
        vyhost::HostSession session(*parsed.options, out);
        status = session.run();
    }
    std::fclose(json);
    return status;
}
