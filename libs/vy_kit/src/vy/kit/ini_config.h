#pragma once

#include <deque>
#include <string>
#include <vector>

namespace vy::kit {

/**
 * Reader of one ini file of `name=value` lines. A subclass declares its options as plain
 * fields, registers each one (the reg* calls return the default to store) and calls
 * reload(), which overwrites every registered field that the file sets.
 *
 * The file is looked for in the directory named by $VY_INI_DIR, else in the current
 * directory. Lines starting with '#' are comments; bools are 0, 1, true or false. A missing
 * file or option leaves the defaults; a malformed value is reported on the debug stream
 * and ignored.
 *
 * Registered fields are written through the pointers given at registration, so they must
 * outlive this object (they are members of the subclass) and must not be const objects.
 * String values are owned by this object and stay valid for its whole life.
 */
class IniConfig
{
public:
    explicit IniConfig(const char* iniFile);
    virtual ~IniConfig();

    IniConfig(const IniConfig&) = delete;
    IniConfig& operator=(const IniConfig&) = delete;

    bool regBoolParam(const bool* field, bool defaultValue, const char* name,
        const char* description);
    int regIntParam(const int* field, int defaultValue, const char* name,
        const char* description);
    const char* regStringParam(const char* const* field, const char* defaultValue,
        const char* name, const char* description);

    void reload();

private:
    enum class ParamType { boolean, integer, string };

    struct Param
    {
        ParamType type;
        const void* field;
        std::string name;
    };

    /** Where reload() looks for the file, resolved at each call. */
    std::string iniFilePath() const;
    const char* storeString(const char* value);
    void registerParam(ParamType type, const void* field, const char* name);
    void applyValue(const Param& param, const std::string& value, const std::string& path,
        int lineNumber);

    std::string m_iniFile;
    std::vector<Param> m_params;
    // A deque never moves its elements, so the c_str() pointers handed out stay valid.
    std::deque<std::string> m_strings;
};

} // namespace vy::kit
