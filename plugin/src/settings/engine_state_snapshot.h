#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "foundations/messaging_manager.h"
#include "records/cloud_connection_state.h"
#include "settings/runtime_setup_state.h"

namespace vyai {

/**
 * What a device agent's settings model shows of the engine, copied by the caller: the runtime
 * fields under the runtimes manager's lock, the messages through MessagingManager::getMessages.
 * The builder reads nothing else of the engine, so it holds no lock and runs on any thread.
 */
struct EngineStateSnapshot_t
{
    CloudConnectionState cloudConnectionState = CloudConnectionState::notChecked;
    uint32_t runtimeInstallState = runtime_setup::kDetecting; //< runtime_setup numbers
    std::vector<std::string> offeredRuntimes; //< in the order the user is offered them
    bool cancelledByUser = false; //< the last install ended because the user cancelled it
    std::string installedRuntimeName; //< empty when none is installed
    std::map<std::string, Message_t> messages; //< by code, so that banners keep their order
    bool alwaysShowRecoveryButtons = false; //< the ini option of that name
};

} // namespace vyai
