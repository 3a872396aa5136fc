#pragma once

#include <string>

#include <vy/sdk/helpers/error.h>
#include <vy/sdk/ptr.h>
#include <vy/sdk/result.h>

namespace vyhost {

/** The text of a string the plug-in handed over; empty for a null string or text. */
inline std::string textOf(const vy::sdk::IString* text)
{
    return text && text->str() ? text->str() : "";
}

/**
 * "code: message" of a result's error; gives back the message's reference, which the
 * plug-in handed over with the result. Empty for a success.
 */
inline std::string takeErrorText(const vy::sdk::Error& error)
{
    const auto message = vy::sdk::toPtr(error.errorMessage());
    if (error.isOk() && !message)
        return {};
    std::string text = vy::sdk::toString(error.errorCode());
    if (message && message->str())
        text += std::string(": ") + message->str();
    return text;
}

} // namespace vyhost
