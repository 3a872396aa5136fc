#include <cstdio>

#include "host/command_line.h"
#include "host/host_session.h"
#include "host/json_line.h"

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

    vyhost::OutputStream out(stdout);
    vyhost::HostSession session(*parsed.options, out);
    return session.run();
}
