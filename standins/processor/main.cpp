// vyprocessor: an external processor program for tests and benchmarks. Started by the plug-in
// with its two channel descriptors (shared memory), or by a harness with --listen PORT (TCP).
// It ends when its standard input closes, so that it never outlives whoever started it.

#include <csignal>
#include <cstdio>
#include <thread>

#include <unistd.h>

#include "processor_options.h"
#include "shm_transport.h"
#include "tcp_transport.h"

namespace {

void exitWhenStandardInputCloses()
{
    std::thread([] {
        char buffer[256];
        while (read(STDIN_FILENO, buffer, sizeof buffer) > 0)
        {
        }
        _exit(0);
    }).detach();
}

} // namespace

int main(int argc, char** argv)
{
    std::string error;
    const auto options = vy::standins::parseProcessorOptions(argc, argv, &error);
    if (!options)
    {
        fprintf(stderr, "vyprocessor: %s\n"
            "usage: vyprocessor IN_DESCRIPTOR OUT_DESCRIPTOR [--mode M] [options] [--ProcessorName N]\n"
            "       vyprocessor --listen PORT [--mode M] [options]\n"
            "modes: echo delay crash hang oversize wrong-status wrong-ack ignore-termination never-ready"
            " ready-spam image-invert image-crop tensor-scale wrong-sizes objects stop-reading late-ack\n"
            "options: --delay-ms N --delay-requests N --crash-after N --reply-size N --stop-after N --new-id TEXT\n",
            error.c_str());
        return 1;
    }
    if (options->mode == vy::standins::ProcessorMode::ignoreTermination)
        signal(SIGTERM, SIG_IGN);
    exitWhenStandardInputCloses();
    return options->listenPort ? vy::standins::serveTcp(*options) : vy::standins::serveSharedMemory(*options);
}
