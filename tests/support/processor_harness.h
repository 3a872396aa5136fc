#pragma once

// Starting vyprocessor from a test or benchmark (VY_PROCESSOR names the program): as the plug-in's child with inherited channel events, or as
// a TCP peer on an ephemeral loopback port. The child ends when its standard input closes; the
// harness closes it, then kills and reaps whatever is left, so no process outlives a test.

#include <csignal>
#include <filesystem>
#include <fstream>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "eventually.h"

namespace vyai::test {

inline std::string processorProgram()
{
    return VY_PROCESSOR;
}

class ProcessorChild
{
public:
    ProcessorChild(const std::vector<std::string>& arguments, const std::vector<int>& inheritedFds)
    {
        std::vector<std::string> all{processorProgram()};
        all.insert(all.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& argument: all)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        int input[2];
        int output[2];
        if (pipe2(input, O_CLOEXEC) != 0 || pipe2(output, O_CLOEXEC) != 0)
            return;
        m_pid = fork();
        if (m_pid == 0)
        {
            dup2(input[0], STDIN_FILENO);
            dup2(output[1], STDOUT_FILENO);
            for (const int fd: inheritedFds)
                fcntl(fd, F_SETFD, 0);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(input[0]);
        close(output[1]);
        m_stdin = input[1];
        m_stdout = output[0];
    }

    ~ProcessorChild()
    {
        if (m_stdin >= 0)
            close(m_stdin);
        if (m_stdout >= 0)
            close(m_stdout);
        if (m_pid <= 0)
            return;
        if (eventually([this] { return waitpid(m_pid, nullptr, WNOHANG) == m_pid; }, std::chrono::seconds(1)))
            return;
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }

    ProcessorChild(const ProcessorChild&) = delete;
    ProcessorChild& operator=(const ProcessorChild&) = delete;

    /** The port a TCP child announced on its first output line; 0 when it did not. */
    uint16_t announcedPort()
    {
        std::string line;
        char c;
        while (line.size() < 64 && read(m_stdout, &c, 1) == 1 && c != '\n')
            line += c;
        unsigned port = 0;
        return sscanf(line.c_str(), "listening %u", &port) == 1 ? static_cast<uint16_t>(port) : 0;
    }

    pid_t pid() const { return m_pid; }

private:
    pid_t m_pid = -1;
    int m_stdin = -1;
    int m_stdout = -1;
};

inline bool processExists(pid_t pid)
{
    // A zombie still answers kill(0); its state in /proc says it is gone.
    std::ifstream status("/proc/" + std::to_string(pid) + "/stat");
    std::string pidText, name, state;
    return status >> pidText >> name >> state && state != "Z";
}

/** The shared-memory names in a process's command line (its channel descriptors). */
inline std::vector<std::string> segmentNamesOf(pid_t pid)
{
    std::ifstream file("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
    std::string all((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::vector<std::string> names;
    for (size_t at = all.find("/Global_RandomSHM_"); at != std::string::npos;
         at = all.find("/Global_RandomSHM_", at + 1))
        names.push_back(all.substr(at, 26));
    return names;
}

inline bool segmentExists(const std::string& name)
{
    return std::filesystem::exists("/dev/shm" + name);
}

} // namespace vyai::test
