#include "vy/sdk/helpers/settings_response.h"

namespace vy::sdk {

SettingsResponse::SettingsResponse(
    Ptr<StringMap> values, Ptr<StringMap> secondValues, Ptr<String> model):
    m_values(std::move(values)),
    m_secondValues(std::move(secondValues)),
    m_model(std::move(model))
{
}

void SettingsResponse::setItem(Ptr<StringMap>& map, std::string key, std::string value)
{
    if (!map)
        map = newRefCounted<StringMap>();
    map->setItem(std::move(key), std::move(value));
}

void SettingsResponse::setValue(std::string key, std::string value)
{
    setItem(m_values, std::move(key), std::move(value));
}

void SettingsResponse::setSecondValue(std::string key, std::string value)
{
    setItem(m_secondValues, std::move(key), std::move(value));
}

void SettingsResponse::setModel(std::string model)
{
    m_model = newRefCounted<String>(std::move(model));
}

// Ptr assignment takes the new reference before it gives the old one back, so handing in
// the member already held changes nothing.
void SettingsResponse::setValues(Ptr<StringMap> values)
{
    m_values = std::move(values);
}

void SettingsResponse::setSecondValues(Ptr<StringMap> secondValues)
{
    m_secondValues = std::move(secondValues);
}

void SettingsResponse::setModel(Ptr<String> model)
{
    m_model = std::move(model);
}

const IStringMap* SettingsResponse::values() const
{
    return shareToPtr<const IStringMap>(m_values.get()).releasePtr();
}

const IStringMap* SettingsResponse::secondValues() const
{
    return shareToPtr<const IStringMap>(m_secondValues.get()).releasePtr();
}

const IString* SettingsResponse::model() const
{
    return shareToPtr<const IString>(m_model.get()).releasePtr();
}

} // namespace vy::sdk
