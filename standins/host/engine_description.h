#pragma once

#include <string>

#include <vy/sdk/helpers/ref_countable.h>
#include <vy/sdk/i_engine_description.h>

namespace vyhost {

class EngineDescription: public vy::sdk::RefCountable<vy::sdk::IEngineDescription>
{
public:
    explicit EngineDescription(std::string id): m_id(std::move(id)) {}

    const char* id() const override { return m_id.c_str(); }

private:
    const std::string m_id;
};

} // namespace vyhost
