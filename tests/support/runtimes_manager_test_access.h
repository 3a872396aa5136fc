#pragma once

#include <utility>

#include "provisioning/runtimes_manager.h"

namespace vyai {

/** Puts a runtimes manager on another machine, before its accelerators are detected. */
struct RuntimesManagerTestAccess
{
    static void useMachine(RuntimesManager& manager, int32_t architecture, RuntimeOptions_t options)
    {
        manager.m_architecture = architecture;
        manager.m_prerequisitesMet = architecture != kArchitectureUnknown;
        manager.m_options = std::move(options);
    }
};

} // namespace vyai
