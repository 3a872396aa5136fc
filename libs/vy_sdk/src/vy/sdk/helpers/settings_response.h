#pragma once

#include <string>

#include <vy/sdk/helpers/ref_countable.h>
#include <vy/sdk/helpers/string.h>
#include <vy/sdk/helpers/string_map.h>
#include <vy/sdk/i_settings_response.h>
#include <vy/sdk/ptr.h>

namespace vy::sdk {

/**
 * Setting values and the settings model handed to the host; it holds one reference to each
 * member. Filled by one thread, then only read.
 */
class SettingsResponse: public RefCountable<ISettingsResponse>
{
public:
    SettingsResponse() = default;
    SettingsResponse(Ptr<StringMap> values, Ptr<StringMap> secondValues, Ptr<String> model);

    /** Sets an item of the values map, which is made at the first call. */
    void setValue(std::string key, std::string value);
    void setSecondValue(std::string key, std::string value);
    /** The model becomes a new String holding `model` (replacing an earlier one). */
    void setModel(std::string model);

    /** Replace a member (null clears it). */
    void setValues(Ptr<StringMap> values);
    void setSecondValues(Ptr<StringMap> secondValues);
    void setModel(Ptr<String> model);

    const IStringMap* values() const override;
    const IStringMap* secondValues() const override;
    const IString* model() const override;

private:
    static void setItem(Ptr<StringMap>& map, std::string key, std::string value);

    Ptr<StringMap> m_values;
    Ptr<StringMap> m_secondValues;
    Ptr<String> m_model;
};

} // namespace vy::sdk
