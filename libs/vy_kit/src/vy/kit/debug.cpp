#include "vy/kit/debug.h"

#include <atomic>
#include <iostream>
#include <mutex>

#include "vy/kit/print.h"

namespace vy::kit::debug {

namespace {

// Null means standard error; replaced only by setStream().
std::atomic<std::ostream*> g_redirection{nullptr};

// Serialises whole lines, so that lines written by different threads never mix.
std::mutex g_lineMutex;

std::string baseName(const char* path)
{
    const std::string text(path);
    const auto slash = text.find_last_of("/\\");
    return slash == std::string::npos ? text : text.substr(slash + 1);
}

} // namespace

std::ostream& stream()
{
    std::ostream* redirection = g_redirection.load();
    return redirection ? *redirection : std::cerr;
}

std::ostream* setStream(std::ostream* stream)
{
    // Under the line mutex, so that no line is being written to the stream being replaced.
    const std::lock_guard lock(g_lineMutex);
    return g_redirection.exchange(stream);
}

namespace detail {

std::string printPrefix(const char* sourceFile)
{
    if (!sourceFile)
        return {};
    std::string name = baseName(sourceFile);
    const auto dot = name.find('.');
    if (dot != std::string::npos && dot > 0)
        name.erase(dot);
    return "[" + name + "] ";
}

PrintFunc prefixedPrint(std::string prefix)
{
    return [prefix = std::move(prefix)](const std::string& text) { Print() << prefix << text; };
}

void assertionFailed(const PrintFunc& print, const char* condition, const std::string& message,
    const char* file, int line)
{
    std::string report = "ASSERTION FAILED: ";
    report += file ? baseName(file) : std::string("?");
    report += ":" + std::to_string(line) + ": (";
    report += condition ? condition : "";
    report += ")";
    if (!message.empty())
        report += " " + message;

    if (print)
        print(report);
    else
        Print() << report;
}

void writeLine(const std::string& text)
{
    const std::lock_guard lock(g_lineMutex);
    std::ostream& out = stream();
    out << text + "\n";
    out.flush();
}

} // namespace detail

} // namespace vy::kit::debug
