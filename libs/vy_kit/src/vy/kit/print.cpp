#include "vy/kit/print.h"

#include "vy/kit/debug.h"

namespace vy::kit::debug::detail {

Print::~Print()
{
    try
    {
        writeLine(m_text.str());
    }
    catch (...)
    {
        // A debug line is not worth an exception out of a destructor.
    }
}

} // namespace vy::kit::debug::detail
