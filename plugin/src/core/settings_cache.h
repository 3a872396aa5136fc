#pragma once

#include <map>
#include <mutex>
#include <string>

namespace vyai {

/**
 * A device's last dialog values, kept in memory and in a text file of "key=value" lines so
 * that they survive a restart. Safe on any thread: every access holds the cache's lock, and
 * the file is replaced whole (written aside, then renamed), so a crash leaves the old file.
 *
 * A value holding a line break, or starting with the escape mark, is written escaped behind
 * the mark; every other value is written as it is.
 */
class SettingsCache
{
public:
    explicit SettingsCache(std::string filePath);

    /** Replaces the values with the file's; a file that cannot be read gives no values. */
    void load();

    std::map<std::string, std::string> values() const;

    /**
     * Adds or replaces the entries and rewrites the file. False, logged, when the file could
     * not be written; the values are kept in memory all the same.
     */
    bool merge(const std::map<std::string, std::string>& entries);

    const std::string& filePath() const { return m_filePath; }

private:
    bool save(const std::map<std::string, std::string>& values) const;

    const std::string m_filePath;
    mutable std::mutex m_mutex;
    std::map<std::string, std::string> m_values; //< protected by m_mutex
    std::mutex m_fileMutex; //< held from a merge to the end of its file write, taken before m_mutex
};

/** One file line's value text for `value` (see SettingsCache) and back. */
std::string encodeSettingsCacheValue(const std::string& value);
std::string decodeSettingsCacheValue(const std::string& text);

} // namespace vyai
