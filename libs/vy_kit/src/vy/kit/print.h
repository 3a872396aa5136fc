#pragma once

#include <ostream>
#include <sstream>

namespace vy::kit::debug::detail {

/**
 * Collects one debug line and writes it, with "\n", in one piece when it goes out of
 * scope: `Print() << prefix << "text " << value;`
 */
class Print
{
public:
    Print() = default;
    ~Print();

    Print(const Print&) = delete;
    Print& operator=(const Print&) = delete;

    template<typename Value>
    Print& operator<<(const Value& value)
    {
        m_text << value;
        return *this;
    }

    Print& operator<<(std::ostream& (*manipulator)(std::ostream&))
    {
        m_text << manipulator;
        return *this;
    }

private:
    std::ostringstream m_text;
};

} // namespace vy::kit::debug::detail
