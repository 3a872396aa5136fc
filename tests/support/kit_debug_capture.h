#pragma once

#include <sstream>
#include <string>
#include <vector>

#include <vy/kit/debug.h>

/** Redirects the vy_kit debug stream into memory for its lifetime. */
class DebugCapture
{
public:
    DebugCapture(): m_previous(vy::kit::debug::setStream(&m_stream)) {}
    ~DebugCapture() { vy::kit::debug::setStream(m_previous); }

    DebugCapture(const DebugCapture&) = delete;
    DebugCapture& operator=(const DebugCapture&) = delete;

    std::string text() const { return m_stream.str(); }

    /** The lines written so far, without their "\n". */
    std::vector<std::string> lines() const
    {
        std::vector<std::string> result;
        std::istringstream input(m_stream.str());
        for (std::string line; std::getline(input, line);)
            result.push_back(line);
        return result;
    }

    /** How many lines contain `fragment`. */
    int countLinesContaining(const std::string& fragment) const
    {
        int count = 0;
        for (const auto& line: lines())
            count += line.find(fragment) != std::string::npos ? 1 : 0;
        return count;
    }

    void clear() { m_stream.str({}); }

private:
    std::ostringstream m_stream;
    std::ostream* m_previous;
};
