#pragma once

#include "processor_options.h"

namespace vy::standins {

/** Serves the plug-in's two channels until it asks to exit; returns the exit status. */
int serveSharedMemory(const ProcessorOptions& options);

} // namespace vy::standins
