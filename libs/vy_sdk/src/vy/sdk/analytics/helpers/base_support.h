#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <string>

#include <vy/sdk/helpers/output_settings.h>
#include <vy/sdk/i_settings_response.h>
#include <vy/sdk/i_string.h>
#include <vy/sdk/i_string_map.h>
#include <vy/sdk/ptr.h>
#include <vy/sdk/result.h>

// What the integration, engine and device agent bases share.
namespace vy::sdk::analytics::detail {

/**
 * "[<library name>_<addition>_<kind>_<id>] ": the addition only when not empty, the id only
 * when `hasId` (a null id reads as empty).
 */
std::string instancePrintPrefix(const std::string& addition, const char* kind, bool hasId,
    const char* id);

// No exception may leave a call of the host: the bases catch everything at their slots and
// answer with an error instead. The next two functions may be called only inside a catch.

/** what() of the exception being handled, or a fixed text for one of another kind. */
std::string currentExceptionText();

/**
 * Writes "<printPrefix><operation>(): ERROR: <message>" whatever the output switch, and
 * returns the message, "<operation>() threw: <what>".
 */
std::string reportCurrentException(const std::string& printPrefix, const char* operation);

/** reportCurrentException(), and otherError with its message for the host. */
Error errorFromCurrentException(const std::string& printPrefix, const char* operation);

/**
 * A settings call of the host: merges `settings` into `kept`, then answers with
 * settingsReceived(); a null map or negative count answers invalidParams with
 * `invalidMessage` and leaves `kept` as it was.
 */
Result<const ISettingsResponse*> applySettings(const OutputSettings& output,
    std::map<std::string, std::string>& kept, const IStringMap* settings,
    const char* invalidMessage,
    const std::function<Result<const ISettingsResponse*>()>& settingsReceived);

/** A manifest call of the host: the text `makeText` gives, or otherError when it throws. */
Result<const IString*> answerManifest(const std::string& printPrefix,
    const std::function<std::string()>& makeText);

/**
 * Makes `held` hold its own reference to `object` (null: none), under `mutex`. The reference
 * replaced is given back after the lock is released, since that may run the host's code.
 */
template<class Interface>
void replaceHeld(std::mutex& mutex, Ptr<Interface>& held, Interface* object)
{
    Ptr<Interface> replacement = shareToPtr(object);
    const std::lock_guard lock(mutex);
    if (replacement != held)
        held.swap(replacement);
}

} // namespace vy::sdk::analytics::detail
