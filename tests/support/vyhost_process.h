#pragma once

// Runs the stand-in host as a child process and reads its output lines as JSON.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <common/json_text.h>
#include <yyjson.h>

#include "time_factor.h"

extern char** environ;

/** One line of vyhost's standard output, parsed; null root when it was no JSON. */
class VyhostLine
{
public:
    explicit VyhostLine(std::string text):
        m_text(std::move(text)),
        m_doc(vy::standins::parseJson(m_text))
    {
    }

    const std::string& text() const { return m_text; }
    yyjson_val* root() const { return m_doc ? yyjson_doc_get_root(m_doc.get()) : nullptr; }

    std::string type() const { return string("type"); }

    /** A member by a path of object keys ("packets", "objects"); null when absent. */
    yyjson_val* at(std::initializer_list<const char*> path) const
    {
        yyjson_val* value = root();
        for (const char* key: path)
            value = yyjson_obj_get(value, key);
        return value;
    }

    std::string string(const char* key) const
    {
        const char* value = yyjson_get_str(at({key}));
        return value ? value : "";
    }

private:
    std::string m_text;
    std::shared_ptr<yyjson_doc> m_doc;
};

struct VyhostRun
{
    int exitCode = -1; //< -1 when it had to be killed
    std::vector<VyhostLine> lines;
    std::vector<std::chrono::steady_clock::time_point> lineTimes; //< when each line of `lines` was read
    std::chrono::steady_clock::time_point exitedAt; //< when the process was reaped
    std::string errorOutput;

    std::vector<const VyhostLine*> linesOfType(const std::string& type) const
    {
        std::vector<const VyhostLine*> result;
        for (const auto& line: lines)
        {
            if (line.type() == type)
                result.push_back(&line);
        }
        return result;
    }

    /** The whole run as text, for failure messages. */
    std::string describe() const
    {
        std::string text = "exit " + std::to_string(exitCode) + "\n";
        for (const auto& line: lines)
            text += line.text() + "\n";
        return text + errorOutput;
    }
};

inline int64_t integerAt(const VyhostLine& line, std::initializer_list<const char*> path)
{
    return yyjson_get_sint(line.at(path));
}

/** A signal sent to the run once its standard output holds a text. */
struct VyhostInterrupt
{
    std::string afterOutput;
    int signal = 0; //< 0: none
};

/** How long a run of a few seconds may take before it is killed: stretched by the build's time
 * factor, as vyhost's start-up and its waits for the plug-in are. */
inline std::chrono::seconds vyhostRunLimit()
{
    return vyai::test::scaled(std::chrono::seconds(60));
}

/**
 * Runs `program` with `arguments` and this process's environment, in which each
 * "NAME=value" of `extraEnvironment` is set (replacing a variable of that name), and
 * collects both outputs; a run longer than `limit` is killed.
 */
inline VyhostRun runVyhost(const std::string& program, const std::vector<std::string>& arguments,
    const std::vector<std::string>& extraEnvironment = {}, std::chrono::seconds limit = vyhostRunLimit(),
    const VyhostInterrupt& interrupt = {})
{
    VyhostRun run;
    int out[2];
    int err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
        return run;

    const auto nameOf = [](const std::string& entry) { return entry.substr(0, entry.find('=')); };
    std::vector<std::string> environment;
    for (char** entry = environ; *entry; ++entry)
    {
        bool replaced = false;
        for (const auto& extra: extraEnvironment)
            replaced = replaced || nameOf(extra) == nameOf(*entry);
        if (!replaced)
            environment.emplace_back(*entry);
    }
    environment.insert(environment.end(), extraEnvironment.begin(), extraEnvironment.end());
    std::vector<char*> envp;
    for (auto& entry: environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::vector<std::string> args{program};
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& arg: args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    pid_t pid = -1;
    const int spawned =
        posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    if (spawned != 0)
    {
        close(out[0]);
        close(err[0]);
        return run;
    }

    std::string stdoutText;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* sinks[2] = {&stdoutText, &run.errorOutput};
    int open = 2;
    bool killed = false;
    bool interrupted = false;
    while (open > 0)
    {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0)
        {
            kill(pid, SIGKILL);
            killed = true;
            break;
        }
        if (poll(fds, 2, (int) std::min<long long>(left, 1000)) < 0)
            break;
        for (int i = 0; i < 2; ++i)
        {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP)))
                continue;
            char buffer[4096];
            const ssize_t n = read(fds[i].fd, buffer, sizeof(buffer));
            if (n > 0)
            {
                sinks[i]->append(buffer, (size_t) n);
                if (i == 0)
                    run.lineTimes.insert(run.lineTimes.end(), std::count(buffer, buffer + n, '\n'),
                        std::chrono::steady_clock::now());
                if (interrupt.signal != 0 && !interrupted
                    && stdoutText.find(interrupt.afterOutput) != std::string::npos)
                {
                    kill(pid, interrupt.signal);
                    interrupted = true;
                }
            }
            else
            {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (const pollfd& fd: fds)
    {
        if (fd.fd >= 0)
            close(fd.fd);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    run.exitedAt = std::chrono::steady_clock::now();
    run.exitCode = !killed && WIFEXITED(status) ? WEXITSTATUS(status) : -1;

    size_t start = 0;
    for (size_t end; (end = stdoutText.find('\n', start)) != std::string::npos; start = end + 1)
        run.lines.emplace_back(stdoutText.substr(start, end - start));
    if (start < stdoutText.size())
        run.lines.emplace_back(stdoutText.substr(start));
    return run;
}
