#pragma once

#include <string>
#include <utility>

namespace vy::sdk {

/**
 * How a base object writes its debug lines: the output switch (informational lines only
 * when on; error, creation and destruction lines always) and the prefix of every line.
 */
class OutputSettings
{
public:
    OutputSettings(bool enableOutput, std::string printPrefix):
        m_enableOutput(enableOutput), m_printPrefix(std::move(printPrefix))
    {
    }

    bool enableOutput() const { return m_enableOutput; }
    const std::string& printPrefix() const { return m_printPrefix; }

    void setPrintPrefix(std::string printPrefix) { m_printPrefix = std::move(printPrefix); }

private:
    bool m_enableOutput;
    std::string m_printPrefix;
};

} // namespace vy::sdk
