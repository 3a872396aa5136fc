#pragma once

#include <vy/sdk/analytics/i_engine.h>
#include <vy/sdk/helpers/ref_countable.h>

namespace vyhost {

// Nothing reaches the host through the engine's handler; the engine only keeps it.
class EngineHandler: public vy::sdk::RefCountable<vy::sdk::analytics::IEngine::IHostHandler>
{
};

} // namespace vyhost
