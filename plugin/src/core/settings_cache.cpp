#include "core/settings_cache.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <utility>

#include "foundations/log.h"

namespace vyai {

namespace {

// Never typed in a dialog; marks a value written escaped.
constexpr char kEscapeMark = '\x1b';

// Restored from the host's next settings and device parameters, never from the file.
bool isKeptOutOfFile(const std::string& key)
{
    return key == "selectedPipeline" || key == "deviceActiveSwitch";
}

bool hasLineBreak(const std::string& text)
{
    return text.find_first_of("\r\n") != std::string::npos;
}

} // namespace

std::string encodeSettingsCacheValue(const std::string& value)
{
    if (!hasLineBreak(value) && (value.empty() || value.front() != kEscapeMark))
        return value;
    std::string text(1, kEscapeMark);
    for (const char c: value)
    {
        switch (c)
        {
            case '\\': text += "\\\\"; break;
            case '\n': text += "\\n"; break;
            case '\r': text += "\\r"; break;
            default: text += c;
        }
    }
    return text;
}

std::string decodeSettingsCacheValue(const std::string& text)
{
    if (text.empty() || text.front() != kEscapeMark)
        return text;
    std::string value;
    for (size_t i = 1; i < text.size(); ++i)
    {
        if (text[i] != '\\' || i + 1 == text.size())
        {
            value += text[i];
            continue;
        }
        const char escaped = text[++i];
        value += escaped == 'n' ? '\n' : escaped == 'r' ? '\r' : escaped;
    }
    return value;
}

SettingsCache::SettingsCache(std::string filePath): m_filePath(std::move(filePath))
{
}

void SettingsCache::load()
{
    std::map<std::string, std::string> values;
    std::ifstream file(m_filePath);
    std::string line;
    while (file && std::getline(file, line))
    {
        const size_t separator = line.find('=');
        if (separator == std::string::npos)
            continue;
        values[line.substr(0, separator)] = decodeSettingsCacheValue(line.substr(separator + 1));
    }
    const std::lock_guard lock(m_mutex);
    m_values = std::move(values);
}

std::map<std::string, std::string> SettingsCache::values() const
{
    const std::lock_guard lock(m_mutex);
    return m_values;
}

bool SettingsCache::merge(const std::map<std::string, std::string>& entries)
{
    const std::lock_guard fileLock(m_fileMutex);
    std::map<std::string, std::string> values;
    {
        const std::lock_guard lock(m_mutex);
        for (const auto& [key, value]: entries)
            m_values[key] = value;
        values = m_values;
    }
    return save(values);
}

bool SettingsCache::save(const std::map<std::string, std::string>& values) const
{
    namespace fs = std::filesystem;
    const fs::path path(m_filePath);
    std::error_code error;
    fs::create_directories(path.parent_path(), error);
    if (error)
    {
        logError("Failed to create settings cache folder %s: %s\n", path.parent_path().c_str(),
            error.message().c_str());
        return false;
    }
    const std::string temporaryPath = m_filePath + ".tmp";
    {
        std::ofstream file(temporaryPath, std::ios::trunc);
        if (!file)
        {
            logError("Failed to open settings cache for writing: %s\n", temporaryPath.c_str());
            return false;
        }
        for (const auto& [key, value]: values)
        {
            // A key cannot be escaped without changing what older files mean: keep it out. An
            // "=" in a key would read back as a shorter key, overwriting another setting.
            if (isKeptOutOfFile(key) || hasLineBreak(key) || key.find('=') != std::string::npos)
                continue;
            file << key << '=' << encodeSettingsCacheValue(value) << '\n';
        }
        file.flush();
        if (!file)
        {
            logError("Failed to write settings cache: %s\n", temporaryPath.c_str());
            fs::remove(temporaryPath, error);
            return false;
        }
    }
    fs::rename(temporaryPath, path, error);
    if (error)
    {
        logError("Failed to replace settings cache %s: %s\n", m_filePath.c_str(), error.message().c_str());
        fs::remove(temporaryPath, error);
        return false;
    }
    return true;
}

} // namespace vyai
