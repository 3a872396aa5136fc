#pragma once

#include <string>

#include <vy/sdk/i_string.h>
#include <vy/sdk/ptr.h>

namespace vyai {

/** The text of a host string that comes with a reference for the caller, which it releases; empty for null. */
inline std::string takeHostText(vy::sdk::IString* hostString)
{
    const auto held = vy::sdk::toPtr(hostString);
    return held && held->str() ? std::string(held->str()) : std::string();
}

} // namespace vyai
