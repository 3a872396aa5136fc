#pragma once

#include "processor_options.h"

namespace vy::standins {

/**
 * Listens on 127.0.0.1 (the port chosen, or any free one), writes "listening PORT" on standard
 * output, and serves one connection at a time; returns only on failure.
 */
int serveTcp(const ProcessorOptions& options);

} // namespace vy::standins
