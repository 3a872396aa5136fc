#include "vy/kit/ini_config.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <strings.h>

#include "vy/kit/debug.h"

namespace vy::kit {

namespace {

constexpr const char* kWhitespace = " \t\r\n";

std::string trimmed(const std::string& text)
{
    const auto first = text.find_first_not_of(kWhitespace);
    if (first == std::string::npos)
        return {};
    const auto last = text.find_last_not_of(kWhitespace);
    return text.substr(first, last - first + 1);
}

bool parseBool(const std::string& text, bool* value)
{
    if (text == "1" || strcasecmp(text.c_str(), "true") == 0)
        *value = true;
    else if (text == "0" || strcasecmp(text.c_str(), "false") == 0)
        *value = false;
    else
        return false;
    return true;
}

bool parseInt(const std::string& text, int* value)
{
    if (text.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    const long parsed = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || parsed < INT_MIN || parsed > INT_MAX)
        return false;
    *value = static_cast<int>(parsed);
    return true;
}

void warn(const std::string& path, int lineNumber, const std::string& text)
{
    debug::detail::writeLine(debug::detail::printPrefix(__FILE__) + path + ":"
        + std::to_string(lineNumber) + ": " + text);
}

} // namespace

IniConfig::IniConfig(const char* iniFile): m_iniFile(iniFile ? iniFile : "")
{
}

IniConfig::~IniConfig() = default;

// The descriptions document the options where they are declared; the reader needs none.

bool IniConfig::regBoolParam(
    const bool* field, bool defaultValue, const char* name, const char* /*description*/)
{
    registerParam(ParamType::boolean, field, name);
    return defaultValue;
}

int IniConfig::regIntParam(
    const int* field, int defaultValue, const char* name, const char* /*description*/)
{
    registerParam(ParamType::integer, field, name);
    return defaultValue;
}

const char* IniConfig::regStringParam(const char* const* field, const char* defaultValue,
    const char* name, const char* /*description*/)
{
    registerParam(ParamType::string, field, name);
    return storeString(defaultValue ? defaultValue : "");
}

std::string IniConfig::iniFilePath() const
{
    const char* dir = std::getenv("VY_INI_DIR");
    if (dir == nullptr || *dir == '\0')
        return m_iniFile;
    std::string path = dir;
    if (path.back() != '/')
        path += '/';
    return path + m_iniFile;
}

void IniConfig::reload()
{
    const std::string path = iniFilePath();
    std::ifstream file(path);
    if (!file)
        return; //< No file: every option keeps its default.

    std::string line;
    int lineNumber = 0;
    while (std::getline(file, line))
    {
        ++lineNumber;
        const std::string text = trimmed(line);
        if (text.empty() || text[0] == '#')
            continue;
        const auto equals = text.find('=');
        if (equals == std::string::npos)
        {
            warn(path, lineNumber, "ignoring a line without '='");
            continue;
        }
        const std::string name = trimmed(text.substr(0, equals));
        const std::string value = trimmed(text.substr(equals + 1));
        for (const Param& param: m_params)
        {
            if (param.name == name)
                applyValue(param, value, path, lineNumber);
        }
    }
}

void IniConfig::applyValue(
    const Param& param, const std::string& value, const std::string& path, int lineNumber)
{
    // The fields are the subclass's non-const members, handed over as const pointers.
    bool valid = true;
    switch (param.type)
    {
        case ParamType::boolean:
            valid = parseBool(value, const_cast<bool*>(static_cast<const bool*>(param.field)));
            break;
        case ParamType::integer:
            valid = parseInt(value, const_cast<int*>(static_cast<const int*>(param.field)));
            break;
        case ParamType::string:
            *const_cast<const char**>(static_cast<const char* const*>(param.field)) =
                storeString(value.c_str());
            break;
    }
    if (!valid)
    {
        warn(path, lineNumber,
            "ignoring malformed value \"" + value + "\" of option " + param.name);
    }
}

const char* IniConfig::storeString(const char* value)
{
    return m_strings.emplace_back(value).c_str();
}

void IniConfig::registerParam(ParamType type, const void* field, const char* name)
{
    m_params.push_back({type, field, name ? name : ""});
}

} // namespace vy::kit
