#include "provisioning/archive_check.h"

#include <sstream>
#include <vector>

#include "foundations/child_process.h"

namespace vyai {

namespace {

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> result;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);)
        result.push_back(line);
    return result;
}

// A path that, taken relative to the folder, cannot lead out of it.
bool staysInside(const std::string& path)
{
    if (path.empty() || path.front() == '/')
        return false;
    std::istringstream parts(path);
    for (std::string part; std::getline(parts, part, '/');)
    {
        if (part == "..")
            return false;
    }
    return true;
}

// The text after the last marker of a verbose listing line ("name -> target").
std::string targetAfter(const std::string& line, const std::string& marker)
{
    const size_t at = line.rfind(marker);
    return at == std::string::npos ? std::string() : line.substr(at + marker.size());
}

} // namespace

bool isArchiveSafeToExtract(const std::string& archivePath, std::string& problem)
{
    // -P: names as stored, without tar's own clean-up (and its warnings in the output).
    const ProcessResult names = runProgram({"tar", "-tPf", archivePath});
    const ProcessResult listing = runProgram({"tar", "-tvPf", archivePath});
    if (names.exitCode != 0 || listing.exitCode != 0)
    {
        problem = "the archive cannot be read: " + names.output;
        return false;
    }
    const std::vector<std::string> memberNames = lines(names.output);
    const std::vector<std::string> details = lines(listing.output);
    if (memberNames.size() != details.size())
    {
        problem = "the archive's listing is inconsistent";
        return false;
    }
    for (size_t i = 0; i < memberNames.size(); ++i)
    {
        const std::string& name = memberNames[i];
        const char type = details[i].empty() ? '?' : details[i].front();
        std::string target;
        if (type == 'l')
            target = targetAfter(details[i], " -> ");
        else if (type == 'h')
            target = targetAfter(details[i], " link to ");
        else if (type != '-' && type != 'd')
        {
            problem = "member " + name + " is not a file, folder or link";
            return false;
        }
        if (!staysInside(name) || ((type == 'l' || type == 'h') && !staysInside(target)))
        {
            problem = "member " + name + " leads out of the runtime folder";
            return false;
        }
    }
    return true;
}

} // namespace vyai
